#include "dcl_tables.h"

namespace dcl {

Tables gTables;

namespace {

template <size_t N, size_t P>
void FillCode(Code<N>& code, const uint8_t (&packed)[P]) {
  size_t symbol = 0;
  for (uint8_t run : packed)
    for (int i = 0; i <= run >> 4; ++i) code.length[symbol++] = run & 15;
  unsigned next = 0;  // canonical code of the current length
  for (unsigned len = 1; len <= 15; ++len) {
    for (size_t s = 0; s < N; ++s) {
      if (code.length[s] != len) continue;
      // Sent from the most significant bit, inverted: reverse the complement.
      unsigned reversed = 0;
      for (unsigned b = 0; b < len; ++b) reversed |= (((~next) >> (len - 1 - b)) & 1u) << b;
      code.bits[s] = static_cast<uint16_t>(reversed);
      ++next;
    }
    next <<= 1;
  }
}

// Every index whose low bits are a symbol's code gets entry(symbol, code length).
template <size_t N, typename T, typename Entry>
void FillDecodeTable(T* table, unsigned indexBits, const Code<N>& code, Entry entry) {
  for (unsigned s = 0; s < N; ++s) {
    const unsigned len = code.length[s];
    for (unsigned fill = 0; fill < (1u << (indexBits - len)); ++fill)
      table[code.bits[s] | (fill << len)] = static_cast<T>(entry(s, len));
  }
}

unsigned SymbolAndLength(unsigned symbol, unsigned len) { return symbol << 4 | len; }

unsigned CopyLengthStep(unsigned symbol, unsigned len) {
  return unsigned{kLengthBase[symbol]} << 8 | unsigned{kLengthExtra[symbol]} << 4 | (1 + len);
}

void FillLengthEncoding(Tables& t) {
  for (unsigned s = 0; s < 16; ++s) {
    for (unsigned extra = 0; extra < (1u << kLengthExtra[s]); ++extra) {
      const unsigned length = kLengthBase[s] + extra;
      if (length > kEndCode) break;
      const unsigned codeLength = t.length.length[s];
      const unsigned bits = 1u | t.length.bits[s] << 1 | extra << (1 + codeLength);
      t.lengthEncoding[length] = (1 + codeLength + kLengthExtra[s]) << 24 | bits;
    }
  }
}

void FillCrc(uint32_t* table) {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
}

}  // namespace

void BuildTables() {
  Tables& t = gTables;
  FillCode(t.literal, kPackedLiteralLengths);
  FillCode(t.length, kPackedLengthLengths);
  FillCode(t.distance, kPackedDistanceLengths);
  FillDecodeTable(t.literalDecode, kLiteralBits, t.literal, SymbolAndLength);
  FillDecodeTable(t.distanceDecode, kDistanceBits, t.distance, SymbolAndLength);
  FillDecodeTable(t.lengthDecode, kLengthBits, t.length, CopyLengthStep);
  FillLengthEncoding(t);
  FillCrc(t.crc);
}

#ifndef DCL_TABLES_BUILT_BY_LOADER
// Programs build the tables before main; impborl.dll builds them from its entry point.
namespace {
[[maybe_unused]] const bool kTablesBuilt = (BuildTables(), true);
}
#endif

}  // namespace dcl
