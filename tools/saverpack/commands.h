// The saverpack commands, each registered on the command line by its own function.
#pragma once
#include <CLI/CLI.hpp>

namespace saverpack {

void AddCodecCommands(CLI::App& app);

}  // namespace saverpack
