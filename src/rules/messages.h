// The texts of the installer's message boxes, composed without any system call so that the
// host tests can check them word for word.
#pragma once
#include <string>
#include <string_view>

#include "status_codes.h"

// The system's message text with every trailing control character, blank and full stop removed.
std::string TrimSystemText(std::string_view raw);

// The file error wording for a status code; systemText is the trimmed text of the code.
std::string FileErrorText(TStatus code, std::string_view name, std::string_view systemText);

// A caller's own text, a blank line, then the system's text of the code.
std::string SystemErrorMessage(std::string_view text, std::string_view systemText);

// A failure message as the general error display shows it: a full stop is added when the last
// character sorts after the full stop (a letter, a digit, a colon, ...).
std::string GeneralErrorText(std::string_view message);

// The start-up's summary: "Installer file is corrupted. Error <code>. " (ends with a blank).
std::string CorruptedInstallerText(TStatus code);

// The lines of a text split at any line break (CR LF, LF or CR) and joined with CR LF, as the
// licence memo shows them.
std::string LinesWithCrLf(std::string_view text);
