#include "regex/regex_object.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "regex/tests/test_text.h"

namespace varnel {
namespace {

using testing::gbk;

std::vector<Text> allMatches(const RegexObject& re) {
  std::vector<Text> out;
  for (int i = 1; i <= re.matchCount(); ++i) out.push_back(re.matchText(i));
  return out;
}

struct OptionCase {
  const char* why;
  const char* pattern;  // UTF-8, converted to GBK
  const char* subject;  // UTF-8, converted to GBK
  bool caseSensitive;
  bool multiline;
  bool global;
  std::vector<const char*> expected;  // UTF-8
};

TEST(RegexObjectOptions, MatchesFollowTheOptions) {
  const std::vector<OptionCase> cases = {
      {"lower-case pattern finds upper-case text by default",
       "abc",
       "xABCx",
       false,
       true,
       true,
       {"ABC"}},
      {"case-sensitive leaves other cases alone", "abc", "ABC abc", true, true, true, {"abc"}},
      {"case folding reaches full-width letters", "ａｂ", "ＡＢ", false, true, true, {"ＡＢ"}},
      {"case folding reaches Greek", "α", "Α", false, true, true, {"Α"}},
      {"case folding inside a class", "[a-c]+", "xABCx", false, true, true, {"ABC"}},
      {"multi-line ^ matches after a line break",
       "^b\\w",
       "ab1\nb2\r\nb3",
       false,
       true,
       true,
       {"b2", "b3"}},
      {"single-line ^ only at the start", "^\\w", "a\nb", false, false, true, {"a"}},
      {"single-line $ only at the very end, not before a last line break",
       "a$",
       "a\na\n",
       false,
       false,
       true,
       {}},
      {"multi-line $ before a line break", "a$", "a\r\nba", false, true, true, {"a", "a"}},
      {"a dot does not cross \\n", "a.b", "a\nb", false, true, true, {}},
      {"a dot does not cross \\r", "a.b", "a\rb", false, true, true, {}},
      {"a dot takes anything else", "a.b", "a b", false, true, true, {"a b"}},
      {"global false keeps only the first match", "\\d+", "1 22 333", false, true, false, {"1"}},
      {"global finds every match in order",
       "\\d+",
       "1 22 333",
       false,
       true,
       true,
       {"1", "22", "333"}},
      {"lazy quantifier stops early", "<(.*?)>", "<a><b>", false, true, true, {"<a>", "<b>"}},
      {"a Chinese character is one character", "^..$", "中文", false, true, true, {"中文"}},
      {"\\w keeps to ASCII as in ECMAScript", "\\w+", "ab中cd", false, true, true, {"ab", "cd"}},
      {"empty matches step forward", "x*", "axxb", false, true, true, {"", "xx", "", ""}},
      {"Chinese literal in the pattern", "文+", "中文文字", false, true, true, {"文文"}},
  };
  for (const auto& c : cases) {
    RegexObject re;
    ASSERT_TRUE(re.execute(gbk(c.pattern), gbk(c.subject), c.caseSensitive, c.multiline, c.global))
        << c.why;
    std::vector<Text> expected;
    for (const char* e : c.expected) expected.push_back(gbk(e));
    EXPECT_EQ(allMatches(re), expected) << c.why;
  }
}

TEST(RegexObjectOptions, NoMatchIsStillASuccess) {
  RegexObject re;
  EXPECT_TRUE(re.execute("zzz", "abc"));
  EXPECT_EQ(re.matchCount(), 0);
  EXPECT_EQ(re.submatchCount(), 0);
  EXPECT_EQ(re.matchText(1), "");
  EXPECT_EQ(re.replace("q"), "abc");  // nothing to replace: the subject comes back
}

TEST(RegexObjectQuoteToken, TokenStandsForAQuoteOnlyWhenAsked) {
  const Text subject = gbk("say \"hi\" then #引号x#引号");
  const Text pattern = gbk("#引号(\\w+)#引号");
  RegexObject re;
  ASSERT_TRUE(re.execute(pattern, subject, false, true, true, true));
  EXPECT_EQ(re.submatchText(1, 1), "hi");
  EXPECT_EQ(re.pattern(), "\"(\\w+)\"");  // the engine holds the pattern with quotes

  ASSERT_TRUE(re.execute(pattern, subject));  // omitted: the token is plain text
  ASSERT_EQ(re.matchCount(), 1);
  EXPECT_EQ(re.matchText(1), gbk("#引号x#引号"));
  EXPECT_EQ(re.pattern(), pattern);
}

TEST(RegexObjectGroups, GroupsByMatchAndIndex) {
  RegexObject re;
  ASSERT_TRUE(re.execute("(\\w)=(\\d)?", "a=1 b="));
  ASSERT_EQ(re.matchCount(), 2);
  EXPECT_EQ(re.submatchCount(), 2);
  struct Case {
    const char* why;
    int match, group;
    const char* text;
    int position;
  } cases[] = {
      {"first group of the first match", 1, 1, "a", 0},
      {"second group of the first match", 1, 2, "1", 2},
      {"first group of the second match", 2, 1, "b", 4},
      {"a group that took no part is empty and has no position", 2, 2, "",
       RegexObject::kNoPosition},
      {"group 0 is not a group", 1, 0, "", RegexObject::kNoPosition},
      {"group past the last", 1, 3, "", RegexObject::kNoPosition},
      {"match past the last", 3, 1, "", RegexObject::kNoPosition},
      {"match 0", 0, 1, "", RegexObject::kNoPosition},
      {"negative match", -1, 1, "", RegexObject::kNoPosition},
  };
  for (const auto& c : cases) {
    int position = 12345;
    EXPECT_EQ(re.submatchText(c.match, c.group, &position), c.text) << c.why;
    EXPECT_EQ(position, c.position) << c.why;
  }
}

TEST(RegexObjectPositions, BytePositionsInTheGbkSubject) {
  struct Case {
    const char* why;
    const char* pattern;
    const char* subject;
    std::vector<int> positions;  // of each match
  } cases[] = {
      {"ASCII only: byte = character", "b", "abcb", {1, 3}},
      {"each Chinese character before the match is two bytes", "abc", "中文abc中文abc", {4, 11}},
      {"a repeat of the text between character and byte index is not taken for the match",
       "a",
       "中中aa",
       {4, 5}},
      {"ignoring case does not move the position", "A", "中a中A", {2, 5}},
  };
  for (const auto& c : cases) {
    RegexObject re;
    ASSERT_TRUE(re.execute(gbk(c.pattern), gbk(c.subject))) << c.why;
    std::vector<int> positions;
    for (int i = 1; i <= re.matchCount(); ++i) {
      int position = 0;
      const Text text = re.matchText(i, &position);
      // The position really points at the match text in the subject.
      EXPECT_EQ(gbk(c.subject).substr(position, text.size()), text) << c.why;
      positions.push_back(position);
    }
    EXPECT_EQ(positions, c.positions) << c.why;
  }

  RegexObject re;
  ASSERT_TRUE(re.execute(gbk("价格：(\\d+)元"), gbk("书名《红楼梦》价格：35元")));
  int position = 0;
  EXPECT_EQ(re.submatchText(1, 1, &position), "35");
  EXPECT_EQ(position, 20);  // ten double-byte characters before the digits
  EXPECT_EQ(re.matchText(1, &position), gbk("价格：35元"));
  EXPECT_EQ(position, 14);  // seven before the match
  EXPECT_EQ(re.matchText(2, &position), "");
  EXPECT_EQ(position, RegexObject::kNoPosition);
}

TEST(RegexObjectFailures, UnusablePatternsFailQuietly) {
  struct Case {
    const char* why;
    std::string pattern;
    std::string subject;
  } cases[] = {
      {"unclosed group", "(a", "aaa"},
      {"unclosed class", "[a", "aaa"},
      {"bad repeat range", "a{2,1}", "aaa"},
      {"nothing to repeat", "*a", "aaa"},
      {"reference to a missing group", "(a)\\2", "aa"},
      {"catastrophic backtracking hits the complexity limit", "(x+x+)+y", std::string(30, 'x')},
  };
  for (const auto& c : cases) {
    RegexObject re;
    ASSERT_TRUE(re.execute("a", "aaa"));  // earlier results must not survive
    EXPECT_FALSE(re.execute(c.pattern, c.subject)) << c.why;
    int position = 0;
    EXPECT_EQ(re.matchCount(), 0) << c.why;
    EXPECT_EQ(re.submatchCount(), 0) << c.why;
    EXPECT_EQ(re.matchText(1, &position), "") << c.why;
    EXPECT_EQ(position, RegexObject::kNoPosition) << c.why;
    EXPECT_EQ(re.submatchText(1, 1), "") << c.why;
    EXPECT_EQ(re.replace("b"), "") << c.why;
    EXPECT_EQ(re.pattern(), c.pattern) << c.why;  // what was set stays readable
  }
}

TEST(RegexObjectFailures, NeverExecutedReadsEmpty) {
  const RegexObject re;
  int position = 0;
  EXPECT_EQ(re.pattern(), "");
  EXPECT_EQ(re.matchCount(), 0);
  EXPECT_EQ(re.submatchCount(), 0);
  EXPECT_EQ(re.matchText(1, &position), "");
  EXPECT_EQ(position, RegexObject::kNoPosition);
  EXPECT_EQ(re.submatchText(1, 1), "");
  EXPECT_EQ(re.replace("x"), "");
  re.reserved();
}

TEST(RegexObjectCopy, CopiesKeepTheirOwnResults) {
  RegexObject original;
  ASSERT_TRUE(original.execute("(\\d)", "a1b2"));
  RegexObject copy = original;
  EXPECT_EQ(copy.matchCount(), 2);
  EXPECT_EQ(copy.submatchText(2, 1), "2");
  EXPECT_EQ(copy.replace("#"), "a#b#");  // the copy carries the subject too

  ASSERT_TRUE(copy.execute("z", "zz"));  // replaces only the copy's results
  EXPECT_EQ(copy.matchCount(), 2);
  EXPECT_EQ(original.pattern(), "(\\d)");
  EXPECT_EQ(original.matchText(1), "1");
  EXPECT_EQ(original.replace("<$1>"), "a<1>b<2>");

  RegexObject assigned;
  assigned = original;
  original.execute("(", "x");  // a failure on the original leaves the copy alone
  EXPECT_EQ(assigned.matchText(2), "2");
}

// The book page names the base path of its page images in a script; an older
// assignment with one h comes first and must not be taken.
TEST(RegexObjectBookPage, FindsTheBasePath) {
  const std::string basePathPattern = "window.basepathh = \"(.*?)\";";
  const Text page = gbk(R"(<html><head><title>红楼梦 - 电子书</title>
<script type="text/javascript">
  window.basepath = "/old/wrong/";
  window.bookname = "红楼梦";
  window.basepathh = "/files/2023/红楼梦/";
  window.pagecount = 120;
</script></head><body><div class="page">第一页</div></body></html>)");
  RegexObject re;
  ASSERT_TRUE(re.execute(basePathPattern, page));
  EXPECT_EQ(re.submatchText(1, 1), gbk("/files/2023/红楼梦/"));

  // The quote-token spelling of the same pattern finds the same path.
  ASSERT_TRUE(
      re.execute(gbk("window.basepathh = #引号(.*?)#引号;"), page, false, true, true, true));
  EXPECT_EQ(re.submatchText(1, 1), gbk("/files/2023/红楼梦/"));

  // A page without the script: no match, and the base path reads empty.
  ASSERT_TRUE(re.execute(basePathPattern, gbk("<html><body>404 页面不存在</body></html>")));
  EXPECT_EQ(re.matchCount(), 0);
  EXPECT_EQ(re.submatchText(1, 1), "");

  // The lazy group stops at the first closing quote on the line, never on the next line.
  ASSERT_TRUE(re.execute(basePathPattern, "window.basepathh = \"/a/\"; x = \"b\";\n\";"));
  EXPECT_EQ(re.submatchText(1, 1), "/a/");
  ASSERT_TRUE(re.execute(basePathPattern, "window.basepathh = \"/a/\n\";"));
  EXPECT_EQ(re.matchCount(), 0);
}

}  // namespace
}  // namespace varnel
