#include "picture.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "file_io.h"

#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_ONLY_BMP
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include "stb_image.h"
#include "stb_image_resize.h"
#pragma GCC diagnostic pop

namespace saverpack {
namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

bool IsBoxBitmap(const std::vector<uint8_t>& b) {
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || Le32(&b[14]) != 40) return false;
  const auto width = static_cast<int32_t>(Le32(&b[18]));
  const auto height = static_cast<int32_t>(Le32(&b[22]));
  const unsigned bits = b[28] | b[29] << 8;
  return width == kPictureWidth && (height == kPictureHeight || height == -kPictureHeight) &&
         bits == 24 && Le32(&b[30]) == 0;
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A bottom-up 24-bit bitmap of RGB rows.
std::vector<uint8_t> WriteBitmap(const uint8_t* rgb, int width, int height) {
  const int rowBytes = (width * 3 + 3) & ~3;
  const uint32_t imageSize = static_cast<uint32_t>(rowBytes * height);
  std::vector<uint8_t> out;
  out.reserve(54 + imageSize);
  out.push_back('B');
  out.push_back('M');
  PutLe(out, 54 + imageSize, 4);
  PutLe(out, 0, 4);
  PutLe(out, 54, 4);
  PutLe(out, 40, 4);  // BITMAPINFOHEADER
  PutLe(out, static_cast<uint32_t>(width), 4);
  PutLe(out, static_cast<uint32_t>(height), 4);
  PutLe(out, 1, 2);
  PutLe(out, 24, 2);
  PutLe(out, 0, 4);  // BI_RGB
  PutLe(out, imageSize, 4);
  PutLe(out, 2835, 4);  // 72 dpi
  PutLe(out, 2835, 4);
  PutLe(out, 0, 4);
  PutLe(out, 0, 4);
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* row = rgb + static_cast<size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      out.push_back(row[3 * x + 2]);
      out.push_back(row[3 * x + 1]);
      out.push_back(row[3 * x]);
    }
    out.insert(out.end(), static_cast<size_t>(rowBytes - width * 3), 0);
  }
  return out;
}

// Where a JPEG file's first segment starts, as the decoder finds its start marker (behind any
// number of 0xFF fill bytes), or 0 for a file that is no JPEG.
size_t JpegStart(const std::vector<uint8_t>& b) {
  size_t at = 0;
  if (b.empty() || b[0] != 0xFF) return 0;
  while (at < b.size() && b[at] == 0xFF) ++at;
  return at < b.size() && b[at] == 0xD8 ? at + 1 : 0;
}


// The decoder's peak for a picture of this canvas, in bytes: the pixels it returns (4 bytes
// each) and what it holds beside them for the format: GIF a second canvas and a byte of history
// a pixel; PNG the inflated rows (twice as wide for 16-bit samples) and their conversion; JPEG a
// plane a component; BMP a conversion.
int64_t DecodingPeak(const std::vector<uint8_t>& bytes, int width, int height) {
  // Two sides below 2^31 make at most 2^62 pixels: capped, so that the bytes a pixel cannot
  // overflow the reckoning (anything near the cap is refused anyway).
  const int64_t pixels = std::min(int64_t{width} * height, int64_t{1} << 40);
  auto startsWith = [&](std::initializer_list<uint8_t> magic) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
  };
  int64_t perPixel = 8;  // BMP and anything else
  if (startsWith({'G', 'I', 'F', '8'})) {
    perPixel = 4 + 4 + 1;
  } else if (startsWith({0x89, 'P', 'N', 'G'})) {
    const bool wide = stbi_is_16_bit_from_memory(bytes.data(), static_cast<int>(bytes.size())) != 0;
    perPixel = 4 + (wide ? 2 * 8 + 4 : 2 * 4);
  } else if (JpegStart(bytes)) {
    perPixel = 4 + 3 + 1;
  }
  return pixels * perPixel;
}

