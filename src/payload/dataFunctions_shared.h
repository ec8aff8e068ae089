// The reader of the screen-saver data file: one file open at a time, its header and its table of
// up to 108 entries kept in memory, and each entry's chunk written out on request.
#pragma once
#include <windows.h>

#include <string>

#include "dataStructures_shared.h"
#include "run_state.h"
#include "status_codes.h"
#include "win32_handles.h"

// Reads the 1224-byte header at the start of an open data file: 0, 100 for a short file, or the
// system's error code.
TStatus ReadDataFileHeaderFrom(HANDLE file, TDataFileHeader& header);

// Opens the data file and reads its header and table into DataFileReader; a file already open
// stays open (with a note to the user). With report, a failure is shown; a table that does not
// fit is always refused with its message and -535.
TStatus OpenDataFile(const std::string& path, bool report);

// Writes entry number entry (1-based) into folder under the last part of its name, from its
// chunk, plain or imploded; a failed entry leaves no file behind. Records the path in the
// journal in every case. When kind is given, it gets the chunk's kind byte (0 after a failure).
TStatus ExtractDataFileEntry(const std::string& folder, int32_t entry, TFilesJournal& journal,
                             uint8_t* kind = nullptr);

TStatus CloseDataFile();
