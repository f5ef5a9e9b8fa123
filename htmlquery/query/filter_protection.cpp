// Protection of filter bodies: before an expression is cut at "|", "/", "[",
// backslash or ",", each %kind[ body ]kind% becomes a form that holds none of
// those characters, and is restored where its text is needed.
#include <cstdio>  // snprintf

#include "htmlquery/query/query_support.h"

namespace varnel::query {

namespace {

// Percent form of the UTF-8 bytes: the result holds only "%", hex digits and
// "+", so no later cut can fall inside it.
Text encodeBody(std::string_view body) {
  const std::string utf8 = textToUtf8(body);
  Text out;
  out.reserve(utf8.size() * 3);
  for (unsigned char byte : utf8) {
    if (byte == 0) continue;
    if (byte == ' ') {
      out.push_back('+');
      continue;
    }
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
    out.append(escaped, 3);
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A "%" needs exactly two hex digits after it; otherwise it is copied.
Text decodeBody(std::string_view body) {
  std::string utf8;
  utf8.reserve(body.size());
  for (std::size_t pos = 0; pos < body.size();) {
    char c = body[pos];
    if (c == '%' && pos + 2 < body.size() && hexValue(body[pos + 1]) >= 0 &&
        hexValue(body[pos + 2]) >= 0) {
      utf8.push_back(static_cast<char>(hexValue(body[pos + 1]) * 16 + hexValue(body[pos + 2])));
      pos += 3;
    } else {
      utf8.push_back(c == '+' ? ' ' : c);
      ++pos;
    }
  }
  return utf8BytesToText(utf8);
}

// One left-to-right pass over `text`: every `open` body `close` becomes
// `replace(body)`. The replaced text is never searched again, and an opening
// marker without a closing one ends the pass.
template <typename Replace>
Text replaceBodies(std::string_view text, std::string_view open, std::string_view close,
                   Replace replace) {
  std::size_t first = findText(text, open);
  if (first == std::string_view::npos) return Text(text);
  Text out;
  out.reserve(text.size());
  std::size_t done = 0;
  for (std::size_t start = first; start != std::string_view::npos;
       start = findText(text, open, done)) {
    std::size_t bodyStart = start + open.size();
    std::size_t end = findText(text, close, bodyStart);
    if (end == std::string_view::npos) break;
    out.append(text.substr(done, start - done));
    out.append(replace(text.substr(bodyStart, end - bodyStart)));
    done = end + close.size();
  }
  out.append(text.substr(done));
  return out;
}

}  // namespace

Text protectFilters(std::string_view text) {
  Text out(text);
  for (const FilterMarkers& kind : kFilterKinds)
    out = replaceBodies(out, kind.open, kind.close, [&](std::string_view body) {
      return concatTexts(kind.protectedOpen, encodeBody(body), kind.protectedClose);
    });
  return out;
}

Text restoreFilters(std::string_view text) {
  Text out(text);
  for (std::size_t k = 0; k < kFilterKinds.size(); ++k) {
    const FilterMarkers& kind = kFilterKinds[k];
    out = replaceBodies(out, kind.protectedOpen, kind.protectedClose, [&](std::string_view body) {
      // A literal body loses its markers; a filter keeps them for ApplyFilters.
      if (k == kLiteralKind) return decodeBody(body);
      return concatTexts(kind.protectedOpen, decodeBody(body), kind.protectedClose);
    });
  }
  return replaceAllText(out, kLineBreakMarker, kLineBreak, true);
}

}  // namespace varnel::query
