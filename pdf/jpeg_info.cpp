#include "pdf/jpeg_info.h"

#include <cstddef>
#include <cstdint>

namespace varnel {
namespace {

constexpr unsigned char kSoi = 0xD8;
constexpr unsigned char kEoi = 0xD9;
constexpr unsigned char kSos = 0xDA;
constexpr unsigned char kApp0 = 0xE0;
constexpr unsigned char kApp14 = 0xEE;
constexpr unsigned char kTem = 0x01;

std::uint8_t byteAt(std::string_view bytes, std::size_t pos) {
  return static_cast<std::uint8_t>(bytes[pos]);
}

int wordAt(std::string_view bytes, std::size_t pos) {
  return byteAt(bytes, pos) << 8 | byteAt(bytes, pos + 1);
}

// Markers without a length field: TEM and the restart markers.
bool isStandalone(unsigned char marker) {
  return marker == kTem || (marker >= 0xD0 && marker <= 0xD7);
}

// SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool isStartOfFrame(unsigned char marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Baseline, extended sequential and progressive Huffman coding are what
// DCTDecode promises; lossless, hierarchical and arithmetic coding are not.
bool isSupportedFrame(unsigned char marker) { return marker >= 0xC0 && marker <= 0xC2; }

// A download may pad the file with zeros after the end marker; anything else
// after it, or no end marker at all, means the file was cut or is not a JPEG.
bool endsWithEndMarker(std::string_view bytes) {
  std::size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == '\0') --end;
  return end >= 2 && byteAt(bytes, end - 2) == 0xFF && byteAt(bytes, end - 1) == kEoi;
}

void readJfifDensity(std::string_view segment, JpegInfo& info) {
  // "JFIF\0", version (2), units (1), X density (2), Y density (2).
  if (segment.size() < 12 || segment.substr(0, 5) != std::string_view("JFIF\0", 5)) return;
  const int units = byteAt(segment, 7);
  const double x = wordAt(segment, 8);
  const double y = wordAt(segment, 10);
  if (units == 1) {
    info.dpiX = x;
    info.dpiY = y;
  } else if (units == 2) {  // dots per centimetre
    info.dpiX = x * 2.54;
    info.dpiY = y * 2.54;
  }
}

enum class HeaderEnd { scan, cut, broken };

struct Header {
  HeaderEnd end = HeaderEnd::broken;
  std::size_t scanData = 0;  // where the first scan's coded data begins
};

// Walks the marker segments in front of the first scan, handing each to
// `onSegment(marker, body)`, which returns false to refuse the file. cut: the
// bytes end inside the header, so they are the start of a longer file.
template <typename OnSegment>
Header walkHeader(std::string_view bytes, OnSegment&& onSegment) {
  std::size_t pos = 2;
  while (true) {
    if (pos >= bytes.size()) return {HeaderEnd::cut};
    if (byteAt(bytes, pos) != 0xFF) return {HeaderEnd::broken};
    while (pos < bytes.size() && byteAt(bytes, pos) == 0xFF) ++pos;  // fill bytes
    if (pos >= bytes.size()) return {HeaderEnd::cut};
    const unsigned char marker = byteAt(bytes, pos++);
    if (isStandalone(marker)) continue;
    if (marker == kSoi || marker == kEoi || marker == 0x00) return {HeaderEnd::broken};
    if (pos + 2 > bytes.size()) return {HeaderEnd::cut};
    const std::size_t length = static_cast<std::size_t>(wordAt(bytes, pos));
    if (length < 2) return {HeaderEnd::broken};
    if (pos + length > bytes.size()) return {HeaderEnd::cut};
    const std::string_view segment = bytes.substr(pos + 2, length - 2);
    pos += length;
    if (marker == kSos) return {HeaderEnd::scan, pos};
    if (!onSegment(marker, segment)) return {HeaderEnd::broken};
  }
}

bool startsAsJpeg(std::string_view bytes) {
  return bytes.size() >= 3 && byteAt(bytes, 0) == 0xFF && byteAt(bytes, 1) == kSoi &&
         byteAt(bytes, 2) == 0xFF;
}

}  // namespace

std::optional<JpegInfo> readJpegInfo(std::string_view bytes) {
  if (bytes.size() < 4 || byteAt(bytes, 0) != 0xFF || byteAt(bytes, 1) != kSoi) return {};
  if (!endsWithEndMarker(bytes)) return {};

  JpegInfo info;
  bool haveFrame = false;
  const HeaderEnd end = walkHeader(bytes, [&](unsigned char marker, std::string_view segment) {
                          if (marker == kApp0) {
                            readJfifDensity(segment, info);
                          } else if (marker == kApp14) {
                            info.adobeMarker =
                                segment.size() >= 5 && segment.substr(0, 5) == "Adobe";
                          } else if (isStartOfFrame(marker)) {
                            // A second frame header belongs to a hierarchical file.
                            if (haveFrame || !isSupportedFrame(marker) || segment.size() < 6)
                              return false;
                            info.bitsPerComponent = byteAt(segment, 0);
                            info.height = wordAt(segment, 1);
                            info.width = wordAt(segment, 3);
                            info.components = byteAt(segment, 5);
                            if (segment.size() < 6 + 3 * static_cast<std::size_t>(info.components))
                              return false;
                            haveFrame = true;
                          }
                          return true;
                        }).end;
  if (end != HeaderEnd::scan) return {};
  if (!haveFrame || info.bitsPerComponent != 8 || info.width == 0 || info.height == 0) return {};
  if (info.components != 1 && info.components != 3 && info.components != 4) return {};
  return info;
}

bool isCutJpeg(std::string_view bytes) {
  if (!startsAsJpeg(bytes)) return false;
  // The header is walked rather than the last bytes read: a file cut inside
  // a thumbnail ends with the thumbnail's own end marker.
  const Header header = walkHeader(bytes, [](unsigned char, std::string_view) { return true; });
  if (header.end != HeaderEnd::scan) return header.end == HeaderEnd::cut;
  // In coded data FF is followed by 00 or a marker, so FF D9 there is the end.
  return bytes.find("\xFF\xD9", header.scanData) == std::string_view::npos;
}

}  // namespace varnel
