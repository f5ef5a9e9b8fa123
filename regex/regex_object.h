// RegexObject: one regular expression run over one subject text, with access
// to its matches and capture groups. ECMAScript/Perl syntax over Boost.Regex.
//
// The subject is held as UTF-16 and the engine reads it as Unicode characters,
// so a Chinese character is one character to `.` and to quantifiers. Text in
// and out is GBK (`Text`); positions handed back are byte offsets in that text
// (in its cleaned form where invalid bytes had to become '?').
//
// Nothing throws: an invalid pattern, or one that hits the engine's complexity
// or memory limits, makes `execute` return false, after which every match read
// gives the empty text or 0. So does a read before any `execute`.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "text/text.h"

namespace varnel {

class RegexObject {
 public:
  // What `matchText`/`submatchText` store in `position` when there is no
  // match, no such group, or the group took no part in the match.
  static constexpr int kNoPosition = -1;
  // With `quoteToken`, each occurrence of this token in the pattern (exact
  // letters) stands for a double quote, so patterns can be written without one.
  static constexpr std::u16string_view kQuoteToken = u"#引号";

  RegexObject() = default;
  // A copy shares the compiled expression and the matches with the original
  // and has its own copy of the subject; a later `execute` on either one
  // replaces only that one's results.
  RegexObject(const RegexObject&) = default;
  RegexObject& operator=(const RegexObject&) = default;
  RegexObject(RegexObject&&) noexcept = default;
  RegexObject& operator=(RegexObject&&) noexcept = default;
  ~RegexObject() = default;

  // Compiles `pattern` and runs it over `subject`, replacing earlier results.
  // Letter case is ignored (Unicode-wide) unless `caseSensitive`; `multiline`
  // lets ^ and $ match at line breaks as well; `global` false keeps only the
  // first match. A dot never matches a line break. True when the search ran,
  // also when it found nothing; false for a pattern that cannot be used.
  bool execute(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
               bool multiline = true, bool global = true, bool quoteToken = false);

  // Kept so the operations stay in their usual order; does nothing.
  void reserved() const {}

  // The pattern of the last `execute`, after the quote token was replaced;
  // kept even when that pattern failed to compile. Empty before any `execute`.
  Text pattern() const;

  // The subject with each match of the last `execute` (only the first unless
  // `global`) replaced by `replacement`, in which $& is the match, $1..$99 a
  // group ($nn only where the pattern has that many groups, else $n and a
  // literal digit), $` and $' the text before and after the match, and $$ a
  // dollar sign; any other $ is literal. Empty after a failed or no `execute`.
  Text replace(std::string_view replacement) const;

  // Number of matches of the last `execute`; 0 after a failed one.
  int matchCount() const;

  // Text of match `index` (1-based). With `position`, that receives the
  // match's byte offset in the subject, or kNoPosition when out of range.
  Text matchText(int index, int* position = nullptr) const;

  // Text of capture group `groupIndex` (1-based) of match `matchIndex`
  // (1-based). Empty for an out-of-range index and for a group that took no
  // part in the match; `position` as for `matchText`.
  Text submatchText(int matchIndex, int groupIndex, int* position = nullptr) const;

  // Number of capture groups of the first match; 0 when nothing matched.
  int submatchCount() const;

 private:
  struct Engine;
  struct Matches;

  std::shared_ptr<const Engine> engine_;
  std::shared_ptr<const Matches> matches_;
  std::u16string subject_;
};

}  // namespace varnel