// Whether every Huffman table of a JPEG file holds at most the 256 symbols a table has room
// for: the decoder builds a table from its counts before it looks at them, and writes past it
// otherwise. Walks the markers as the decoder does (skipping what lies between them, reading
// zeros past the end of the file) to each DHT segment, and its tables as far as its length goes.
bool JpegTablesFit(const std::vector<uint8_t>& b, size_t at) {
  auto byte = [&](size_t i) -> unsigned { return i < b.size() ? b[i] : 0; };
  while (at + 1 < b.size()) {
    if (b[at] != 0xFF) {
      ++at;
      continue;
    }
    const unsigned marker = b[at + 1];
    if (marker == 0x00 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {  // stuffing, fill, restart
      at += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker == 0xD9) return true;  // the end of the picture
    const size_t length = byte(at + 2) << 8 | byte(at + 3);
    if (marker == 0xC4) {
      for (size_t table = at + 4, left = length >= 2 ? length - 2 : 0; left > 0;) {
        size_t symbols = 0;
        for (size_t i = 1; i <= 16; ++i) symbols += byte(table + i);
        if (symbols > 256) return false;
        if (left < 17 + symbols) break;
        left -= 17 + symbols;
        table += 17 + symbols;
      }
    }
    at += 2 + std::max<size_t>(length, 2);
  }
  return true;
}

}  // namespace

std::vector<uint8_t> PictureAsBitmap(const std::filesystem::path& file) {
  return BitmapOfPicture(ReadFile(file), file);
}

std::vector<uint8_t> BitmapOfPicture(const std::vector<uint8_t>& bytes, const std::filesystem::path& file,
                                     int64_t budget) {
  if (IsBoxBitmap(bytes)) return bytes;
  if (bytes.size() > static_cast<size_t>(INT32_MAX))
    throw ToolError(file.string() + ": too large for a picture");
  // Before the decoder reads even the header: its JPEG reader takes the tables on the way.
  if (const size_t start = JpegStart(bytes); start && !JpegTablesFit(bytes, start))
    throw ToolError(file.string() + ": cannot be decoded as a PNG, JPEG, GIF or BMP picture (a Huffman table "
                    "holds more than 256 codes)");
  int width = 0, height = 0, channels = 0;
  // A small file can claim a huge picture: the canvas it claims is judged before anything is
  // decoded, by what the decoder itself holds at its peak for that format.
  if (stbi_info_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels)) {
    if (width < 1 || height < 1)  // the BMP reader gives the header's sizes as they are, negative too
      throw ToolError(file.string() + ": a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                      " has no pixels");
    const int64_t peak = DecodingPeak(bytes, width, height);
    if (peak > budget)
      throw ToolError(file.string() + ": a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                      " is too large (decoding it would take " + std::to_string(peak >> 20) + " MB; at most " +
                      std::to_string(budget >> 20) + " MB" + (budget == kDecodingBudget ? ", about 40 million pixels)" : ")"));
  }
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height,
                            &channels, 4),
      stbi_image_free);
  if (!pixels)
    throw ToolError(file.string() + ": cannot be decoded as a PNG, JPEG, GIF or BMP picture (" +
                    stbi_failure_reason() + ")");
  // The BMP reader takes a height of 0 (a bitmap says its rows' direction by the sign alone).
  if (width < 1 || height < 1)
    throw ToolError(file.string() + ": a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                    " has no pixels");
  // Fit inside the box, keeping the proportions.
  const double scale = std::min(double(kPictureWidth) / width, double(kPictureHeight) / height);
  const int w = std::clamp(static_cast<int>(width * scale + 0.5), 1, kPictureWidth);
  const int h = std::clamp(static_cast<int>(height * scale + 0.5), 1, kPictureHeight);
  std::vector<uint8_t> scaled(static_cast<size_t>(w) * h * 4);
  if (!stbir_resize_uint8_srgb(pixels.get(), width, height, 0, scaled.data(), w, h, 0, 4, 3, 0))
    throw ToolError(file.string() + ": the picture could not be scaled");
  std::vector<uint8_t> box(static_cast<size_t>(kPictureWidth) * kPictureHeight * 3, 0xFF);
  const int left = (kPictureWidth - w) / 2, top = (kPictureHeight - h) / 2;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &scaled[(static_cast<size_t>(y) * w + x) * 4];
      uint8_t* q = &box[(static_cast<size_t>(top + y) * kPictureWidth + left + x) * 3];
      for (int c = 0; c < 3; ++c) q[c] = static_cast<uint8_t>((p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255);
    }
  }
  return WriteBitmap(box.data(), kPictureWidth, kPictureHeight);
}

}  // namespace saverpack
