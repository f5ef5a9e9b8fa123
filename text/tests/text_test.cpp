#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "text/text.h"

namespace varnel {
namespace {

// "中文" in GBK and UTF-8.
const Text kZhongWenGbk = "\xD6\xD0\xCE\xC4";
const std::string kZhongWenUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";
const Text kTrail5C = "\x95\x5C";    // one GBK character whose trail byte is '\'
const Text kTrailPipe = "\x95\x7C";  // one GBK character whose trail byte is '|'

TEST(TextConversion, Utf8ToTextTable) {
  struct Case {
    const char* why;
    std::string utf8;
    Text gbk;
  } cases[] = {
      {"empty", "", ""},
      {"ascii", "abc 123", "abc 123"},
      {"chinese", kZhongWenUtf8, kZhongWenGbk},
      {"full-width space U+3000", "\xE3\x80\x80", "\xA1\xA1"},
      {"emoji has no GBK form",
       "a\xF0\x9F\x98\x80"
       "b",
       "a?b"},
      {"lone continuation byte",
       "a\x80"
       "b",
       "a?b"},
      {"two bad bytes give two ?",
       "\xFF\xFE"
       "x",
       "??x"},
      {"truncated sequence at end", "ab\xE4\xB8", "ab?"},
      {"U+00A0 has no GBK form", "x\xC2\xA0y", "x?y"},
      {"stops at the first zero byte", std::string("ab\0cd", 5), "ab"},
      {"leading BOM is dropped", "\xEF\xBB\xBFok", "ok"},
      {"bad character between good ones", kZhongWenUtf8 + "\x80" + kZhongWenUtf8,
       kZhongWenGbk + "?" + kZhongWenGbk},
  };
  for (const auto& c : cases) EXPECT_EQ(utf8BytesToText(c.utf8), c.gbk) << c.why;
  EXPECT_EQ(utf8BytesToText(toBytes(kZhongWenUtf8)), kZhongWenGbk) << "Bytes overload";
}

TEST(TextConversion, TextToUtf8Table) {
  struct Case {
    const char* why;
    Text gbk;
    std::string utf8;
  } cases[] = {
      {"chinese", kZhongWenGbk, kZhongWenUtf8},
      {"trail byte 5C is part of the character, not a backslash", kTrail5C, "\xE6\x98\x9E"},
      {"truncated lead byte at end", "ab\xD6", "ab?"},
      {"lead byte with invalid trail keeps the next char", "\xD6 a", "? a"},
  };
  for (const auto& c : cases) EXPECT_EQ(textToUtf8(c.gbk), c.utf8) << c.why;
}

TEST(TextConversion, RoundTripsAcrossAllForms) {
  const Text samples[] = {"", "plain", kZhongWenGbk, "\xD7\xA8\xB0\xE6\xB7\xD6\xC0\xE0",
                          kTrail5C + kTrailPipe + "\xA1\xA1" + "end"};
  for (const Text& t : samples) {
    EXPECT_EQ(wideToAnsi(ansiToWide(t)), t);
    EXPECT_EQ(utf8BytesToText(textToUtf8(t)), t);
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(textToUtf8(t))), textToUtf8(t));
    EXPECT_EQ(utf8ToUtf16(textToUtf8(t)), ansiToWide(t));
  }
  EXPECT_EQ(ansiToWide(kZhongWenGbk), u"中文");
}

