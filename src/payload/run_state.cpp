#include "run_state.h"

#include "general_error.h"

TRunPaths RunPaths;
FileHandle RunningInstaller;
FileHandle StagingFolder;
DWORD StagingFolderFailure = 0;
FileHandle StagingCopy;
TFilesJournal FilesJournal;
TPayloadHeader PayloadHeader;
TDataFileReader DataFileReader;

void TFilesJournal::Record(const std::string& value) {
  const std::string key = std::to_string(JournalIndex);
  if (!WritePrivateProfileStringA("Files", key.c_str(), value.c_str(), path_.c_str()))
    RaiseGeneralFailure("Unable to write to", path_);
  ++JournalIndex;
}
