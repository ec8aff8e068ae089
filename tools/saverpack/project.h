// A saverpack project: what one installer carries, read from a TOML project file and checked
// before anything is written.
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dataStructures_shared.h"

namespace saverpack {

enum class Compression { Auto, Always, Never };

struct SlotSpec {
  bool present = false;
  std::filesystem::path source;  // absolute, or relative to the project file's folder
  std::string payloadName;       // Windows-1252
  int32_t destination = 5;
  Compression compression = Compression::Auto;
  int line = 0;                  // where the slot's table starts, for messages
  bool asPicture = false;        // the content of a picture window: made a 350 x 150 bitmap
  int sameBytesAs = 0;           // nonzero: the record repeats that slot's stored bytes
};

struct DataEntrySpec {
  std::string name;              // Windows-1252
  uint8_t kind = 0;
  uint8_t chunkKind = 0;
  std::optional<std::filesystem::path> source;  // none for a copied (kind 3) entry
  Compression compression = Compression::Auto;
  int line = 0;
};

struct DataSpec {
  bool present = false;          // the data file is described here, not given as a file
  std::optional<std::filesystem::path> settings;  // the 1224-byte header image
  int32_t movieSource = 0;
  std::vector<DataEntrySpec> entries;
  int line = 0;
};

struct Project {
  std::filesystem::path file;
  std::string saverName;         // Windows-1252, at most 64 bytes
  uint8_t contentMode = 0;
  uint8_t hasLicense = 0;
  uint8_t showDocument = 0;
  uint8_t openDisplayProperties = 0;
  bool fast = false;             // level = "fast": the quick encoder instead of the smallest
  std::string sign;              // the command that signs the finished installer, or empty
  std::array<SlotSpec, kMemberCount> slots;
  DataSpec data;
};

// Reads and checks a project file. The codec library defaults to defaultCodec, stored as
// "impborl.dat" with destination 3. Throws ToolError with one line per problem, each naming the
// project file and the line.
Project LoadProject(const std::filesystem::path& file, const std::filesystem::path& defaultCodec);

}  // namespace saverpack
