// Status codes: 0 is success, negative values are the installer's own, positive values are
// operating-system error numbers passed through unchanged.
#pragma once
#include <cstdint>

using TStatus = int32_t;

constexpr TStatus kOk = 0;
constexpr TStatus kNoAttempt = -1;          // no delete attempt made; movie control not set up
constexpr TStatus kNoMemory = -7;           // an allocation failed; the shell out of resources
constexpr TStatus kEntryBeyondTable = -12;  // data-file entry index past the table
constexpr TStatus kWrongExpandedSize = -13; // an expanded file has the wrong size
constexpr TStatus kNoDataFileOpen = -15;
constexpr TStatus kExpandedFileMissing = -16;
constexpr TStatus kSaverNotActivated = -25; // screen saving could not be switched on
constexpr TStatus kShortMemberIo = -30;     // a member could not be read or written in full
constexpr TStatus kShortPayloadHeader = -31;
constexpr TStatus kFileBusy = -32;
constexpr TStatus kSaverFileBusy = -38;     // the screen-saver program itself is busy
constexpr TStatus kCompressorUnusable = -35;
constexpr TStatus kNoFlashInstaller = -401;
constexpr TStatus kNoFlashPlayer = -402;
constexpr TStatus kEmptySlot = -531;
constexpr TStatus kEntryCopyFailed = -532;
// Our own codes for payloads that no sound authoring tool writes.
constexpr TStatus kBadMemberName = -533;    // a member name with folder parts
constexpr TStatus kBadDestination = -534;   // a destination code outside 1..6
constexpr TStatus kBadEntryCount = -535;    // a data file whose table does not fit 0..108 entries
constexpr TStatus kBadSaverName = -536;     // a screen-saver name that cannot be a file name

constexpr TStatus kShortRead = 100;
constexpr TStatus kShortWrite = 101;
