#include <array>
#include <cstdint>

#include "pkware.h"

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

extern "C" unsigned long PK_CDECL dcl_crc32(char* buffer, unsigned int* size,
                                            unsigned long* old_crc) {
  uint32_t crc = static_cast<uint32_t>(*old_crc);
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
  for (unsigned int i = 0; i < *size; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}
