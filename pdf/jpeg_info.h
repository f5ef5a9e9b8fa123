// What a PDF needs to know about a JPEG to embed it unchanged: read from the
// markers in front of the scan, never by decoding the image.
#pragma once

#include <optional>
#include <string_view>

namespace varnel {

struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;  // 1 grey, 3 RGB (YCbCr), 4 CMYK
  int bitsPerComponent = 0;
  bool adobeMarker = false;  // APP14 "Adobe": such CMYK data is stored inverted
  // Pixels per inch from the JFIF header, per axis; 0 when it states none
  // (no JFIF header, or only an aspect ratio).
  double dpiX = 0;
  double dpiY = 0;
};

// The header of `bytes` when they are a complete JPEG that PDF readers show
// as /DCTDecode: baseline, extended or progressive Huffman coding, 8 bits,
// 1, 3 or 4 components, a known height, the end marker last (trailing zero
// bytes allowed). Anything else (PNG, WebP, 12-bit, arithmetic or lossless
// coding, a cut or broken file) gives nullopt.
std::optional<JpegInfo> readJpegInfo(std::string_view bytes);

// True when `bytes` begin as a JPEG but stop before its end: a header segment
// running past the last byte, or no end marker after the scan (whatever
// follows one, zeros or text, is not a cut). A decoder shows such a file grey
// from where the data ran out. False for anything that does not start as a
// JPEG (PNG, empty).
bool isCutJpeg(std::string_view bytes);

}  // namespace varnel
