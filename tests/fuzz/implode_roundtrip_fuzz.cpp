// Any bytes, imploded in the mode and dictionary the first byte picks, explode back unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "dcl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned type = data[0] & 1;
  const unsigned dict = 1024u << ((data[0] >> 1) % 3);
  const std::span<const uint8_t> plain(data + 1, size - 1);
  const auto stream = dcl::Implode(plain, type, dict);
  const auto back = dcl::Explode(stream);
  if (back.code != CMP_NO_ERROR || back.data.size() != plain.size() ||
      !std::equal(plain.begin(), plain.end(), back.data.begin()))
    std::abort();
  return 0;
}
