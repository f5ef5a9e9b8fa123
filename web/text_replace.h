// Replacing every occurrence of a marker in code page 936 text; internal to web/.
#pragma once

#include <string_view>

#include "text/text.h"

namespace varnel {

// `text` with every occurrence of `needle` (found only where a character
// starts) replaced by `replacement`, scanning left to right without rescanning
// inserted text. An empty needle leaves the text unchanged.
Text replaceAllText(std::string_view text, std::string_view needle, std::string_view replacement,
                    bool ignoreAsciiCase = false);

// The first character start at or after byte `pos` (text.size() at most).
std::size_t alignToCharStart(std::string_view text, std::size_t pos);

}  // namespace varnel
