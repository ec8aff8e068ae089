// The screen-saver launcher: installed as <Windows>\<name>.scr in place of the author's program,
// which lies in <Windows>\<name> dir\<name>.scr. Started by the system (/s, /c, /c:HWND, /p HWND,
// /a HWND, or nothing) it runs that program with the same arguments and ends with it; started
// with /u, as the uninstall entry does, it removes the screen saver from the machine.
#include <windows.h>
#include <sddl.h>

#include <cstdlib>
#include <cstring>

namespace {

// A growing text on the C runtime's heap: all the launcher needs of a string, without the C++
// library (which would make the program ten times its size).
class Text {
 public:
  Text() = default;
  Text(const char* text) { Append(text, std::strlen(text)); }
  Text(const char* text, size_t length) { Append(text, length); }
  Text(const Text& other) { Append(other.data_, other.size_); }
  Text& operator=(const Text& other) {
    if (this != &other) {
      size_ = 0;
      Append(other.data_, other.size_);
    }
    return *this;
  }
  ~Text() { std::free(data_); }

  const char* c_str() const { return data_ ? data_ : ""; }
  char* data() { return data_; }  // writable, for CreateProcess
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  char back() const { return size_ ? data_[size_ - 1] : '\0'; }
  char operator[](size_t i) const { return data_[i]; }

  Text& operator+=(const Text& more) { return Append(more.data_, more.size_); }
  Text& operator+=(const char* more) { return Append(more, std::strlen(more)); }
  Text& operator+=(char c) { return Append(&c, 1); }
  friend Text operator+(Text a, const Text& b) { return a += b; }
  friend Text operator+(Text a, const char* b) { return a += b; }
  friend Text operator+(const char* a, const Text& b) { return Text(a) += b; }

  // The position of the last of the characters, or npos.
  size_t LastOf(const char* characters) const {
    for (size_t i = size_; i-- > 0;)
      if (std::strchr(characters, data_[i])) return i;
    return npos;
  }
  Text Part(size_t from, size_t count = npos) const {
    if (from > size_) from = size_;
    if (count > size_ - from) count = size_ - from;
    return Text(c_str() + from, count);
  }
  bool StartsWith(const char* prefix) const { return std::strncmp(c_str(), prefix, std::strlen(prefix)) == 0; }
  bool SameFileName(const Text& other) const { return lstrcmpiA(c_str(), other.c_str()) == 0; }
  bool operator==(const char* other) const { return std::strcmp(c_str(), other) == 0; }

  static constexpr size_t npos = static_cast<size_t>(-1);

 private:
  Text& Append(const char* text, size_t length) {
    if (!length) return *this;
    char* grown = static_cast<char*>(std::realloc(data_, size_ + length + 1));
    if (!grown) ExitProcess(3);  // out of memory: nothing sensible is left to do
    data_ = grown;
    std::memcpy(data_ + size_, text, length);
    size_ += length;
    data_[size_] = '\0';
    return *this;
  }

  char* data_ = nullptr;
  size_t size_ = 0;
};

Text Decimal(unsigned long long value) {
  char digits[24];
  int at = sizeof digits;
  digits[--at] = '\0';
  do digits[--at] = static_cast<char>('0' + value % 10);
  while ((value /= 10) != 0);
  return Text(digits + at);
}

Text WithBackslash(Text folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

// The Windows folder at the length the system reports, however long.
Text WindowsFolder() {
  char folder[MAX_PATH + 1];
  UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  if (length < sizeof folder) return WithBackslash(Text(folder, length));
  char* longer = static_cast<char*>(std::malloc(length));
  if (!longer) ExitProcess(3);
  const UINT got = GetWindowsDirectoryA(longer, length);
  Text result = got < length ? Text(longer, got) : Text();
  std::free(longer);
  return WithBackslash(result);
}

// A wide text in the ANSI code page, every character without its exact equal there as "?":
// never the look-alike that the system's own conversion chooses (GetModuleFileNameA and
// GetCommandLineA spell U+FF33, a full-width "S", as "S": a name holding it would name the file
// beside it that has "S" there). A UTF-8 code page knows no such flag, and needs none.
Text AnsiOf(const wchar_t* wide) {
  const DWORD flagsTried[] = {WC_NO_BEST_FIT_CHARS, 0};
  for (const DWORD flags : flagsTried) {
    const int size = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
      if (GetLastError() == ERROR_INVALID_FLAGS) continue;
      break;
    }
    char* ansi = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!ansi) ExitProcess(3);
    const int got = WideCharToMultiByte(CP_ACP, flags, wide, -1, ansi, size, nullptr, nullptr);
    Text result = got > 0 ? Text(ansi, static_cast<size_t>(got - 1)) : Text();
    std::free(ansi);
    return result;
  }
  return Text();
}

