#include "file_io.h"

#include <algorithm>

#include "path_rules.h"

namespace {

// At most 1 GiB a call: the system's counts are 32-bit.
constexpr size_t kLargestCall = size_t{1} << 30;

}  // namespace

TStatus SeekTo(HANDLE file, int64_t offset) {
  if (offset < 0) return ERROR_NEGATIVE_SEEK;
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) ? kOk : static_cast<TStatus>(GetLastError());
}

TStatus ReadExactly(HANDLE file, void* buffer, size_t count, TStatus shortCode) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<DWORD>(std::min(count - done, kLargestCall));
    DWORD got = 0;
    if (!ReadFile(file, bytes + done, chunk, &got, nullptr)) return static_cast<TStatus>(GetLastError());
    if (got == 0) return shortCode;
    done += got;
  }
  return kOk;
}

TStatus WriteExactly(HANDLE file, const void* buffer, size_t count, TStatus shortCode) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<DWORD>(std::min(count - done, kLargestCall));
    DWORD written = 0;
    if (!WriteFile(file, bytes + done, chunk, &written, nullptr)) return static_cast<TStatus>(GetLastError());
    if (written == 0) return shortCode;
    done += written;
  }
  return kOk;
}

int64_t FileSizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

std::string FolderFromSystem(UINT(WINAPI* get)(LPSTR, UINT)) {
  std::string folder(MAX_PATH + 1, '\0');
  UINT length = get(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    folder.assign(length, '\0');
    length = get(folder.data(), static_cast<UINT>(folder.size()));
    if (length >= folder.size()) length = 0;
  }
  folder.resize(length);
  return WithTrailingBackslash(folder);
}

std::string WindowsFolderPath() { return FolderFromSystem(&GetWindowsDirectoryA); }
std::string SystemFolderPath() { return FolderFromSystem(&GetSystemDirectoryA); }
