// Explode: expands one imploded stream (format notes in dcl_tables.h), through the library's
// callbacks (dcl_explode) or in memory (ExplodeInto). Both run the same token loop over a
// window: for the callbacks a window in the work buffer, written out and slid as it fills; in
// memory the output itself.
#include "explode.h"

#include <cstring>

#include "dcl_tables.h"
#include "pkware.h"

namespace dcl {
namespace {

constexpr unsigned kHistory = 4096;          // the largest dictionary
constexpr unsigned kFlushAt = kHistory * 2;  // write out once this much is in the window
constexpr unsigned kInputSize = 2048;
constexpr unsigned kScratch = kExplodeOverrun - kMaxCopy;  // what copies by words write past their end

// The token loop's other way out, beside the CMP_ codes and kExplodeStopped: fewer than 32 bits
// are held and fewer than 8 bytes are at hand, but more input may come.
constexpr unsigned kNeedInput = 0x101;

// A copy nearer than a word repeats its last `distance` bytes. Once a whole number of repeats
// that spans a word is written byte by byte, the rest goes by words read from that far back.
inline void CopyNear(uint8_t* to, unsigned distance, unsigned length) {
  unsigned period = distance;
  while (period < 8) period += distance;
  const uint8_t* from = to - distance;
  unsigned i = 0;
  for (; i < period - distance && i < length; ++i) to[i] = from[i];
  for (; i < length; i += 8) std::memcpy(to + i, to + i - period, 8);
}

// Writes up to kScratch bytes past the copy's end; no word read reaches the bytes it gives.
inline void CopyMatch(uint8_t* to, unsigned distance, unsigned length) {
  const uint8_t* from = to - distance;
  if (distance < 8) {
    CopyNear(to, distance, length);
  } else if (distance < 16) {
    for (unsigned i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
  } else {
    // Two words a step: most copies take one.
    for (unsigned i = 0; i < length; i += 16) {
      uint64_t a, b;
      std::memcpy(&a, from + i, 8);
      std::memcpy(&b, from + i + 8, 8);
      std::memcpy(to + i, &a, 8);
      std::memcpy(to + i + 8, &b, 8);
    }
  }
}

// Decodes tokens into out from pos on, until the end code, an error, the output reaching stop,
// or kNeedInput. A copy may reach back to start. The bit buffer and the position live in locals:
// written through a byte pointer, fields would be reloaded after every output byte.
template <bool kAsciiLiterals>
unsigned DecodeRun(BitInput& in, uint8_t* out, size_t& outPos, size_t start, size_t stop,
                   unsigned dictBits) {
  uint64_t bits = in.bits;
  unsigned count = in.count;
  const uint8_t* next = in.next;
  const uint8_t* const end = in.end;
  size_t pos = outPos;
  unsigned result;
  for (;;) {
    if (count < 32) {  // the longest token takes 30 bits
      if (end - next >= 8) {
        uint64_t word;
        std::memcpy(&word, next, 8);  // little-endian hosts only
        bits |= word << count;
        next += (63 - count) >> 3;
        count |= 56;
        bits &= (uint64_t{1} << count) - 1;  // nothing above the valid bits
      } else if (next != end || !in.ended) {
        result = kNeedInput;
        break;
      }
    }
    if ((bits & 1) == 0) {
      unsigned literal, used;
      if constexpr (kAsciiLiterals) {
        const unsigned entry = gTables.literalDecode[(bits >> 1) & ((1u << kLiteralBits) - 1)];
        literal = entry >> 4;
        used = 1 + (entry & 15);
      } else {
        literal = static_cast<unsigned>(bits >> 1) & 0xFF;
        used = 9;
      }
      if (used > count) { result = CMP_ABORT; break; }
      bits >>= used;
      count -= used;
      out[pos++] = static_cast<uint8_t>(literal);
    } else {
      const uint32_t lengthEntry = gTables.lengthDecode[(bits >> 1) & ((1u << kLengthBits) - 1)];
      const unsigned lengthBits = lengthEntry & 15;
      const unsigned extra = (lengthEntry >> 4) & 15;
      if (lengthBits + extra > count) { result = CMP_ABORT; break; }
      const unsigned length =
          (lengthEntry >> 8) + (static_cast<unsigned>(bits >> lengthBits) & ((1u << extra) - 1));
      bits >>= lengthBits + extra;
      count -= lengthBits + extra;
      if (length == kEndCode) { result = CMP_NO_ERROR; break; }

      const unsigned distanceEntry = gTables.distanceDecode[bits & ((1u << kDistanceBits) - 1)];
      const unsigned distanceBits = distanceEntry & 15;
      const unsigned lowBits = length == 2 ? 2 : dictBits;
      if (distanceBits + lowBits > count) { result = CMP_ABORT; break; }
      const unsigned distance =
          ((distanceEntry >> 4) << lowBits |
           (static_cast<unsigned>(bits >> distanceBits) & ((1u << lowBits) - 1))) + 1;
      bits >>= distanceBits + lowBits;
      count -= distanceBits + lowBits;
      if (distance > pos - start) { result = CMP_BAD_DATA; break; }
      CopyMatch(out + pos, distance, length);
      pos += length;
    }
    if (pos >= stop) { result = kExplodeStopped; break; }
  }
  in.bits = bits;
  in.count = count;
  in.next = next;
  outPos = pos;
  return result;
}

unsigned DecodeRun(bool asciiLiterals, BitInput& in, uint8_t* out, size_t& pos, size_t start,
                   size_t stop, unsigned dictBits) {
  return asciiLiterals ? DecodeRun<true>(in, out, pos, start, stop, dictBits)
                       : DecodeRun<false>(in, out, pos, start, stop, dictBits);
}

// Everything dcl_explode keeps, placed in the caller's work buffer.
struct ExplodeState {
  pk_read_buf read;
  pk_write_buf write;
  void* param;
  BitInput in;         // over input[]
  size_t windowPos;    // where the next output byte goes
  size_t validFrom;    // first window byte that holds real output
  uint8_t input[kInputSize];
  uint8_t window[kFlushAt + kMaxCopy + kScratch];  // history, then output not yet written
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
  if (s.in.ended) return false;
  unsigned size = kInputSize;
  const unsigned got = s.read(reinterpret_cast<char*>(s.input), &size, s.param);
  if (got == 0) {
    s.in.ended = true;
    return false;
  }
  s.in.next = s.input;
  s.in.end = s.input + (got < kInputSize ? got : kInputSize);
  return true;
}

// Tops the bit buffer up byte by byte at the end of the input buffer, reading on: up to 57 bits,
// fewer only where the input ends.
void SlowRefill(ExplodeState& s) {
  BitInput& in = s.in;
  while (in.count <= 56) {
    if (in.next == in.end && !FillInput(s)) return;
    in.bits |= uint64_t{*in.next++} << in.count;
    in.count += 8;
  }
}

void WriteOut(ExplodeState& s, size_t from, size_t to) {
  unsigned size = static_cast<unsigned>(to - from);
  if (size) s.write(reinterpret_cast<char*>(s.window + from), &size, s.param);
}

// Writes what lies past the history and slides the window, keeping the last kHistory bytes.
void Flush(ExplodeState& s) {
  WriteOut(s, kHistory, s.windowPos);
  const size_t shift = s.windowPos - kHistory;
  std::memmove(s.window, s.window + shift, kHistory);
  s.windowPos = kHistory;
  s.validFrom = s.validFrom > shift ? s.validFrom - shift : 0;
}

unsigned Decode(ExplodeState& s, bool asciiLiterals, unsigned dictBits) {
  for (;;) {
    const unsigned result =
        DecodeRun(asciiLiterals, s.in, s.window, s.windowPos, s.validFrom, kFlushAt, dictBits);
    if (result == kNeedInput) {
      SlowRefill(s);
    } else if (result == kExplodeStopped) {
      Flush(s);
    } else {
      return result;
    }
  }
}

// The two header bytes: the literal coding and the dictionary's low distance bits.
unsigned CheckHeader(const uint8_t* header) {
  if (header[0] > CMP_ASCII) return CMP_INVALID_MODE;
  if (header[1] < 4 || header[1] > 6) return CMP_INVALID_DICTSIZE;
  return CMP_NO_ERROR;
}

// In memory the whole stream is at hand: the last bytes, fewer than a word, go in one by one.
void TopUp(BitInput& in) {
  while (in.count <= 56 && in.next != in.end) {
    in.bits |= uint64_t{*in.next++} << in.count;
    in.count += 8;
  }
}

}  // namespace

unsigned ExplodeInto(MemoryExplode& s, uint8_t* out, size_t stop) {
  if (!s.started) {
    if (s.streamEnd - s.streamBegin < 2) return CMP_ABORT;
    if (const unsigned fault = CheckHeader(s.streamBegin)) return fault;
    s.ascii = s.streamBegin[0] == CMP_ASCII;
    s.dictBits = s.streamBegin[1];
    s.in.next = s.streamBegin + 2;
    s.in.end = s.streamEnd;
    s.in.ended = true;
    s.started = true;
  }
  // A token begun at or past stop could write beyond the room the caller has.
  if (s.written >= stop) return kExplodeStopped;
  for (;;) {
    const unsigned result = DecodeRun(s.ascii, s.in, out, s.written, 0, stop, s.dictBits);
    if (result != kNeedInput) return result;
    TopUp(s.in);
  }
}

}  // namespace dcl

extern "C" unsigned int PK_CDECL dcl_explode(pk_read_buf read_buf, pk_write_buf write_buf,
                                             char* work_buf, void* param) {
  using namespace dcl;
  ExplodeState& s = *StateIn(work_buf);
  s.read = read_buf;
  s.write = write_buf;
  s.param = param;
  s.in = BitInput{};
  s.in.next = s.in.end = s.input;
  s.windowPos = s.validFrom = kHistory;

  uint8_t header[2];
  for (uint8_t& byte : header) {
    if (s.in.next == s.in.end && !FillInput(s)) return CMP_ABORT;
    byte = *s.in.next++;
  }
  if (const unsigned fault = CheckHeader(header)) return fault;

  const unsigned result = Decode(s, header[0] == CMP_ASCII, header[1]);
  WriteOut(s, kHistory, s.windowPos);
  return result;
}
