// Reading a project file, inside the project reader: the problems met, each with the line that
// has it, the readers of one value, and the readers of the file's three kinds of table. Every
// problem is collected, so that the author sees them all at once.
#pragma once
#include <toml++/toml.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "project.h"

namespace saverpack {

class ProjectReading {
 public:
  explicit ProjectReading(std::filesystem::path file) : file_(std::move(file)) {}

  const std::filesystem::path& File() const { return file_; }
  void Problem(int line, const std::string& text);
  // Throws ToolError with every problem, one line each, when there is any.
  void ThrowIfAny() const;

  static int LineOf(const toml::node* node);
  // A path of the project: absolute, or relative to the project file's folder.
  std::filesystem::path Resolve(const std::string& path) const;

  // A text in the installer's code page; a number within [low, high]; true, false or a byte
  // 0..255; "auto", "always" or "never". Each gives nothing (Auto) and notes a problem when the
  // value is not one.
  std::optional<std::string> Text(const toml::node* node, const std::string& what);
  std::optional<int64_t> Integer(const toml::node* node, const char* what, int64_t low, int64_t high);
  std::optional<uint8_t> FlagOrByte(const toml::node* node, const char* what);
  Compression CompressionOf(const toml::node* node);

 private:
  std::filesystem::path file_;
  std::vector<std::string> problems_;
};

// What the top-level keys say beyond the project's own fields, for the checks made once every
// table is read.
struct TopLevelKeys {
  int nameLine = 0;                      // where name = "..." is, once it was read
  int uninstallLine = 1;
  bool uninstallSaid = false;            // the project has the uninstall key
  bool uninstallRefused = false;         // and its value was refused
  std::optional<uint8_t> licenseFlag;    // has_license: the header's flag when the slots do not say it
  std::optional<uint8_t> documentFlag;   // show_document: likewise
};

// Default destinations by slot: the installer's own record 6, the Windows folder's support files
// 3, the program 2, the data file 4, everything else 5.
inline constexpr int32_t kDefaultDestination[kMemberCount] = {6, 3, 3, 5, 5, 5, 2, 5, 4, 5, 5};

// A regular file is there; a name the system cannot even look up (too long, say) is no file.
bool IsFileAt(const std::filesystem::path& path);

// The keys outside any table: name, content, the flags, sign, uninstall, level.
TopLevelKeys ReadTopLevel(ProjectReading& reading, const toml::table& root, Project& project);

// One [files.<slot>] table, as the project gives it (the codec defaults to defaultCodec).
void ReadFileTable(ProjectReading& reading, int slot, const toml::node& node,
                   const std::filesystem::path& defaultCodec, Project& project);

// The [data] table with its [[data.entries]].
void ReadDataTable(ProjectReading& reading, const toml::table& root, Project& project);

}  // namespace saverpack
