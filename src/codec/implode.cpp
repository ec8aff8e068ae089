// Implode: compresses the whole input into one stream (format notes in dcl_tables.h).
//
// Matches are found through hash chains over the last dictionary-size bytes, with one step of
// lazy evaluation: a match is put off by one byte when the next position has a longer one.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dcl_tables.h"
#include "pkware.h"

namespace {

using namespace dcl;

constexpr unsigned kMaxDict = 4096;
constexpr unsigned kSlideAt = 2 * kMaxDict;          // slide once this position is reached
constexpr unsigned kWindowSize = kSlideAt + 1024;    // input window, history included
constexpr unsigned kLookahead = kMaxCopy + 3;        // kept ahead of the position while input lasts
constexpr unsigned kHashBits = 12;
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr uint16_t kNil = 0xFFFF;
constexpr unsigned kOutputSize = 2048;
constexpr unsigned kMaxChain = 4;   // candidates looked at per position
constexpr unsigned kNiceLength = 32; // a match this long ends the search
constexpr unsigned kLazyLimit = 8;  // a match this long is taken without looking further


// Everything implode keeps, placed in the caller's work buffer.
struct ImplodeState {
  pk_read_buf read;
  pk_write_buf write;
  void* param;
  bool asciiLiterals;
  unsigned dictBits;      // low bits of a distance sent raw (4, 5 or 6)
  unsigned dictSize;
  bool inputEnded;
  unsigned pos;           // next byte to encode
  unsigned end;           // bytes valid in the window
  unsigned hashedTo;      // positions below this are in the hash chains
  uint64_t bits;          // output bits not yet stored, the first one lowest
  unsigned bitCount;
  unsigned outPos;
  uint16_t head[kHashSize];  // newest position of each hash, kNil when none
  uint16_t prev[kMaxDict];   // the position before, by position modulo kMaxDict
  uint8_t output[kOutputSize + 8];
  uint8_t window[kWindowSize + 8];  // slack for word-wise compares past the end
};

constexpr size_t kAlignSlack = alignof(ImplodeState) - 1;
static_assert(sizeof(ImplodeState) + kAlignSlack <= CMP_BUFFER_SIZE,
              "implode's state must fit the caller's work buffer");

ImplodeState* StateIn(char* workBuffer) {
  auto address = reinterpret_cast<uintptr_t>(workBuffer);
  address = (address + kAlignSlack) & ~uintptr_t{kAlignSlack};
  return reinterpret_cast<ImplodeState*>(address);
}

// ---- output

void FlushOutput(ImplodeState& s) {
  unsigned size = s.outPos;
  if (size) s.write(reinterpret_cast<char*>(s.output), &size, s.param);
  s.outPos = 0;
}

inline void PutBits(ImplodeState& s, uint32_t value, unsigned count) {
  s.bits |= uint64_t{value} << s.bitCount;
  s.bitCount += count;
  if (s.bitCount >= 32) {
    const auto word = static_cast<uint32_t>(s.bits);
    std::memcpy(s.output + s.outPos, &word, 4);  // little-endian hosts only
    s.outPos += 4;
    s.bits >>= 32;
    s.bitCount -= 32;
    if (s.outPos >= kOutputSize) FlushOutput(s);
  }
}

inline unsigned LiteralCost(const ImplodeState& s, uint8_t byte) {
  return s.asciiLiterals ? 1u + gTables.literal.length[byte] : 9u;
}

inline void PutLiteral(ImplodeState& s, uint8_t byte) {
  if (s.asciiLiterals)
    PutBits(s, uint32_t{gTables.literal.bits[byte]} << 1, 1u + gTables.literal.length[byte]);
  else
    PutBits(s, uint32_t{byte} << 1, 9);
}

inline unsigned LowBits(const ImplodeState& s, unsigned length) {
  return length == 2 ? 2 : s.dictBits;
}

inline unsigned CopyCost(const ImplodeState& s, unsigned length, unsigned distance) {
  const unsigned low = LowBits(s, length);
  return (gTables.lengthEncoding[length] >> 24) + gTables.distance.length[(distance - 1) >> low] + low;
}

inline void PutCopy(ImplodeState& s, unsigned length, unsigned distance) {
  const uint32_t lengthEntry = gTables.lengthEncoding[length];
  PutBits(s, lengthEntry & 0xFFFFFF, lengthEntry >> 24);
  const unsigned low = LowBits(s, length);
  const unsigned symbol = (distance - 1) >> low;
  const unsigned lowValue = (distance - 1) & ((1u << low) - 1);
  PutBits(s, gTables.distance.bits[symbol] | lowValue << gTables.distance.length[symbol],
          gTables.distance.length[symbol] + low);
}

// ---- input window and hash chains

inline unsigned HashAt(const uint8_t* p) {
  const uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
  return (v * 2654435761u) >> (32 - kHashBits);
}

void Slide(ImplodeState& s) {
  std::memmove(s.window, s.window + kMaxDict, s.end - kMaxDict);
  s.pos -= kMaxDict;
  s.end -= kMaxDict;
  s.hashedTo -= kMaxDict;
  auto shift = [](uint16_t& v) { v = (v != kNil && v >= kMaxDict) ? uint16_t(v - kMaxDict) : kNil; };
  for (uint16_t& v : s.head) shift(v);
  for (uint16_t& v : s.prev) shift(v);
}

void FillWindow(ImplodeState& s) {
  if (s.pos >= kSlideAt) Slide(s);
  while (!s.inputEnded && s.end < kWindowSize) {
    unsigned size = kWindowSize - s.end;
    const unsigned got = s.read(reinterpret_cast<char*>(s.window + s.end), &size, s.param);
    if (got == 0) {
      s.inputEnded = true;
    } else {
      s.end += got < kWindowSize - s.end ? got : kWindowSize - s.end;
    }
  }
}

inline void InsertUpTo(ImplodeState& s, unsigned limit) {
  for (; s.hashedTo < limit; ++s.hashedTo) {
    if (s.hashedTo + 3 > s.end) continue;
    const unsigned h = HashAt(s.window + s.hashedTo);
    s.prev[s.hashedTo % kMaxDict] = s.head[h];
    s.head[h] = static_cast<uint16_t>(s.hashedTo);
  }
}

inline unsigned MatchLength(const uint8_t* a, const uint8_t* b, unsigned limit) {
  unsigned n = 0;
  while (n < limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) {
      n += static_cast<unsigned>(std::countr_zero(x ^ y)) / 8;
      break;
    }
    n += 8;
  }
  return n < limit ? n : limit;
}

