// Any bytes as a project file: read and checked, or refused with lines that name the file. The
// file lies in a folder of its own; what it names is looked up there, never written.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "file_io.h"
#include "project.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() / ("fuzz-project-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    std::ofstream(path / "saver.scr") << "MZ";
    std::ofstream(path / "picture.bmp") << "BM";
    return path;
  }();
  const auto file = folder / "saver.toml";
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
  try {
    (void)saverpack::LoadProject(file, folder / "impborl.dll", folder / "launcher.exe");
  } catch (const saverpack::ToolError&) {
  }
  return 0;
}
