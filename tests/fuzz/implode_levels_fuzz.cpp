// saverpack's encoder at both levels, and the smallest of all codings: any bytes, imploded as
// the first byte picks, explode back unchanged, and the stream's header names its coding.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "dcl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned type = data[0] & 1;
  const unsigned dict = 1024u << ((data[0] >> 1) % 3);
  const auto level = (data[0] & 0x10) ? dcl::Level::Best : dcl::Level::Fast;
  const std::span<const uint8_t> plain(data + 1, size - 1);
  dcl::Stream stream;
  if (data[0] & 0x20) {
    stream = dcl::ImplodeSmallest(plain, level);
  } else {
    stream = {dcl::Implode(plain, type, dict, level), type, dict};
  }
  if (stream.bytes.size() < 4 || stream.bytes[0] != stream.type ||
      (64u << stream.bytes[1]) != stream.dict)
    std::abort();
  const auto back = dcl::Explode(stream.bytes);
  if (back.code != CMP_NO_ERROR || back.data.size() != plain.size() ||
      !std::equal(plain.begin(), plain.end(), back.data.begin()))
    std::abort();
  return 0;
}
