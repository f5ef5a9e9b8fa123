#include "htmlquery/query/query_support.h"

#include <limits>

#include "htmlquery/html_query.h"

namespace varnel::query {

// The messages are written here in UTF-8 and converted once, on first use.
const Text& messageParseError() {
  static const Text text = utf8BytesToText("表达式结构解析错误");
  return text;
}
const Text& messageNoParent() {
  static const Text text = utf8BytesToText("父级未找到");
  return text;
}
const Text& messageCssNoResult() {
  static const Text text = utf8BytesToText("CSS表达式未找到结果");
  return text;
}
const Text& messageConditionPrefix() {
  static const Text text = utf8BytesToText("当前条件未解析成功，标签名为");
  return text;
}
const Text& messageConditionMiddle() {
  static const Text text = utf8BytesToText(",表达式条件为：");
  return text;
}

Text flagText(bool value) { return Text(value ? kQueryTrue : kQueryFalse); }

std::size_t findLastText(std::string_view text, std::string_view needle) {
  std::size_t last = std::string_view::npos;
  for (std::size_t pos = findText(text, needle); pos != std::string_view::npos;
       pos = findText(text, needle, pos + charLengthAt(text, pos)))
    last = pos;
  return last;
}

bool endsWithChar(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size() || suffix.empty()) return false;
  std::size_t lastStart = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += charLengthAt(text, pos)) lastStart = pos;
  return text.substr(lastStart) == suffix;
}

std::size_t characterCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); ++count) {
    if (text.compare(pos, kLineBreak.size(), kLineBreak) == 0)
      pos += kLineBreak.size();
    else
      pos += charLengthAt(text, pos);
  }
  return count;
}

bool isAllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int compareDigitStrings(std::string_view a, std::string_view b) {
  auto significant = [](std::string_view s) {
    std::size_t nonZero = s.find_first_not_of('0');
    return nonZero == std::string_view::npos ? std::string_view() : s.substr(nonZero);
  };
  a = significant(a);
  b = significant(b);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool readWholeInteger(std::string_view text, long long& out) {
  text = trimAsciiSpaces(text);
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (!isAllDigits(digits)) return false;
  out = leadingInteger(text);
  return true;
}

}  // namespace varnel::query
