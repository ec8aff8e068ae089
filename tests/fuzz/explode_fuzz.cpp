// Any bytes whatsoever go to explode: it must return a code without touching memory outside
// its buffers (ASan and UBSan watch), and never write more than the stream can describe.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pkware.h"

namespace {

struct Io {
  const uint8_t* data;
  size_t size;
  size_t pos;
  size_t written;
};

unsigned ReadSome(char* buf, unsigned int* size, void* param) {
  auto& io = *static_cast<Io*>(param);
  // Hand the input over in uneven pieces to reach the refill paths.
  size_t n = io.size - io.pos;
  if (n > *size) n = *size;
  if (n > 777) n = 777;
  std::memcpy(buf, io.data + io.pos, n);
  io.pos += n;
  return static_cast<unsigned>(n);
}

void Count(char*, unsigned int* size, void* param) {
  static_cast<Io*>(param)->written += *size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A work buffer of exactly the documented size, so any overrun past it is caught.
  std::vector<char> work(EXP_BUFFER_SIZE);
  Io io{data, size, 0, 0};
  const unsigned code = dcl_explode(ReadSome, Count, work.data(), &io);
  if (code > CMP_ABORT) std::abort();
  // Every copy needs at least 1 + 2 + 2 + 2 bits and gives at most 518 bytes.
  if (io.written > size * 8 / 7 * 518 + 518) std::abort();
  return 0;
}
