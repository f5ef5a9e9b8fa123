// Real JPEGs for the tests, made with libjpeg through qpdf's Pl_DCT.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varnel::test {

struct JpegShape {
  int width = 16;
  int height = 12;
  int components = 3;  // 1 grey, 3 RGB, 4 CMYK
  int quality = 90;
  int densityUnit = 0;  // JFIF: 0 aspect only, 1 dots per inch, 2 dots per cm
  int densityX = 1;
  int densityY = 1;
  bool progressive = false;
  bool arithmetic = false;
  bool adobeMarker = true;  // libjpeg writes one for CMYK unless told not to
  std::uint32_t seed = 1;   // varies the pixels, so no two pages are alike
  int noise = 0;            // 0..255: random detail, to make a file larger
};

std::string makeJpeg(const JpegShape& shape);
// Encodes `pixels` (rows of width * components bytes) with the shape's size,
// components and settings; the shape's pattern fields are ignored.
std::string encodeJpeg(const std::vector<unsigned char>& pixels, const JpegShape& shape);

// A small PNG signature and header: what a site sends when it sends no JPEG.
std::string pngBytes();

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace varnel::test
