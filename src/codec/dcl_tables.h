// The fixed Huffman codes of the implode format, built at compile time.
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
#pragma once
#include <array>
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
  std::array<uint8_t, N> length{};  // bits of each symbol's code
  std::array<uint16_t, N> bits{};   // the code as it stands in the stream, first bit lowest
};

template <size_t N, size_t P>
constexpr Code<N> MakeCode(const uint8_t (&packed)[P]) {
  Code<N> code;
  size_t symbol = 0;
  for (uint8_t run : packed)
    for (int i = 0; i <= run >> 4; ++i) code.length[symbol++] = run & 15;
  unsigned next = 0;  // canonical code of the current length
  for (unsigned len = 1; len <= 15; ++len) {
    for (size_t s = 0; s < N; ++s) {
      if (code.length[s] != len) continue;
      // Sent from the most significant bit, inverted: reverse the complement.
      unsigned reversed = 0;
      for (unsigned b = 0; b < len; ++b)
        reversed |= (((~next) >> (len - 1 - b)) & 1u) << b;
      code.bits[s] = static_cast<uint16_t>(reversed);
      ++next;
    }
    next <<= 1;
  }
  return code;
}

inline constexpr auto kLiteralCode = MakeCode<256>(kPackedLiteralLengths);
inline constexpr auto kLengthCode = MakeCode<16>(kPackedLengthLengths);
inline constexpr auto kDistanceCode = MakeCode<64>(kPackedDistanceLengths);

// Decoding by table: index with the next `Bits` stream bits, get symbol << 4 | code length.
template <unsigned Bits, size_t N>
constexpr std::array<uint16_t, (1u << Bits)> MakeDecodeTable(const Code<N>& code) {
  std::array<uint16_t, (1u << Bits)> table{};
  for (size_t s = 0; s < N; ++s) {
    const unsigned len = code.length[s];
    for (unsigned fill = 0; fill < (1u << (Bits - len)); ++fill)
      table[code.bits[s] | (fill << len)] = static_cast<uint16_t>(s << 4 | len);
  }
  return table;
}

inline constexpr unsigned kLiteralBits = 13;
inline constexpr unsigned kLengthBits = 7;
inline constexpr unsigned kDistanceBits = 8;

}  // namespace dcl
