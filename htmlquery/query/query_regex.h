// The one place the path language runs a regular expression: %re[ ]re%
// filters and the markup search behind "@@@name".
#pragma once

#include <string>
#include <string_view>

namespace varnel::query {

enum class RegexSearch {
  Found,     // `match` holds the first match
  NotFound,  // the pattern compiled and matches nowhere
  Unusable,  // the pattern does not compile, or the search ran past Boost's limits
};

// First match of `pattern` (Perl syntax; "." never matches a line break) in
// `subject`. The last few patterns stay compiled, since a step applies the
// same ones to every node.
RegexSearch searchFirst(std::string_view subject, const std::string& pattern, std::string& match);

}  // namespace varnel::query
