#include "run_paths.h"

#include <windows.h>
#include <aclapi.h>
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

// Makes a new folder for Administrators and SYSTEM alone, owned by Administrators, with
// inheritance to what is made in it; false when the folder was there already or cannot be made.
// (A process that may not name Administrators as owner makes it with the list alone.)
bool MakeAdminOnlyFolder(const std::string& path) {
  for (const char* descriptor : {"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"}) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1, &security.lpSecurityDescriptor,
                                                              nullptr))
      continue;
    const BOOL made = CreateDirectoryA(path.c_str(), &security);
    const DWORD error = GetLastError();
    LocalFree(security.lpSecurityDescriptor);
    if (made) return true;
    if (error != ERROR_INVALID_OWNER) return false;
  }
  return false;
}

// The user this installer runs as (an administrator: it runs elevated), or an empty buffer.
std::vector<uint8_t> OwnUser() {
  std::vector<uint8_t> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.resize(size);
  if (!size || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  CloseHandle(token);
  return user;
}

// Administrators, SYSTEM, or the administrator running this installer: who may own and change
// a folder that the installer writes in.
bool IsTrusted(PSID sid, const std::vector<uint8_t>& ownUser) {
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) return true;
  return !ownUser.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(ownUser.data())->User.Sid);
}

// Whether a folder that was there already is as good as one of our own: a folder, not a link or
// mount point, owned by Administrators, SYSTEM or the administrator running us, and letting
// nobody else write in it, delete it or change its rights.
bool IsAdminOnlyFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  constexpr ACCESS_MASK kChanges = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                                   FILE_WRITE_EA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  // No list at all lets everybody in.
  const std::vector<uint8_t> ownUser = OwnUser();
  bool ours = owner && IsTrusted(owner, ownUser) && list;
  for (DWORD i = 0; ours && i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(list, i, &entry)) {
      ours = false;
      break;
    }
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceFlags & INHERIT_ONLY_ACE || header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    // An entry of any other type is one we cannot judge.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      ours = false;
      break;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kChanges) && !IsTrusted(&allowed->SidStart, ownUser)) ours = false;
  }
  LocalFree(descriptor);
  return ours;
}

std::string HexOf(unsigned long value) {
  std::string digits(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) digits[static_cast<size_t>(i)] = "0123456789abcdef"[value & 15];
  return digits;
}

// The staging folder: "QVF temp" in the Windows folder's TEMP where it is ours (made now, or
// there already and for administrators alone), else a fresh folder that we make under a new name.
// Ordinary users may create folders in that TEMP: one of theirs is never written through.
std::string OwnStagingFolder(const std::string& temp) {
  const std::string preferred = temp + "QVF temp";
  if (MakeAdminOnlyFolder(preferred) || IsAdminOnlyFolder(preferred)) return preferred;
  const unsigned long seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  std::string fresh;
  for (unsigned long n = 0; n < 100; ++n) {
    fresh = preferred + " " + HexOf(seed + n);
    if (MakeAdminOnlyFolder(fresh)) return fresh;
  }
  // Nothing of our own could be made: the copy's creation in a folder that is not there fails and
  // says so.
  return fresh;
}

// Copies the running installer, through the handle held on it, into the open staging copy: 0 or
// the system's error code.
TStatus CopyInto(HANDLE copy, HANDLE source) {
  const TStatus rewound = SeekTo(source, 0);
  if (rewound != kOk) return rewound;
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
      return static_cast<TStatus>(GetLastError());
    if (got == 0) return kOk;
    const TStatus written = WriteExactly(copy, buffer.data(), got, kShortWrite);
    if (written != kOk) return written;
  }
}

// The running installer's file, for reading, shared for reading alone: while it is held nobody
// can write it, rename it or put another file in its place.
FileHandle OpenRunningInstaller() {
  return FileHandle(CreateFileA(RunPaths.ExePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

void HoldRunningInstaller() {
  char exe[MAX_PATH + 1];
  const DWORD exeLength = GetModuleFileNameA(nullptr, exe, sizeof exe);
  RunPaths.ExePath.assign(exe, exeLength < sizeof exe ? exeLength : 0);
  RunningInstaller = OpenRunningInstaller();
}

void PreparePaths() {
  if (!RunningInstaller) HoldRunningInstaller();

  RunPaths.WindowsDir = WindowsFolderPath();
  MakeFolder(RunPaths.WindowsDir + "TEMP\\");
  RunPaths.StagingDir = OwnStagingFolder(RunPaths.WindowsDir + "TEMP\\");

  int n = 1;
  RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, n);
  while (GetFileAttributesA(RunPaths.StagingFile.c_str()) != INVALID_FILE_ATTRIBUTES)
    RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, ++n);
}

TStatus MakeStagingCopy() {
  const TStatus cleared = ReplaceFile(RunPaths.StagingFile, true, ReplaceAttempts);
  if (cleared != kOk) return cleared;
  // A new file of our own, written and then read through the one handle we keep, and deleted by
  // the system when that handle closes (at the end, or whenever the process ends).
  StagingCopy.Reset();
  if (!RunningInstaller) RunningInstaller = OpenRunningInstaller();
  TStatus code = RunningInstaller ? kOk : static_cast<TStatus>(GetLastError());
  FileHandle copy;
  if (code == kOk) {
    copy.Reset(CreateFileA(RunPaths.StagingFile.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    code = copy ? CopyInto(copy.Get(), RunningInstaller.Get()) : static_cast<TStatus>(GetLastError());
  }
  if (code == kOk) {
    StagingCopy = std::move(copy);
    return kOk;
  }
  ShowSystemError(code, "Build Error: Problem copying " + RunPaths.ExePath + " to " +
                            RunPaths.StagingFile + ". ");
  return code;
}

void RemoveStagingCopy() {
  // Closing the handle deletes the copy; the folder, ours, goes when no other copy is in it.
  StagingCopy.Reset();
  RunningInstaller.Reset();
  if (RunPaths.StagingFile.empty()) return;
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
