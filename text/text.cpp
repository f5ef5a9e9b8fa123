#include "text/text.h"

#include <algorithm>
#include <cstring>  // memcmp, memcpy
#include <limits>

#include "text/codepage.h"

namespace varnel {
namespace {

using detail::convertEncoding;
using detail::Encoding;

std::u16string toU16(const std::string& bytes) {
  std::u16string wide(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  return wide;
}

std::string_view fromU16(std::u16string_view wide) {
  return {reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(char16_t)};
}

std::string_view upToZero(std::string_view s) {
  std::size_t z = s.find('\0');
  return z == std::string_view::npos ? s : s.substr(0, z);
}

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool equalAt(std::string_view hay, std::size_t pos, std::string_view needle, bool ignoreCase) {
  if (!ignoreCase) return hay.compare(pos, needle.size(), needle) == 0;
  for (std::size_t i = 0; i < needle.size(); ++i)
    if (foldAscii(hay[pos + i]) != foldAscii(needle[i])) return false;
  return true;
}

}  // namespace

// Length of a well-formed UTF-8 sequence at s[0..n), or 0 when it is not one.
std::size_t detail::utf8SequenceLength(const unsigned char* s, std::size_t n) {
  if (n == 0) return 0;
  unsigned char c = s[0];
  if (c < 0x80) return 1;
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len) return 0;
  if (s[1] < lo || s[1] > hi) return 0;
  for (std::size_t i = 2; i < len; ++i)
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  return len;
}

Text replaceAllText(std::string_view text, std::string_view needle, std::string_view replacement,
                    bool ignoreAsciiCase) {
  if (needle.empty()) return Text(text);
  Text out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t hit = findText(text, needle, 0, ignoreAsciiCase); hit != std::string_view::npos;
       hit = findText(text, needle, from, ignoreAsciiCase)) {
    out.append(text.substr(from, hit - from));
    out.append(replacement);
    from = hit + needle.size();
  }
  out.append(text.substr(from));
  return out;
}

std::size_t alignToCharStart(std::string_view text, std::size_t pos) {
  std::size_t at = 0;
  while (at < pos && at < text.size()) at += charLengthAt(text, at);
  return at < text.size() ? at : text.size();
}

namespace {
Text mapAsciiLetters(std::string_view text, char first, char last, int shift) {
  Text out(text);
  for (std::size_t pos = 0; pos < out.size();) {
    const std::size_t length = charLengthAt(out, pos);
    if (length == 1 && out[pos] >= first && out[pos] <= last) {
      out[pos] = static_cast<char>(out[pos] + shift);
    }
    pos += length;
  }
  return out;
}
}  // namespace

Text asciiUpper(std::string_view text) { return mapAsciiLetters(text, 'a', 'z', -32); }
Text asciiLower(std::string_view text) { return mapAsciiLetters(text, 'A', 'Z', 32); }

std::string_view trimAsciiSet(std::string_view text, std::string_view set) {
  const std::size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(set) - first + 1);
}

// Neither a space nor a tab is ever a GBK trail byte (those start at 0x40).
std::string_view trimAsciiSpaces(std::string_view text) { return trimAsciiSet(text, " "); }
std::string_view trimSpacesAndTabs(std::string_view text) { return trimAsciiSet(text, " \t"); }

long long leadingInteger(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 1;
  long long value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
    value = value > kLimit ? kLimit : value * 10 + (text[pos] - '0');
  return negative ? -value : value;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && equalAt(a, 0, b, true);
}

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalAt(text, 0, prefix, true);
}

std::size_t charLengthAt(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  if (isLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) return 2;
  return 1;
}

int compareTexts(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;  // memcmp compares unsigned bytes
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

Bytes concatBuffers(const Bytes& a, const Bytes& b) {
  Bytes out;
  out.reserve(a.size() + b.size());
  out.insert(out.end(), a.begin(), a.end());
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

Text utf8BytesToText(std::string_view utf8) {
  utf8 = upToZero(utf8);
  if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);  // a BOM is not page text
  return convertEncoding(utf8, Encoding::Utf8, Encoding::Gbk);
}

Text utf8BytesToText(const Bytes& utf8) { return utf8BytesToText(asView(utf8)); }

std::string textToUtf8(std::string_view text) {
  return convertEncoding(text, Encoding::Gbk, Encoding::Utf8);
}

std::u16string ansiToWide(std::string_view text) {
  return toU16(convertEncoding(text, Encoding::Gbk, Encoding::Utf16));
}

Text wideToAnsi(std::u16string_view wide) {
  return convertEncoding(fromU16(wide), Encoding::Utf16, Encoding::Gbk);
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  return toU16(convertEncoding(utf8, Encoding::Utf8, Encoding::Utf16));
}

std::string utf16ToUtf8(std::u16string_view wide) {
  return convertEncoding(fromU16(wide), Encoding::Utf16, Encoding::Utf8);
}

bool isValidUtf8(std::string_view bytes) {
  auto s = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t len = detail::utf8SequenceLength(s + i, bytes.size() - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::size_t findText(std::string_view haystack, std::string_view needle, std::size_t from,
                     bool ignoreAsciiCase) {
  if (from > haystack.size()) return std::string_view::npos;
  if (needle.empty()) return from;
  // `from` is taken to be a character start, as every caller passes one.
  std::size_t pos = from;
  while (pos + needle.size() <= haystack.size()) {
    if (!ignoreAsciiCase) {
      // Jump to the next byte-wise candidate, then walk characters up to it.
      std::size_t cand = haystack.find(needle, pos);
      if (cand == std::string_view::npos) return cand;
      while (pos < cand) pos += charLengthAt(haystack, pos);
      if (pos == cand) return pos;
      continue;  // candidate was inside a two-byte character
    }
    if (equalAt(haystack, pos, needle, true)) return pos;
    pos += charLengthAt(haystack, pos);
  }
  return std::string_view::npos;
}

std::vector<Text> splitNonEmpty(std::string_view text, std::string_view delimiter) {
  std::vector<Text> parts;
  if (delimiter.empty()) {
    if (!text.empty()) parts.emplace_back(text);
    return parts;
  }
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t hit = findText(text, delimiter, start);
    std::size_t end = hit == std::string_view::npos ? text.size() : hit;
    if (end > start) parts.emplace_back(text.substr(start, end - start));
    if (hit == std::string_view::npos) break;
    start = hit + delimiter.size();
  }
  return parts;
}

Text trimSpaces(std::string_view text) {
  auto spaceAt = [&](std::size_t pos) -> std::size_t {
    if (text[pos] == ' ') return 1;
    if (pos + 1 < text.size() && static_cast<unsigned char>(text[pos]) == 0xA1 &&
        static_cast<unsigned char>(text[pos + 1]) == 0xA1)
      return 2;
    return 0;
  };
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t n = spaceAt(begin);
    if (n == 0) break;
    begin += n;
  }
  // Walk forward so a trail byte is never taken for the start of a space.
  std::size_t end = begin;
  for (std::size_t pos = begin; pos < text.size();) {
    std::size_t n = spaceAt(pos);
    std::size_t len = n ? n : charLengthAt(text, pos);
    pos += len;
    if (n == 0) end = pos;
  }
  return Text(text.substr(begin, end - begin));
}

}  // namespace varnel
