// The screen-saver launcher: installed as <Windows>\<name>.scr in place of the author's program,
// which lies in <Windows>\<name> dir\<name>.scr. Started by the system (/s, /c, /c:HWND, /p HWND,
// /a HWND, or nothing) it runs that program with the same arguments and ends with it; started
// with /u, as the uninstall entry does, it removes the screen saver from the machine.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string WithBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

std::string WindowsFolder() {
  char folder[MAX_PATH + 1];
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  return WithBackslash(std::string(folder, length < sizeof folder ? length : 0));
}

// This program's own file, by its long name (the system may start it by its 8.3 name).
std::string OwnPath() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string own(path, length < sizeof path ? length : 0);
  char longPath[MAX_PATH + 1];
  const DWORD longLength = GetLongPathNameA(own.c_str(), longPath, sizeof longPath);
  if (longLength && longLength < sizeof longPath) own.assign(longPath, longLength);
  return own;
}

// The screen saver's name: the own file's name without its extension.
std::string SaverName(const std::string& own) {
  const size_t slash = own.find_last_of("\\/:");
  std::string name = own.substr(slash == std::string::npos ? 0 : slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// The arguments as given, behind the program's own name.
std::string Arguments() {
  const char* line = GetCommandLineA();
  bool quoted = false;
  for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
    if (*line == '"') quoted = !quoted;
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

bool IsUninstall(const std::string& arguments) {
  return arguments.size() >= 2 && (arguments[0] == '/' || arguments[0] == '-') &&
         (arguments[1] == 'u' || arguments[1] == 'U') && (arguments.size() == 2 || arguments[2] == ' ');
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int Box(const std::string& caption, const std::string& text, UINT type) {
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), type | MB_SETFOREGROUND | MB_TOPMOST);
}

// ---- running the screen saver

int RunSaver(const std::string& name, const std::string& arguments) {
  const std::string folder = WindowsFolder() + name + " dir\\";
  const std::string program = folder + name + ".scr";
  if (!Exists(program)) {
    Box(name, "The screen saver program " + program + " is missing.", MB_OK | MB_ICONERROR);
    return 1;
  }
  // Ending the launcher, as Display Properties ends a preview, ends the program with it.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

  std::string command = "\"" + program + "\"";
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
void RemoveFolder(const std::string& folder, std::vector<std::string>& failed) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + name;
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
      if (!removed) failed.push_back(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  const std::string self = folder.substr(0, folder.size() - 1);
  if (Exists(self) && !RemoveDirectoryA(self.c_str())) failed.push_back(self);
}

// The system.ini value goes only when it names this screen saver, by its long or short name or
// its full path.
void RemoveSystemIniValue(const std::string& own) {
  char value[MAX_PATH + 1] = "";
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", value, sizeof value, "system.ini");
  const std::string named = value;
  if (named.empty()) return;
  char shortPath[MAX_PATH + 1] = "";
  GetShortPathNameA(own.c_str(), shortPath, sizeof shortPath);
  auto fileName = [](const std::string& path) { return path.substr(path.find_last_of('\\') + 1); };
  for (const std::string& candidate : {own, fileName(own), std::string(shortPath), fileName(shortPath)})
    if (!candidate.empty() && lstrcmpiA(candidate.c_str(), named.c_str()) == 0) {
      WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", nullptr, "system.ini");
      SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, SPIF_SENDWININICHANGE);
      return;
    }
}

// This program's file cannot go while it runs: a copy of it in the temporary folder waits for
// this process to end and deletes it, and is itself deleted at the next restart.
void RemoveSelfWhenEnded(const std::string& own) {
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  const std::string helper = WithBackslash(std::string(temp, length < sizeof temp ? length : 0)) +
                             "remove-" + std::to_string(GetCurrentProcessId()) + ".exe";
  if (!CopyFileA(own.c_str(), helper.c_str(), FALSE)) {
    MoveFileExA(own.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return;
  }
  // The helper inherits a handle to this process, to wait on.
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0);
  std::string command = "\"" + helper + "\" /remove-after " + std::to_string(reinterpret_cast<uintptr_t>(self)) +
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
int RemoveAfter(const std::string& arguments) {
  const size_t space = arguments.find(' ', 14);
  if (space == std::string::npos) return 1;
  const auto handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(strtoull(arguments.c_str() + 14, nullptr, 10)));
  std::string target = arguments.substr(space + 1);
  if (target.size() >= 2 && target.front() == '"') target = target.substr(1, target.size() - 2);
  WaitForSingleObject(handle, 60000);
  for (int attempt = 0; attempt < 50 && Exists(target) && !DeleteFileA(target.c_str()); ++attempt) Sleep(100);
  char own[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, own, sizeof own);
  if (length && length < sizeof own) MoveFileExA(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return Exists(target) ? 1 : 0;
}

bool RunsAsAdministrator() {
  HMODULE shell = LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  using IsAdmin = BOOL(WINAPI*)();
  auto isAdmin = shell ? reinterpret_cast<IsAdmin>(reinterpret_cast<void*>(GetProcAddress(shell, "IsUserAnAdmin")))
                       : nullptr;
  return !isAdmin || isAdmin();
}

// Runs this program again with administrator rights for the removal alone; its exit code.
int RunElevated(const std::string& own) {
  HMODULE shell = LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
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

int Uninstall(const std::string& own, const std::string& name, bool confirmed) {
  if (!confirmed) {
    if (Box(name, "Remove the " + name + " screen saver from this computer?", MB_YESNO | MB_ICONQUESTION) != IDYES)
      return 1;
    if (!RunsAsAdministrator()) return RunElevated(own);
  }
  std::vector<std::string> failed;
  RemoveSystemIniValue(own);
  const std::string folder = WindowsFolder() + name + " dir\\";
  if (Exists(folder)) RemoveFolder(folder, failed);
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
  const LSTATUS deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) failed.push_back("HKEY_LOCAL_MACHINE\\" + key);
  // What other screen savers of the format share stays: impborl.dll, flashax.exe.
  if (Exists(own)) RemoveSelfWhenEnded(own);
  if (failed.empty()) {
    Box(name, "The " + name + " screen saver was removed.", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  std::string text = "The " + name + " screen saver was removed, but these could not be:";
  for (const std::string& path : failed) text += "\r\n" + path;
  Box(name, text, MB_OK | MB_ICONWARNING);
  return 2;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Libraries come from the System folder only.
  SetDllDirectoryA("");
  const std::string arguments = Arguments();
  if (arguments.rfind("/remove-after ", 0) == 0) return RemoveAfter(arguments);
  const std::string own = OwnPath();
  const std::string name = SaverName(own);
  if (IsUninstall(arguments)) return Uninstall(own, name, arguments.find("confirmed") != std::string::npos);
  return RunSaver(name, arguments);
}
