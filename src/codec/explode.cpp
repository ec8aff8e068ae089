// Explode: expands one imploded stream (format notes in dcl_tables.h).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dcl_tables.h"
#include "pkware.h"

namespace {

using namespace dcl;

constexpr unsigned kHistory = 4096;          // the largest dictionary
constexpr unsigned kFlushAt = kHistory * 2;  // write out once this much is in the window
constexpr unsigned kInputSize = 2048;

// Everything explode keeps, placed in the caller's work buffer.
struct ExplodeState {
  pk_read_buf read;
  pk_write_buf write;
  void* param;
  uint64_t bits;         // unread input bits, the next one lowest
  unsigned bitCount;     // how many of them are valid
  unsigned inPos;        // next unread byte of input
  unsigned inEnd;        // bytes valid in input
  bool inputEnded;       // read_buf has returned 0
  unsigned windowPos;    // where the next output byte goes
  unsigned validFrom;    // first window byte that holds real output
  uint8_t input[kInputSize];
  uint8_t window[kFlushAt + kMaxCopy + 8];  // history, then output not yet written; slack
};

constexpr size_t kAlignSlack = alignof(ExplodeState) - 1;
static_assert(sizeof(ExplodeState) + kAlignSlack <= EXP_BUFFER_SIZE,
              "explode's state must fit the caller's work buffer");

ExplodeState* StateIn(char* workBuffer) {
  auto address = reinterpret_cast<uintptr_t>(workBuffer);
  address = (address + kAlignSlack) & ~uintptr_t{kAlignSlack};
  return reinterpret_cast<ExplodeState*>(address);
}

bool FillInput(ExplodeState& s) {
  if (s.inputEnded) return false;
  unsigned size = kInputSize;
  const unsigned got = s.read(reinterpret_cast<char*>(s.input), &size, s.param);
  if (got == 0) {
    s.inputEnded = true;
    return false;
  }
  s.inPos = 0;
  s.inEnd = got < kInputSize ? got : kInputSize;
  return true;
}

// Tops the bit buffer up byte by byte, at the end of the input buffer: up to 57 bits, fewer
// only where the input ends.
void SlowRefill(ExplodeState& s) {
  while (s.bitCount <= 56) {
    if (s.inPos == s.inEnd && !FillInput(s)) return;
    s.bits |= uint64_t{s.input[s.inPos++]} << s.bitCount;
    s.bitCount += 8;
  }
}

void WriteOut(ExplodeState& s, unsigned from, unsigned to) {
  unsigned size = to - from;
  if (size) s.write(reinterpret_cast<char*>(s.window + from), &size, s.param);
}

// Writes what lies past the history and slides the window, keeping the last kHistory bytes.
void Flush(ExplodeState& s) {
  WriteOut(s, kHistory, s.windowPos);
  const unsigned shift = s.windowPos - kHistory;
  std::memmove(s.window, s.window + shift, kHistory);
  s.windowPos = kHistory;
  s.validFrom = s.validFrom > shift ? s.validFrom - shift : 0;
}

// Copies may overlap their source (distance < length); the window has slack for 8-byte steps.
inline void CopyMatch(uint8_t* out, unsigned distance, unsigned length) {
  const uint8_t* from = out - distance;
  if (distance >= 8) {
    for (unsigned i = 0; i < length; i += 8) std::memcpy(out + i, from + i, 8);
  } else if (distance == 1) {
    std::memset(out, *from, length);
  } else {
    for (unsigned i = 0; i < length; ++i) out[i] = from[i];
  }
}

// The token loop keeps the bit buffer and the window position in locals: written through a byte
// pointer, the state's fields would be reloaded after every output byte.
unsigned Decode(ExplodeState& s, bool asciiLiterals, unsigned dictBits) {
  uint64_t bits = s.bits;
  unsigned count = s.bitCount;
  unsigned pos = s.windowPos;
  uint8_t* const window = s.window;
  const auto save = [&] { s.bits = bits; s.bitCount = count; s.windowPos = pos; };
  const auto load = [&] { bits = s.bits; count = s.bitCount; pos = s.windowPos; };
  const auto drop = [&](unsigned n) { bits >>= n; count -= n; };

  for (;;) {
    if (count < 32) {
      if (s.inEnd - s.inPos >= 8) {
        uint64_t word;
        std::memcpy(&word, s.input + s.inPos, 8);  // little-endian hosts only
        bits |= word << count;
        s.inPos += (63 - count) >> 3;
        count |= 56;
        bits &= (uint64_t{1} << count) - 1;  // nothing above the valid bits
      } else {
        save();
        SlowRefill(s);
        load();
        if (count == 0) { save(); return CMP_ABORT; }
      }
    }
    if ((bits & 1) == 0) {
      unsigned literal, used;
      if (asciiLiterals) {
        const unsigned entry = gTables.literalDecode[(bits >> 1) & ((1u << kLiteralBits) - 1)];
        literal = entry >> 4;
        used = 1 + (entry & 15);
      } else {
        literal = static_cast<unsigned>(bits >> 1) & 0xFF;
        used = 9;
      }
      if (used > count) { save(); return CMP_ABORT; }
      drop(used);
      window[pos++] = static_cast<uint8_t>(literal);
    } else {
      const unsigned lengthEntry = gTables.lengthDecode[(bits >> 1) & ((1u << kLengthBits) - 1)];
      const unsigned symbol = lengthEntry >> 4;
      const unsigned extra = kLengthExtra[symbol];
      const unsigned lengthBits = 1 + (lengthEntry & 15);
      if (lengthBits + extra > count) { save(); return CMP_ABORT; }
      const unsigned length =
          kLengthBase[symbol] + (static_cast<unsigned>(bits >> lengthBits) & ((1u << extra) - 1));
      drop(lengthBits + extra);
      if (length == kEndCode) break;

      const unsigned distanceEntry = gTables.distanceDecode[bits & ((1u << kDistanceBits) - 1)];
      const unsigned distanceBits = distanceEntry & 15;
      const unsigned lowBits = length == 2 ? 2 : dictBits;
      if (distanceBits + lowBits > count) { save(); return CMP_ABORT; }
      const unsigned distance =
          ((distanceEntry >> 4) << lowBits |
           (static_cast<unsigned>(bits >> distanceBits) & ((1u << lowBits) - 1))) + 1;
      drop(distanceBits + lowBits);
      if (distance > pos - s.validFrom) { save(); return CMP_BAD_DATA; }
      CopyMatch(window + pos, distance, length);
      pos += length;
    }
    if (pos >= kFlushAt) {
      save();
      Flush(s);
      load();
    }
  }
  save();
  return CMP_NO_ERROR;
}

}  // namespace

extern "C" unsigned int PK_CDECL dcl_explode(pk_read_buf read_buf, pk_write_buf write_buf,
                                             char* work_buf, void* param) {
  ExplodeState& s = *StateIn(work_buf);
  s.read = read_buf;
  s.write = write_buf;
  s.param = param;
  s.bits = 0;
  s.bitCount = 0;
  s.inPos = s.inEnd = 0;
  s.inputEnded = false;
  s.windowPos = s.validFrom = kHistory;

  // The two header bytes.
  uint8_t header[2];
  for (uint8_t& byte : header) {
    if (s.inPos == s.inEnd && !FillInput(s)) return CMP_ABORT;
    byte = s.input[s.inPos++];
  }
  if (header[0] > CMP_ASCII) return CMP_INVALID_MODE;
  if (header[1] < 4 || header[1] > 6) return CMP_INVALID_DICTSIZE;

  const unsigned result = Decode(s, header[0] == CMP_ASCII, header[1]);
  WriteOut(s, kHistory, s.windowPos);
  return result;
}
