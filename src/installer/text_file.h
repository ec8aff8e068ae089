// The licence text: plain 8-bit text in the system's code page.
#pragma once
#include <string>
#include <string_view>

// The whole file; throws EGeneralFailure ("Cannot open file <path>") when it cannot be read.
std::string ReadTextFile(const std::string& path);