// This program's own file, by its long name (the system may start it by its 8.3 name), from its
// wide name at the length the system needs: a character outside the code page is "?", so that no
// path of ours names another file.
Text OwnPath() {
  DWORD size = MAX_PATH + 1;
  Text own;
  for (;;) {
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(size * sizeof(wchar_t)));
    if (!wide) ExitProcess(3);
    const DWORD length = GetModuleFileNameW(nullptr, wide, size);
    // A name that fills the buffer may have been cut (Windows XP says nothing else).
    const bool whole = length < size;
    if (whole) {
      wide[length] = L'\0';
      own = AnsiOf(wide);
    }
    std::free(wide);
    if (whole || size > 32768) break;
    size *= 2;
  }
  char longPath[MAX_PATH + 1];
  const DWORD longLength = GetLongPathNameA(own.c_str(), longPath, sizeof longPath);
  if (longLength && longLength < sizeof longPath) own = Text(longPath, longLength);
  return own;
}

// The screen saver's name: the own file's name without its extension.
Text SaverName(const Text& own) {
  const size_t slash = own.LastOf("\\/:");
  const Text name = own.Part(slash == Text::npos ? 0 : slash + 1);
  const size_t dot = name.LastOf(".");
  return dot == Text::npos ? name : name.Part(0, dot);
}

// The arguments as given, behind the program's own name, read from the wide command line: in
// ANSI a character outside the code page is "?", never a look-alike (a full-width solidus and "u"
// are not "/u", and a full-width quotation mark does not end the program's name).
Text Arguments() {
  const wchar_t* line = GetCommandLineW();
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"') quoted = !quoted;
  while (*line == L' ' || *line == L'\t') ++line;
  return AnsiOf(line);
}

bool IsUninstall(const Text& arguments) {
  return arguments.size() >= 2 && (arguments[0] == '/' || arguments[0] == '-') &&
         (arguments[1] == 'u' || arguments[1] == 'U') && (arguments.size() == 2 || arguments[2] == ' ');
}

bool Exists(const Text& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int Box(const Text& caption, const Text& text, UINT type) {
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), type | MB_SETFOREGROUND | MB_TOPMOST);
}

// ---- running the screen saver

int RunSaver(const Text& name, const Text& arguments) {
  const Text folder = WindowsFolder() + name + " dir\\";
  const Text program = folder + name + ".scr";
  if (!Exists(program)) {
    Box(name, "The screen saver program " + program + " is missing.", MB_OK | MB_ICONERROR);
    return 1;
  }
  // Ending the launcher, as Display Properties ends a preview, ends the program with it.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

  Text command = "\"" + program + "\"";
  if (!arguments.empty()) command += " " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      folder.c_str(), &startup, &process)) {
    Box(name, "The screen saver program " + program + " cannot be started.", MB_OK | MB_ICONERROR);
    if (job) CloseHandle(job);
    return 1;
  }
  if (job) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (job) CloseHandle(job);
  return static_cast<int>(code);
}

// ---- removal

