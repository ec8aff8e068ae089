// Making the new screen saver the current one, and its uninstall entry.
#pragma once
#include <string>

#include "status_codes.h"

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\" + the saver's name.
std::string UninstallKeyPath();

// Names the program in section "boot" of system.ini (its 8.3 name, its long name when that is
// already 8.3, its full path when the file is missing) and switches screen saving on: 0, or -25
// when the system refuses.
TStatus ActivateSaver();

// The uninstall entry under HKEY_LOCAL_MACHINE; none for an empty name, which would name the
// Uninstall key itself. Only an entry of its own is written or removed: a key this run creates,
// or one whose UninstallString is already the one written; a key without an UninstallString that
// holds nothing but the DisplayName written (or nothing at all) is written too. Refused writes,
// and another program's key of the same name (left as it is), throw EGeneralFailure.
TStatus WriteUninstallEntry();
void RemoveUninstallEntry();

// After a failed installation: the program file and the uninstall entry go.
void UndoInstallation();
