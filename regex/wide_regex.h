// Inside the regex folder only: the Boost.Regex engine over UTF-16 text.
//
// Boost.Regex has no working char16_t traits, so the UTF-16 text is widened
// to wchar_t (UTF-32 on Linux) for the search and every position is mapped
// back to UTF-16 code units.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace varnel::regex_detail {

// A piece of the subject, in UTF-16 code units.
struct Span {
  std::size_t begin = 0;
  std::size_t length = 0;
  bool matched = false;  // false for a group that took no part in the match
};

// [0] is the whole match, then one entry per capture group.
using MatchSpans = std::vector<Span>;

class WideRegex {
 public:
  // Empty when the pattern does not compile.
  static std::optional<WideRegex> compile(std::u16string_view pattern, bool ignoreCase,
                                          bool multiline);

  // The matches in order, left to right and not overlapping; only the first
  // one unless `all`. Empty when the engine gave up (complexity or memory).
  std::optional<std::vector<MatchSpans>> search(std::u16string_view subject, bool all) const;

 private:
  struct Impl;
  explicit WideRegex(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

}  // namespace varnel::regex_detail
