// In-memory convenience over the implode/explode library, for saverpack and the tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "pkware.h"

namespace dcl {

struct ExplodeResult {
  unsigned code = CMP_NO_ERROR;  // the library's result
  std::vector<uint8_t> data;     // everything written, also on an error
  bool pastLimit = false;        // the stream went on past the limit: data holds limit + 1 bytes
};

inline constexpr size_t kNoExplodeLimit = SIZE_MAX;

// Expands the stream, but never more than one byte past limit: a stream that goes on past it is
// cut there (code CMP_ABORT, pastLimit set), so that a few bytes that claim gigabytes cost no
// more than the size a record promises.
ExplodeResult Explode(std::span<const uint8_t> stream, size_t limit = kNoExplodeLimit);

// Through the library's own dcl_implode, the encoder impborl.dll carries. Throws
// std::invalid_argument for a mode or dictionary size that the format has not.
std::vector<uint8_t> Implode(std::span<const uint8_t> data, unsigned type = CMP_BINARY,
                             unsigned dictSize = 4096);

// saverpack's encoder, by the bit cost of every token:
//   Best   the default: the cheapest parse over every distance the window holds, a copy of 192
//          or more taken at once;
//   Fast   a few candidates per position and short copies taken at once: several times faster;
//   Exact  every distance compared, every length weighed: the smallest stream there is, slowly
//          (for measuring the others).
enum class Level { Fast, Best, Exact };

// One stream in the given coding (throws std::invalid_argument as Implode does).
std::vector<uint8_t> Implode(std::span<const uint8_t> data, unsigned type, unsigned dictSize,
                             Level level);

struct Stream {
  std::vector<uint8_t> bytes;
  unsigned type = CMP_BINARY;  // the literal coding it uses
  unsigned dict = 4096;        // and its dictionary size
};

// The smallest stream over both literal codings and the three dictionary sizes; ties go to
// binary literals and the larger dictionary.
Stream ImplodeSmallest(std::span<const uint8_t> data, Level level = Level::Best);

// The usual CRC-32 of the bytes (seeded with all ones, complemented).
uint32_t Crc32(std::span<const uint8_t> data);

// The text of a library result, for messages.
const char* ResultText(unsigned code);

}  // namespace dcl
