#include "project_reading.h"

#include "cp1252.h"
#include "file_io.h"

namespace saverpack {

void ProjectReading::Problem(int line, const std::string& text) {
  problems_.push_back(file_.string() + ":" + std::to_string(line) + ": " + text);
}

void ProjectReading::ThrowIfAny() const {
  if (problems_.empty()) return;
  std::string all;
  for (const auto& p : problems_) all += (all.empty() ? "" : "\n") + p;
  throw ToolError(all);
}

int ProjectReading::LineOf(const toml::node* node) {
  return node ? static_cast<int>(node->source().begin.line) : 1;
}

std::filesystem::path ProjectReading::Resolve(const std::string& path) const {
  const std::filesystem::path p(path);
  return p.is_absolute() ? p : file_.parent_path() / p;
}

std::optional<std::string> ProjectReading::Text(const toml::node* node, const std::string& what) {
  const auto value = node ? node->value<std::string>() : std::nullopt;
  if (!value) {
    Problem(LineOf(node), what + " must be a text");
    return std::nullopt;
  }
  auto converted = Utf8ToCp1252(*value);
  if (!converted)
    Problem(LineOf(node), what + " \"" + *value + "\" has characters outside the Windows-1252 code page");
  return converted;
}

std::optional<int64_t> ProjectReading::Integer(const toml::node* node, const char* what, int64_t low,
                                               int64_t high) {
  const auto value = node ? node->value<int64_t>() : std::nullopt;
  if (!value || *value < low || *value > high) {
    Problem(LineOf(node), std::string(what) + " must be a whole number from " + std::to_string(low) +
                              " to " + std::to_string(high));
    return std::nullopt;
  }
  return value;
}

std::optional<uint8_t> ProjectReading::FlagOrByte(const toml::node* node, const char* what) {
  if (const auto flag = node->value_exact<bool>()) return static_cast<uint8_t>(*flag);
  const auto value = node->value_exact<int64_t>();
  if (!value || *value < 0 || *value > 255) {
    Problem(LineOf(node), std::string(what) + " must be true, false or a number 0..255");
    return std::nullopt;
  }
  return static_cast<uint8_t>(*value);
}

Compression ProjectReading::CompressionOf(const toml::node* node) {
  if (!node) return Compression::Auto;
  const auto value = node->value<std::string>();
  if (value == "auto") return Compression::Auto;
  if (value == "always") return Compression::Always;
  if (value == "never") return Compression::Never;
  Problem(LineOf(node), "compress must be \"auto\", \"always\" or \"never\"");
  return Compression::Auto;
}

bool IsFileAt(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace saverpack
