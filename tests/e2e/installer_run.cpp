#include "installer_run.h"

#include <cstring>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "win32_fixtures.h"

std::vector<uint8_t> GradientBitmap(int width, int height) {
  const int stride = (width * 3 + 3) / 4 * 4;
  const int imageSize = stride * height;
  std::vector<uint8_t> file(54 + imageSize, 0);
  BITMAPFILEHEADER fileHeader{0x4D42, static_cast<DWORD>(file.size()), 0, 0, 54};
  BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, static_cast<DWORD>(imageSize), 2835, 2835, 0, 0};
  std::memcpy(file.data(), &fileHeader, sizeof fileHeader);
  std::memcpy(file.data() + 14, &info, sizeof info);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = file.data() + 54 + y * stride + x * 3;
      p[0] = static_cast<uint8_t>(255 * x / width);          // blue grows to the right
      p[1] = static_cast<uint8_t>(128 + 127 * y / height);   // green to the top
      p[2] = static_cast<uint8_t>(40);
    }
  return file;
}

std::string LicenseText() {
  return "Aquarium Screen Saver licence\r\n\nYou may use this screen saver at home.\rNo warranty.\r\n";
}

TMemberInputs PictureMembers(bool withLicense) {
  TMemberInputs members;
  members[msCompressionLib] = Member("impborl.dat", BuiltCodec(), 3);
  members[msContent] = Member("installer.scf", GradientBitmap(350, 150), 5);
  if (withLicense) {
    const std::string text = LicenseText();
    members[msLicense] = Member("agreement.txt", {text.begin(), text.end()}, 5, true);
  }
  members[msSaverEngine] = Member("Aquarium.scr", TextBytes(30000), 2, true);
  members[msExtraFile] = Member("bubbles.scf", TextBytes(1404), 5);
  members[msSaverLib1] = Member("saver1.dll", TextBytes(36864), 5, true);
  members[msSaverLib2] = Member("saver2.dll", TextBytes(18192), 5, true);
  return members;
}

InstallerRun::InstallerRun(const TPayloadOptions& options, const TMemberInputs& members)
    : InstallerRun(BuildInstallerImage(BuiltInstallExe(), options, members)) {}

InstallerRun::InstallerRun(const std::vector<uint8_t>& image) {
  path = TempFolder() + "Aquarium-Setup.exe";
  WriteAll(path, image);
  process = driver::Start("\"" + path + "\"");
}

InstallerRun::InstallerRun(const std::wstring& widePath, const std::vector<uint8_t>& image) {
  path = AnsiSpelling(widePath);
  WriteAllWide(widePath, image);
  process = StartWide(L"\"" + widePath + L"\"", widePath.substr(0, widePath.rfind(L'\\') + 1));
}

InstallerRun::~InstallerRun() {
  if (process.handle) {
    TerminateProcess(process.handle, 99);
    driver::WaitForExit(process, 5000);
  }
}

std::string BoxText(HWND box) {
  for (HWND child : driver::Children(box))
    if (_stricmp(driver::ClassName(child).c_str(), "Static") == 0 &&
        (driver::Style(child) & SS_TYPEMASK) != SS_ICON && !driver::Text(child).empty())
      return driver::Text(child);
  return {};
}

std::string InstallerRun::AnswerBox(const std::string& caption, const std::string& button) {
  HWND box = driver::WaitForWindow(caption, process.id, 15000);
  if (!box) return "<no box>";
  const std::string text = BoxText(box);
  driver::Click(driver::FindChild(box, "Button", button));
  driver::WaitUntilGone(box);
  return text;
}

std::vector<std::string> InstallerRun::AnswerBoxesUntilExit(int timeoutMs) {
  std::vector<std::string> texts;
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(process.handle, 50) == WAIT_TIMEOUT) {
    if (static_cast<int>(GetTickCount() - start) > timeoutMs) break;
    for (HWND window : driver::WindowsOf(process.id)) {
      if (driver::Text(window) != "Error" && driver::Text(window) != "Information") continue;
      texts.push_back(BoxText(window));
      driver::Click(driver::FindChild(window, "Button", "&Abort"));
      driver::WaitUntilGone(window, 5000);
    }
  }
  return texts;
}

HWND InstallerRun::WaitForWindow(const std::string& caption, int timeoutMs) {
  return driver::WaitForWindow(caption, process.id, timeoutMs);
}

void InstallerRun::Screenshot(HWND window, const std::string& name) {
  Sleep(300);  // let it paint
  driver::SaveScreenshot(window, driver::HostPath(ARTEFACT_DIR "/" + name));
}

std::vector<std::string> NamesMatching(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.emplace_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

std::set<std::string> StagingCopies() {
  std::set<std::string> paths;
  const std::string temp = WindowsFolder() + "TEMP\\";
  for (const std::string& folder : NamesMatching(temp + "QVF temp*"))
    for (const std::string& name : NamesMatching(temp + folder + "\\temp*.dat")) paths.insert(temp + folder + "\\" + name);
  return paths;
}

std::string ReadLog(const std::string& path) {
  const auto bytes = ReadAll(path);
  return {bytes.begin(), bytes.end()};
}

std::string SystemIniSaver() {
  char value[MAX_PATH];
  GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "<none>", value, sizeof value, "system.ini");
  return value;
}

std::wstring Widened(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                         static_cast<int>(wide.size()));
  wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return wide;
}

std::string AnsiSpelling(const std::wstring& text) {
  std::string ansi(text.size() * 2, '\0');
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(),
                                         static_cast<int>(ansi.size()), nullptr, nullptr);
  ansi.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return ansi;
}

void WriteAllWide(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  EXPECT_EQ(written, bytes.size());
  CloseHandle(file);
}

driver::Process StartWide(const std::wstring& commandLine, const std::wstring& folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::wstring line = commandLine;
  driver::Process process;
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.empty() ? nullptr : folder.c_str(),
                     &startup, &info)) {
    CloseHandle(info.hThread);
    process.handle = info.hProcess;
    process.id = info.dwProcessId;
  }
  return process;
}
