// Result filters: the {...} list after an attribute or condition name.
#include <array>
#include <optional>

#include "htmlquery/html_query.h"
#include "htmlquery/query/query_regex.h"
#include "htmlquery/query/query_step.h"
#include "htmlquery/query/query_support.h"

namespace varnel::query {

namespace {

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

// Readers of one body of a filter item: the filter with its arguments
// restored, or nothing when the body cannot change a value (an empty piece or
// expression, a missing argument).
using BodyReader = std::optional<Filter> (*)(FilterAction action, const Text& rawBody);

// %del% %path%: the whole body, never empty.
std::optional<Filter> readWholeBody(FilterAction action, const Text& rawBody) {
  Filter filter{.action = action, .first = restoreFilters(rawBody)};
  if (filter.first.empty()) return std::nullopt;
  return filter;
}

// %re%: the whole body; an empty pattern matches the empty text.
std::optional<Filter> readPattern(FilterAction action, const Text& rawBody) {
  return Filter{.action = action, .first = restoreFilters(rawBody)};
}

// %th%: "piece,replacement", empty parts dropped.
std::optional<Filter> readReplacement(FilterAction action, const Text& rawBody) {
  const std::vector<Text> parts = splitNonEmpty(rawBody, ",");
  if (parts.size() < 2) return std::nullopt;
  return Filter{
      .action = action, .first = restoreFilters(parts[0]), .second = restoreFilters(parts[1])};
}

// %add%: "before,after", either may be empty.
std::optional<Filter> readSurroundings(FilterAction action, const Text& rawBody) {
  const std::vector<Text> parts = cutKeepingEmpty(rawBody);
  if (parts.size() < 2) return std::nullopt;
  return Filter{
      .action = action, .first = restoreFilters(parts[0]), .second = restoreFilters(parts[1])};
}

// %mid%: "left,right" and, when a third part is "1", the right marker
// searched from the end.
std::optional<Filter> readMiddle(FilterAction action, const Text& rawBody) {
  const std::vector<Text> parts = cutKeepingEmpty(rawBody);
  if (parts.size() < 2) return std::nullopt;
  return Filter{.action = action,
                .first = restoreFilters(parts[0]),
                .second = restoreFilters(parts[1]),
                .fromEnd = parts.size() > 2 && restoreFilters(parts[2]) == "1"};
}

// %f%: the texts around each %text%.
std::optional<Filter> readFormat(FilterAction action, const Text& rawBody) {
  return Filter{.action = action,
                .parts = splitNonEmpty(restoreFilters(rawBody), kFormatPlaceholder)};
}

// The table below is built at compile time: a name without markers stops the
// build there (a throw is no constant expression).
constexpr const FilterMarkers* markersOpenedBy(std::string_view protectedOpen) {
  for (const FilterMarkers& markers : kFilterKinds)
    if (markers.protectedOpen == protectedOpen) return &markers;
  throw "a filter with bodies names markers of kFilterKinds";
}

// One filter kind: the marker that names it in a protected item, the markers
// around its bodies (none for a filter without body), what it does (none:
// known, and without effect) and how a body is read.
struct FilterKind {
  std::string_view marker;
  const FilterMarkers* bodies = nullptr;
  std::optional<FilterAction> action{};
  BodyReader read = nullptr;
};

constexpr FilterKind withBodies(std::string_view protectedOpen, FilterAction action,
                                BodyReader read) {
  return {protectedOpen, markersOpenedBy(protectedOpen), action, read};
}

// An item is of the first kind whose marker it holds, in this order.
constexpr std::array<FilterKind, 9> kFilterTable = {{
    withBodies("%del_", FilterAction::Delete, readWholeBody),
    withBodies("%path_", FilterAction::Path, readWholeBody),
    withBodies("%th_", FilterAction::Replace, readReplacement),
    withBodies("%mid_", FilterAction::Middle, readMiddle),
    withBodies("%add_", FilterAction::Add, readSurroundings),
    {kTrimMarker, nullptr, FilterAction::Trim},
    withBodies("%re_", FilterAction::Regex, readPattern),
    withBodies("%f_", FilterAction::Format, readFormat),
    // "%num%" has no effect: what it would cut is not settled, and a filter
    // that guesses would silently change values.
    {kNumMarker},
}};

const FilterKind* kindOf(std::string_view item) {
  for (const FilterKind& kind : kFilterTable)
    if (findText(item, kind.marker) != std::string_view::npos) return &kind;
  return nullptr;
}

}  // namespace

std::vector<Filter> parseFilters(std::string_view protectedFilters) {
  std::vector<Filter> filters;
  for (const Text& item : splitNonEmpty(protectedFilters, ",")) {
    const FilterKind* kind = kindOf(item);
    if (kind == nullptr || !kind->action) continue;
    if (kind->bodies == nullptr) {
      filters.push_back(Filter{.action = *kind->action});
      continue;
    }
    for (const Text& rawBody : collectBodies(restoreFilters(item), *kind->bodies))
      if (std::optional<Filter> filter = kind->read(*kind->action, rawBody))
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