// Deletes everything in folder and then the folder; a link or junction is removed as a link and
// never followed. Adds what could not be removed to failed.
void RemoveFolder(const Text& folder, Text& failed) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const Text name = found.cFileName;
      if (name == "." || name == "..") continue;
      const Text path = folder + name;
      const DWORD attributes = found.dwFileAttributes;
      if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      bool removed;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveFolder(path + "\\", failed);
        continue;
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        removed = RemoveDirectoryA(path.c_str()) != 0;  // the link itself
      } else {
        removed = DeleteFileA(path.c_str()) != 0;
      }
      if (!removed) failed += "\r\n" + path;
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  const Text self = folder.Part(0, folder.size() - 1);
  if (Exists(self) && !RemoveDirectoryA(self.c_str())) failed += "\r\n" + self;
}

// The system.ini value goes only when it names this screen saver, by its long or short name or
// its full path.
void RemoveSystemIniValue(const Text& own) {
  char value[MAX_PATH + 1] = "";
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", value, sizeof value, "system.ini");
  const Text named = value;
  if (named.empty()) return;
  char shortPath[MAX_PATH + 1] = "";
  GetShortPathNameA(own.c_str(), shortPath, sizeof shortPath);
  auto fileName = [](const Text& path) { return path.Part(path.LastOf("\\") + 1); };
  const Text candidates[] = {own, fileName(own), Text(shortPath), fileName(Text(shortPath))};
  for (const Text& candidate : candidates)
    if (!candidate.empty() && candidate.SameFileName(named)) {
      WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", nullptr, "system.ini");
      SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, SPIF_SENDWININICHANGE);
      return;
    }
}

