// Taking an expression apart: protection of filter bodies, alternatives,
// steps, one step, one condition.
#include <cstdio>  // snprintf

#include "htmlquery/html_query.h"
#include "htmlquery/query/query_support.h"

namespace varnel {

using namespace query;

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
  return replaceAll(out, kLineBreakMarker, kLineBreak, true);
}

}  // namespace

Text HtmlQuery::TransformFilters(std::string_view text, std::optional<int> mode) const {
  if (mode == 2) return restoreFilters(text);
  return protectFilters(text);
}

std::vector<Text> HtmlQuery::SplitAlternatives(std::string_view protectedExpression) const {
  return splitNonEmpty(protectedExpression, "|");
}

std::vector<Text> HtmlQuery::SplitSteps(std::string_view protectedAlternative) const {
  std::vector<Text> steps;
  auto keep = [&](std::string_view piece) {
    Text trimmed = trimSpaces(piece);
    // A blank piece (the spaces around "|") is no step at all.
    if (!trimmed.empty()) steps.push_back(std::move(trimmed));
  };
  const std::string_view text = protectedAlternative;
  std::size_t pieceStart = 0;
  // '/' is never a trail byte, so a byte test finds every real slash.
  for (std::size_t pos = 0; pos < text.size(); pos += charLengthAt(text, pos)) {
    if (text[pos] == '/' && pos > pieceStart && text[pos - 1] != '/') {
      keep(text.substr(pieceStart, pos - pieceStart));
      pieceStart = pos;
    }
  }
  if (pieceStart < text.size()) keep(text.substr(pieceStart));
  return steps;
}

Text HtmlQuery::ParseStep(std::string_view step, StepSpec& parsed) const {
  parsed = StepSpec{};
  const Text failed(kQueryFalse);
  if (step.empty() || step[0] != '/') return failed;
  parsed.axis = step.starts_with("//") ? 1 : 2;
  std::string_view rest = step.substr(parsed.axis == 1 ? 2 : 1);
  if (!rest.empty() && (rest[0] == '/' || rest[0] == '[' || rest[0] == '{' || rest[0] == '"'))
    return failed;

  if (rest.empty() || rest[0] != '@') {
    std::size_t open = findText(rest, "[");
    if (open == std::string_view::npos) {
      parsed.name = Text(rest);
    } else {
      std::size_t close = findLastText(rest, "]");
      if (close == std::string_view::npos || close < open) return failed;
      parsed.name = Text(rest.substr(0, open));
      parsed.predicate = Text(rest.substr(open + 1, close - open - 1));
      parsed.conditions = splitNonEmpty(parsed.predicate, "\\");
    }
    return Text(kQueryTrue);
  }

  if (trimAsciiSpaces(rest).ends_with(']')) {
    std::size_t close = findLastText(rest, "]");
    std::size_t open = findLastText(rest, "[");
    if (open == std::string_view::npos || open > close) return failed;
    parsed.joiner = TransformFilters(rest.substr(open + 1, close - open - 1), 2);
    rest = rest.substr(0, open);
  }
  parsed.attributes = splitNonEmpty(rest, "&");
  parsed.isAttribute = Text(kQueryTrue);
  parsed.name = Text(rest);
  return Text(kQueryTrue);
}

ConditionSpec HtmlQuery::ParseCondition(std::string_view condition) const {
  ConditionSpec parsed;
  std::string_view text = condition;

  // keyword(inner)
  const std::string_view trimmed = trimAsciiSpaces(text);
  const std::size_t paren = findText(trimmed, "(");
  if (trimmed.ends_with(')')) {
    if (paren == std::string_view::npos) {
      parsed.malformed = true;
      return parsed;
    }
    const std::string_view word = trimAsciiSpaces(trimmed.substr(0, paren));
    for (std::size_t k = 0; k < kKeywords.size(); ++k)
      if (word == kKeywords[k]) parsed.keyword = std::to_string(k + 1);
    text = trimmed.substr(paren + 1, trimmed.size() - 1 - (paren + 1));
  } else if (paren != std::string_view::npos) {
    const std::string_view word = trimAsciiSpaces(trimmed.substr(0, paren));
    for (std::string_view keyword : kKeywords)
      if (word == keyword) {  // "max(@x" lost its ")"
        parsed.malformed = true;
        return parsed;
      }
  }

  if (isAllDigits(text) || leadingInteger(text) != 0) {
    parsed.index = Text(text);
    return parsed;
  }

  std::string_view name = text;
  std::string_view value;
  for (std::size_t k = 0; k < kOperators.size(); ++k) {
    std::size_t at = findText(text, kOperators[k]);
    if (at == std::string_view::npos) continue;
    name = text.substr(0, at);
    value = text.substr(at + kOperators[k].size());
    parsed.op = std::to_string(k + 1);
    break;
  }

  // name{filters}
  const std::size_t brace = findText(name, "{");
  if (trimAsciiSpaces(name).ends_with('}')) {
    const std::size_t close = findLastText(name, "}");
    if (brace == std::string_view::npos || brace > close) {
      parsed.malformed = true;
      return parsed;
    }
    parsed.filters = Text(name.substr(brace + 1, close - brace - 1));
    name = name.substr(0, brace);
  } else if (brace != std::string_view::npos) {
    parsed.malformed = true;  // "{" without "}"
    return parsed;
  }
  parsed.name = Text(name);

  Text unquoted(value);
  if (!unquoted.empty()) {
    unquoted = trimSpaces(unquoted);
    for (std::size_t q = 0; q < kOpeningQuotes.size(); ++q) {
      const std::string_view open = kOpeningQuotes[q], close = kClosingQuotes[q];
      if (unquoted.starts_with(open) && endsWithChar(unquoted, close) &&
          characterCount(unquoted) > 1) {
        unquoted = unquoted.substr(open.size(), unquoted.size() - open.size() - close.size());
        break;
      }
    }
  }
  parsed.value = TransformFilters(unquoted, 2);
  return parsed;
}

}  // namespace varnel