struct Match {
  unsigned length = 0;
  unsigned distance = 0;
};

// The longest match for position p among the chain of earlier positions with its hash; a copy
// of 2 is only found at a distance of up to 256, where the format can code it.
Match FindMatch(const ImplodeState& s, unsigned p) {
  Match best;
  const unsigned available = s.end - p;
  if (available < 2) return best;
  const unsigned limit = available < kMaxCopy ? available : kMaxCopy;
  if (available < 3) return best;
  const uint8_t* here = s.window + p;
  unsigned candidate = s.head[HashAt(here)];
  for (unsigned chain = kMaxChain; chain && candidate != kNil && candidate < p; --chain) {
    const unsigned distance = p - candidate;
    if (distance > s.dictSize) break;
    const uint8_t* there = s.window + candidate;
    if (there[best.length] == here[best.length] && there[0] == here[0]) {
      const unsigned length = MatchLength(there, here, limit);
      if (length > best.length && (length >= 3 || distance <= 256)) {
        best = {length, distance};
        if (length >= kNiceLength || length == limit) break;
      }
    }
    const unsigned next = s.prev[candidate % kMaxDict];
    if (next >= candidate) break;  // the slot was reused by a newer position
    candidate = next;
  }
  return best;
}

// A copy is worth sending when it costs fewer bits than its bytes as literals.
bool Worth(const ImplodeState& s, const Match& m, unsigned p) {
  if (m.length < 2) return false;
  if (!s.asciiLiterals) return true;  // 9 bits a literal: every codable copy is cheaper
  unsigned literals = 0;
  for (unsigned i = 0; i < m.length; ++i) literals += LiteralCost(s, s.window[p + i]);
  return CopyCost(s, m.length, m.distance) < literals;
}

void Compress(ImplodeState& s) {
  for (;;) {
    if (s.end - s.pos < kLookahead) {
      FillWindow(s);
      if (s.pos == s.end) return;
    }
    InsertUpTo(s, s.pos);
    Match match = FindMatch(s, s.pos);
    if (!Worth(s, match, s.pos)) {
      PutLiteral(s, s.window[s.pos++]);
      continue;
    }
    if (match.length < kLazyLimit && s.pos + 1 < s.end) {
      InsertUpTo(s, s.pos + 1);
      const Match next = FindMatch(s, s.pos + 1);
      if (next.length > match.length && Worth(s, next, s.pos + 1)) {
        PutLiteral(s, s.window[s.pos++]);
        match = next;
      }
    }
    PutCopy(s, match.length, match.distance);
    s.pos += match.length;
  }
}

}  // namespace

extern "C" unsigned int PK_CDECL dcl_implode(pk_read_buf read_buf, pk_write_buf write_buf,
                                             char* work_buf, void* param, unsigned int* type,
                                             unsigned int* dsize) {
  unsigned dictBits;
  switch (*dsize) {
    case 1024: dictBits = 4; break;
    case 2048: dictBits = 5; break;
    case 4096: dictBits = 6; break;
    default: return CMP_INVALID_DICTSIZE;
  }
  if (*type != CMP_BINARY && *type != CMP_ASCII) return CMP_INVALID_MODE;

  ImplodeState& s = *StateIn(work_buf);
  s.read = read_buf;
  s.write = write_buf;
  s.param = param;
  s.asciiLiterals = *type == CMP_ASCII;
  s.dictBits = dictBits;
  s.dictSize = *dsize;
  s.inputEnded = false;
  s.pos = s.end = s.hashedTo = 0;
  s.bits = 0;
  s.bitCount = 0;
  std::memset(s.head, 0xFF, sizeof s.head);
  std::memset(s.prev, 0xFF, sizeof s.prev);
  std::memset(s.window + kWindowSize, 0, 8);

  s.output[0] = static_cast<uint8_t>(*type);
  s.output[1] = static_cast<uint8_t>(dictBits);
  s.outPos = 2;

  Compress(s);

  const uint32_t endEntry = gTables.lengthEncoding[kEndCode];
  PutBits(s, endEntry & 0xFFFFFF, endEntry >> 24);
  while (s.bitCount > 0) {
    s.output[s.outPos++] = static_cast<uint8_t>(s.bits);
    s.bits >>= 8;
    s.bitCount = s.bitCount > 8 ? s.bitCount - 8 : 0;
  }
  FlushOutput(s);
  return CMP_NO_ERROR;
}
