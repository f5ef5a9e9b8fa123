// The banner shown in the main window's picture box: a 273 x 80 palette PNG
// embedded in the program, and a PNG decoder over libpng.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace varnel {

inline constexpr int kBannerWidth = 273;
inline constexpr int kBannerHeight = 80;

// The embedded PNG file, byte for byte.
std::span<const std::uint8_t> bannerPngBytes();

// 8-bit RGBA pixels, rows top to bottom without padding. Empty (0 x 0) when the
// data is not a PNG libpng can decode.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  bool empty() const { return pixels.empty(); }
};
RgbaImage decodePng(std::span<const std::uint8_t> png);

}  // namespace varnel
