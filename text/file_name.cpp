#include "text/file_name.h"

#include <cstdint>
#include <cstdio>

namespace varnel {
namespace {

constexpr std::string_view kCutMark = "~";
constexpr std::size_t kHashDigits = 8;

// FNV-1a: small, stable across runs and builds, which a folder name must be.
std::uint32_t nameHash(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

bool isContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string fitFileName(std::string_view utf8Name, std::size_t reserveBytes, std::size_t maxBytes) {
  if (utf8Name.size() + reserveBytes <= maxBytes) return std::string(utf8Name);
  const std::size_t tail = kCutMark.size() + kHashDigits;
  std::size_t keep = maxBytes > reserveBytes + tail ? maxBytes - reserveBytes - tail : 0;
  keep = std::min(keep, utf8Name.size());
  // Never split a multi-byte character.
  while (keep > 0 && keep < utf8Name.size() &&
         isContinuationByte(static_cast<unsigned char>(utf8Name[keep]))) {
    --keep;
  }
  char digits[kHashDigits + 1];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(nameHash(utf8Name)));
  std::string fitted(utf8Name.substr(0, keep));
  fitted.append(kCutMark).append(digits);
  return fitted;
}

}  // namespace varnel
