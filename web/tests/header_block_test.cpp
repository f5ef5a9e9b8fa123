#include <gtest/gtest.h>

#include <string>

#include "web/header_block.h"

namespace varnel {
namespace {

const Text kFullWidthSpace = "\xA1\xA1";

TEST(NormaliseHeaderBlock, CapitalisesNamesAndKeepsValues) {
  struct Case {
    const char* why;
    Text block;
    Text expected;
  };
  const Case cases[] = {
      {"only the first byte of each word changes", "user-AGENT: x", "User-AGENT: x"},
      {"hyphenated name", "content-type: text/html", "Content-Type: text/html"},
      {"the empty first line of a default-only block goes", "\r\nAccept: */*", "Accept: */*"},
      {"lines without a colon are dropped", "junk\r\naccept: a\r\n\r\nmore junk", "Accept: a"},
      {"empty words keep their hyphens", "x--y: 1", "X--Y: 1"},
      {"leading hyphen", "-a: b", "-A: b"},
      {"name is not trimmed, so a leading space stays", " accept: x", " accept: x"},
      {"value, its colons and its spacing are untouched", "referer:http://h:8/p?q=a:b",
       "Referer:http://h:8/p?q=a:b"},
      {"lines joined with CR LF, no trailing break", "a: 1\r\nb: 2\r\n", "A: 1\r\nB: 2"},
      {"no colon at all", "nothing here\r\n", ""},
      {"empty block", "", ""},
      {"a lone LF is not a line break", "a: 1\nb: 2", "A: 1\nb: 2"},
      {"double-byte names pass through", "\xCA\xE9-x: 1", "\xCA\xE9-X: 1"},
  };
  for (const Case& c : cases) EXPECT_EQ(normaliseHeaderBlock(c.block), c.expected) << c.why;
}

TEST(HeaderLine, SplitsAtTheFirstColonAndTrims) {
  struct Case {
    const char* why;
    Text line;
    Text name;
    Text value;
  };
  const Case cases[] = {
      {"a URL value keeps its colons", "Referer: http://h:8/p", "Referer", "http://h:8/p"},
      {"no colon gives nothing", "Referer h", "", ""},
      {"ASCII and full-width spaces trimmed on both sides",
       "  Accept" + kFullWidthSpace + ":" + kFullWidthSpace + " a ", "Accept", "a"},
      {"tabs are not spaces", "\tX:\t1", "\tX", "\t1"},
      {"empty value", "Cookie:", "Cookie", ""},
      {"empty name", ": v", "", "v"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(headerLineName(c.line), c.name) << c.why;
    EXPECT_EQ(headerLineValue(c.line), c.value) << c.why;
  }
}

TEST(HeaderValue, FindsANameWithoutCase) {
  const Text headers = "Content-Type: image/jpeg\r\nretry-after: 7\r\nX-Empty:";
  EXPECT_EQ(headerValue(headers, "Retry-After"), "7");
  EXPECT_EQ(headerValue(headers, "content-type"), "image/jpeg");
  EXPECT_EQ(headerValue(headers, "X-Empty"), "");
  EXPECT_EQ(headerValue(headers, "Content"), "") << "a prefix is not the name";
}

TEST(CapitaliseFirst, ChangesOnlyALeadingAsciiLowerCaseLetter) {
  EXPECT_EQ(capitaliseFirst(""), "");
  EXPECT_EQ(capitaliseFirst("a"), "A");
  EXPECT_EQ(capitaliseFirst("aBC"), "ABC");
  EXPECT_EQ(capitaliseFirst("1a"), "1a");
  EXPECT_EQ(capitaliseFirst("z"), "Z");
  EXPECT_EQ(capitaliseFirst("{"), "{");  // just past 'z'
  EXPECT_EQ(capitaliseFirst("`"), "`");  // just before 'a'
  EXPECT_EQ(capitaliseFirst("\xCA\xE9"), "\xCA\xE9");
}

TEST(Base64Encode, MatchesTheStandardVectors) {
  struct Case {
    std::string input;
    Text expected;
  };
  const Case cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xFB\xEF", "++8="},  // the last two alphabet letters
      {"\xFF\xFE", "//4="},
      {std::string("\0", 1), "AA=="},  // zero bytes count
      {"user:pw", "dXNlcjpwdw=="},
  };
  for (const Case& c : cases) EXPECT_EQ(base64Encode(c.input), c.expected) << c.input;
  EXPECT_EQ(base64Encode(Bytes{0, 1, 2, 3, 4}), "AAECAwQ=");
}

}  // namespace
}  // namespace varnel
