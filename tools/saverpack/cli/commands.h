// The saverpack commands, each registered on the command line by its own function.
#pragma once
#include <CLI/CLI.hpp>

#include <filesystem>

namespace saverpack {

void AddCodecCommands(CLI::App& app);
void AddBuildCommand(CLI::App& app);
void AddRepackCommand(CLI::App& app);
void AddNewCommand(CLI::App& app);
void AddInspectCommands(CLI::App& app);  // list, verify, extract
void AddStudioCommand(CLI::App& app);

// The folder saverpack runs from: install.exe and impborl.dll are looked for there.
std::filesystem::path ToolFolder();

}  // namespace saverpack
