#include <gtest/gtest.h>

#include "htmlquery/html_query.h"
#include "htmlquery/tests/query_test_support.h"

namespace varnel {
namespace {

using testing::gbk;
using testing::joined;
using testing::query;

// Six candidates; each li's text is its position.
const char* const kList =
    "<ul id='l'>"
    "<li x='1' n='5' t='Alpha'>1</li>"
    "<li x='2' n='12' t='beta'>2</li>"
    "<li x='1' n='12' t='Gamma'>3</li>"
    "<li x='1' n='12a' t='delta'>4</li>"
    "<li n='-3' t='Epsilon'>5</li>"
    "<li x='1' n='3' t='zeta'>6</li>"
    "</ul>";

std::string positions(const std::string& predicate) {
  return joined(query(gbk(kList), "//ul[@id='l']/li[" + predicate + "]/@@text"));
}

TEST(QueryConditions, IndexesAndRanges) {
  struct Case {
    const char* why;
    std::string predicate, expected;
  } cases[] = {
      {"first", "1", "1"},
      {"third", "3", "3"},
      {"last", "-1", "6"},
      {"second from the end", "-2", "5"},
      {"zero selects nothing", "0", ""},
      {"beyond the end", "7", ""},
      {"before the start", "-7", ""},
      {"second to last", "2~-1", "2,3,4,5,6"},
      {"bounds are swapped", "3~1", "1,2,3"},
      {"two negative bounds", "-2~-1", "5,6"},
      {"range clamped to the candidates", "5~99", "5,6"},
      {"range with one part", "2~", ""},
      {"range with non-numbers", "a~b", ""},
      {"range with three parts", "1~2~3", ""},
      {"and(n) is the position among all", "@x='1'\\and(3)", "3"},
      {"and(n) off the selection", "@x='1'\\and(2)", ""},
      {"or(n) adds a position", "@x='1'\\or(2)", "1,2,3,4,6"},
      {"or with a range", "@x='2'\\or(5~6)", "2,5,6"},
      {"a bare index counts the selected ones", "@x='1'\\2", "3"},
      {"a bare negative index counts from the last selected", "@x='1'\\-1", "6"},
      {"a bare range among the selected", "@x='1'\\2~3", "3,4"},
      {"a bare negative range among the selected", "@x='1'\\-2~-1", "4,6"},
  };
  for (const Case& c : cases) EXPECT_EQ(positions(c.predicate), c.expected) << c.why;
}

TEST(QueryConditions, Operators) {
  struct Case {
    const char* why;
    std::string predicate, expected;
  } cases[] = {
      {"presence", "@x", "1,2,3,4,6"},
      {"equality", "@x='1'", "1,3,4,6"},
      {"inequality keeps the ones without the attribute", "@x!='1'", "2,5"},
      {"equality is case-sensitive", "@t='alpha'", ""},
      {"equality, same case", "@t='Alpha'", "1"},
      {"inequality is case-sensitive", "@t!='alpha'", "1,2,3,4,5,6"},
      {"at least: non-digit values never qualify", "@n>=12", "2,3"},
      {"greater", "@n>5", "2,3"},
      {"less: negative values are not numbers", "@n<12", "1,6"},
      {"at most", "@n<=5", "1,6"},
      {"numbers compared as integers, not texts", "@n>=100", ""},
      {"non-numeric wanted value selects nothing", "@n>=abc", ""},
      {"contains", "@t<>ph", "1"},
      {"does not contain", "@t!<>ta", "1,3,5"},
      {"an empty value is never contained", "@t<>''", ""},
      {"so everything lacks it", "@t!<>''", "1,2,3,4,5,6"},
      {"element text", "@@text='3'", "3"},
      {"two conditions and together", "@x='1'\\@n='12'", "3"},
      {"filtered value", "@n{%re[[0-9]+]re%}='12'", "2,3,4"},
      {"filter with letter case ignored", "@t{%del[a]del%}='Gmm'", "3"},
      {"Chinese quotes", "@t=“beta”", "2"},
  };
  for (const Case& c : cases) EXPECT_EQ(positions(c.predicate), c.expected) << c.why;
}

TEST(QueryConditions, Keywords) {
  struct Case {
    const char* why;
    std::string predicate, expected;
  } cases[] = {
      {"odd positions counted among all candidates", "@x='1'\\odd()", "1,3"},
      {"even positions", "@x='1'\\even()", "4,6"},
      {"rev inverts the selection so far", "@x='1'\\rev()", "2,5"},
      {"rev after odd", "@x='1'\\odd()\\rev()", "2,4,5,6"},
      {"odd alone", "odd()", "1,3,5"},
      {"max keeps every largest, non-numbers never qualify", "max(@n)", "2,3"},
      {"min: negative numbers never qualify", "min(@n)", "6"},
      {"max among the selected", "@x='1'\\max(@n)", "3"},
      {"min among the selected", "@x='1'\\min(@n)", "6"},
      {"max of an attribute nobody has", "max(@zz)", ""},
      {"unknown keyword acts as and", "foo(@x='2')", "2"},
      {"explicit and", "and(@x='2')", "2"},
      {"or with a comparison", "@x='2'\\or(@n='3')", "2,6"},
  };
  for (const Case& c : cases) EXPECT_EQ(positions(c.predicate), c.expected) << c.why;
}

TEST(QueryConditions, FlagListsDirectly) {
  HtmlDocument document;
  ASSERT_TRUE(document.loadHtml(kList));
  HtmlQuery q;
  const std::vector<HtmlDocument> candidates = q.ChildrenByTag(document.querySelector("ul"), "li");
  ASSERT_EQ(candidates.size(), 6u);
  const ConditionSpec second = q.ParseCondition("2");
  // Previous flags of another length count as all true.
  EXPECT_EQ(q.FilterByCondition(candidates, {true, false}, second),
            (std::vector<bool>{false, true, false, false, false, false}));
  EXPECT_EQ(q.FilterByCondition(candidates, {false, true, true, false, false, false}, second),
            (std::vector<bool>{false, false, true, false, false, false}));
  EXPECT_TRUE(q.FilterByCondition({}, {}, second).empty()) << "no candidates";
  // Positions outside the tables, which only a hand-written ConditionSpec
  // holds: an unknown keyword combines as "and" and its index counts among
  // the candidates still selected; an unknown operator holds for none.
  ConditionSpec unknownKeyword = second;
  unknownKeyword.keyword = "9";
  EXPECT_EQ(
      q.FilterByCondition(candidates, {false, true, true, false, false, false}, unknownKeyword),
      (std::vector<bool>{false, false, true, false, false, false}));
  ConditionSpec unknownOperator = q.ParseCondition("@x!='none'");
  ASSERT_FALSE(unknownOperator.op.empty());
  unknownOperator.op = "9";
  EXPECT_EQ(q.FilterByCondition(candidates, {}, unknownOperator), std::vector<bool>(6, false));
  // max with textually different but equal numbers: only a greater one wins.
  HtmlDocument zeros;
  ASSERT_TRUE(zeros.loadHtml("<b n='012'></b><b n='12'></b><b n='13'></b><b n='013'></b>"));
  const std::vector<HtmlDocument> bs = q.DescendantsByTag(zeros, "b");
  EXPECT_EQ(q.FilterByCondition(bs, {}, q.ParseCondition("max(@n)")),
            (std::vector<bool>{false, false, true, false}));
}

}  // namespace
}  // namespace varnel
