// The installer's picture: any common image made into the 24-bit Windows bitmap of the box the
// window shows it in.
#pragma once
#include <cstdint>
#include <filesystem>
#include <vector>

namespace saverpack {

inline constexpr int kPictureWidth = 350;
inline constexpr int kPictureHeight = 150;

// Decodes a PNG, JPEG, GIF (its first frame) or BMP file and scales it, keeping its proportions,
// to fit 350 x 150; the rest of the box is white, as is whatever the image leaves transparent.
// A file that is already a 24-bit 350 x 150 bitmap is kept byte for byte. Throws ToolError naming
// the file when it cannot be read or decoded.
std::vector<uint8_t> PictureAsBitmap(const std::filesystem::path& file);

// What a picture may cost to decode, the decoder's peak for the canvas its header claims: enough
// for what a camera makes (50 million pixels of JPEG), far from the gigabytes a few bytes of
// header can claim.
inline constexpr int64_t kDecodingBudget = int64_t{400} << 20;

// The same for a picture's bytes, file naming it in messages; a picture whose decoding would
// take more than budget bytes is refused before any of it is decoded.
std::vector<uint8_t> BitmapOfPicture(const std::vector<uint8_t>& bytes, const std::filesystem::path& file,
                                     int64_t budget = kDecodingBudget);

}  // namespace saverpack
