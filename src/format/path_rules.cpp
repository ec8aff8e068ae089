#include "path_rules.h"

#include <cctype>

std::string WithTrailingBackslash(std::string_view folder) {
  std::string result(folder);
  if (result.empty() || result.back() != '\\') result += '\\';
  return result;
}

std::string ExtensionOf(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  const size_t separator = path.find_last_of("\\/:");
  if (separator != std::string_view::npos && separator > dot) return {};
  return std::string(path.substr(dot));
}

bool HasScreenSaverExtension(std::string_view path) {
  std::string extension = ExtensionOf(path);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".scr";
}

bool HasLibraryExtension(std::string_view path) { return ExtensionOf(path) == ".dll"; }

std::string StagingFileName(std::string_view stagingDir, int n) {
  return std::string(stagingDir) + "\\temp" + std::to_string(n) + ".dat";
}

std::string SaverDirFor(std::string_view windowsDir, std::string_view saverName) {
  return std::string(windowsDir) + (saverName.empty() ? std::string("TempSaverDir") : std::string(saverName)) +
         " dir\\";
}

bool SameFileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}
