#include <string_view>

#include "web/header_block.h"

namespace varnel {

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr char kNameValueMark = ':';
constexpr char kWordMark = '-';

}  // namespace

Text capitaliseFirst(std::string_view word) {
  Text out(word);
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z')
    out[0] = static_cast<char>(out[0] - 'a' + 'A');
  return out;
}

Text normaliseHeaderBlock(std::string_view block) {
  Text out;
  std::size_t lineStart = 0;
  while (lineStart <= block.size()) {
    std::size_t lineEnd = block.find(kLineBreak, lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = block.size();
    std::string_view line = block.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + kLineBreak.size();

    std::size_t colon = line.find(kNameValueMark);
    if (colon == std::string_view::npos) continue;  // also drops empty lines
    std::string_view name = line.substr(0, colon);
    // Every hyphen stays where it was, so empty words stay empty.
    std::size_t wordStart = 0;
    while (true) {
      std::size_t wordEnd = name.find(kWordMark, wordStart);
      if (wordEnd == std::string_view::npos) {
        out += capitaliseFirst(name.substr(wordStart));
        break;
      }
      out += capitaliseFirst(name.substr(wordStart, wordEnd - wordStart));
      out += kWordMark;
      wordStart = wordEnd + 1;
    }
    out.append(line.substr(colon));
    out.append(kLineBreak);
  }
  if (!out.empty()) out.resize(out.size() - kLineBreak.size());
  return out;
}

Text headerLineName(std::string_view line) {
  std::size_t colon = line.find(kNameValueMark);
  if (colon == std::string_view::npos) return {};
  return trimSpaces(line.substr(0, colon));
}

Text headerLineValue(std::string_view line) {
  std::size_t colon = line.find(kNameValueMark);
  if (colon == std::string_view::npos) return {};
  return trimSpaces(line.substr(colon + 1));
}

Text headerValue(std::string_view block, std::string_view name) {
  for (const Text& line : splitNonEmpty(block, kLineBreak)) {
    if (line.find(kNameValueMark) == Text::npos) continue;
    if (equalsIgnoringAsciiCase(headerLineName(line), name)) return headerLineValue(line);
  }
  return {};
}

Text base64Encode(std::string_view bytes) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr char kFill = '=';
  Text out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16 |
                     static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[group >> 18 & 63];
    out += kAlphabet[group >> 12 & 63];
    out += kAlphabet[group >> 6 & 63];
    out += kAlphabet[group & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[group >> 18 & 63];
    out += kAlphabet[group >> 12 & 63];
    out += rest == 2 ? kAlphabet[group >> 6 & 63] : kFill;
    out += kFill;
  }
  return out;
}

}  // namespace varnel
