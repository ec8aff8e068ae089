// The installer reads every text as Windows-1252; project files are UTF-8.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace saverpack {

// The text in Windows-1252, or nothing when a character has no place there (or the UTF-8 is bad).
std::optional<std::string> Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view text);

}  // namespace saverpack
