#include "win32_fixtures.h"

#include "dcl.h"
#include "driver.h"
#include "test_paths.h"

BusyFile::BusyFile(const std::string& path)
    : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr)) {}

BusyFile::~BusyFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

CodecInWindowsFolder::CodecInWindowsFolder() {
  CopyFileA(driver::HostPath(IMPBORL_DLL).c_str(), (WindowsFolder() + "impborl.dll").c_str(), FALSE);
}

CodecInWindowsFolder::~CodecInWindowsFolder() {
  DeleteFileA((WindowsFolder() + "impborl.dll").c_str());
}

std::vector<uint8_t> BuiltInstallExe() { return ReadAll(driver::HostPath(INSTALL_EXE)); }
std::vector<uint8_t> BuiltCodec() { return ReadAll(driver::HostPath(IMPBORL_DLL)); }

TMemberInput Member(const std::string& name, const std::vector<uint8_t>& content,
                    int32_t destination, bool compressed) {
  TMemberInput member;
  member.Name = name;
  member.Destination = destination;
  member.FileSize = static_cast<int32_t>(content.size());
  member.Compressed = compressed;
  member.Stored = compressed ? dcl::Implode(content) : content;
  member.PackedSize = static_cast<int32_t>(member.Stored.size());
  return member;
}

std::vector<uint8_t> TextBytes(size_t size) {
  std::string text;
  while (text.size() < size) text += "The angelfish circles the castle while bubbles rise.\r\n";
  return {text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size)};
}
