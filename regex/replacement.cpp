#include "regex/replacement.h"

namespace varnel::regex_detail {
namespace {

constexpr char16_t kDollar = u'$';

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string_view piece(std::u16string_view subject, const Span& span) {
  return span.matched ? subject.substr(span.begin, span.length) : std::u16string_view();
}

void appendExpansion(std::u16string& out, std::u16string_view subject, const MatchSpans& match,
                     std::u16string_view replacement) {
  const Span& whole = match[0];
  const std::size_t groupCount = match.size() - 1;
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    char16_t c = replacement[i];
    if (c != kDollar || i + 1 == replacement.size()) {
      out.push_back(c);
      continue;
    }
    char16_t next = replacement[i + 1];
    if (next == kDollar) {
      out.push_back(kDollar);
      ++i;
    } else if (next == u'&') {
      out.append(piece(subject, whole));
      ++i;
    } else if (next == u'`') {
      out.append(subject.substr(0, whole.begin));
      ++i;
    } else if (next == u'\'') {
      out.append(subject.substr(whole.begin + whole.length));
      ++i;
    } else if (isDigit(next)) {
      // Two digits when the pattern has that many groups, else one; a
      // reference to a group that does not exist stays literal.
      std::size_t one = next - u'0';
      bool hasSecond = i + 2 < replacement.size() && isDigit(replacement[i + 2]);
      std::size_t two = hasSecond ? one * 10 + (replacement[i + 2] - u'0') : 0;
      if (hasSecond && two >= 1 && two <= groupCount) {
        out.append(piece(subject, match[two]));
        i += 2;
      } else if (one >= 1 && one <= groupCount) {
        out.append(piece(subject, match[one]));
        ++i;
      } else {
        out.push_back(c);
      }
    } else {
      out.push_back(c);
    }
  }
}

}  // namespace

std::u16string replaceMatches(std::u16string_view subject, const std::vector<MatchSpans>& matches,
                              std::u16string_view replacement) {
  std::u16string out;
  out.reserve(subject.size());
  std::size_t copied = 0;
  for (const MatchSpans& match : matches) {
    const Span& whole = match[0];
    out.append(subject.substr(copied, whole.begin - copied));
    appendExpansion(out, subject, match, replacement);
    copied = whole.begin + whole.length;
  }
  out.append(subject.substr(copied));
  return out;
}

}  // namespace varnel::regex_detail
