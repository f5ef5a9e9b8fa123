// libFuzzer target for the JPEG header reader: page files come from the site,
// so any bytes at all must give an answer without reading out of bounds, and
// an accepted header must describe an image a PDF can carry.
#include <cstdint>
#include <cstdlib>  // abort
#include <string_view>

#include "pdf/jpeg_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto info = varnel::readJpegInfo({reinterpret_cast<const char*>(data), size});
  if (info && (info->width <= 0 || info->height <= 0 || info->bitsPerComponent != 8 ||
               (info->components != 1 && info->components != 3 && info->components != 4))) {
    std::abort();
  }
  return 0;
}
