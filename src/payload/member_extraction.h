// Reading the payload header from the staging copy and writing members to disk.
#pragma once
#include <windows.h>

#include <string>

#include "dataStructures_shared.h"
#include "run_state.h"
#include "status_codes.h"

// Reads the header at kPayloadOffset of the staging copy (-31 when short) and writes slot 1,
// the codec library, into the Windows folder at once. A failure is reported a second time
// naming the staging copy.
TStatus ReadPayloadHeader();

// Writes one member from the open installer stream to its destination: clears the way, reads
// the stored bytes in one piece, writes them or expands them, checks the result, and records the
// file in the journal. A busy file other than the screen-saver program is left as it was and
// counts as written. Reports its own failures except a busy screen-saver program (-38), which
// the clearing has reported already.
TStatus ExtractMember(HANDLE installer, int slot, bool showStatus, bool writeJournal);

// Start-up extractions of single slots: -531 without a report when the slot is empty.
TStatus ExtractContent(uint8_t contentMode);  // slot 3; in picture mode named ".bmp"
TStatus ExtractLicense();                     // slot 4
TStatus ExtractDocument();                    // slot 5
TStatus ExtractFlashInstaller();              // slot 2

// The installation's members, from slot 5 (with a document) or 6 through 10, read from path.
TStatus ExtractRemainingMembers(const std::string& path);

// Where a member is written: the Windows folder or the saver's folder, by its destination code.
std::string DestinationPathOf(const TPayloadMember& member);
