#include <gtest/gtest.h>

#include "htmlquery/html_query.h"
#include "htmlquery/tests/query_test_support.h"

namespace varnel {
namespace {

using testing::gbk;

const HtmlQuery kQuery;

std::string protect(const std::string& utf8) {
  return textToUtf8(kQuery.TransformFilters(gbk(utf8), 1));
}
std::string restore(const std::string& utf8) {
  return textToUtf8(kQuery.TransformFilters(gbk(utf8), 2));
}

// Protected bodies hold only "%", hex digits and "+".
bool onlyProtectedCharacters(const std::string& body) {
  return body.find_first_not_of("%+0123456789ABCDEF") == std::string::npos;
}

TEST(QueryProtection, RoundTripsEveryKind) {
  struct Kind {
    std::string open, close, protectedOpen, protectedClose;
  } kinds[] = {{"%t[", "]t%", "%t_", "_t%"},         {"%re[", "]re%", "%re_", "_re%"},
               {"%del[", "]del%", "%del_", "_del%"}, {"%th[", "]th%", "%th_", "_th%"},
               {"%mid[", "]mid%", "%mid_", "_mid%"}, {"%add[", "]add%", "%add_", "_add%"},
               {"%f[", "]f%", "%f_", "_f%"},         {"%path[", "]path%", "%path_", "_path%"}};
  // Bodies full of the characters the later cuts look for, and Chinese.
  const std::string bodies[] = {"a/b|c\\d&e,f", "[x]{y}(z)", "@x!='1'", "第 12 页", "数学|专版"};
  for (const Kind& k : kinds)
    for (const std::string& body : bodies) {
      const std::string written = "//a/@x{" + k.open + body + k.close + "}";
      const std::string guarded = protect(written);
      const std::size_t start = guarded.find(k.protectedOpen);
      ASSERT_NE(start, std::string::npos) << written;
      const std::size_t bodyStart = start + k.protectedOpen.size();
      const std::size_t end = guarded.find(k.protectedClose, bodyStart);
      ASSERT_NE(end, std::string::npos) << written;
      EXPECT_TRUE(onlyProtectedCharacters(guarded.substr(bodyStart, end - bodyStart))) << guarded;
      EXPECT_EQ(guarded.substr(0, 7), "//a/@x{");
      // A literal body comes back as plain text; a filter keeps its markers.
      const std::string expected =
          k.open == "%t[" ? "//a/@x{" + body + "}"
                          : "//a/@x{" + k.protectedOpen + body + k.protectedClose + "}";
      EXPECT_EQ(restore(guarded), expected) << written;
    }
}

TEST(QueryProtection, EncodingAndDecodingDetails) {
  struct Case {
    const char* why;
    std::string input;
    int mode;
    std::string expected;
  } cases[] = {
      {"space becomes +, bytes upper-case hex", "%t[a b/]t%", 1, "%t_%61+%62%2F_t%"},
      {"Chinese is encoded from its UTF-8 bytes", "%t[中]t%", 1, "%t_%E4%B8%AD_t%"},
      {"two bodies of one kind", "%t[a]t%%t[b]t%", 1, "%t_%61_t%%t_%62_t%"},
      {"opening marker without closing is left alone", "x%t[abc", 1, "x%t[abc"},
      {"closing marker alone is left alone", "abc]t%", 1, "abc]t%"},
      {"markers are case-sensitive", "%T[a]T%", 1, "%T[a]T%"},
      {"decode: + is a space", "%t_a+b_t%", 2, "a b"},
      {"decode: lower-case hex", "%t_%2f_t%", 2, "/"},
      {"decode: one hex digit is copied", "%t_%4_t%", 2, "%4"},
      {"decode: non-hex after % is copied", "%t_%zz1_t%", 2, "%zz1"},
      {"decode: % at the very end is copied", "%t_ab%_t%", 2, "ab%"},
      {"%hhf% becomes CR LF", "a%hhf%b", 2, "a\r\nb"},
      {"%HHF% too, letter case ignored", "a%HHF%b", 2, "a\r\nb"},
      {"%hhf% is not touched when protecting", "a%hhf%b", 1, "a%hhf%b"},
      {"filter markers stay on restore", "%re_%5Cd%2B_re%", 2, "%re_\\d+_re%"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.mode == 1 ? protect(c.input) : restore(c.input), c.expected) << c.why;
}

TEST(QueryProtection, ModeSelection) {
  const Text written = "%t[a]t%";
  const Text guarded = "%t_%61_t%";
  EXPECT_EQ(kQuery.TransformFilters(written), guarded) << "omitted mode protects";
  EXPECT_EQ(kQuery.TransformFilters(written, 7), guarded) << "unknown mode protects";
  EXPECT_EQ(kQuery.TransformFilters(guarded, 2), "a") << "mode 2 restores";
  EXPECT_EQ(kQuery.TransformFilters(kQuery.TransformFilters(written, 1), 2), "a") << "round trip";
}

TEST(QuerySplitting, AlternativesAndSteps) {
  struct Case {
    const char* why;
    std::string expression;
    std::vector<std::string> alternatives;
    std::vector<std::string> steps;  // of every alternative, in order
  } cases[] = {
      {"application expression",
       "//div[@id='cemian']/div",
       {"//div[@id='cemian']/div"},
       {"//div[@id='cemian']", "/div"}},
      {"runs of slashes begin the next step", "//a///b/c", {"//a///b/c"}, {"//a", "///b", "/c"}},
      {"text before the first slash is a step of its own", "a/b", {"a/b"}, {"a", "/b"}},
      {"trailing slash gives an empty-named step", "//ul/", {"//ul/"}, {"//ul", "/"}},
      {"two alternatives, spaces trimmed from steps",
       "//a/@href | //b",
       {"//a/@href ", " //b"},
       {"//a", "/@href", "//b"}},
      {"a literal body survives both cuts",
       "//a[@t=%t[x|y/z]t%]/@href",
       {"//a[@t=x|y/z]/@href"},
       {"//a[@t=x|y/z]", "/@href"}},
      {"empty alternatives are dropped", "||//a||", {"//a"}, {"//a"}},
      {"the cut ignores brackets", "//a[@href='/x']", {"//a[@href='/x']"}, {"//a[@href='", "/x']"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> alternatives, steps;
    for (const Text& alternative :
         kQuery.SplitAlternatives(kQuery.TransformFilters(gbk(c.expression), 1))) {
      alternatives.push_back(textToUtf8(kQuery.TransformFilters(alternative, 2)));
      for (const Text& step : kQuery.SplitSteps(alternative))
        steps.push_back(textToUtf8(kQuery.TransformFilters(step, 2)));
    }
    EXPECT_EQ(alternatives, c.alternatives) << c.why;
    EXPECT_EQ(steps, c.steps) << c.why;
  }
}

// What a site profile is checked with before any page is read.
TEST(QueryExpressionParses, Table) {
  struct Case {
    const char* why;
    std::string expression;
    bool parses;
    std::string badStep;
  } cases[] = {
      {"the program's own expression", "//div[@id='middle']/div[3]/div[@class!='cleardiv']/@url",
       true, ""},
      {"alternatives and filters", "//a/@href{%re[[0-9]+]re%} | //b/@@text", true, ""},
      {"a bracket left open", "//div[@id='cemian'/div", false, "//div[@id='cemian'"},
      {"a keyword without its parenthesis", "//li[max(@x]", false, "//li[max(@x]"},
      {"a brace without its partner", "//a[@href{%sswk%='x']", false, "//a[@href{%sswk%='x']"},
      {"a step that does not begin with a slash", "div/a", false, "div"},
      {"a slash inside quotes cuts the step", "//a[@href='/x']", false, "//a[@href='"},
      {"nothing at all", " | ", false, ""},
  };
  for (const Case& c : cases) {
    Text bad = "stale";
    EXPECT_EQ(kQuery.ExpressionParses(gbk(c.expression), &bad), c.parses) << c.why;
    EXPECT_EQ(textToUtf8(bad), c.badStep) << c.why;
  }
}

TEST(QuerySplitting, CutsNeverFallInsideTwoByteCharacters) {
  // 0x95 0x7C is one character whose trail byte is '|'; 0x95 0x5C ends in '\'.
  const Text expression = "//a[@t='\x95\x7C']/@href";
  EXPECT_EQ(kQuery.SplitAlternatives(expression).size(), 1u);
  StepSpec parsed;
  ASSERT_TRUE(kQuery.ParseStep("//a[@t='\x95\x5C'\\2]", parsed) == kQueryTrue);
  EXPECT_EQ(parsed.conditions, (std::vector<Text>{"@t='\x95\x5C'", "2"}));
}

TEST(QueryParseStep, Table) {
  struct Case {
    const char* why;
    std::string step;
    bool ok;
    std::string name = {};
    int axis = 0;
    std::string predicate = {};
    std::vector<std::string> conditions = {};
    bool isAttribute = false;
    std::vector<std::string> attributes = {};
    std::string joiner = {};
  } cases[] = {
      {"descendant tag step with predicate",
       "//div[@id='cemian']",
       true,
       "div",
       1,
       "@id='cemian'",
       {"@id='cemian'"},
       false,
       {},
       "\t"},
      {"child step", "/div", true, "div", 2, "", {}, false, {}, "\t"},
      {"conditions cut at backslash, empty pieces dropped",
       "/li[@x='1'\\\\odd()]",
       true,
       "li",
       2,
       "@x='1'\\\\odd()",
       {"@x='1'", "odd()"},
       false,
       {},
       "\t"},
      {"predicate runs to the last ]",
       "/css[a[href] > b]",
       true,
       "css",
       2,
       "a[href] > b",
       {"a[href] > b"},
       false,
       {},
       "\t"},
      {"trailing slash: empty name", "/", true, "", 2, "", {}, false, {}, "\t"},
      {"parent step", "/..", true, "..", 2, "", {}, false, {}, "\t"},
      {"attribute list with default TAB joiner",
       "/@href&@title",
       true,
       "@href&@title",
       2,
       "",
       {},
       true,
       {"@href", "@title"},
       "\t"},
      {"literal joiner",
       "/@href&@title[%t[ | ]t%]",
       true,
       "@href&@title",
       2,
       "",
       {},
       true,
       {"@href", "@title"},
       " | "},
      {"%hhf% joiner becomes CR LF",
       "/@a&@b[%hhf%]",
       true,
       "@a&@b",
       2,
       "",
       {},
       true,
       {"@a", "@b"},
       "\r\n"},
      {"spaces after the joiner bracket", "//@a[-] ", true, "@a", 1, "", {}, true, {"@a"}, "-"},
      {"no leading slash", "div", false},
      {"empty step", "", false},
      {"three slashes", "///div", false},
      {"name begins with [", "/[1]", false},
      {"name begins with {", "//{x}", false},
      {"name begins with a double quote", "/\"a\"", false},
      {"[ without ]", "//div[@id='x'", false},
      {"] before [", "//div]x[", false},
      {"joiner ] without [", "/@a]", false},
  };
  for (const Case& c : cases) {
    StepSpec parsed;
    const bool ok = kQuery.ParseStep(kQuery.TransformFilters(gbk(c.step), 1), parsed) == kQueryTrue;
    EXPECT_EQ(ok, c.ok) << c.why;
    if (!ok || !c.ok) continue;
    EXPECT_EQ(textToUtf8(parsed.name), c.name) << c.why;
    EXPECT_EQ(parsed.axis, c.axis) << c.why;
    EXPECT_EQ(textToUtf8(parsed.predicate), c.predicate) << c.why;
    EXPECT_EQ(testing::toUtf8(parsed.conditions), c.conditions) << c.why;
    EXPECT_EQ(parsed.isAttribute == kQueryTrue, c.isAttribute) << c.why;
    EXPECT_EQ(testing::toUtf8(parsed.attributes), c.attributes) << c.why;
    EXPECT_EQ(textToUtf8(parsed.joiner), c.joiner) << c.why;
  }
}

TEST(QueryParseCondition, Table) {
  struct Case {
    const char* why;
    std::string condition;  // as written; protected before parsing
    std::string keyword, index, name, op, value, filters;
    bool malformed = false;
  } cases[] = {
      {"!= is tried before =", "@class!='cleardiv'", "", "", "@class", "1", "cleardiv", ""},
      {"plain equality", "@id='cemian'", "", "", "@id", "8", "cemian", ""},
      {"index", "3", "", "3", "", "", "", ""},
      {"negative index", "-1", "", "-1", "", "", "", ""},
      {"zero is an index too", "0", "", "0", "", "", "", ""},
      {"range reads as its first number", "2~-1", "", "2~-1", "", "", "", ""},
      {"max keyword with a name", "max(@pagecount)", "6", "", "@pagecount", "", "", ""},
      {"or with an index", "or(2)", "2", "2", "", "", "", ""},
      {"keyword word is space-trimmed", " rev () ", "3", "", "", "", "", ""},
      {"keywords are case-sensitive", "MAX(@x)", "", "", "@x", "", "", ""},
      {"presence test", "@href", "", "", "@href", "", "", ""},
      {">= before >", "@n>=12", "", "", "@n", "2", "12", ""},
      {"!<> before <>", "@t!<>ab", "", "", "@t", "4", "ab", ""},
      {"<> contains", "@t<>ab", "", "", "@t", "5", "ab", ""},
      {"the first operator of the table wins, not the first in the text", "@a=b>c", "", "", "@a=b",
       "6", "c", ""},
      {"double quotes", "@t=\"x y\"", "", "", "@t", "8", "x y", ""},
      {"Chinese double quotes", "@t=“中文”", "", "", "@t", "8", "中文", ""},
      {"Chinese single quotes", "@t=‘中文’", "", "", "@t", "8", "中文", ""},
      {"mismatched quotes stay", "@t='x\"", "", "", "@t", "8", "'x\"", ""},
      {"a single quote character is kept", "@t='", "", "", "@t", "8", "'", ""},
      {"two quotes give the empty text", "@t=''", "", "", "@t", "8", "", ""},
      {"value is blank-trimmed, full-width spaces too", "@t=　 'a' ", "", "", "@t", "8", "a", ""},
      {"literal body arrives as plain text", "@t=%t[a/b]t%", "", "", "@t", "8", "a/b", ""},
      {"%hhf% in a value", "@t='a%HHF%b'", "", "", "@t", "8", "a\r\nb", ""},
      {"filters stay protected", "@href{%sswk%}='1'", "", "", "@href", "8", "1", "%sswk%"},
      {"( without ) after a keyword", "max(@x", "", "", "", "", "", "", true},
      {") without (", "@x)", "", "", "", "", "", "", true},
      {"{ without }", "@x{%sswk%='1'", "", "", "", "", "", "", true},
      {"} without {", "@x}='1'", "", "", "", "", "", "", true},
      {"a value holding ( is not a keyword", "@t=a(b", "", "", "@t", "8", "a(b", ""},
  };
  for (const Case& c : cases) {
    const ConditionSpec parsed =
        kQuery.ParseCondition(kQuery.TransformFilters(gbk(c.condition), 1));
    EXPECT_EQ(parsed.malformed, c.malformed) << c.why;
    if (c.malformed) continue;
    EXPECT_EQ(parsed.keyword, c.keyword) << c.why;
    EXPECT_EQ(textToUtf8(parsed.index), c.index) << c.why;
    EXPECT_EQ(textToUtf8(parsed.name), c.name) << c.why;
    EXPECT_EQ(parsed.op, c.op) << c.why;
    EXPECT_EQ(textToUtf8(parsed.value), c.value) << c.why;
    EXPECT_EQ(textToUtf8(parsed.filters), c.filters) << c.why;
  }
  // A protected filter body keeps its markers and its encoding.
  const ConditionSpec re = kQuery.ParseCondition(kQuery.TransformFilters("@n{%re[\\d]re%}>1", 1));
  EXPECT_EQ(re.filters, "%re_%5C%64_re%");
  EXPECT_EQ(re.name, "@n");
}

}  // namespace
}  // namespace varnel
