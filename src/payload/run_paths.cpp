#include "run_paths.h"

#include <windows.h>

#include "error_boxes.h"
#include "file_io.h"
#include "path_rules.h"
#include "replace_files.h"

namespace {

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeFolder(const std::string& path) {
  if (!FolderExists(path)) CreateDirectoryA(path.c_str(), nullptr);
}

}  // namespace

void PreparePaths() {
  RunPaths.WindowsDir = WindowsFolderPath();

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

void RemoveStagingCopy() {
  if (RunPaths.StagingFile.empty()) return;
  RemoveFile(RunPaths.StagingFile, false);
  RemoveDirectoryA(RunPaths.StagingDir.c_str());
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
