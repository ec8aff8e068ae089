// The screen-saver launcher: installed as <Windows>\<name>.scr in place of the author's program,
// which lies in <Windows>\<name> dir\<name>.scr. Started by the system (/s, /c, /c:HWND, /p HWND,
// /a HWND, or nothing) it runs that program with the same arguments and ends with it; started
// with /u, as the uninstall entry does, it removes the screen saver from the machine.
#include <windows.h>

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
  bool Contains(const char* part) const { return std::strstr(c_str(), part) != nullptr; }
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

Text WindowsFolder() {
  char folder[MAX_PATH + 1];
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  return WithBackslash(Text(folder, length < sizeof folder ? length : 0));
}

// This program's own file, by its long name (the system may start it by its 8.3 name).
Text OwnPath() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  Text own(path, length < sizeof path ? length : 0);
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

// The arguments as given, behind the program's own name.
Text Arguments() {
  const char* line = GetCommandLineA();
  bool quoted = false;
  for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
    if (*line == '"') quoted = !quoted;
  while (*line == ' ' || *line == '\t') ++line;
  return line;
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

// How the launcher starts its removal helper.
constexpr char kRemoveAfter[] = "/remove-after ";

// This program's file cannot go while it runs: a copy of it in the temporary folder waits for
// this process to end and deletes it, and is itself deleted at the next restart.
void RemoveSelfWhenEnded(const Text& own) {
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  const Text helper = WithBackslash(Text(temp, length < sizeof temp ? length : 0)) +
                             "remove-" + Decimal(GetCurrentProcessId()) + ".exe";
  if (!CopyFileA(own.c_str(), helper.c_str(), FALSE)) {
    MoveFileExA(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return;
  }
  // The helper inherits a handle to this process, to wait on.
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0);
  Text command = "\"" + helper + "\" " + kRemoveAfter + Decimal(reinterpret_cast<uintptr_t>(self)) +
                        " \"" + own + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(helper.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    MoveFileExA(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

// The helper's part: waits for the launcher to end, then deletes it.
int RemoveAfter(const Text& arguments) {
  // "/remove-after HANDLE "PATH"": the handle in decimal, then the launcher's path in quotes.
  const char* at = arguments.c_str() + std::strlen(kRemoveAfter);
  uintptr_t value = 0;
  for (; *at >= '0' && *at <= '9'; ++at) value = value * 10 + static_cast<uintptr_t>(*at - '0');
  const auto handle = reinterpret_cast<HANDLE>(value);
  while (*at == ' ') ++at;
  Text target(at);
  if (target.size() >= 2 && target[0] == '"') target = target.Part(1, target.size() - 2);
  WaitForSingleObject(handle, 60000);
  for (int attempt = 0; attempt < 50 && Exists(target) && !DeleteFileA(target.c_str()); ++attempt) Sleep(100);
  char own[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, own, sizeof own);
  if (length && length < sizeof own) MoveFileExA(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return Exists(target) ? 1 : 0;
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

bool RunsAsAdministrator() {
  HMODULE shell = LoadShell();
  using IsAdmin = BOOL(WINAPI*)();
  auto isAdmin = shell ? reinterpret_cast<IsAdmin>(reinterpret_cast<void*>(GetProcAddress(shell, "IsUserAnAdmin")))
                       : nullptr;
  return !isAdmin || isAdmin();
}

// Runs this program again with administrator rights for the removal alone; its exit code.
int RunElevated(const Text& own) {
  HMODULE shell = LoadShell();
  using Execute = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
  auto execute = shell ? reinterpret_cast<Execute>(reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteExA")))
                       : nullptr;
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = "runas";
  info.lpFile = own.c_str();
  info.lpParameters = "/u confirmed";
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
  if (Exists(folder)) RemoveFolder(folder, failed);
  const Text key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
  const LSTATUS deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) failed += "\r\nHKEY_LOCAL_MACHINE\\" + key;
  // What other screen savers of the format share stays: impborl.dll, flashax.exe.
  if (Exists(own)) RemoveSelfWhenEnded(own);
  if (failed.empty()) {
    Box(name, "The " + name + " screen saver was removed.", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  Box(name, "The " + name + " screen saver was removed, but these could not be:" + failed, MB_OK | MB_ICONWARNING);
  return 2;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Libraries come from the System folder only.
  SetDllDirectoryA("");
  const Text arguments = Arguments();
  if (arguments.StartsWith(kRemoveAfter)) return RemoveAfter(arguments);
  const Text own = OwnPath();
  const Text name = SaverName(own);
  if (IsUninstall(arguments)) return Uninstall(own, name, arguments.Contains("confirmed"));
  return RunSaver(name, arguments);
}
