#include "app/banner_image.h"

#include <png.h>

namespace varnel {
namespace {

// Generated at configure time from resources/banner.png.
constexpr std::uint8_t kBannerPng[] = {
#include "banner_png.inc"
};

// Refuse images whose pixel buffer would be unreasonably large.
constexpr png_uint_32 kMaxDimension = 1 << 14;

}  // namespace

std::span<const std::uint8_t> bannerPngBytes() { return kBannerPng; }

RgbaImage decodePng(std::span<const std::uint8_t> png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
  if (image.width == 0 || image.height == 0 || image.width > kMaxDimension ||
      image.height > kMaxDimension) {
    png_image_free(&image);
    return {};
  }
  image.format = PNG_FORMAT_RGBA;
  RgbaImage out;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  return out;
}

}  // namespace varnel
