// Cookie jar rules on code page 936 text: picking the cookies out of response
// headers and merging them into the jar a caller keeps in one line of text.
// Pure functions; searches step over double-byte characters as units, so a
// marker never matches from the second byte of a character. Every input,
// empty text included, has a defined result (usually the empty text).
#pragma once

#include <string_view>

#include "text/text.h"

namespace varnel {

// "name=value" of every "Set-Cookie" line (name compared exactly), attributes
// dropped, joined with "; ". No such line: "".
Text collectSetCookies(std::string_view responseHeaders);

// The received items first, then the old items whose names were not received;
// items ending in "=deleted" are dropped and exact repeats removed.
// `cookies` is in/out: it holds the merged jar afterwards; the result is a copy.
Text mergeCookieText(Text& cookies, std::string_view received);

// Text before the first '=' of a cookie item, trimmed; the whole item trimmed
// when it has no '='.
Text cookieName(std::string_view item);

// Items (split on `separator`, a trailing empty piece dropped) without exact
// repeats, first occurrence kept, order preserved. An empty separator returns
// the text unchanged.
Text dedupeList(std::string_view text, std::string_view separator);

// Text before the first `marker` found from the 1-based byte position `start`
// (0 counts as 1); "" when not found or `start` is past the end. A negative
// `start` searches backwards and takes the last occurrence that starts at or
// before position length+1 (for -1) or length-k+1 (for -k, k >= 2).
// `ignoreCase` folds ASCII letters only.
Text textLeftOf(std::string_view text, std::string_view marker, int start = 1,
                bool ignoreCase = false);

// Text between the first `left` found from the 1-based position `start` and the
// next `right` after it; "" when either is missing. In both markers the token
// "#引号" stands for a double quote. `start` below 1 counts as 1.
Text textBetween(std::string_view text, std::string_view left, std::string_view right,
                 int start = 1, bool ignoreCase = false);

}  // namespace varnel
