// In-memory convenience over the implode/explode library, for saverpack and the tests.
#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "pkware.h"

namespace dcl {

struct ExplodeResult {
  unsigned code = CMP_NO_ERROR;  // the library's result
  std::vector<uint8_t> data;     // everything written, also on an error
};

ExplodeResult Explode(std::span<const uint8_t> stream);

// Throws std::invalid_argument for a mode or dictionary size that the format has not.
std::vector<uint8_t> Implode(std::span<const uint8_t> data, unsigned type = CMP_BINARY,
                             unsigned dictSize = 4096);

// The usual CRC-32 of the bytes (seeded with all ones, complemented).
uint32_t Crc32(std::span<const uint8_t> data);

// The text of a library result, for messages.
const char* ResultText(unsigned code);

}  // namespace dcl
