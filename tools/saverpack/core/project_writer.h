// An installer turned back into its project: the project file and the files it names, such that
// `saverpack build` of the project makes exactly the bytes `saverpack repack` makes of the
// installer. Portable and in memory, for the command line and the studio's module alike.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "opened_installer.h"

namespace saverpack {

struct ProjectFile {
  std::string path;            // relative to the project file's folder, UTF-8, '/' between parts
  std::vector<uint8_t> bytes;
};

struct ExtractedProject {
  std::string text;                 // the project file (TOML, UTF-8)
  std::vector<ProjectFile> files;   // every file it names, once each
  std::vector<std::string> problems;  // why no project could be made; then text is empty
};

// installerName: the installer's file name, for the project's opening comment. The installer
// must be sound (what verify says); every option, name, destination, filled-in slot, alias and
// data-file entry is written as it is. The codec slot names the codec beside saverpack, as repack
// puts it there.
ExtractedProject ProjectOfInstaller(const OpenedInstaller& opened, const std::string& installerName);
ExtractedProject ProjectOfInstaller(std::span<const uint8_t> file, const std::string& installerName);

// A text as a TOML basic string, quotes included.
std::string TomlQuoted(const std::string& utf8);

}  // namespace saverpack
