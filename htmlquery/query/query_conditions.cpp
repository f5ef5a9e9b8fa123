// Condition filtering: one condition of a predicate turns the flags left by
// the earlier ones into new flags.
#include <cstdlib>  // llabs

#include "htmlquery/html_query.h"
#include "htmlquery/query/query_step.h"
#include "htmlquery/query/query_support.h"

namespace varnel::query {

Positions parsePositions(std::string_view index) {
  Positions positions;
  if (findText(index, "~") == std::string_view::npos) {
    positions.first = leadingInteger(index);
    return positions;
  }
  // A range needs exactly two integer bounds.
  positions.range = true;
  const std::vector<Text> bounds = splitNonEmpty(index, "~");
  positions.valid = bounds.size() == 2 && readWholeInteger(bounds[0], positions.first) &&
                    readWholeInteger(bounds[1], positions.last);
  return positions;
}

namespace {

// Positions 1..total selected. A negative bound counts from the end.
std::vector<bool> selectPositions(const Positions& positions, std::size_t total) {
  std::vector<bool> selected(total + 1, false);  // 1-based
  const long long count = static_cast<long long>(total);
  auto fromEnd = [&](long long x) { return x < 0 ? count - std::llabs(x) + 1 : x; };
  if (positions.range) {
    if (!positions.valid) return selected;
    long long a = fromEnd(positions.first);
    long long b = fromEnd(positions.last);
    if (a > b) std::swap(a, b);
    for (long long i = std::max(1LL, a); i <= std::min(count, b); ++i) selected[i] = true;
    return selected;
  }
  const long long n = fromEnd(positions.first);
  if (n >= 1 && n <= count) selected[n] = true;
  return selected;
}

bool compareNumbers(const Text& left, const Text& right, int op) {
  if (!isAllDigits(left) || !isAllDigits(right)) return false;
  const int c = compareDigitStrings(left, right);
  switch (op) {
    case kAtLeast:
      return c >= 0;
    case kAtMost:
      return c <= 0;
    case kGreater:
      return c > 0;
    case kLess:
      return c < 0;
  }
  return false;
}

}  // namespace

}  // namespace varnel::query

namespace varnel {

using namespace query;

namespace {

int positionOf(std::string_view text) {
  long long value = 0;
  return readWholeInteger(text, value) && value > 0 && value < 100 ? static_cast<int>(value) : 0;
}

// A hand-written ConditionSpec in the typed form. Positions outside the
// tables stay "none" (and an unknown operator compares as false).
Condition typedCondition(const ConditionSpec& written) {
  Condition condition;
  const int keyword = positionOf(written.keyword);
  if (keyword >= kAnd && keyword <= kMin) condition.keyword = static_cast<Keyword>(keyword);
  condition.hasIndex = !written.index.empty();
  condition.indexText = written.index;
  condition.positions = parsePositions(written.index);
  condition.name = written.name;
  condition.compares = !written.op.empty();
  const int op = positionOf(written.op);
  if (op >= kNotEqual && op <= kEqual) condition.op = static_cast<Operator>(op);
  condition.value = written.value;
  condition.wanted = replaceAllText(written.value, kLineBreakMarker, kLineBreak, true);
  condition.filterText = written.filters;
  condition.hasFilters = !written.filters.empty();
  condition.filters = parseFilters(written.filters);
  condition.malformed = written.malformed;
  return condition;
}

}  // namespace

std::vector<bool> HtmlQuery::FilterByCondition(const std::vector<HtmlDocument>& candidates,
                                               const std::vector<bool>& previousFlags,
                                               const ConditionSpec& condition) {
  return filterByCondition(candidates, previousFlags, typedCondition(condition));
}

namespace {

// Index conditions: and(n) / or(n) count among all candidates; a bare index
// picks among the candidates still selected, and counts from the end of
// those (so [@x='1']\-1 is the last one whose x is 1).
std::vector<bool> positionFlags(const Condition& condition, const std::vector<bool>& previous) {
  const std::size_t count = previous.size();
  std::vector<bool> cur(count, false);
  if (condition.keyword == kAnd || condition.keyword == kOr) {
    const std::vector<bool> selected = selectPositions(condition.positions, count);
    for (std::size_t i = 0; i < count; ++i) cur[i] = selected[i + 1];
    return cur;
  }
  std::size_t flagged = 0;
  for (bool f : previous) flagged += f ? 1 : 0;
  const std::vector<bool> selected = selectPositions(condition.positions, flagged);
  std::size_t rank = 0;
  for (std::size_t i = 0; i < count; ++i)
    if (previous[i]) cur[i] = selected[++rank];
  return cur;
}

bool comparisonHolds(const Condition& condition, const Text& v, bool present) {
  const Text& wanted = condition.wanted;
  switch (condition.op) {
    case kNotEqual:
      return v != wanted;
    case kEqual:
      return v == wanted;
    case kContains:
      return !wanted.empty() && findText(v, wanted) != std::string_view::npos;
    case kNotContains:
      return wanted.empty() || findText(v, wanted) == std::string_view::npos;
    case kAtLeast:
    case kAtMost:
    case kGreater:
    case kLess:
      return present && compareNumbers(v, wanted, condition.op);
    default:
      return false;
  }
}

// max() / min(): the candidates still selected whose numeric value is the
// largest / smallest; ties all stay.
std::vector<bool> extremeFlags(bool largest, const std::vector<Text>& values,
                               const std::vector<bool>& present,
                               const std::vector<bool>& previous) {
  std::vector<bool> result(values.size(), false);
  const Text* best = nullptr;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!isAllDigits(values[i]) || !present[i] || !previous[i]) continue;
    if (best == nullptr || values[i] == *best) {
      best = &values[i];
      result[i] = true;
      continue;
    }
    const int c = compareDigitStrings(values[i], *best);
    if (largest ? c > 0 : c < 0) {
      std::fill(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(i), false);
      best = &values[i];
      result[i] = true;
    }
  }
  return result;
}

}  // namespace

