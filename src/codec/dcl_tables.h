// The fixed Huffman codes of the implode format and the tables built from them.
//
// Format notes. A stream starts with two bytes: the literal mode (0 binary, 1 ascii) and the
// dictionary size as log2(size) - 6 (4, 5 or 6). Then tokens follow in a bit stream read from
// the least significant bit of each byte. A token starts with one bit: 0 is a literal, 1 a copy.
//   literal, binary mode: the byte's 8 bits;   ascii mode: the byte's code from the literal code.
//   copy: a length code (16 symbols, then 0..8 extra bits added to the symbol's base), giving
//         2..518, or 519 for the end of the stream; then a distance code (64 symbols) for the
//         high bits of distance - 1, then its low bits raw: 2 of them for a length of 2,
//         otherwise as many as the dictionary's log2(size) - 6.
// The three codes are canonical: code lengths per symbol, shorter codes numerically first,
// ties in symbol order; each code is sent from its most significant bit, every bit inverted.
//
// Only the code lengths are stored. The codes, the decoding tables and the CRC table (about
// 20 KB) are built once, into zero-initialised memory, by BuildTables: when the program starts,
// or in impborl.dll when the library is loaded, so that they cost no bytes in the file.
#pragma once
#include <cstddef>
#include <cstdint>

namespace dcl {

// Code lengths, run-length packed: each byte is (count - 1) << 4 | length.
inline constexpr uint8_t kPackedLiteralLengths[] = {
    11, 124, 8,   7,   28,  7,   188, 13,  76,  4,  10, 8,  12, 10, 12, 10, 8,  23, 8,  9,
    7,  6,   7,   8,   7,   6,   55,  8,   23,  24, 12, 11, 7,  9,  11, 12, 6,  7,  22, 5,
    7,  24,  6,   11,  9,   6,   7,   22,  7,   11, 38, 7,  9,  8,  25, 11, 8,  11, 9,  12,
    8,  12,  5,   38,  5,   38,  5,   11,  7,   5,  6,  21, 6,  10, 53, 8,  7,  24, 10, 27,
    44, 253, 253, 253, 252, 252, 252, 13,  12,  45, 12, 45, 12, 61, 12, 45, 44, 173};
inline constexpr uint8_t kPackedLengthLengths[] = {2, 35, 36, 53, 38, 23};
inline constexpr uint8_t kPackedDistanceLengths[] = {2, 20, 53, 230, 247, 151, 248};

// Copy lengths: symbol s covers kLengthBase[s] .. kLengthBase[s] + 2^kLengthExtra[s] - 1.
inline constexpr uint16_t kLengthBase[16] = {3,  2,  4,  5,  6,  7,   8,   9,
                                             10, 12, 16, 24, 40, 72, 136, 264};
inline constexpr uint8_t kLengthExtra[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
inline constexpr unsigned kMinCopy = 2;
inline constexpr unsigned kMaxCopy = 518;
inline constexpr unsigned kEndCode = 519;

template <size_t N>
struct Code {
  uint8_t length[N];  // bits of each symbol's code
  uint16_t bits[N];   // the code as it stands in the stream, first bit lowest
};

inline constexpr unsigned kLiteralBits = 13;   // index bits of the decoding tables
inline constexpr unsigned kLengthBits = 7;
inline constexpr unsigned kDistanceBits = 8;

struct Tables {
  Code<256> literal;
  Code<16> length;
  Code<64> distance;
  // Decoding by table: index with the next stream bits, get symbol << 4 | code length.
  uint16_t literalDecode[1u << kLiteralBits];
  uint16_t distanceDecode[1u << kDistanceBits];
  // A copy's length in one look-up, indexed by the bits after its first: the symbol's base << 8
  // | its extra bits << 4 | the bits of its code and of the copy's first bit.
  uint32_t lengthDecode[1u << kLengthBits];
  // Each copy length's bits, the leading 1 (a copy) included: nbits << 24 | bits.
  uint32_t lengthEncoding[kEndCode + 1];
  uint32_t crc[256];  // CRC-32, reflected polynomial 0xEDB88320
};

extern Tables gTables;

// Fills gTables; calling it again rebuilds the same values.
void BuildTables();

}  // namespace dcl
