#include <cstdint>

#include "dcl_tables.h"
#include "pkware.h"

extern "C" unsigned long PK_CDECL dcl_crc32(char* buffer, unsigned int* size,
                                            unsigned long* old_crc) {
  const uint32_t* table = dcl::gTables.crc;
  uint32_t crc = static_cast<uint32_t>(*old_crc);
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
  for (unsigned int i = 0; i < *size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}
