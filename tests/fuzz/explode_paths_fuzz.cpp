// Any bytes go to both ways of exploding: in memory under a limit (dcl::Explode, as saverpack
// reads a member) and through the library's callbacks in pieces (as the installer does). Both
// must stay within their buffers (ASan and UBSan watch) and agree: the same code and bytes, or
// where the output goes past the limit, the first limit + 1 bytes and CMP_ABORT.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "dcl.h"

namespace {

struct Io {
  std::span<const uint8_t> in;
  size_t piece;
  size_t pos = 0;
  std::vector<uint8_t> out;
};

unsigned ReadPiece(char* buf, unsigned int* size, void* param) {
  auto& io = *static_cast<Io*>(param);
  const size_t n = std::min({size_t{*size}, io.piece, io.in.size() - io.pos});
  std::memcpy(buf, io.in.data() + io.pos, n);
  io.pos += n;
  return static_cast<unsigned>(n);
}

void Keep(char* buf, unsigned int* size, void* param) {
  auto& out = static_cast<Io*>(param)->out;
  out.insert(out.end(), buf, buf + *size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes pick the read size and the limit; the stream follows.
  const size_t piece = 1 + data[0] % 64 * 37;
  const size_t limit = data[1] == 255 ? dcl::kNoExplodeLimit : size_t{data[1]} * 97;
  const std::span<const uint8_t> stream(data + 2, size - 2);

  std::vector<char> work(EXP_BUFFER_SIZE);
  Io io{stream, piece};
  const unsigned code = dcl_explode(ReadPiece, Keep, work.data(), &io);
  const dcl::ExplodeResult inMemory = dcl::Explode(stream, limit);

  const bool past = limit != dcl::kNoExplodeLimit && io.out.size() > limit;
  const bool agree = past ? inMemory.code == CMP_ABORT && inMemory.data.size() == limit + 1 &&
                                std::equal(inMemory.data.begin(), inMemory.data.end(), io.out.begin())
                          : inMemory.code == code && inMemory.data == io.out;
  if (inMemory.pastLimit != past || !agree) std::abort();
  return 0;
}
