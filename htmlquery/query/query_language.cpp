// Taking an expression apart: alternatives, steps, one step, one condition.
#include "htmlquery/html_query.h"
#include "htmlquery/query/query_step.h"
#include "htmlquery/query/query_support.h"

namespace varnel::query {

namespace {

// The "[...]" of a tag step, or the "[joiner]" and "&" list of an attribute
// step. False when the brackets do not pair.
bool cutStep(std::string_view step, Step& parsed) {
  if (step.empty() || step[0] != '/') return false;
  parsed.descendants = step.starts_with("//");
  std::string_view rest = step.substr(parsed.descendants ? 2 : 1);
  if (!rest.empty() && (rest[0] == '/' || rest[0] == '[' || rest[0] == '{' || rest[0] == '"'))
    return false;

  if (rest.empty() || rest[0] != '@') {
    std::size_t open = findText(rest, "[");
    if (open == std::string_view::npos) {
      parsed.name = Text(rest);
    } else {
      std::size_t close = findLastText(rest, "]");
      if (close == std::string_view::npos || close < open) return false;
      parsed.name = Text(rest.substr(0, open));
      parsed.predicate = Text(rest.substr(open + 1, close - open - 1));
      parsed.conditionTexts = splitNonEmpty(parsed.predicate, "\\");
    }
    return true;
  }

  if (trimAsciiSpaces(rest).ends_with(']')) {
    std::size_t close = findLastText(rest, "]");
    std::size_t open = findLastText(rest, "[");
    if (open == std::string_view::npos || open > close) return false;
    parsed.joiner = restoreFilters(rest.substr(open + 1, close - open - 1));
    rest = rest.substr(0, open);
  }
  parsed.attributeTexts = splitNonEmpty(rest, "&");
  parsed.kind = StepKind::Attributes;
  parsed.name = Text(rest);
  return true;
}

std::vector<Condition> parseConditions(const std::vector<Text>& texts, bool& malformed) {
  std::vector<Condition> out;
  out.reserve(texts.size());
  for (const Text& text : texts) {
    out.push_back(parseCondition(text));
    malformed = malformed || out.back().malformed;
  }
  return out;
}

}  // namespace

Step parseStep(std::string_view protectedStep) {
  Step parsed;
  if (!cutStep(protectedStep, parsed)) return parsed;
  parsed.parsed = true;
  if (parsed.kind == StepKind::Attributes) {
    parsed.attributes = parseConditions(parsed.attributeTexts, parsed.malformed);
  } else if (parsed.name == "..") {
    parsed.kind = StepKind::Parent;
  } else if (parsed.name == "css") {
    parsed.kind = StepKind::Css;
    parsed.selector = restoreFilters(parsed.predicate);
  } else {
    parsed.conditions = parseConditions(parsed.conditionTexts, parsed.malformed);
  }
  return parsed;
}

namespace {

// "keyword(inner)": the keyword, and `text` narrowed to the inner part.
// False when the parentheses do not pair.
bool cutKeyword(std::string_view& text, Condition& parsed) {
  const std::string_view trimmed = trimAsciiSpaces(text);
  const std::size_t paren = findText(trimmed, "(");
  if (trimmed.ends_with(')')) {
    if (paren == std::string_view::npos) return false;
    const std::string_view word = trimAsciiSpaces(trimmed.substr(0, paren));
    for (std::size_t k = 0; k < kKeywords.size(); ++k)
      if (word == kKeywords[k]) parsed.keyword = static_cast<Keyword>(k + 1);
    text = trimmed.substr(paren + 1, trimmed.size() - 1 - (paren + 1));
  } else if (paren != std::string_view::npos) {
    const std::string_view word = trimAsciiSpaces(trimmed.substr(0, paren));
    for (std::string_view keyword : kKeywords)
      if (word == keyword) return false;  // "max(@x" lost its ")"
  }
  return true;
}

// "name{filters}": the filters, and `name` narrowed to the name. False when
// the braces do not pair.
bool cutFilters(std::string_view& name, Condition& parsed) {
  const std::size_t brace = findText(name, "{");
  if (trimAsciiSpaces(name).ends_with('}')) {
    const std::size_t close = findLastText(name, "}");
    if (brace == std::string_view::npos || brace > close) return false;
    parsed.filterText = Text(name.substr(brace + 1, close - brace - 1));
    parsed.hasFilters = !parsed.filterText.empty();
    parsed.filters = parseFilters(parsed.filterText);
    name = name.substr(0, brace);
  } else if (brace != std::string_view::npos) {
    return false;  // "{" without "}"
  }
  return true;
}

Text unquote(std::string_view value) {
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
  return restoreFilters(unquoted);
}

}  // namespace

Condition parseCondition(std::string_view protectedCondition) {
  Condition parsed;
  std::string_view text = protectedCondition;
  if (!cutKeyword(text, parsed)) {
    parsed.malformed = true;
    return parsed;
  }

  if (isAllDigits(text) || leadingInteger(text) != 0) {
    parsed.hasIndex = true;
    parsed.indexText = Text(text);
    parsed.positions = parsePositions(text);
    return parsed;
  }

  std::string_view name = text;
  std::string_view value;
  for (std::size_t k = 0; k < kOperators.size(); ++k) {
    std::size_t at = findText(text, kOperators[k]);
    if (at == std::string_view::npos) continue;
    name = text.substr(0, at);
    value = text.substr(at + kOperators[k].size());
    parsed.compares = true;
    parsed.op = static_cast<Operator>(k + 1);
    break;
  }

  if (!cutFilters(name, parsed)) {
    parsed.malformed = true;
    return parsed;
  }
  parsed.name = Text(name);
  parsed.value = unquote(value);
  parsed.wanted = replaceAllText(parsed.value, kLineBreakMarker, kLineBreak, true);
  return parsed;
}

}  // namespace varnel::query

namespace varnel {

using namespace query;

// The public forms below carry texts and positions, flags as 真/假.

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
  const Step typed = parseStep(step);
  parsed = StepSpec{};
  parsed.name = typed.name;
  if (step.starts_with('/')) parsed.axis = step.starts_with("//") ? 1 : 2;
  parsed.predicate = typed.predicate;
  parsed.conditions = typed.conditionTexts;
  parsed.isAttribute = flagText(typed.kind == StepKind::Attributes);
  parsed.attributes = typed.attributeTexts;
  parsed.joiner = typed.joiner;
  return flagText(typed.parsed);
}

ConditionSpec HtmlQuery::ParseCondition(std::string_view condition) const {
  const Condition typed = parseCondition(condition);
  ConditionSpec parsed;
  if (typed.keyword != kNoKeyword) parsed.keyword = std::to_string(typed.keyword);
  parsed.index = typed.indexText;
  parsed.name = typed.name;
  if (typed.compares) parsed.op = std::to_string(typed.op);
  parsed.value = typed.value;
  parsed.filters = typed.filterText;
  parsed.malformed = typed.malformed;
  return parsed;
}

bool HtmlQuery::ExpressionParses(std::string_view expression, Text* badStep) const {
  if (badStep) badStep->clear();
  bool anyStep = false;
  for (const Text& alternative : SplitAlternatives(protectFilters(expression))) {
    for (const Text& step : SplitSteps(alternative)) {
      anyStep = true;
      const Step parsed = parseStep(step);
      if (parsed.parsed && !parsed.malformed) continue;
      if (badStep) *badStep = restoreFilters(step);
      return false;
    }
  }
  return anyStep;
}

}  // namespace varnel
