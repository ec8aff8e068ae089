#include "run_paths.h"

#include <windows.h>

#include "error_boxes.h"
#include "general_error.h"
#include "path_rules.h"
#include "replace_files.h"

TRunPaths RunPaths;
TFilesJournal FilesJournal;

namespace {

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeFolder(const std::string& path) {
  if (!FolderExists(path)) CreateDirectoryA(path.c_str(), nullptr);
}

}  // namespace

void TFilesJournal::Record(const std::string& value) {
  const std::string key = std::to_string(JournalIndex);
  if (!WritePrivateProfileStringA("Files", key.c_str(), value.c_str(), path_.c_str()))
    RaiseGeneralFailure("Unable to write to", path_);
  ++JournalIndex;
}

void PreparePaths() {
  char folder[301];
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  RunPaths.WindowsDir = WithTrailingBackslash(std::string(folder, length < sizeof folder ? length : 0));

  char exe[MAX_PATH + 1];
  const DWORD exeLength = GetModuleFileNameA(nullptr, exe, sizeof exe);
  RunPaths.ExePath.assign(exe, exeLength < sizeof exe ? exeLength : 0);

  RunPaths.StagingDir = RunPaths.WindowsDir + "TEMP\\" + "QVF temp";
  MakeFolder(RunPaths.WindowsDir + "TEMP\\");
  MakeFolder(RunPaths.StagingDir);

  int n = 1;
  RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, n);
  while (GetFileAttributesA(RunPaths.StagingFile.c_str()) != INVALID_FILE_ATTRIBUTES)
    RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, ++n);
}

TStatus MakeStagingCopy() {
  const TStatus cleared = ReplaceFile(RunPaths.StagingFile, true, ReplaceAttempts);
  if (cleared != kOk) return cleared;
  if (CopyFileA(RunPaths.ExePath.c_str(), RunPaths.StagingFile.c_str(), FALSE)) return kOk;
  const auto code = static_cast<TStatus>(GetLastError());
  ShowSystemError(code, "Build Error: Problem copying " + RunPaths.ExePath + " to " +
                            RunPaths.StagingFile + ". ");
  return code;
}

void PrepareSaverDir(const TPayloadHeader& header) {
  RunPaths.SaverName = SaverNameOf(header);
  RunPaths.SaverDir = SaverDirFor(RunPaths.WindowsDir, RunPaths.SaverName);
  MakeFolder(RunPaths.SaverDir);
  RunPaths.SaverIniPath = RunPaths.SaverDir + "saver.ini";
  FilesJournal.Open(RunPaths.SaverIniPath);
  FilesJournal.Record(RunPaths.SaverIniPath);
  RunPaths.DataFilePath = RunPaths.SaverDir + MemberFileName(header.Members[msDataFile]);
}
