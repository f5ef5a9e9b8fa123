// Result filters: the {...} list after an attribute or condition name.
#include <optional>

#include "htmlquery/html_query.h"
#include "htmlquery/query/query_regex.h"
#include "htmlquery/query/query_step.h"
#include "htmlquery/query/query_support.h"

namespace varnel::query {

namespace {

enum class FilterKind { None, Delete, Path, Replace, Middle, Add, Trim, Regex, Format, Num };

// The kind is the first of these markers found in the (protected) item.
struct KindMarker {
  std::string_view marker;
  FilterKind kind;
  std::size_t markerKind;  // index into kFilterKinds for the body markers
};
constexpr std::array<KindMarker, 9> kKindOrder = {{
    {"%del_", FilterKind::Delete, 2},
    {"%path_", FilterKind::Path, 7},
    {"%th_", FilterKind::Replace, 3},
    {"%mid_", FilterKind::Middle, 4},
    {"%add_", FilterKind::Add, 5},
    {kTrimMarker, FilterKind::Trim, 0},
    {"%re_", FilterKind::Regex, 1},
    {"%f_", FilterKind::Format, 6},
    {kNumMarker, FilterKind::Num, 0},
}};

// Bodies between the protected markers, left to right.
std::vector<Text> collectBodies(std::string_view text, const FilterMarkers& markers) {
  std::vector<Text> bodies;
  std::size_t from = 0;
  for (std::size_t open = findText(text, markers.protectedOpen, from);
       open != std::string_view::npos; open = findText(text, markers.protectedOpen, from)) {
    const std::size_t start = open + markers.protectedOpen.size();
    const std::size_t close = findText(text, markers.protectedClose, start);
    if (close == std::string_view::npos) break;
    bodies.emplace_back(text.substr(start, close - start));
    from = close + markers.protectedClose.size();
  }
  return bodies;
}

// Cut at "," keeping empty parts ("<b>," is a left marker and "to the end").
std::vector<Text> cutKeepingEmpty(std::string_view body) {
  std::vector<Text> parts;
  std::size_t start = 0;
  for (std::size_t comma = findText(body, ","); comma != std::string_view::npos;
       comma = findText(body, ",", start)) {
    parts.emplace_back(body.substr(start, comma - start));
    start = comma + 1;
  }
  parts.emplace_back(body.substr(start));
  return parts;
}

Text middleOf(std::string_view value, std::string_view left, std::string_view right,
              bool rightFromEnd) {
  std::size_t begin = 0;
  if (!left.empty()) {
    const std::size_t at = findText(value, left);
    if (at == std::string_view::npos) return {};
    begin = at + left.size();
  }
  std::size_t end = value.size();
  if (!right.empty()) {
    end = rightFromEnd ? findLastText(value, right) : findText(value, right, begin);
    if (end == std::string_view::npos || end < begin) return {};
  }
  return Text(value.substr(begin, end - begin));
}

// A pattern that does not compile, or cannot run within Boost's limits,
// leaves the value as it was.
Text firstMatch(const Text& value, const Text& pattern) {
  std::string match;
  switch (searchFirst(value, pattern, match)) {
    case RegexSearch::Found:
      return match;
    case RegexSearch::NotFound:
      return {};
    case RegexSearch::Unusable:
      break;
  }
  return value;
}

Text removeFirst(std::string_view value, std::string_view piece) {
  const std::size_t at = findText(value, piece, 0, true);
  if (at == std::string_view::npos) return Text(value);
  return concatTexts(value.substr(0, at), value.substr(at + piece.size()));
}

// One body of a filter item, its arguments restored; nothing when the body
// cannot change a value (an empty piece or expression, a missing argument).
std::optional<Filter> parseBody(FilterKind kind, const Text& rawBody) {
  Filter filter;
  switch (kind) {
    case FilterKind::Delete:
    case FilterKind::Path:
      filter.action = kind == FilterKind::Delete ? FilterAction::Delete : FilterAction::Path;
      filter.first = restoreFilters(rawBody);
      if (filter.first.empty()) return std::nullopt;
      return filter;
    case FilterKind::Replace: {
      const std::vector<Text> parts = splitNonEmpty(rawBody, ",");
      if (parts.size() < 2) return std::nullopt;
      filter.action = FilterAction::Replace;
      filter.first = restoreFilters(parts[0]);
      filter.second = restoreFilters(parts[1]);
      return filter;
    }
    case FilterKind::Middle:
    case FilterKind::Add: {
      const std::vector<Text> parts = cutKeepingEmpty(rawBody);
      if (parts.size() < 2) return std::nullopt;
      filter.action = kind == FilterKind::Middle ? FilterAction::Middle : FilterAction::Add;
      filter.first = restoreFilters(parts[0]);
      filter.second = restoreFilters(parts[1]);
      filter.fromEnd =
          kind == FilterKind::Middle && parts.size() > 2 && restoreFilters(parts[2]) == "1";
      return filter;
    }
    case FilterKind::Regex:
      filter.action = FilterAction::Regex;
      filter.first = restoreFilters(rawBody);
      return filter;
    case FilterKind::Format:
      filter.action = FilterAction::Format;
      filter.parts = splitNonEmpty(restoreFilters(rawBody), kFormatPlaceholder);
      return filter;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::vector<Filter> parseFilters(std::string_view protectedFilters) {
  std::vector<Filter> filters;
  for (const Text& item : splitNonEmpty(protectedFilters, ",")) {
    const KindMarker* kind = nullptr;
    for (const KindMarker& candidate : kKindOrder)
      if (findText(item, candidate.marker) != std::string_view::npos) {
        kind = &candidate;
        break;
      }
    if (kind == nullptr) continue;
    if (kind->kind == FilterKind::Trim) {
      Filter trim;
      trim.action = FilterAction::Trim;
      filters.push_back(std::move(trim));
      continue;
    }
    // "%num%" has no effect: what it would cut is not settled, and a filter
    // that guesses would silently change values.
    if (kind->kind == FilterKind::Num) continue;

    const Text restoredItem = restoreFilters(item);
    for (const Text& rawBody : collectBodies(restoredItem, kFilterKinds[kind->markerKind]))
      if (std::optional<Filter> filter = parseBody(kind->kind, rawBody))
        filters.push_back(std::move(*filter));
  }
  return filters;
}

}  // namespace varnel::query

namespace varnel {

using namespace query;

bool HtmlQuery::applyFilters(std::string_view value, const std::vector<Filter>& filters,
                             Text& result) {
  Text current(value);
  for (const Filter& filter : filters) {
    switch (filter.action) {
      case FilterAction::Trim:
        current = Text(trimAsciiSpaces(current));
        break;
      case FilterAction::Delete:
        current = replaceAllText(current, filter.first, "", true);
        break;
      case FilterAction::Path: {
        std::vector<Text> found;
        if (pathDepth_ < kMaxPathDepth) {
          ++pathDepth_;
          QueryHtml(current, filter.first, found);
          --pathDepth_;
        }
        current = found.empty() ? Text() : std::move(found.front());
        break;
      }
      case FilterAction::Replace:
        current = replaceAllText(current, filter.first, filter.second, true);
        break;
      case FilterAction::Middle:
        current = middleOf(current, filter.first, filter.second, filter.fromEnd);
        break;
      case FilterAction::Add:
        current = concatTexts(filter.first, current, filter.second);
        break;
      case FilterAction::Regex:
        current = firstMatch(current, filter.first);
        break;
      case FilterAction::Format:
        for (const Text& piece : filter.parts) current = removeFirst(current, piece);
        break;
    }
  }
  result = std::move(current);
  return !result.empty();
}

bool HtmlQuery::ApplyFilters(std::string_view value, std::string_view filters, Text& result) {
  return applyFilters(value, parseFilters(filters), result);
}

}  // namespace varnel
