#include "regex/wide_regex.h"

#include <exception>
#include <locale>  // std::ctype<wchar_t> for Unicode case folding
#include <string>
#include <utility>

#include <boost/regex.hpp>

namespace varnel::regex_detail {
namespace {

// The locale whose wide ctype folds letter case beyond ASCII. Only its case
// mapping is used: character classes stay those of the classic locale, so \w
// and \d keep to ASCII as ECMAScript defines them.
constexpr const char* kCaseLocaleName = "C.UTF-8";

const std::ctype<wchar_t>& caseFolding() {
  static const std::locale locale = [] {
    try {
      return std::locale(kCaseLocaleName);
    } catch (const std::exception&) {
      return std::locale::classic();  // ASCII-only folding is the fallback
    }
  }();
  return std::use_facet<std::ctype<wchar_t>>(locale);
}

// Boost calls these through the traits type, so hiding the base versions is
// enough to change how case-insensitive comparisons fold.
struct UnicodeCaseTraits : boost::cpp_regex_traits<wchar_t> {
  wchar_t translate(wchar_t c) const { return c; }
  wchar_t translate(wchar_t c, bool icase) const { return icase ? translate_nocase(c) : c; }
  wchar_t translate_nocase(wchar_t c) const { return caseFolding().tolower(c); }
};

using Regex = boost::basic_regex<wchar_t, UnicodeCaseTraits>;
using Iterator = boost::regex_iterator<std::wstring::const_iterator, wchar_t, UnicodeCaseTraits>;

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// UTF-16 widened to one wchar_t per character; a lone surrogate stays a
// character of its own. utf16Offset[i] is where chars[i] starts in the UTF-16
// text, with one more entry for the end.
struct WideText {
  std::wstring chars;
  std::vector<std::size_t> utf16Offset;
};

WideText widen(std::u16string_view text) {
  WideText out;
  out.chars.reserve(text.size());
  out.utf16Offset.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size();) {
    out.utf16Offset.push_back(i);
    char16_t c = text[i];
    if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
      out.chars.push_back(static_cast<wchar_t>(cp));
      i += 2;
    } else {
      out.chars.push_back(static_cast<wchar_t>(c));
      ++i;
    }
  }
  out.utf16Offset.push_back(text.size());
  return out;
}

}  // namespace

struct WideRegex::Impl {
  Regex regex;
  boost::match_flag_type flags = boost::match_default;
};

std::optional<WideRegex> WideRegex::compile(std::u16string_view pattern, bool ignoreCase,
                                            bool multiline) {
  namespace rc = boost::regex_constants;
  rc::syntax_option_type syntax = rc::ECMAScript | rc::no_mod_s;
  if (ignoreCase) syntax |= rc::icase;
  if (!multiline) syntax |= rc::no_mod_m;
  // Boost's dot crosses line breaks unless told not to, and its ^ and $ see
  // line breaks unless told not to: both are said once more at match time.
  boost::match_flag_type flags = boost::match_default | boost::match_not_dot_newline;
  if (!multiline) flags |= boost::match_single_line;
  try {
    WideText wide = widen(pattern);
    auto impl = std::make_shared<Impl>();
    impl->regex.assign(wide.chars, syntax);
    impl->flags = flags;
    return WideRegex(std::move(impl));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::vector<MatchSpans>> WideRegex::search(std::u16string_view subject,
                                                         bool all) const {
  try {
    const WideText wide = widen(subject);
    std::vector<MatchSpans> matches;
    for (Iterator it(wide.chars.begin(), wide.chars.end(), impl_->regex, impl_->flags), end;
         it != end; ++it) {
      const auto& m = *it;
      MatchSpans spans(m.size());
      for (std::size_t g = 0; g < m.size(); ++g) {
        if (!m[g].matched) continue;
        auto first = static_cast<std::size_t>(m[g].first - wide.chars.begin());
        auto last = static_cast<std::size_t>(m[g].second - wide.chars.begin());
        spans[g] = {wide.utf16Offset[first], wide.utf16Offset[last] - wide.utf16Offset[first],
                    true};
      }
      matches.push_back(std::move(spans));
      if (!all) break;
    }
    return matches;
  } catch (const std::exception&) {
    return std::nullopt;  // complexity limit, memory exhausted
  }
}

}  // namespace varnel::regex_detail
