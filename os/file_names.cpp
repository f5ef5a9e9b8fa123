#include "os/file_names.h"

#include <cstdint>
#include <cstdio>  // snprintf

namespace varnel {
namespace {

constexpr std::size_t kHashSuffixBytes = 9;  // "~" and 8 hex digits

bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::uint32_t fileNameHash(std::string_view name) {
  std::uint32_t hash = 2166136261u;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

std::string fitFileName(std::string_view name, std::size_t reserve) {
  if (name.size() + reserve <= kMaxFileNameBytes) return std::string(name);
  if (reserve + kHashSuffixBytes > kMaxFileNameBytes) return {};
  std::size_t keep = kMaxFileNameBytes - reserve - kHashSuffixBytes;
  // Never leave half a character before the suffix.
  while (keep > 0 && isUtf8Continuation(name[keep])) --keep;
  char suffix[kHashSuffixBytes + 1];
  std::snprintf(suffix, sizeof suffix, "~%08x", static_cast<unsigned>(fileNameHash(name)));
  std::string fitted(name.substr(0, keep));
  fitted += suffix;
  return fitted;
}

}  // namespace varnel
