#include "dcl.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "explode.h"

namespace dcl {
namespace {

struct Source {
  std::span<const uint8_t> data;
  size_t pos = 0;
};

unsigned PK_CDECL ReadFromSpan(char* buf, unsigned int* size, void* param) {
  auto& source = *static_cast<Source*>(param);
  const size_t n = std::min<size_t>(*size, source.data.size() - source.pos);
  if (n) std::memcpy(buf, source.data.data() + source.pos, n);
  source.pos += n;
  return static_cast<unsigned>(n);
}

struct Sink {
  Source source;
  std::vector<uint8_t>* out;
};

void PK_CDECL AppendToVector(char* buf, unsigned int* size, void* param) {
  auto& sink = *static_cast<Sink*>(param);
  sink.out->insert(sink.out->end(), reinterpret_cast<uint8_t*>(buf), reinterpret_cast<uint8_t*>(buf) + *size);
}

unsigned PK_CDECL ReadFromSink(char* buf, unsigned int* size, void* param) {
  return ReadFromSpan(buf, size, &static_cast<Sink*>(param)->source);
}

// The output is the decoder's window, grown as it fills: first to what the stream most likely
// makes, then twice as large each time, never past the limit. A stream that claims far more than
// it holds so costs no more than twice its real output or 16 times its own size. Under a limit (a
// record's size) the first room is 16 times the stream, more than nearly all data makes (bitmaps
// about 10 times), so that a member expands without a copy; without one, 4 times (programs and
// text make about 3).
size_t FirstRoom(size_t streamSize, size_t keep) {
  const size_t times = keep == kNoExplodeLimit ? 4 : 16;
  const size_t likely = streamSize < SIZE_MAX / 32 ? streamSize * times + 65536 : SIZE_MAX / 4;
  return std::min(likely, keep);
}

}  // namespace

ExplodeResult Explode(std::span<const uint8_t> stream, size_t limit) {
  ExplodeResult result;
  MemoryExplode state(stream.data(), stream.size());
  const size_t keep = limit == kNoExplodeLimit ? kNoExplodeLimit : limit + 1;
  size_t room = FirstRoom(stream.size(), keep);
  for (;;) {
    result.data.resize(room + kExplodeOverrun);
    result.code = ExplodeInto(state, result.data.data(), room);
    if (result.code != kExplodeStopped) break;
    if (room == keep) {  // the output reached one byte past the limit
      result.pastLimit = true;
      result.code = CMP_ABORT;
      break;
    }
    room = room < keep / 2 ? room * 2 : keep;
  }
  result.data.resize(std::min(state.written, keep));
  return result;
}

std::vector<uint8_t> Implode(std::span<const uint8_t> data, unsigned type, unsigned dictSize) {
  std::vector<uint8_t> out;
  out.reserve(data.size() / 2 + 16);
  Sink sink{{data}, &out};
  auto work = std::make_unique<char[]>(CMP_BUFFER_SIZE);
  const unsigned code = dcl_implode(ReadFromSink, AppendToVector, work.get(), &sink, &type,
                                    &dictSize);
  if (code != CMP_NO_ERROR) throw std::invalid_argument(ResultText(code));
  return out;
}

uint32_t Crc32(std::span<const uint8_t> data) {
  unsigned long crc = 0xFFFFFFFFul;
  size_t pos = 0;
  while (pos < data.size()) {
    unsigned int n = static_cast<unsigned int>(std::min<size_t>(data.size() - pos, 1u << 30));
    crc = dcl_crc32(const_cast<char*>(reinterpret_cast<const char*>(data.data() + pos)), &n, &crc);
    pos += n;
  }
  return static_cast<uint32_t>(~crc);
}

const char* ResultText(unsigned code) {
  switch (code) {
    case CMP_NO_ERROR: return "no error";
    case CMP_INVALID_DICTSIZE: return "invalid dictionary size";
    case CMP_INVALID_MODE: return "invalid literal mode";
    case CMP_BAD_DATA: return "bad data: a copy reaches before the start of the output";
    case CMP_ABORT: return "the stream ends before its end code";
    default: return "unknown result";
  }
}

}  // namespace dcl
