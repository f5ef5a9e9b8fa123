// Result filters: the {...} list after an attribute or condition name.
#include <boost/regex.hpp>

#include "htmlquery/html_query.h"
#include "htmlquery/query/query_support.h"

namespace varnel {

using namespace query;

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
  // An attribute step applies the same pattern to every node: compile once.
  thread_local Text cachedPattern;
  thread_local boost::regex cached;
  thread_local bool cachedValid = false;
  try {
    if (!cachedValid || cachedPattern != pattern) {
      cachedValid = false;
      cached.assign(pattern, boost::regex::perl | boost::regex::no_except);
      cachedPattern = pattern;
      cachedValid = true;
    }
    const boost::regex& re = cached;
    if (re.status() != 0) return value;
    boost::smatch found;
    if (!boost::regex_search(value, found, re, boost::match_not_dot_newline)) return {};
    return found.str();
  } catch (const std::exception&) {
    return value;
  }
}

Text removeFirst(std::string_view value, std::string_view piece) {
  const std::size_t at = findText(value, piece, 0, true);
  if (at == std::string_view::npos) return Text(value);
  return concatTexts(value.substr(0, at), value.substr(at + piece.size()));
}

}  // namespace

bool HtmlQuery::ApplyFilters(std::string_view value, std::string_view filters, Text& result) {
  Text current(value);
  for (const Text& item : splitNonEmpty(filters, ",")) {
    const KindMarker* kind = nullptr;
    for (const KindMarker& candidate : kKindOrder)
      if (findText(item, candidate.marker) != std::string_view::npos) {
        kind = &candidate;
        break;
      }
    if (kind == nullptr) continue;
    if (kind->kind == FilterKind::Trim) {
      current = Text(trimAsciiSpaces(current));
      continue;
    }
    // "%num%" has no effect: what it would cut is not settled, and a filter
    // that guesses would silently change values.
    if (kind->kind == FilterKind::Num) continue;

    const Text restoredItem = TransformFilters(item, 2);
    for (const Text& rawBody : collectBodies(restoredItem, kFilterKinds[kind->markerKind])) {
      switch (kind->kind) {
        case FilterKind::Delete: {
          const Text piece = TransformFilters(rawBody, 2);
          if (!piece.empty()) current = replaceAll(current, piece, "", true);
          break;
        }
        case FilterKind::Path: {
          const Text expression = TransformFilters(rawBody, 2);
          if (expression.empty()) break;
          std::vector<Text> found;
          if (pathDepth_ < kMaxPathDepth) {
            ++pathDepth_;
            QueryHtml(current, expression, found);
            --pathDepth_;
          }
          current = found.empty() ? Text() : std::move(found.front());
          break;
        }
        case FilterKind::Replace: {
          std::vector<Text> parts = splitNonEmpty(rawBody, ",");
          if (parts.size() < 2) break;
          current = replaceAll(current, TransformFilters(parts[0], 2),
                               TransformFilters(parts[1], 2), true);
          break;
        }
        case FilterKind::Middle: {
          std::vector<Text> parts = cutKeepingEmpty(rawBody);
          if (parts.size() < 2) break;
          const bool fromEnd = parts.size() > 2 && TransformFilters(parts[2], 2) == "1";
          current = middleOf(current, TransformFilters(parts[0], 2), TransformFilters(parts[1], 2),
                             fromEnd);
          break;
        }
        case FilterKind::Add: {
          std::vector<Text> parts = cutKeepingEmpty(rawBody);
          if (parts.size() < 2) break;
          current =
              concatTexts(TransformFilters(parts[0], 2), current, TransformFilters(parts[1], 2));
          break;
        }
        case FilterKind::Regex:
          current = firstMatch(current, TransformFilters(rawBody, 2));
          break;
        case FilterKind::Format:
          for (const Text& piece : splitNonEmpty(TransformFilters(rawBody, 2), kFormatPlaceholder))
            current = removeFirst(current, piece);
          break;
        default:
          break;
      }
    }
  }
  result = std::move(current);
  return !result.empty();
}

}  // namespace varnel
