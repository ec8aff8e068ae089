// Lays out a whole installer file: the stub padded to kPayloadOffset, the header, and the
// members' stored bytes back to back in slot order. Used by saverpack and by the tests'
// fixtures, so the installer's reader is always checked against the writer.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataStructures_shared.h"

struct TMemberInput {
  std::string Name;              // the payload name, a plain file name
  std::vector<uint8_t> Stored;   // the bytes as stored: plain, or an imploded stream
  int32_t Destination = 5;
  bool Compressed = false;
  int32_t FileSize = 0;          // size once written; for a plain member Stored.size()
  int32_t PackedSize = 0;        // informational
  int SameBytesAs = 0;           // nonzero: this record repeats that slot's stored bytes, its
                                 // offsets and its coding; Stored stays empty
};

struct TPayloadOptions {
  uint8_t ContentMode = 0;
  uint8_t HasLicense = 0;
  uint8_t ShowDocument = 0;
  uint8_t OpenDisplayProperties = 0;
  std::string SaverName;         // at most 64 bytes; shorter names are NUL-terminated
};

// Members for slots 1..10; slot 0 always describes the stub itself.
using TMemberInputs = std::array<std::optional<TMemberInput>, kMemberCount>;

class PayloadLayoutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The header for the given members, their offsets filled in. Empty slots are all zeros.
// Throws PayloadLayoutError when a name or an offset does not fit the format.
TPayloadHeader LayoutPayloadHeader(const TPayloadOptions& options, const TMemberInputs& members);

// The complete installer file. Throws PayloadLayoutError when the stub is larger than
// kPayloadOffset or the layout does not fit.
std::vector<uint8_t> BuildInstallerImage(const std::vector<uint8_t>& stub,
                                         const TPayloadOptions& options,
                                         const TMemberInputs& members);
