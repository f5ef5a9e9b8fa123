#include "web/cookies.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

const Text kFullWidthSpace = "\xA1\xA1";
const Text kQuoteToken = "#\xD2\xFD\xBA\xC5";  // "#引号" in code page 936
// A double-byte character whose second byte is 'a': a marker "ab" must not
// match from inside it.
const Text kCharEndingInA = "\x81\x61";

TEST(CollectSetCookies, PicksNameValueOfEverySetCookieLine) {
  struct Case {
    const char* why;
    Text headers;
    Text expected;
  };
  const Case cases[] = {
      {"no Set-Cookie line", "Content-Type: text/html\r\nContent-Length: 3", ""},
      {"empty headers", "", ""},
      {"attributes are dropped, lines joined",
       "Set-Cookie: a=1; path=/\r\nContent-Type: x\r\nSet-Cookie: b=2", "a=1; b=2"},
      {"a line without ';'", "Set-Cookie: a=1", "a=1"},
      {"the name compares exactly", "set-cookie: a=1\r\nSET-COOKIE: b=2", ""},
      {"a name not followed by ': ' does not count", "Set-Cookie:a=1", ""},
      {"an empty value still takes its place", "Set-Cookie: ; path=/\r\nSet-Cookie: b=2", "; b=2"},
      {"full-width spaces around the value are trimmed",
       "Set-Cookie: " + kFullWidthSpace + "a=1" + kFullWidthSpace + "; path=/", "a=1"},
      {"expiry with a comma stays out", "Set-Cookie: id=9; Expires=Wed, 21 Oct 2015 07:28:00 GMT",
       "id=9"},
  };
  for (const Case& c : cases) EXPECT_EQ(collectSetCookies(c.headers), c.expected) << c.why;
}

TEST(MergeCookieText, NewValuesFirstOldOnesKeptDeletionsDropped) {
  struct Case {
    const char* why;
    Text cookies;
    Text received;
    Text expected;
  };
  const Case cases[] = {
      {"new replaces old of the same name, untouched old ones follow", "a=1; b=2", "b=3; c=4",
       "b=3; c=4; a=1"},
      {"a trailing ';' leaves no empty item", "a=1;", "", "a=1"},
      {"the server deletes a", "a=1; b=2", "a=deleted", "b=2"},
      {"both empty", "", "", ""},
      {"only received", "", "x=1", "x=1"},
      {"spaces around the jar are trimmed", "  a=1 " + kFullWidthSpace, "", "a=1"},
      {"names compare case-sensitively", "A=1", "a=2", "a=2; A=1"},
      {"names are trimmed before comparing", "a=1", "a =2", "a =2"},
      {"a repeated received item appears once", "", "x=1; x=1", "x=1"},
      {"same name twice in received: both kept, old one hidden", "x=0", "x=1; x=2", "x=1; x=2"},
      {"an item without '=' is named by itself", "flag; a=1", "flag", "flag; a=1"},
      {"deleting a cookie the jar never had", "a=1", "z=deleted", "a=1"},
      {"the marker must be at the end", "a=1", "b=deleted1", "b=deleted1; a=1"},
  };
  for (const Case& c : cases) {
    Text jar = c.cookies;
    EXPECT_EQ(mergeCookieText(jar, c.received), c.expected) << c.why;
    EXPECT_EQ(jar, c.expected) << "the jar holds the result too: " << c.why;
  }
}

TEST(CookieName, IsTheTrimmedTextBeforeTheFirstEquals) {
  EXPECT_EQ(cookieName("a=1"), "a");
  EXPECT_EQ(cookieName(" a =1=2"), "a");
  EXPECT_EQ(cookieName(" flag "), "flag");
  EXPECT_EQ(cookieName("=v"), "");
  EXPECT_EQ(cookieName(""), "");
}

TEST(DedupeList, DropsExactRepeatsOnly) {
  struct Case {
    const char* why;
    Text text;
    Text separator;
    Text expected;
  };
  const Case cases[] = {
      {"repeat goes, order kept", "x; y; x", "; ", "x; y"},
      {"same name, other value: both stay", "a=1; a=2", "; ", "a=1; a=2"},
      {"a trailing separator leaves no item", "x; y; ", "; ", "x; y"},
      {"inner empty items count once", "x; ; ; y", "; ", "x; ; y"},
      {"empty text", "", "; ", ""},
      {"other separators", "1,2,1,3", ",", "1,2,3"},
      {"case matters", "X; x", "; ", "X; x"},
      {"empty separator leaves the text alone", "aa", "", "aa"},
  };
  for (const Case& c : cases) EXPECT_EQ(dedupeList(c.text, c.separator), c.expected) << c.why;
}

TEST(TextLeftOf, ReturnsTheTextBeforeTheMarker) {
  struct Case {
    const char* why;
    Text text;
    Text marker;
    int start;
    bool ignoreCase;
    Text expected;
  };
  const Case cases[] = {
      {"first occurrence", "Set-Cookie: a: b", ": ", 1, false, "Set-Cookie"},
      {"not found", "abc", "x", 1, false, ""},
      {"0 counts as 1", "a:b", ":", 0, false, "a"},
      {"start skips an earlier occurrence", "a:b:c", ":", 3, false, "a:b"},
      {"start on the marker itself", "a:b", ":", 2, false, "a"},
      {"start past the end", "a:b", ":", 10, false, ""},
      {"case folded on request", "xxABC", "abc", 1, true, "xx"},
      {"case kept by default", "xxABC", "abc", 1, false, ""},
      {"never from the second byte of a character", kCharEndingInA + "b", "ab", 1, false, ""},
      {"a whole character matches", "x" + kCharEndingInA + "b", kCharEndingInA, 1, false, "x"},
      {"negative start takes the last occurrence", "a:b:c", ":", -1, false, "a:b"},
      {"-k searches up to length-k+1", "a:b:c", ":", -2, false, "a:b"},
      {"-k before every occurrence", "a:b:c", ":", -5, false, ""},
      {"-k beyond the text", "a:b", ":", -9, false, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(textLeftOf(c.text, c.marker, c.start, c.ignoreCase), c.expected) << c.why;
}

TEST(TextBetween, ReturnsTheTextBetweenTheMarkers) {
  struct Case {
    const char* why;
    Text text;
    Text left;
    Text right;
    int start;
    bool ignoreCase;
    Text expected;
  };
  const Case cases[] = {
      {"the quote token stands for a double quote", "<a id=\"42\">", "id=" + kQuoteToken,
       kQuoteToken, 1, false, "42"},
      {"left missing", "abc", "x", "c", 1, false, ""},
      {"right missing after left", "c-a-b", "a", "c", 1, false, ""},
      {"nothing between", "ab", "a", "b", 1, false, ""},
      {"right is searched after left, not before it", "b a x b", "a", "b", 1, false, " x "},
      {"start skips the first left", "[1] [2]", "[", "]", 2, false, "2"},
      {"start past the end", "[1]", "[", "]", 9, false, ""},
      {"case folded on request", "<B>x</b>", "<b>", "</B>", 1, true, "x"},
      {"markers never match inside a character", kCharEndingInA + "b=1;", "ab", ";", 1, false, ""},
      {"the token works inside longer markers", "k=\"v\"!", "=" + kQuoteToken, kQuoteToken + "!", 1,
       false, "v"},
      {"double-byte content comes back whole", "(\xCA\xE9)", "(", ")", 1, false, "\xCA\xE9"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(textBetween(c.text, c.left, c.right, c.start, c.ignoreCase), c.expected) << c.why;
}

}  // namespace
}  // namespace varnel