// This program's file cannot be deleted while it runs, but it can be moved: it goes out of the
// Windows folder into a fresh folder that only administrators can write (made now, never one that
// was there), under a name that does not run, and the system deletes both at the next restart.
// Nothing is started from any folder: no copy of the launcher runs after it.
bool RemoveSelfWhenEnded(const Text& own) {
  const Text temp = WindowsFolder() + "TEMP\\";
  CreateDirectoryA(temp.c_str(), nullptr);
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", SDDL_REVISION_1,
                                                            &security.lpSecurityDescriptor, nullptr))
    return MoveFileExA(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
  bool moved = false;
  const unsigned long seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (unsigned long n = 0; n < 100 && !moved; ++n) {
    const Text folder = temp + "removed " + Decimal(seed + n);
    if (!CreateDirectoryA(folder.c_str(), &security)) continue;
    const Text parked = folder + "\\launcher.removed";
    moved = MoveFileExA(own.c_str(), parked.c_str(), 0) != 0;
    if (moved) {
      MoveFileExA(parked.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    } else {
      RemoveDirectoryA(folder.c_str());
      break;
    }
  }
  LocalFree(security.lpSecurityDescriptor);
  return moved || MoveFileExA(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

// shell32.dll from the System folder only; by its full path where the system knows no search
// flags (Windows XP, and Vista and 7 without their 2011 update).
HMODULE LoadShell() {
  HMODULE shell = LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!shell && GetLastError() == ERROR_INVALID_PARAMETER) {
    char folder[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    shell = LoadLibraryA((WithBackslash(Text(folder, length < sizeof folder ? length : 0)) + "shell32.dll").c_str());
  }
  return shell;
}

// Libraries come from the System folder only: never from the folder the launcher stands in or
// the current one. SetDefaultDllDirectories where the system has it (Vista and 7 with their 2011
// update, and later), found at run time so that the launcher still starts on XP.
void HardenLibrarySearch() {
  SetDllDirectoryA("");
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDirectories>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The uninstall entry's command for this screen saver, as the installer writes it.
Text EntryCommand(const Text& name) { return "\"" + WindowsFolder() + name + ".scr\" /u"; }

// Why this file may not remove a screen saver, or nothing: it must stand in the Windows folder as
// "<name>.scr", and the uninstall entry of that name must be the one that runs it. A copy
// elsewhere, or one renamed after another program's entry, removes nothing.
Text UninstallRefusal(const Text& own, const Text& name) {
  if (name.empty() || name.LastOf("\\/:*?\"<>|") != Text::npos)
    return own + " has no screen-saver name: nothing was removed.";
  if (!own.SameFileName(WindowsFolder() + name + ".scr"))
    return own + " is not the " + name + " screen saver's launcher in the Windows folder: nothing was removed.";
  const Text key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
  char value[1024] = "";
  DWORD size = sizeof value - 1, type = 0;
  HKEY entry = nullptr;
  bool ours = false;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &entry) == ERROR_SUCCESS) {
    if (RegQueryValueExA(entry, "UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      value[size] = '\0';
      // Quoted as the installer writes it, or unquoted as earlier installers of the format did.
      ours = Text(value).SameFileName(EntryCommand(name)) ||
             Text(value).SameFileName(WindowsFolder() + name + ".scr /u");
    }
    RegCloseKey(entry);
  }
  if (!ours) return "The uninstall entry " + name + " does not run " + own + ": nothing was removed.";
  return {};
}

bool RunsAsAdministrator() {
  HMODULE shell = LoadShell();
  using IsAdmin = BOOL(WINAPI*)();
  auto isAdmin = shell ? reinterpret_cast<IsAdmin>(reinterpret_cast<void*>(GetProcAddress(shell, "IsUserAnAdmin")))
                       : nullptr;
  return !isAdmin || isAdmin();
}

// The second argument by which the launcher's elevated self knows that the user said Yes.
constexpr char kConfirmed[] = "/u confirmed";

// Runs this program again with administrator rights for the removal alone; its exit code.
int RunElevated(const Text& own) {
  HMODULE shell = LoadShell();
  using Execute = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
  auto execute = shell ? reinterpret_cast<Execute>(reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExA")))
                       : nullptr;
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  // Started as a program (the class of .exe files), whatever verbs the user's system gives the
  // screen-saver class.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_CLASSNAME;
  info.lpClass = "exefile";
  info.lpVerb = "runas";
  info.lpFile = own.c_str();
  info.lpParameters = kConfirmed;
  info.nShow = SW_SHOWNORMAL;
  if (!execute || !execute(&info) || !info.hProcess) return 1;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

int Uninstall(const Text& own, const Text& name, bool confirmed) {
  if (!confirmed) {
    if (Box(name, "Remove the " + name + " screen saver from this computer?", MB_YESNO | MB_ICONQUESTION) != IDYES)
      return 1;
    if (!RunsAsAdministrator()) return RunElevated(own);
  }
  Text failed;  // one "\r\n" + path for each
  RemoveSystemIniValue(own);
  const Text folder = WindowsFolder() + name + " dir\\";
  const DWORD folderAttributes = GetFileAttributesA((WindowsFolder() + name + " dir").c_str());
  if (folderAttributes != INVALID_FILE_ATTRIBUTES && (folderAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // The saver's folder is itself a link: the link goes, what it points at is never walked.
    const Text link = WindowsFolder() + name + " dir";
    if (!RemoveDirectoryA(link.c_str()) && !DeleteFileA(link.c_str())) failed += "\r\n" + link;
  } else if (Exists(folder)) {
    RemoveFolder(folder, failed);
  }
  const Text key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
  const LSTATUS deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) failed += "\r\nHKEY_LOCAL_MACHINE\\" + key;
  // What other screen savers of the format share stays: impborl.dll, flashax.exe.
  if (Exists(own) && !RemoveSelfWhenEnded(own)) failed += "\r\n" + own;
  if (failed.empty()) {
    Box(name, "The " + name + " screen saver was removed.", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  Box(name, "The " + name + " screen saver was removed, but these could not be:" + failed, MB_OK | MB_ICONWARNING);
  return 2;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HardenLibrarySearch();
  const Text arguments = Arguments();
  const Text own = OwnPath();
  const Text name = SaverName(own);
  if (IsUninstall(arguments)) {
    const Text refusal = UninstallRefusal(own, name);
    if (!refusal.empty()) {
      Box(name.empty() ? Text("Screen saver") : name, refusal, MB_OK | MB_ICONERROR);
      return 1;
    }
    // The confirmation counts only as the exact argument of our elevated self.
    return Uninstall(own, name, arguments == kConfirmed && RunsAsAdministrator());
  }
  return RunSaver(name, arguments);
}
