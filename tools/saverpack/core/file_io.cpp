#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace saverpack {

namespace {

std::string Reason() { return std::strerror(errno); }

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  FilePtr in(std::fopen(path.string().c_str(), "rb"));
  if (!in) throw ToolError(path.string() + ": cannot open: " + Reason());
  std::vector<uint8_t> bytes;
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  if (std::ferror(in.get())) throw ToolError(path.string() + ": cannot read: " + Reason());
  return bytes;
}

void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::filesystem::path temporary = path;
  temporary += ".part";
  {
    FilePtr out(std::fopen(temporary.string().c_str(), "wb"));
    if (!out) throw ToolError(path.string() + ": cannot create: " + Reason());
    const bool written = bytes.empty() ||
                         std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
    const bool closed = std::fclose(out.release()) == 0;
    if (!written || !closed) {
      const std::string reason = Reason();
      std::filesystem::remove(temporary);
      throw ToolError(path.string() + ": cannot write: " + reason);
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary);
    throw ToolError(path.string() + ": cannot write: " + error.message());
  }
}

}  // namespace saverpack
