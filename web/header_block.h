// Header-block texts as webRequest builds and reads them, and Base64 for
// credentials.
#pragma once

#include <string_view>

#include "text/text.h"

namespace varnel {

// Each "name:value" line with its name's hyphen-separated words capitalised
// (first byte only); lines without a colon are dropped, CR LF between lines.
Text normaliseHeaderBlock(std::string_view block);
// Text before / after the first ':' of a header line, trimmed; empty without a colon.
Text headerLineName(std::string_view line);
Text headerLineValue(std::string_view line);
// The value of the first line of a CR LF block whose name is `name`, ASCII case
// ignored; empty when no line has that name.
Text headerValue(std::string_view block, std::string_view name);
// First byte upper-cased when it is an ASCII lower-case letter.
Text capitaliseFirst(std::string_view word);
// Standard Base64 with '=' padding, no line breaks; empty input gives "".
Text base64Encode(std::string_view bytes);
inline Text base64Encode(const Bytes& bytes) { return base64Encode(asView(bytes)); }

}  // namespace varnel
