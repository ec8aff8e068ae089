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
  bool keepBytes = false;        // keep_bytes = true: a picture stored as it is
  bool nameGiven = false;        // the table says name = "..."
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

// What the uninstall entry's "<Windows>\<name>.scr /u" runs: our launcher, which removes the
// screen saver itself and runs the author's program from the saver's folder, or the author's
// program, which must then handle /u itself.
// AsIs: the program slot holds exactly what the project gives it, under its name (what a project
// extracted from an installer says, whatever its uninstall entry runs).
enum class Uninstall { Launcher, Program, AsIs };

struct Project {
  std::filesystem::path file;
  std::string saverName;         // Windows-1252, at most 64 bytes
  uint8_t contentMode = 0;
  uint8_t hasLicense = 0;
  uint8_t showDocument = 0;
  uint8_t openDisplayProperties = 0;
  bool fast = false;             // level = "fast": the quick encoder instead of the smallest
  std::string sign;              // the command that signs the finished installer, or empty
  Uninstall uninstall = Uninstall::Launcher;  // "launcher" when the project does not say
  std::array<SlotSpec, kMemberCount> slots;
  DataSpec data;
  std::filesystem::path program;  // the author's screen-saver program, wherever it went
};

// Reads and checks a project file. The codec library defaults to defaultCodec, stored as
// "impborl.dat" with destination 3; with uninstall = "launcher" the program slot holds
// defaultLauncher as "<name>.scr" and the author's program goes to the saver's folder under that
// name (slot 7 when the project leaves it free, else an entry of the data file). Throws
// ToolError with one line per problem, each naming the project file and the line.
Project LoadProject(const std::filesystem::path& file, const std::filesystem::path& defaultCodec,
                    const std::filesystem::path& defaultLauncher = {});

// Whether bytes are a Windows program: an MZ header whose e_lfanew points at "PE\0\0".
bool IsWindowsProgram(const std::vector<uint8_t>& bytes);

}  // namespace saverpack