TEST(TextConversion, WideFaultsBecomeQuestionMarks) {
  struct Case {
    const char* why;
    std::u16string wide;
    Text gbk;
    std::string utf8;
  } cases[] = {
      {"lone high surrogate", std::u16string(u"a") + char16_t(0xD800) + u"b", "a?b", "a?b"},
      {"lone low surrogate", std::u16string(1, char16_t(0xDC00)) + u"z", "?z", "?z"},
      {"emoji pair is one character", u"x\U0001F600y", "x?y", "x\xF0\x9F\x98\x80y"},
      {"nbsp", u"\u00A0", "?", "\xC2\xA0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wideToAnsi(c.wide), c.gbk) << c.why;
    EXPECT_EQ(utf16ToUtf8(c.wide), c.utf8) << c.why;
  }
}

TEST(TextConversion, ValidUtf8Detection) {
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_TRUE(isValidUtf8(kZhongWenUtf8));
  EXPECT_FALSE(isValidUtf8(kZhongWenGbk));
  EXPECT_FALSE(isValidUtf8("\xC0\x80")) << "overlong";
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")) << "surrogate";
}

TEST(TextSearch, FindIsDoubleByteAware) {
  struct Case {
    const char* why;
    Text hay;
    Text needle;
    std::size_t from;
    bool fold;
    std::size_t want;
  } cases[] = {
      {"plain", "hello", "ll", 0, false, 2},
      {"absent", "hello", "z", 0, false, Text::npos},
      {"empty needle", "abc", "", 1, false, 1},
      {"backslash inside a character is not a backslash", kTrail5C + "a\\b", "\\", 0, false, 3},
      {"pipe inside a character is not a pipe", kTrailPipe + "|", "|", 0, false, 2},
      {"no match straddling characters", "\xB1\xED\xB1\xED", "\xED\xB1", 0, false, Text::npos},
      {"chinese needle", "ab" + kZhongWenGbk, "\xCE\xC4", 0, false, 4},
      {"from skips earlier hits", "a.a.a", "a", 1, false, 2},
      {"fold ascii case", "Set-Cookie: x", "set-cookie:", 0, true, 0},
      {"fold does not fold GBK bytes", "\xC1\xC1", "\xE1\xE1", 0, true, Text::npos},
      {"from past the end", "abc", "a", 4, false, Text::npos},
  };
  for (const auto& c : cases) EXPECT_EQ(findText(c.hay, c.needle, c.from, c.fold), c.want) << c.why;
}

TEST(TextSearch, SplitNonEmptyTable) {
  using V = std::vector<Text>;
  struct Case {
    const char* why;
    Text text;
    Text delim;
    V want;
  } cases[] = {
      {"simple", "a\r\nb", "\r\n", {"a", "b"}},
      {"empty pieces dropped", "\r\n\r\na\r\n\r\nb\r\n", "\r\n", {"a", "b"}},
      {"empty text", "", ",", {}},
      {"only delimiters", ",,,", ",", {}},
      {"no delimiter", "abc", ",", {"abc"}},
      {"multi-byte delimiter", "t!<>!http://x", "!<>!", {"t", "http://x"}},
      {"leading delimiter", "!<>!url", "!<>!", {"url"}},
      {"trail byte 5C is not a delimiter", kTrail5C + "\\x", "\\", {kTrail5C, "x"}},
      {"empty delimiter", "abc", "", {"abc"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitNonEmpty(c.text, c.delim), c.want) << c.why;
}

TEST(TextSearch, TrimSpacesTable) {
  const Text fw = "\xA1\xA1";
  struct Case {
    const char* why;
    Text in;
    Text want;
  } cases[] = {
      {"ascii both ends", "  a b  ", "a b"},
      {"full-width both ends", fw + "x" + fw, "x"},
      {"mixed", " " + fw + " x " + fw + " ", "x"},
      {"tabs stay", "\tx\t", "\tx\t"},
      {"only spaces", "  " + fw, ""},
      {"empty", "", ""},
      {"trail A1 followed by lead A1 is not a space", "\xB0\xA1\xA1", "\xB0\xA1\xA1"},
      {"character ending in A1 then A1 A1", "\xB0\xA1" + fw, "\xB0\xA1"},
      {"lone A1 at end stays", "x\xA1", "x\xA1"},
  };
  for (const auto& c : cases) EXPECT_EQ(trimSpaces(c.in), c.want) << c.why;
}

TEST(TextSearch, TrimAsciiSetTable) {
  struct Case {
    const char* text;
    const char* set;
    const char* expected;
  };
  const Case cases[] = {
      {"  a b  ", " ", "a b"},    {"\t a \r\n", " \t\r\n", "a"},
      {"\t a ", " ", "\t a"},  // only the set's bytes go
      {"    ", " ", ""},          {"", " ", ""},
      {" \xB0\x20", " ", "\xB0"},  // ASCII set: a byte before a trailing blank stays
  };
  for (const Case& c : cases) EXPECT_EQ(trimAsciiSet(c.text, c.set), c.expected) << c.text;
  EXPECT_EQ(trimAsciiSpaces(" \ta\t "), "\ta\t") << "names on a page: tabs stay";
  EXPECT_EQ(trimSpacesAndTabs(" \ta\t "), "a") << "settings lines";
}

TEST(TextSearch, LeadingIntegerReadsAsAtoiDoes) {
  struct Case {
    const char* text;
    long long expected;
  };
  const Case cases[] = {
      {"12", 12},
      {"007", 7},
      {"12页", 12},
      {"", 0},
      {"abc", 0},
      {" \t 7", 7},
      {"-5", -5},
      {"+5", 5},
      {"1 2", 1},
      {"约120", 0},
      {"99999999999999999999999", std::numeric_limits<long long>::max() / 10 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(leadingInteger(c.text), c.expected) << c.text;
}

TEST(TextSearch, AsciiCaseFoldingComparisons) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
    bool startsWith;
  };
  const Case cases[] = {
      {"Content-Type", "content-type", true, true},
      {"Text/HTML; charset=utf-8", "text/", false, true},
      {"text", "text/", false, false},
      {"", "", true, true},
      {"\xC4\xE3", "\xE4\xE3", false, false},  // only A-Z fold, never GBK bytes
  };
  for (const Case& c : cases) {
    EXPECT_EQ(equalsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(startsWithIgnoringAsciiCase(c.a, c.b), c.startsWith) << c.a << " / " << c.b;
  }
}

TEST(TextBasics, CompareAndConcat) {
  EXPECT_LT(compareTexts("a", "\xB0"), 0) << "bytes compare unsigned";
  EXPECT_EQ(compareTexts("", ""), 0);
  EXPECT_LT(compareTexts("ab", "abc"), 0);
  EXPECT_GT(compareTexts("b", "abc"), 0);
  EXPECT_EQ(concatTexts(Text("a"), "--", std::string_view("b")), "a--b");
  EXPECT_EQ(concatBuffers(Bytes{1, 2}, Bytes{3}), (Bytes{1, 2, 3}));
}

TEST(TextConversion, ConcurrentConversionsAgree) {
  // Each thread has its own converters; results must not interfere.
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i)
        if (utf8BytesToText(kZhongWenUtf8 + "\x80") != kZhongWenGbk + "?") ++bad;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace varnel
