// Any bytes as the author's picture (PNG, JPEG, GIF or BMP through stb_image): decoded and made
// the window's bitmap, or refused with a message; a canvas the header merely claims is judged
// before any of it is allocated. The budget is far smaller than a build's (1 MB of decoding), so
// that a run decodes many small pictures rather than a few large ones: the same decoders, more of
// their paths.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "file_io.h"
#include "picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const auto bitmap = saverpack::BitmapOfPicture(std::vector<uint8_t>(data, data + size), "picture", int64_t{1} << 20);
    if (bitmap.size() < 54 || bitmap[0] != 'B' || bitmap[1] != 'M') std::abort();
  } catch (const saverpack::ToolError&) {
  }
  return 0;
}
