// The reader of the screen-saver data file: one file open at a time, its header and its table of
// up to 108 entries kept in memory, and each entry's chunk written out on request.
#pragma once
#include <windows.h>

#include <string>

#include "dataStructures_shared.h"
#include "run_paths.h"
#include "status_codes.h"
#include "win32_handles.h"

struct TDataFileReader {
  FileHandle File;
  bool Open = false;
  TDataFileHeader Header{};
  TDataFileEntry Table[kMaxDataEntries + 1]{};  // entries 1..108; entry 0 stays zero
};
extern TDataFileReader DataFileReader;

// Opens the data file and reads its header and table; sets opened to 1 when it is (or already
// was) open. With report, a failure is shown; a table that does not fit is always refused with
// its message and -535.
TStatus OpenDataFile(const std::string& path, bool report, int32_t& opened);

// Writes entry number entry (1-based) into folder under the last part of its name, from its
// chunk, plain or imploded; a failed entry leaves no file behind. Records the path in the
// journal in every case. With kindNotWanted clear and all well, hands the chunk's kind back.
TStatus ExtractDataFileEntry(const std::string& folder, int32_t entry, bool kindNotWanted,
                             uint8_t& kind, TFilesJournal& journal);

TStatus CloseDataFile();
