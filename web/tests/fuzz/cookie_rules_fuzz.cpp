// libFuzzer target for the cookie jar and header text rules: arbitrary bytes
// must never crash them, and their results must keep their basic promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

#include "web/cookies.h"
#include "web/header_block.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Splits the input at NUL bytes into up to `count` texts.
template <std::size_t N>
void splitInput(std::string_view input, std::string_view (&parts)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    std::size_t end = input.find('\0');
    parts[i] = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  }
}

// A merged jar holds every item once. (An empty item may end it, so a second
// dedupe is not always the identity: its trailing empty piece is dropped.)
bool noRepeatedItems(std::string_view jar) {
  std::set<std::string_view> seen;
  while (!jar.empty()) {
    std::size_t end = varnel::findText(jar, "; ");
    if (!seen.insert(jar.substr(0, end)).second) return false;
    jar = end == std::string_view::npos ? std::string_view() : jar.substr(end + 2);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnel;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view parts[4];
  splitInput(input, parts);
  const int start = size > 0 ? static_cast<int>(static_cast<std::int8_t>(data[0])) : 1;
  const bool ignoreCase = size > 1 && (data[1] & 1);

  Text cookies = collectSetCookies(parts[0]);
  Text jar(parts[1]);
  Text merged = mergeCookieText(jar, cookies);
  check(merged == jar);
  check(noRepeatedItems(merged));
  check(merged.size() < 8 || merged.substr(merged.size() - 8) != "=deleted");

  Text deduped = dedupeList(parts[2], parts[3]);
  check(deduped.size() <= parts[2].size());

  Text left = textLeftOf(parts[0], parts[1], start, ignoreCase);
  check(parts[0].substr(0, left.size()) == left);
  Text between = textBetween(parts[0], parts[1], parts[2], start, ignoreCase);
  check(between.size() <= parts[0].size());
  (void)cookieName(parts[3]);

  Text block = normaliseHeaderBlock(parts[0]);
  check(normaliseHeaderBlock(block) == block);
  (void)headerLineName(parts[1]);
  (void)headerLineValue(parts[1]);
  check(base64Encode(parts[2]).size() == (parts[2].size() + 2) / 3 * 4);
  return 0;
}
