#include "regex/regex_object.h"

#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "regex/replacement.h"
#include "regex/wide_regex.h"

namespace varnel {

using regex_detail::MatchSpans;
using regex_detail::Span;
using regex_detail::WideRegex;

struct RegexObject::Engine {
  Text pattern;
  std::optional<WideRegex> regex;  // empty when the pattern did not compile
};

struct RegexObject::Matches {
  std::vector<MatchSpans> list;
};

namespace {

constexpr char16_t kQuote = u'"';

void replaceQuoteTokens(std::u16string& pattern) {
  const std::u16string_view token = RegexObject::kQuoteToken;
  for (std::size_t at = pattern.find(token); at != std::u16string::npos;
       at = pattern.find(token, at + 1)) {
    pattern.replace(at, token.size(), 1, kQuote);
  }
}

// The span of group `group` (0 = the whole match) of match `matchIndex`
// (1-based), or null when either is out of range.
const Span* findSpan(const std::vector<MatchSpans>* list, int matchIndex, int group) {
  if (!list || matchIndex < 1 || static_cast<std::size_t>(matchIndex) > list->size()) {
    return nullptr;
  }
  const MatchSpans& match = (*list)[matchIndex - 1];
  if (group < 0 || static_cast<std::size_t>(group) >= match.size()) return nullptr;
  return &match[group];
}

// Text of `span` and, when asked, its byte offset in the GBK form of the
// subject. The offset is the length of the converted prefix, which is exact
// even where the same text occurs earlier or some characters have no GBK form.
Text spanText(std::u16string_view subject, const Span* span, int* position) {
  if (!span || !span->matched) {
    if (position) *position = RegexObject::kNoPosition;
    return {};
  }
  if (position) *position = static_cast<int>(wideToAnsi(subject.substr(0, span->begin)).size());
  return wideToAnsi(subject.substr(span->begin, span->length));
}

}  // namespace

bool RegexObject::execute(std::string_view pattern, std::string_view subject, bool caseSensitive,
                          bool multiline, bool global, bool quoteToken) {
  engine_.reset();
  matches_.reset();
  subject_.clear();
  try {
    std::u16string widePattern = ansiToWide(pattern);
    if (quoteToken) replaceQuoteTokens(widePattern);
    auto engine = std::make_shared<Engine>();
    engine->pattern = wideToAnsi(widePattern);
    engine->regex = WideRegex::compile(widePattern, !caseSensitive, multiline);
    engine_ = engine;
    subject_ = ansiToWide(subject);
    if (!engine->regex) return false;
    auto found = engine->regex->search(subject_, global);
    if (!found) return false;
    matches_ = std::make_shared<const Matches>(Matches{std::move(*found)});
    return true;
  } catch (const std::exception&) {
    matches_.reset();  // out of memory while converting: nothing to read
    return false;
  }
}

Text RegexObject::pattern() const { return engine_ ? engine_->pattern : Text(); }

Text RegexObject::replace(std::string_view replacement) const {
  if (!matches_) return {};
  return wideToAnsi(
      regex_detail::replaceMatches(subject_, matches_->list, ansiToWide(replacement)));
}

int RegexObject::matchCount() const {
  return matches_ ? static_cast<int>(matches_->list.size()) : 0;
}

int RegexObject::submatchCount() const {
  if (!matches_ || matches_->list.empty()) return 0;
  return static_cast<int>(matches_->list.front().size()) - 1;
}

Text RegexObject::matchText(int index, int* position) const {
  return spanText(subject_, findSpan(matches_ ? &matches_->list : nullptr, index, 0), position);
}

Text RegexObject::submatchText(int matchIndex, int groupIndex, int* position) const {
  // Group 0 would be the whole match; groups are numbered from 1 here.
  const Span* span = groupIndex < 1
                         ? nullptr
                         : findSpan(matches_ ? &matches_->list : nullptr, matchIndex, groupIndex);
  return spanText(subject_, span, position);
}

}  // namespace varnel
