#include "placing.h"

#include <windows.h>

#include "dataFunctions_shared.h"
#include "error_boxes.h"
#include "feedback.h"
#include "run_paths.h"
#include "win32_handles.h"

TDataFileHeader InstallDataHeader;

TStatus ReadDataFileHeader() {
  FileHandle file(CreateFileA(RunPaths.DataFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  TStatus status = kOk;
  if (!file) {
    status = static_cast<TStatus>(GetLastError());
  } else {
    DWORD got = 0;
    if (!ReadFile(file.Get(), &InstallDataHeader, sizeof InstallDataHeader, &got, nullptr))
      status = static_cast<TStatus>(GetLastError());
    else if (got != sizeof InstallDataHeader)
      status = kShortRead;
  }
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
  int32_t opened = 0;
  TStatus result = OpenDataFile(RunPaths.DataFilePath, false, opened);
  if (InstallDataHeader.MovieSource == kMovieFromContent) DataFileReader.Table[1].EntryKind = kCopiedEntry;
  const std::string firstName = LastPathComponent(EntryNameOf(DataFileReader.Table[1]));
  const int32_t count = std::min(InstallDataHeader.EntryCount, DataFileReader.Header.EntryCount);
  for (int32_t i = 1; i <= count && result == kOk; ++i) {
    const TDataFileEntry& entry = DataFileReader.Table[i];
    if (EntryNameOf(entry).empty()) continue;
    if (entry.EntryKind != kCopiedEntry) {
      uint8_t kind = 0;
      result = ExtractDataFileEntry(RunPaths.SaverDir, i, true, kind, FilesJournal);
    } else {
      result = CopyEntry(i, firstName);
    }
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
