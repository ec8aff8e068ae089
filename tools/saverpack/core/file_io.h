// Whole-file reads and writes for saverpack; failures throw ToolError naming the file.
#pragma once
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace saverpack {

// A failed operation: main prints "saverpack: <message>" and exits with 1.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failed operation whose problems were already printed: exit 1 with nothing more.
class QuietFailure : public std::exception {};

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
// Writes through a temporary file beside the target, so a failure never leaves half a file.
void WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

}  // namespace saverpack
