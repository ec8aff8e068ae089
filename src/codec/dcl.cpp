#include "dcl.h"

#include <algorithm>
#include <cstring>
#include <memory>

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
  size_t room = kNoExplodeLimit;  // bytes the output may still take
  bool full = false;              // it took them all and more came
};

// Keeps at most room bytes; past them the sink is full, and its source reads as ended, which
// stops the library at its next read.
void PK_CDECL AppendToVector(char* buf, unsigned int* size, void* param) {
  auto& sink = *static_cast<Sink*>(param);
  const size_t n = std::min<size_t>(*size, sink.room);
  sink.out->insert(sink.out->end(), reinterpret_cast<uint8_t*>(buf), reinterpret_cast<uint8_t*>(buf) + n);
  if (sink.room != kNoExplodeLimit) sink.room -= n;
  if (n < *size) sink.full = true;
}

unsigned PK_CDECL ReadFromSink(char* buf, unsigned int* size, void* param) {
  auto& sink = *static_cast<Sink*>(param);
  if (sink.full) return 0;
  return ReadFromSpan(buf, size, &sink.source);
}

}  // namespace

ExplodeResult Explode(std::span<const uint8_t> stream, size_t limit) {
  ExplodeResult result;
  Sink sink{{stream}, &result.data};
  sink.room = limit == kNoExplodeLimit ? kNoExplodeLimit : limit + 1;
  auto work = std::make_unique<char[]>(EXP_BUFFER_SIZE);
  result.code = dcl_explode(ReadFromSink, AppendToVector, work.get(), &sink);
  result.pastLimit = sink.full || (limit != kNoExplodeLimit && result.data.size() > limit);
  if (result.pastLimit && result.code == CMP_NO_ERROR) result.code = CMP_ABORT;
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
