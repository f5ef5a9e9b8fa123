// Condition filtering: one condition of a predicate turns the flags left by
// the earlier ones into new flags.
#include <cstdlib>  // llabs

#include "htmlquery/html_query.h"
#include "htmlquery/query/query_support.h"

namespace varnel {

using namespace query;

namespace {

int positionOf(std::string_view text) {
  long long value = 0;
  return readWholeInteger(text, value) && value > 0 && value < 100 ? static_cast<int>(value) : 0;
}

// Positions 1..total selected by an index or a range. A negative index counts
// from the end; a range needs exactly two integer bounds.
std::vector<bool> selectPositions(std::string_view index, std::size_t total) {
  std::vector<bool> selected(total + 1, false);  // 1-based
  const long long count = static_cast<long long>(total);
  auto fromEnd = [&](long long x) { return x < 0 ? count - std::llabs(x) + 1 : x; };
  if (findText(index, "~") != std::string_view::npos) {
    const std::vector<Text> bounds = splitNonEmpty(index, "~");
    long long a = 0, b = 0;
    if (bounds.size() != 2 || !readWholeInteger(bounds[0], a) || !readWholeInteger(bounds[1], b))
      return selected;
    a = fromEnd(a);
    b = fromEnd(b);
    if (a > b) std::swap(a, b);
    for (long long i = std::max(1LL, a); i <= std::min(count, b); ++i) selected[i] = true;
    return selected;
  }
  const long long n = fromEnd(leadingInteger(index));
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

std::vector<bool> HtmlQuery::FilterByCondition(const std::vector<HtmlDocument>& candidates,
                                               const std::vector<bool>& previousFlags,
                                               const ConditionSpec& condition) {
  const std::size_t count = candidates.size();
  const std::vector<bool> previous =
      previousFlags.size() == count ? previousFlags : std::vector<bool>(count, true);
  const Text wanted = replaceAll(condition.value, kLineBreakMarker, kLineBreak, true);
  const int written = positionOf(condition.keyword);
  // No keyword and unknown positions act as "and".
  const int keyword = written >= kOr && written <= kMin ? written : kAnd;
  const int op = positionOf(condition.op);

  // The values are read only where the keyword or the comparison uses them.
  const bool usesCur = keyword == kAnd || keyword == kOr;
  const bool needsValues =
      keyword == kMax || keyword == kMin || (usesCur && condition.index.empty());
  std::vector<Text> values(count);
  std::vector<bool> present(count, false);
  if (needsValues)
    for (std::size_t i = 0; i < count; ++i) {
      present[i] = ReadAttribute(candidates[i], condition.name, values[i]);
      if (!condition.filters.empty()) {
        Text filtered;
        present[i] = ApplyFilters(values[i], condition.filters, filtered);
        values[i] = std::move(filtered);
      }
    }

  std::vector<bool> cur(count, false);
  if (condition.index.empty() && condition.op.empty()) {
    cur = present;
  } else if (!condition.index.empty()) {
    if (written == kAnd || written == kOr) {
      // and(n) / or(n): the position among all candidates.
      const std::vector<bool> selected = selectPositions(condition.index, count);
      for (std::size_t i = 0; i < count; ++i) cur[i] = selected[i + 1];
    } else {
      // A bare index picks among the candidates still selected, and counts
      // from the end of those (so [@x='1']\-1 is the last one whose x is 1).
      std::size_t flagged = 0;
      for (bool f : previous) flagged += f ? 1 : 0;
      const std::vector<bool> selected = selectPositions(condition.index, flagged);
      std::size_t rank = 0;
      for (std::size_t i = 0; i < count; ++i)
        if (previous[i]) cur[i] = selected[++rank];
    }
  } else {
    const bool emptyWanted = wanted.empty();
    for (std::size_t i = 0; i < count; ++i) {
      const Text& v = values[i];
      switch (op) {
        case kNotEqual:
          cur[i] = v != wanted;
          break;
        case kEqual:
          cur[i] = v == wanted;
          break;
        case kContains:
          cur[i] = !emptyWanted && findText(v, wanted) != std::string_view::npos;
          break;
        case kNotContains:
          cur[i] = emptyWanted || findText(v, wanted) == std::string_view::npos;
          break;
        case kAtLeast:
        case kAtMost:
        case kGreater:
        case kLess:
          cur[i] = present[i] && compareNumbers(v, wanted, op);
          break;
        default:
          cur[i] = false;
      }
    }
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
    case kMin: {
      const Text* best = nullptr;
      for (std::size_t i = 0; i < count; ++i) {
        if (!isAllDigits(values[i]) || !present[i] || !previous[i]) continue;
        if (best == nullptr || values[i] == *best) {
          best = &values[i];
          result[i] = true;
          continue;
        }
        const int c = compareDigitStrings(values[i], *best);
        if (keyword == kMax ? c > 0 : c < 0) {
          std::fill(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(i), false);
          best = &values[i];
          result[i] = true;
        }
      }
      break;
    }
    default:  // and, no keyword, unknown positions
      for (std::size_t i = 0; i < count; ++i) result[i] = previous[i] && cur[i];
  }
  return result;
}

}  // namespace varnel
