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
// inheritance to what is made in it; false when the folder was there already or cannot be made,
// with the system's cause in failure. (A process that may not name Administrators as owner makes
// it with the list alone.)
bool MakeAdminOnlyFolder(const std::string& path, DWORD& failure) {
  for (const char* descriptor : {"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"}) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1, &security.lpSecurityDescriptor,
                                                              nullptr)) {
      failure = GetLastError();
      continue;
    }
    const BOOL made = CreateDirectoryA(path.c_str(), &security);
    failure = GetLastError();
    LocalFree(security.lpSecurityDescriptor);
    if (made) return true;
    if (failure != ERROR_INVALID_OWNER) return false;
  }
  return false;
}

// The user this installer runs as, when that user is as trusted as Administrators: a token
// without a linked one (Windows XP, UAC off, the built-in Administrator). Under UAC the same user
// also runs unelevated, and that self is an ordinary user. Empty otherwise.
std::vector<uint8_t> TrustedOwnUser() {
  std::vector<uint8_t> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  // Windows XP knows no elevation types: its token has no linked one.
  const bool split = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
                     type != TokenElevationTypeDefault;
  size = 0;
  if (!split) {
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (!size || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  }
  CloseHandle(token);
  return user;
}

// Administrators, SYSTEM, or the trusted user running this installer: who may own and change a
// folder that the installer writes in.
bool IsTrusted(PSID sid, const std::vector<uint8_t>& ownUser) {
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) return true;
  return !ownUser.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(ownUser.data())->User.Sid);
}

// The folder itself, held without delete sharing: while we hold it nobody removes, renames or
// replaces it (by a link or a mount point) under us. Links are opened as links.
FileHandle HoldFolder(const std::string& path) {
  return FileHandle(CreateFileA(path.c_str(), READ_CONTROL | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
}

// Whether a held folder that was there already is as good as one of our own: a folder, not a
// link or mount point, owned by Administrators or SYSTEM (or the trusted user running us), and
// letting nobody else write in it, delete it or change its rights.
bool IsAdminOnlyFolder(HANDLE folder, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(folder, &information)) return false;
  const DWORD named = GetFileAttributesA(path.c_str());
  for (const DWORD attributes : {information.dwFileAttributes, named})
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &list, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  constexpr ACCESS_MASK kChanges = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                                   FILE_WRITE_EA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  const std::vector<uint8_t> ownUser = TrustedOwnUser();
  // No list at all lets everybody in.
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

// A number nobody can guess, from the system's random source (RtlGenRandom, in advapi32 since
// Windows XP), else from the clock and the process.
unsigned long UnguessableNumber() {
  unsigned long value = GetTickCount() ^ (GetCurrentProcessId() << 16);
  using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  auto random = reinterpret_cast<GenRandom>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "SystemFunction036")));
  if (random) random(&value, sizeof value);
  return value;
}

// The staging folder, held (StagingFolder): "QVF temp" in the Windows folder's TEMP where it is
// ours (made now, or there already and for administrators alone), else a fresh folder that we
// make under a new name. Ordinary users may create folders in that TEMP: one of theirs is never
// written through. Empty when no folder of ours can be had, with the system's cause of the last
// attempt that failed in failure.
std::string OwnStagingFolder(const std::string& temp, DWORD& failure) {
  const std::string preferred = temp + "QVF temp";
  const bool made = MakeAdminOnlyFolder(preferred, failure);
  StagingFolder = HoldFolder(preferred);
  if (StagingFolder && (made || IsAdminOnlyFolder(StagingFolder.Get(), preferred))) return preferred;
  StagingFolder.Reset();
  const unsigned long seed = UnguessableNumber();
  for (unsigned long n = 0; n < 100; ++n) {
    const std::string fresh = preferred + " " + HexOf(seed + n);
    if (!MakeAdminOnlyFolder(fresh, failure)) continue;
    StagingFolder = HoldFolder(fresh);
    if (StagingFolder) return fresh;
    failure = GetLastError();
  }
  return {};
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

// The program's own file by its wide name, at the length the system needs; empty when it has
// none. Only the wide name is sure to be the file's: its ANSI spelling turns characters outside
// the code page into look-alikes (U+FF33, a full-width "S", into "S") or "?", and may name
// another file beside it.
std::wstring OwnFileName() {
  std::wstring name(MAX_PATH + 1, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    // A name that fills the buffer may have been cut (Windows XP says nothing else).
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    if (name.size() > 32768) return {};
    name.resize(name.size() * 2);
  }
}

// A full path as CreateFileW takes it at any length: beyond MAX_PATH only with the "\\?\" prefix.
std::wstring OpenablePath(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

// The display text of a wide name: what the system's ANSI functions would give for it.
std::string AnsiText(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string ansi(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(), size, nullptr, nullptr);
  return ansi;
}

// The running installer's file, opened by its wide name, for reading, shared for reading alone:
// while it is held nobody can write it, rename it or put another file in its place.
FileHandle OpenRunningInstaller() {
  return FileHandle(CreateFileW(OpenablePath(OwnFileName()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

void HoldRunningInstaller() {
  // Display text alone, for the boxes: nothing is opened by it.
  RunPaths.ExePath = AnsiText(OwnFileName());
  RunningInstaller = OpenRunningInstaller();
}

void PreparePaths() {
  if (!RunningInstaller) HoldRunningInstaller();

  RunPaths.WindowsDir = WindowsFolderPath();
  MakeFolder(RunPaths.WindowsDir + "TEMP\\");
  // Chosen once a run, and held: a second preparation keeps the folder it holds.
  if (!StagingFolder) {
    StagingFolderFailure = 0;
    RunPaths.StagingDir = OwnStagingFolder(RunPaths.WindowsDir + "TEMP\\", StagingFolderFailure);
  }
  if (RunPaths.StagingDir.empty()) {
    // No folder of ours: the copy fails, naming the file it would have made.
    RunPaths.StagingFile = StagingFileName(RunPaths.WindowsDir + "TEMP\\QVF temp", 1);
    return;
  }

  int n = 1;
  RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, n);
  while (GetFileAttributesA(RunPaths.StagingFile.c_str()) != INVALID_FILE_ATTRIBUTES)
    RunPaths.StagingFile = StagingFileName(RunPaths.StagingDir, ++n);
}

TStatus MakeStagingCopy() {
  if (RunPaths.StagingDir.empty()) {
    // The system's own cause (access denied, a path that is a file), else "cannot make".
    const TStatus cause = StagingFolderFailure ? static_cast<TStatus>(StagingFolderFailure) : ERROR_CANNOT_MAKE;
    ShowSystemError(cause, "Build Error: Problem copying " + RunPaths.ExePath + " to " + RunPaths.StagingFile + ". ");
    return cause;
  }
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
  StagingFolder.Reset();
  if (RunPaths.StagingDir.empty()) return;
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
