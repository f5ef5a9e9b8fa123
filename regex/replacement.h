// Inside the regex folder only: building the result of RegexObject::replace.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "regex/wide_regex.h"

namespace varnel::regex_detail {

// `subject` with every match of `matches` replaced by `replacement`, its $
// references expanded against that match (see RegexObject::replace).
std::u16string replaceMatches(std::u16string_view subject, const std::vector<MatchSpans>& matches,
                              std::u16string_view replacement);

}  // namespace varnel::regex_detail
