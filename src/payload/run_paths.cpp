#include "run_paths.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

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

// The staging folder, when we make it, is for Administrators and SYSTEM alone (with inheritance
// to what is made in it): ordinary users may create folders in the Windows folder's TEMP.
void MakeStagingFolder(const std::string& path) {
  if (FolderExists(path)) return;
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
                                                            &security.lpSecurityDescriptor, nullptr))
    security.lpSecurityDescriptor = nullptr;
  CreateDirectoryA(path.c_str(), security.lpSecurityDescriptor ? &security : nullptr);
  LocalFree(security.lpSecurityDescriptor);
}

// Copies the running file into the open staging copy: 0 or the system's error code.
TStatus CopyInto(HANDLE copy, const std::string& source) {
  FileHandle in(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in) return static_cast<TStatus>(GetLastError());
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
      return static_cast<TStatus>(GetLastError());
    if (got == 0) return kOk;
    const TStatus written = WriteExactly(copy, buffer.data(), got, kShortWrite);
    if (written != kOk) return written;
  }
}

}  // namespace

void PreparePaths() {
  RunPaths.WindowsDir = WindowsFolderPath();

  char exe[MAX_PATH + 1];
  const DWORD exeLength = GetModuleFileNameA(nullptr, exe, sizeof exe);
  RunPaths.ExePath.assign(exe, exeLength < sizeof exe ? exeLength : 0);

  RunPaths.StagingDir = RunPaths.WindowsDir + "TEMP\\" + "QVF temp";
  MakeFolder(RunPaths.WindowsDir + "TEMP\\");
  MakeStagingFolder(RunPaths.StagingDir);

  int n = 1;
  RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, n);
  while (GetFileAttributesA(RunPaths.StagingFile.c_str()) != INVALID_FILE_ATTRIBUTES)
    RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, ++n);
}

TStatus MakeStagingCopy() {
  const TStatus cleared = ReplaceFile(RunPaths.StagingFile, true, ReplaceAttempts);
  if (cleared != kOk) return cleared;
  // A new file of our own, written and then read through the one handle we keep.
  StagingCopy.Reset();
  FileHandle copy(CreateFileA(RunPaths.StagingFile.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  const TStatus code = copy ? CopyInto(copy.Get(), RunPaths.ExePath) : static_cast<TStatus>(GetLastError());
  if (code == kOk) {
    StagingCopy = std::move(copy);
    return kOk;
  }
  ShowSystemError(code, "Build Error: Problem copying " + RunPaths.ExePath + " to " +
                            RunPaths.StagingFile + ". ");
  return code;
}

void RemoveStagingCopy() {
  StagingCopy.Reset();
  if (RunPaths.StagingFile.empty()) return;
  RemoveFile(RunPaths.StagingFile, false);
  RemoveDirectoryA(RunPaths.StagingDir.c_str());
}

void PrepareSaverDir(const TPayloadHeader& header) {
  RunPaths.SaverDir = SaverDirFor(RunPaths.WindowsDir, RunPaths.SaverName);
  MakeFolder(RunPaths.SaverDir);
  RunPaths.SaverIniPath = RunPaths.SaverDir + "saver.ini";
  FilesJournal.Open(RunPaths.SaverIniPath);
  FilesJournal.Record(RunPaths.SaverIniPath);
  RunPaths.DataFilePath = RunPaths.SaverDir + MemberFileName(header.Members[msDataFile]);
}
