#include "placing.h"

#include <windows.h>

#include "dataFunctions_shared.h"
#include "error_boxes.h"
#include "feedback.h"
#include "payload_checks.h"
#include "run_paths.h"
#include "win32_handles.h"

TStatus ReadDataFileHeader() {
  FileHandle file(CreateFileA(RunPaths.DataFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  TDataFileHeader header;
  const TStatus status = file ? ReadDataFileHeaderFrom(file.Get(), header) : static_cast<TStatus>(GetLastError());
  if (status != kOk) ShowFileError(status, RunPaths.DataFilePath);
  return status;
}

namespace {

// A copied entry: the content movie for entry 1, the first entry's file for the others. Names
// lose their folder parts here as they do when an entry is written from its chunk.
TStatus CopyEntry(int32_t index, const std::string& firstName) {
  const TDataFileEntry& entry = DataFileReader.Table[index];
  const std::string source = RunPaths.SaverDir + (index == 1 ? std::string("installer.scf") : firstName);
  const std::string name = LastPathComponent(EntryNameOf(entry));
  if (!IsPlainFileName(name)) return kEntryCopyFailed;
  return CopyFileA(source.c_str(), (RunPaths.SaverDir + name).c_str(), FALSE) ? kOk : kEntryCopyFailed;
}

}  // namespace

TStatus ExpandDataFile() {
  SetStatus("Expanding files...");
  TStatus result = OpenDataFile(RunPaths.DataFilePath, false);
  const TDataFileHeader& header = DataFileReader.Header;
  const TDataFileEntry& first = DataFileReader.Table[1];
  const std::string firstName = LastPathComponent(EntryNameOf(first));
  const int32_t count = result == kOk ? header.EntryCount : 0;
  const bool copiesMovie = CopiesContentMovie(header.MovieSource, static_cast<size_t>(count), first.EntryKind,
                                              !EntryNameOf(first).empty());
  for (int32_t i = 1; i <= count && result == kOk; ++i) {
    const TDataFileEntry& entry = DataFileReader.Table[i];
    if (EntryNameOf(entry).empty()) continue;
    const bool copied = i == 1 ? copiesMovie : entry.EntryKind == kCopiedEntry;
    result = copied ? CopyEntry(i, firstName) : ExtractDataFileEntry(RunPaths.SaverDir, i, FilesJournal);
  }
  // Closed after a failure too, so that the pipeline can remove the data file.
  const TStatus closed = CloseDataFile();
  if (result == kOk) result = closed;

  const std::string archived = RunPaths.SaverDir + firstName;
  const DWORD attributes = GetFileAttributesA(archived.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesA(archived.c_str(), attributes | FILE_ATTRIBUTE_ARCHIVE);
  StepProgress();
  return result;
}
