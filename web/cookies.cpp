#include "web/cookies.h"

#include <cstdint>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace varnel {

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kItemSeparator = "; ";
constexpr std::string_view kSetCookieName = "Set-Cookie";
constexpr std::string_view kSetCookieMark = "Set-Cookie:";
constexpr std::string_view kHeaderNameEnd = ": ";
constexpr std::string_view kAttributeMark = ";";
constexpr std::string_view kDeletedMark = "=deleted";
constexpr char kNameValueMark = '=';
constexpr char kItemEnd = ';';
// "#引号" in code page 936: lets callers write quotes inside marker texts.
constexpr std::string_view kQuoteToken = "#\xD2\xFD\xBA\xC5";
constexpr std::string_view kQuote = "\"";

constexpr std::size_t npos = std::string_view::npos;

// Pieces between separators; empty pieces count, except a trailing one.
std::vector<std::string_view> splitItems(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t hit = findText(text, separator, start);
    if (hit == npos) {
      items.push_back(text.substr(start));
      break;
    }
    items.push_back(text.substr(start, hit - start));
    start = hit + separator.size();
  }
  return items;
}

// A trailing ";" becomes the separator "; " so it leaves no empty item.
Text prepareJar(std::string_view text) {
  Text out = trimSpaces(text);
  if (!out.empty() && out.back() == kItemEnd) out += ' ';
  return out;
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// 0-based search position for a 1-based `start` (0 and 1 both mean the first byte).
std::size_t forwardFrom(std::string_view text, int start) {
  std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start) - 1;
  return from > text.size() ? npos : alignToCharStart(text, from);
}

// Last occurrence starting at or before the 0-based position `limit`.
std::size_t findLastUpTo(std::string_view text, std::string_view marker, std::size_t limit,
                         bool ignoreCase) {
  std::size_t last = npos;
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t hit = findText(text, marker, from, ignoreCase);
    if (hit == npos || hit > limit) break;
    last = hit;
    std::size_t step = charLengthAt(text, hit);
    from = hit + (step == 0 ? 1 : step);
  }
  return last;
}

}  // namespace

Text collectSetCookies(std::string_view responseHeaders) {
  Text result;
  for (const Text& line : splitNonEmpty(responseHeaders, kLineBreak)) {
    if (textLeftOf(line, kHeaderNameEnd) != kSetCookieName) continue;
    Text value;
    if (findText(line, kAttributeMark) == npos) {
      value = trimSpaces(replaceAllText(line, kSetCookieMark, "", true));
    } else {
      // Only the name=value before the first attribute (path, expiry, ...) is kept.
      value = trimSpaces(textBetween(line, kSetCookieMark, kAttributeMark));
    }
    result += value;
    result += kItemSeparator;
  }
  if (endsWith(result, kItemSeparator)) result.resize(result.size() - kItemSeparator.size());
  return result;
}

Text mergeCookieText(Text& cookies, std::string_view received) {
  const Text oldJar = prepareJar(cookies);
  const Text newJar = prepareJar(received);

  // Received items come first so new values replace old ones of the same name.
  std::vector<std::string_view> merged = splitItems(newJar, kItemSeparator);
  std::unordered_set<Text> names;
  for (std::string_view item : merged) names.insert(cookieName(item));
  for (std::string_view item : splitItems(oldJar, kItemSeparator)) {
    if (names.insert(cookieName(item)).second) merged.push_back(item);
  }

  Text text;
  for (std::string_view item : merged) {
    if (endsWith(item, kDeletedMark)) continue;  // the server removed this cookie
    text.append(item);
    text.append(kItemSeparator);
  }
  if (!text.empty()) text.resize(text.size() - kItemSeparator.size());

  cookies = dedupeList(text, kItemSeparator);
  return cookies;
}

Text cookieName(std::string_view item) {
  std::size_t mark = item.find(kNameValueMark);
  return trimSpaces(mark == npos ? item : item.substr(0, mark));
}

Text dedupeList(std::string_view text, std::string_view separator) {
  if (separator.empty()) return Text(text);
  std::unordered_set<std::string_view> seen;
  Text out;
  for (std::string_view item : splitItems(text, separator)) {
    if (!seen.insert(item).second) continue;
    out.append(item);
    out.append(separator);
  }
  if (!out.empty()) out.resize(out.size() - separator.size());
  return out;
}

Text textLeftOf(std::string_view text, std::string_view marker, int start, bool ignoreCase) {
  std::size_t hit = npos;
  if (start >= 0) {
    std::size_t from = forwardFrom(text, start);
    if (from != npos) hit = findText(text, marker, from, ignoreCase);
  } else {
    // -1 starts one past the end; -k (k >= 2) at length - k + 1 (both 1-based).
    std::int64_t k = -static_cast<std::int64_t>(start);
    std::int64_t size = static_cast<std::int64_t>(text.size());
    std::int64_t limit = k == 1 ? size : size - k;
    if (limit >= 0) hit = findLastUpTo(text, marker, static_cast<std::size_t>(limit), ignoreCase);
  }
  if (hit == npos) return {};
  return Text(text.substr(0, hit));
}

Text textBetween(std::string_view text, std::string_view left, std::string_view right, int start,
                 bool ignoreCase) {
  const Text leftMarker = replaceAllText(left, kQuoteToken, kQuote);
  const Text rightMarker = replaceAllText(right, kQuoteToken, kQuote);
  std::size_t from = forwardFrom(text, start);
  if (from == npos) return {};
  std::size_t leftAt = findText(text, leftMarker, from, ignoreCase);
  if (leftAt == npos) return {};
  std::size_t valueStart = leftAt + leftMarker.size();
  std::size_t rightAt = findText(text, rightMarker, valueStart, ignoreCase);
  if (rightAt == npos) return {};
  return Text(text.substr(valueStart, rightAt - valueStart));
}

}  // namespace varnel
