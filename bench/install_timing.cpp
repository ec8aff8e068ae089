// Timing figures of the installer under Wine (a program that prints figures; not a test):
//   install_timing INSTALL_EXE IMPBORL_DLL FLASH_STANDIN_DLL
// - a silent installation of a reference-shaped payload, from process start to exit (median of 5);
// - from process start to the window shown (median of 5);
// - a clicked installation, from the click to the exit, less its one-second pauses.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "control_ids.h"
#include "data_file_writer.h"
#include "dcl.h"
#include "driver.h"
#include "payload_writer.h"
#include "standin_registration.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* in = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(in);
  }
  return bytes;
}

std::vector<uint8_t> Text(size_t size, uint32_t seed) {
  std::string words[] = {"bubble ", "fish ", "weed ", "chest ", "light ", "sea "};
  std::string text;
  while (text.size() < size) text += words[(seed = seed * 1103515245 + 12345) >> 16 & 3];
  return {text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size)};
}

TMemberInput Member(const std::string& name, const std::vector<uint8_t>& content, int32_t destination, bool compressed) {
  TMemberInput m{name, compressed ? dcl::Implode(content) : content, destination, compressed,
                 static_cast<int32_t>(content.size()), 0};
  m.PackedSize = static_cast<int32_t>(m.Stored.size());
  return m;
}

// Shaped like the reference payload: sizes of a real screen saver's files.
std::vector<uint8_t> Installer(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& codec, uint8_t mode) {
  TPayloadOptions options;
  options.ContentMode = mode;
  options.HasLicense = 1;
  options.OpenDisplayProperties = 0;
  options.SaverName = "Timing";
  TMemberInputs members;
  members[msCompressionLib] = Member("impborl.dat", codec, 3, false);
  members[msContent] = Member("installer.scf", Text(556608, 1), 5, false);
  members[msLicense] = Member("agreement.txt", Text(1358, 2), 5, true);
  members[msSaverEngine] = Member("Timing.scr", Text(598016, 3), 2, true);
  members[msExtraFile] = Member("second.scf", Text(1404, 4), 5, false);
  // A silent installation extracts no content movie, so its data file cannot copy one.
  TDataEntryInput entry;
  entry.Name = "screensaver.swf";
  if (mode == cmSilent) {
    entry.Stored = Text(1404, 7);
    entry.FileSize = 1404;
  }
  members[msDataFile] = Member("Timing.ssd", BuildDataFile({}, mode == cmSilent ? 0 : 3, {entry}), 4, false);
  members[msSaverLib1] = Member("saver1.dll", Text(36864, 5), 5, true);
  members[msSaverLib2] = Member("saver2.dll", Text(18192, 6), 5, true);
  return BuildInstallerImage(stub, options, members);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: install_timing INSTALL_EXE IMPBORL_DLL FLASH_STANDIN_DLL\n");
    return 2;
  }
  CallStandInExport(argv[3], "DllRegisterServer");
  const auto stub = ReadAll(argv[1]), codec = ReadAll(argv[2]);
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string silent = std::string(temp) + "timing-silent.exe", shown = std::string(temp) + "timing-window.exe";
  Write(silent, Installer(stub, codec, cmSilent));
  Write(shown, Installer(stub, codec, cmFlashMovieToo));

  std::vector<double> silentRuns, windowRuns, installRuns;
  for (int run = 0; run < 5; ++run) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    driver::Process p = driver::Start("\"" + silent + "\"");
    driver::WaitForExit(p, 60000);
    QueryPerformanceCounter(&end);
    silentRuns.push_back(Seconds(start, end));

    QueryPerformanceCounter(&start);
    p = driver::Start("\"" + shown + "\"");
    HWND window = nullptr;
    while (!(window = driver::WaitForWindow("Install Timing", p.id, 1))) {
    }
    QueryPerformanceCounter(&end);
    windowRuns.push_back(Seconds(start, end));
    // Install from the window: its pauses are 1 s each, 9 of them without Display Properties.
    QueryPerformanceCounter(&start);
    driver::Click(driver::ChildById(window, kInstallId));
    driver::WaitForExit(p, 60000);
    QueryPerformanceCounter(&end);
    installRuns.push_back(Seconds(start, end) - 9.0);
  }
  std::printf("silent installation, start to exit (median of 5):  %.3f s\n", Median(silentRuns));
  std::printf("start to the window shown (median of 5):           %.3f s\n", Median(windowRuns));
  std::printf("clicked installation less its 9 pauses (median):   %.3f s\n", Median(installRuns));
  return 0;
}
