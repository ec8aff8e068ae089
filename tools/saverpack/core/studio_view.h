// What the studio page shows of an installer: list's document, verify's verdict, the window as
// the installer would draw it and every file it holds. The page and the command line share it.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "opened_installer.h"

namespace saverpack {

// One JSON document:
//   {"size", "list" (list --json, or null without a payload header), "uninstall", "signature",
//    "problems", "warnings", "verdict", "window": {...}, "files": [...]}.
// "window" says what the installer's window shows: "shown", "caption", "content" (picture,
// flash, none, silent), "has_license", "licence" (the memo's text, UTF-8, lines joined by "\n")
// and "licence_problem". "files" lists every used slot (1..10) and data-file entry with its
// name, expanded size, whether it is a Flash movie and the problem that keeps it from expanding.
// A file that is no installer of the format (too short for the payload header, or no slot of its
// header holds a record that fits the file) is told in "not_installer", one line, with
// "list": null and nothing else to draw.
// Every member and chunk is expanded once at most, verify's checks among them.
std::string StudioReportJson(const OpenedInstaller& opened);
std::string StudioReportJson(std::span<const uint8_t> file);

// That line, or empty for a file that is an installer of the format (sound or damaged).
std::string NotAnInstaller(const OpenedInstaller& opened);

// A used slot's file, expanded; a problem when the slot is empty or damaged. Its bytes live as
// long as opened.
ItemFile StudioSlotFile(const OpenedInstaller& opened, int slot);

// A data-file entry's file (index from 1) as the installation makes it: from its chunk, or, for
// an entry made by copying, the bytes it is copied from (the content movie, or entry 1's file).
ItemFile StudioEntryFile(const OpenedInstaller& opened, int index);

// Whether the bytes are a Flash movie: FWS (plain), CWS (zlib) or ZWS (LZMA).
bool IsFlashMovie(std::span<const uint8_t> bytes);

}  // namespace saverpack
