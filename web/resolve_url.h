// Links as a site writes them ("/list/1.html", "list/1.html", "../list/1.html",
// "http://other.host/list/1.html") made absolute against the page they were read
// from, the way a browser does (RFC 3986, through libcurl's URL parser).
#pragma once

#include <string_view>

#include "text/text.h"

namespace varnel {

// `base` and `reference` are code page 936 text, as the result is. An empty
// reference gives the base itself; a base or reference libcurl cannot parse
// gives the empty text, so a caller never fetches a glued-together address.
Text resolveUrl(std::string_view base, std::string_view reference);

}  // namespace varnel
