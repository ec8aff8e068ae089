// verify and extract: views of an opened installer (see opened_installer.h).
// Nothing read from the file is trusted for a size, an offset or a count before it is checked.
#pragma once
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "opened_installer.h"

namespace saverpack {

// Every problem that would stop or spoil an installation, one line each; empty when sound.
std::vector<std::string> VerifyInstaller(const OpenedInstaller& opened);
std::vector<std::string> VerifyInstaller(std::span<const uint8_t> file);

// Writes the chosen slots (all used slots 1..10 when none are given) expanded under their payload
// names into folder, and the data file's entries into a folder of their own beside them. Never
// writes outside folder. Returns the problems met; what could be written is written.
std::vector<std::string> ExtractInstaller(const OpenedInstaller& opened, const std::filesystem::path& folder,
                                          const std::vector<int>& slots);

}  // namespace saverpack
