#include <gtest/gtest.h>

#include "htmlquery/html_query.h"
#include "htmlquery/tests/query_test_support.h"

namespace varnel {
namespace {

using testing::gbk;
using testing::joined;
using testing::query;

// ApplyFilters receives the list protected, as a parsed condition holds it.
std::string filtered(const std::string& value, const std::string& writtenList, bool* ok = nullptr) {
  HtmlQuery q;
  Text result = "stale";
  const bool nonEmpty = q.ApplyFilters(gbk(value), q.TransformFilters(gbk(writtenList), 1), result);
  if (ok) *ok = nonEmpty;
  return textToUtf8(result);
}

TEST(QueryFilters, EveryKind) {
  struct Case {
    const char* why;
    std::string value, filters, expected;
  } cases[] = {
      {"delete removes every space", " a b c ", "%del[ ]del%", "abc"},
      {"delete ignores letter case", "AxaXa", "%del[x]del%", "Aaa"},
      {"delete with several bodies", "a-b_c", "%del[-]del%%del[_]del%", "abc"},
      {"empty delete body is skipped", "abc", "%del[]del%", "abc"},
      {"trim only at the ends", "  a b  ", "%sswk%", "a b"},
      {"trim leaves full-width spaces", "　a", "%sswk%", "　a"},
      {"replace ignores letter case", "Aaa", "%th[A,b]th%", "bbb"},
      {"replace with Chinese", "第1页", "%th[页,頁]th%", "第1頁"},
      {"replace ignores a third part", "aaa", "%th[a,b,c]th%", "bbb"},
      {"replace needs two parts", "aaa", "%th[a]th%", "aaa"},
      {"replace drops empty parts", "aaa", "%th[,a,b]th%", "bbb"},
      {"a literal comma inside replace", "a,b", "%th[%t[,]t%,;]th%", "a;b"},
      {"middle: first right after left", "x<b>1</b><b>2</b>", "%mid[<b>,</b>]mid%", "1"},
      {"middle: right from the end", "x<b>1</b><b>2</b>", "%mid[<b>,</b>,1]mid%", "1</b><b>2"},
      {"middle: empty left is the start", "ab=cd", "%mid[,=]mid%", "ab"},
      {"middle: empty right is the end", "ab=cd", "%mid[=,]mid%", "cd"},
      {"middle: left not found", "abc", "%mid[x,c]mid%", ""},
      {"middle: right not found", "abc", "%mid[a,x]mid%", ""},
      {"middle: nothing between", "ab", "%mid[a,b]mid%", ""},
      {"middle: last right before left", "b-a-", "%mid[a,b,1]mid%", ""},
      {"add prefix and suffix", "v", "%add[<,>]add%", "<v>"},
      {"add with an empty prefix", "v", "%add[,>]add%", "v>"},
      {"add needs two parts", "v", "%add[<]add%", "v"},
      {"regex takes the first match", "共12页", "%re[\\d+]re%", "12"},
      {"regex without a match empties", "abc", "%re[\\d+]re%", ""},
      {"regex is case-sensitive", "ABC", "%re[abc]re%", ""},
      {"regex dot does not cross lines", "a\nb", "%re[a.b]re%", ""},
      {"bad regex leaves the value", "abc", "%re[(]re%", "abc"},
      {"two patterns in a row", "共12页", "%re[\\d+]re%,%re[2]re%", "2"},
      {"a bad pattern after a good one", "共12页", "%re[\\d+]re%,%re[[]re%", "12"},
      {"regex with brackets and braces", "id=2024", "%re[[0-9]{2}$]re%", "24"},
      {"format removes the template's pieces", "第12页", "%f[第%text%页]f%", "12"},
      {"format removes the first occurrence only", "a1a", "%f[a%text%]f%", "1a"},
      {"num has no effect", "a1", "%num%", "a1"},
      {"an item without a marker does nothing", "abc", "plain", "abc"},
      {"chain: trim, then wrap", " v ", "%sswk%,%add[<,>]add%", "<v>"},
      {"chain order matters", "12页", "%add[第,]add%,%f[第%text%页]f%", "12"},
      {"%hhf% inside a body", "a\r\nb", "%del[%hhf%]del%", "ab"},
      {"nested path on a fragment", "<p><a href='/1'>x</a><a href='/2'>y</a></p>",
       "%path[//a/@href]path%", "/1"},
      {"nested path without result", "<p>no links</p>", "%path[//a/@href]path%", ""},
      {"empty nested path is skipped", "keep", "%path[]path%", "keep"},
  };
  for (const Case& c : cases) EXPECT_EQ(filtered(c.value, c.filters), c.expected) << c.why;

  bool ok = true;
  filtered("abc", "%re[x]re%", &ok);
  EXPECT_FALSE(ok) << "an empty result reports false";
  filtered("abc", "%sswk%", &ok);
  EXPECT_TRUE(ok);
}

TEST(QueryFilters, ManyPatternsInTurn) {
  // More patterns than stay compiled, each used again after the others: a
  // stale compiled pattern would answer for the wrong one.
  const struct {
    const char* filters;
    const char* expected;
  } cases[] = {{"%re[a]re%", "a"},   {"%re[b+]re%", "bb"}, {"%re[c.]re%", "cd"},
               {"%re[\\d]re%", "1"}, {"%re[e$]re%", "e"},  {"%re[^x]re%", "x"}};
  for (int round = 0; round < 2; ++round)
    for (const auto& c : cases) EXPECT_EQ(filtered("xabbcd1e", c.filters), c.expected) << c.filters;
}

TEST(QueryFilters, InExpressions) {
  const Text page =
      gbk("<ul><li><a href='/book/12.html' title=' 第3册 '>a</a></li>"
          "<li><a href='/book/x.html' title='第4册'>b</a></li>"
          "<li><a href='/list' title='目录'>c</a></li></ul>");
  struct Case {
    const char* why;
    std::string expression, expected;
  } cases[] = {
      {"an attribute filtered to nothing still yields its empty text", "//a/@href{%re[[0-9]+]re%}",
       "12,,"},
      {"filters on several attributes", "//li[1]/a/@href{%f[/book/%text%.html]f%}&@title{%sswk%}",
       "12\t第3册"},
      {"a filtered condition", "//a[@title{%f[第%text%册]f%,%sswk%}>=4]/@@text", "b"},
      {"a condition filtered to nothing counts as absent", "//a[@href{%re[\\d+]re%}]/@@text", "a"},
      {"commas inside bodies do not cut the list; operators in values need a literal body",
       "//a[@href{%mid[/,/]mid%,%add[<,>]add%}=%t[<book>]t%]/@@text", "a,b"},
  };
  for (const Case& c : cases) EXPECT_EQ(joined(query(page, c.expression)), c.expected) << c.why;
}

TEST(QueryFilters, NestedPathInsideNestedPath) {
  // The inner filter's markers travel as literal text, so the outer body does
  // not end at the inner "]path%".
  const Text page = "<section><div><a href='/deep'>x</a></div></section>";
  const std::string expression =
      "//section/@@html{%path[//div/@@html{%t[%path[]t%//a/@href%t[]path%]t%}]path%}";
  EXPECT_EQ(joined(query(page, expression)), "/deep");
}

}  // namespace
}  // namespace varnel
