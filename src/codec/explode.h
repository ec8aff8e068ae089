// Explode in memory: the stream is read where it lies and the output is the window itself, so no
// byte is copied on its way out. dcl::Explode (saverpack, the studio) and the benchmark use it;
// dcl_explode (pkware.h) is the same decoder behind the library's callbacks.
#pragma once
#include <cstddef>
#include <cstdint>

namespace dcl {

// The decoder's hold on its input: for dcl_explode the bytes at hand are its input buffer,
// here the whole stream.
struct BitInput {
  uint64_t bits = 0;              // unread bits, the next one lowest; zeros above the valid ones
  unsigned count = 0;             // how many of them are valid
  const uint8_t* next = nullptr;  // the next byte not yet in bits
  const uint8_t* end = nullptr;   // the end of the bytes at hand
  bool ended = false;             // no input lies beyond end
};

// What the output needs past the position a call stops at: a token that starts before it may
// write the longest copy, and copies by words write up to 15 bytes of scratch past their end.
inline constexpr size_t kExplodeOverrun = 518 + 16;

// The returned code beside the CMP_ codes: the output reached the stop before the stream ended.
inline constexpr unsigned kExplodeStopped = 0x100;

// One stream's expansion, in as many calls as the caller needs to give it room.
struct MemoryExplode {
  MemoryExplode(const uint8_t* stream, size_t size) : streamBegin(stream), streamEnd(stream + size) {}
  const uint8_t* streamBegin;
  const uint8_t* streamEnd;
  size_t written = 0;     // output bytes so far
  bool started = false;   // the header has been read
  bool ascii = false;     // from the header: literals are coded
  unsigned dictBits = 0;  // from the header: the low distance bits of a copy longer than 2
  BitInput in;
};

// Goes on expanding into out, which holds the state's `written` bytes of earlier output and room
// for stop + kExplodeOverrun bytes: token after token until the output reaches stop or the stream
// ends. Returns the code dcl_explode would (pkware.h), or kExplodeStopped when the output reached
// stop first: call again, with the output (moved or not) and a later stop, to go on.
unsigned ExplodeInto(MemoryExplode& state, uint8_t* out, size_t stop);

}  // namespace dcl