std::vector<bool> HtmlQuery::filterByCondition(const std::vector<HtmlDocument>& candidates,
                                               const std::vector<bool>& previousFlags,
                                               const Condition& condition) {
  const std::size_t count = candidates.size();
  const std::vector<bool> previous =
      previousFlags.size() == count ? previousFlags : std::vector<bool>(count, true);
  // No keyword acts as "and".
  const Keyword keyword = condition.keyword == kNoKeyword ? kAnd : condition.keyword;

  // The values are read only where the keyword or the comparison uses them.
  const bool usesCur = keyword == kAnd || keyword == kOr;
  const bool needsValues = keyword == kMax || keyword == kMin || (usesCur && !condition.hasIndex);
  std::vector<Text> values(count);
  std::vector<bool> present(count, false);
  if (needsValues)
    for (std::size_t i = 0; i < count; ++i) {
      present[i] = ReadAttribute(candidates[i], condition.name, values[i]);
      if (condition.hasFilters) {
        Text filtered;
        present[i] = applyFilters(values[i], condition.filters, filtered);
        values[i] = std::move(filtered);
      }
    }

  std::vector<bool> cur(count, false);
  if (condition.hasIndex) {
    cur = positionFlags(condition, previous);
  } else if (!condition.compares) {
    cur = present;
  } else {
    for (std::size_t i = 0; i < count; ++i)
      cur[i] = comparisonHolds(condition, values[i], present[i]);
  }

  std::vector<bool> result(count, false);
  switch (keyword) {
    case kOr:
      for (std::size_t i = 0; i < count; ++i) result[i] = previous[i] || cur[i];
      break;
    case kRev:
      for (std::size_t i = 0; i < count; ++i) result[i] = !previous[i];
      break;
    case kOdd:
    case kEven:
      for (std::size_t i = 0; i < count; ++i)
        result[i] = previous[i] && ((i + 1) % 2 == (keyword == kOdd ? 1 : 0));
      break;
    case kMax:
    case kMin:
      result = extremeFlags(keyword == kMax, values, present, previous);
      break;
    default:  // and
      for (std::size_t i = 0; i < count; ++i) result[i] = previous[i] && cur[i];
  }
  return result;
}

}  // namespace varnel
