#include <gtest/gtest.h>

#include "htmlquery/html_query.h"
#include "htmlquery/tests/query_test_support.h"

namespace varnel {
namespace {

using testing::gbk;
using testing::joined;
using testing::loadPage;
using testing::query;
using Texts = std::vector<std::string>;

// The category synchronisation reads these from the front page.
TEST(QueryApplication, FrontPageExpressions) {
  const Text page = loadPage("query_front_page.html");
  HtmlQuery q;
  std::vector<Text> blocks;
  ASSERT_TRUE(q.QueryHtml(page, "//div[@id='cemian']/div", blocks));
  ASSERT_EQ(blocks.size(), 11u) << "three leading blocks and eight editions";
  for (const Text& block : blocks) EXPECT_TRUE(block.starts_with("<div")) << block;

  struct Block {
    std::size_t index;  // 0-based into blocks
    std::string edition;
    Texts hrefs, titles;
  } expected[] = {
      {3, "小学专版共2类", {"/list/1-1.html", "/list/1-2.html"}, {"语文", "数学"}},
      {4,
       "初中专版共3类",
       {"/list/2-1.html", "/list/2-2.html", "/list/2-3.html"},
       {"物理", "化学", "物理"}},
      {5, "高中专版共0类", {}, {}},  // no menu: the caller falls back to div[9]
      {8, "综合专版共2类", {}, {}},  // its links are not in menu items
      {9, "英文专版共1类", {"/list/10-1.html"}, {"Reading"}},
  };
  for (const Block& b : expected) {
    const Text& block = blocks[b.index];
    EXPECT_EQ(query(block, "//li[@class='li1']/@@text"), Texts{b.edition}) << b.index;
    EXPECT_EQ(query(block, "//li[@class='aaaul childmenu']/a/@href"), b.hrefs) << b.index;
    EXPECT_EQ(query(block, "//li[@class='aaaul childmenu']/a/@@text"), b.titles) << b.index;
  }
  EXPECT_EQ(query(page, "//div[@id='cemian']/div[9]//a/@href"),
            (Texts{"/list/9-1.html", "/list/9-2.html"}));
  EXPECT_EQ(query(page, "//div[@id='cemian']/div[9]//a/@@text"), (Texts{"期刊", "报纸"}));
}

// The book list reads three parallel lists; separators are skipped, a book
// without a class is kept and a missing attribute is an empty entry.
TEST(QueryApplication, BookListExpressions) {
  const Text page = loadPage("query_book_list.html");
  const std::string path = "//div[@id='middle']/div[3]/div[@class!='cleardiv']";
  EXPECT_EQ(query(page, path + "/@url"),
            (Texts{"/book/101.html", "/book/102.html", "/book/103.html", "/book/104.html"}));
  EXPECT_EQ(query(page, path + "/@nname"),
            (Texts{"三年级语文（上）", "三年级语文（下）", "古诗 / 词选", "作文指导"}));
  EXPECT_EQ(query(page, path + "/@pagecount"), (Texts{"120", "98", "45", ""}));
}

const char* const kSmallPage =
    "<html><body><div id='a'>"
    "<ul><li><a href='x.html' title='T1'>one</a></li><li><a href='about:y.html'>two</a></li>"
    "<li><a>three</a></li></ul>"
    "<ul class='second'><li><p>p1</p><p>p2</p></li></ul>"
    "</div><p id='q' data-v='v1' data-w=w2>text</p></body></html>";

TEST(QueryEvaluation, PathsAndResults) {
  const Text page = gbk(kSmallPage);
  struct Case {
    const char* why;
    std::string expression;
    std::string expected;  // texts joined by ","
  } cases[] = {
      {"attribute step gives one text per node, empty when absent", "//a/@href", "x.html,y.html,"},
      {"about: prefix is dropped from href", "//li[2]/a/@href", "y.html"},
      {"child axis from the document finds the html element only", "/body", ""},
      {"child steps all the way down", "/html/body/div/ul[2]/li/p[2]/@@text", "p2"},
      {"several attributes with the TAB joiner", "//a[1]/@href&@title", "x.html\tT1"},
      {"a literal joiner", "//a[1]/@href&@title[%t[ | ]t%]", "x.html | T1"},
      {"@@text drops line breaks", "//ul[@class='second']/li/@@text", "p1p2"},
      {"@@html is the node's markup", "//p[@id='q']/@@html",
       "<p id=\"q\" data-v=\"v1\" data-w=\"w2\">text</p>"},
      {"@@innerhtml and @@textcontent", "//p[@id='q']/@@innerhtml&@@textcontent[;]", "text;text"},
      {"@@@ reads the attribute out of the markup", "//p[@id='q']/@@@data-v&@@@data-w[;]", "v1;w2"},
      {"unknown reads give empty texts", "//p[@id='q']/@@nothing&nothing&@zz[;]", ";;"},
      {"outerHTML when the last step is a tag step", "//li[3]/a", "<a>three</a>"},
      {"trailing slash selects every child element", "//ul[@class='second']/li/",
       "<p>p1</p>,<p>p2</p>"},
      {"* selects every element", "//div/*[2]/@class", "second"},
      {"indexes apply per context node", "//ul/li[1]/@@text", "one,p1p2"},
      {"two alternatives, first one's results first", "//p[@id]/@id|//a[1]/@href", "q,x.html"},
      {"parent of siblings is reported once", "//ul[1]/li/../@@text", "onetwothree"},
      {"parents of separate lists are each reported", "//li/../@class", ",second"},
      {"css child combinator from the document", "/css[li > a]/@@text", "one,two,three"},
      {"css on descendants, in document order", "//div/css[ul.second p]/@@text", "p1,p2"},
      {"css may hold a literal body", "//css[%t[a[href='x.html']]t%]/@title", "T1"},
      {"css that matches nothing", "//css[table]", ""},
      {"tag names ignore letter case", "//UL[2]/LI/P[1]/@@text", "p1"},
      {"first step without slash", "body/p", ""},
      {"unparsable middle step", "//div/[1]/p", ""},
      {"no alternatives at all", "|", ""},
      {"spaces around | are not steps", " //p[@id]/@id | //li[3]/@@text ", "q,three"},
  };
  for (const Case& c : cases) EXPECT_EQ(joined(query(page, c.expression)), c.expected) << c.why;
}

TEST(QueryEvaluation, OutputsAndEntryPoints) {
  const Text page = gbk(kSmallPage);
  HtmlQuery q;
  std::vector<Text> texts{"stale"}, alternatives{"stale"}, steps{"stale"};
  ASSERT_TRUE(q.QueryHtml(page, "//a[@href=%t[x.html]t%]/@title | //p[@id]/@id", texts,
                          &alternatives, &steps));
  EXPECT_EQ(texts, (std::vector<Text>{"T1", "q"}));
  EXPECT_EQ(alternatives, (std::vector<Text>{"//a[@href=x.html]/@title ", " //p[@id]/@id"}));
  EXPECT_EQ(steps, (std::vector<Text>{"//a[@href=x.html]", "/@title", "//p[@id]", "/@id"}));

  // A query that finds nothing still succeeds, with the outputs emptied.
  ASSERT_TRUE(q.QueryHtml(page, "//table", texts, &alternatives, &steps));
  EXPECT_TRUE(texts.empty());

  // The member document serves Query until the next LoadHtml.
  q.Query("//a/@href", texts);
  EXPECT_TRUE(texts.empty()) << "nothing loaded yet";
  ASSERT_TRUE(q.LoadHtml(page));
  q.Query("//ul[1]/li[-1]/a/@@text", texts);
  EXPECT_EQ(texts, (std::vector<Text>{"three"}));
  ASSERT_TRUE(q.LoadHtml("<p id='z'>"));
  q.Query("//p/@id", texts);
  EXPECT_EQ(texts, (std::vector<Text>{"z"}));
}

TEST(QueryEvaluation, StepMessages) {
  HtmlDocument document;
  ASSERT_TRUE(document.loadHtml(gbk(kSmallPage)));
  HtmlQuery q;
  struct Case {
    const char* why;
    std::string step;
    bool ok;
    std::string message;
    std::size_t nodes;
  } cases[] = {
      {"unparsable", "div", false, "表达式结构解析错误", 0},
      {"malformed condition", "//li[max(@x]", false, "表达式结构解析错误", 0},
      {"malformed attribute item", "/@href{%sswk%", false, "表达式结构解析错误", 0},
      {"document has no parent", "/..", false, "父级未找到", 0},
      {"css without result", "//css[table]", false, "CSS表达式未找到结果", 0},
      {"tag step without result", "//li[@x='1']", false,
       "当前条件未解析成功，标签名为li,表达式条件为：@x='1'", 0},
      {"tag step with results", "//li", true, "", 4},
  };
  for (const Case& c : cases) {
    std::vector<HtmlDocument> nodes;
    Text isText, isParent, text, message;
    const bool ok = q.EvaluateStep(q.TransformFilters(gbk(c.step), 1), document, nodes, isText,
                                   isParent, text, message);
    EXPECT_EQ(ok, c.ok) << c.why;
    EXPECT_EQ(textToUtf8(message), c.message) << c.why;
    EXPECT_EQ(nodes.size(), c.nodes) << c.why;
    EXPECT_EQ(isText, kQueryFalse) << c.why;
  }
  std::vector<HtmlDocument> nodes;
  Text isText, isParent, text, message;
  EXPECT_TRUE(q.EvaluateStep("/@missing", document, nodes, isText, isParent, text, message));
  EXPECT_EQ(isText, kQueryTrue);
  EXPECT_EQ(text, "") << "one empty text for a missing attribute";
}

TEST(QueryEvaluation, ReadAttributeAndRawAttribute) {
  HtmlDocument document;
  ASSERT_TRUE(document.loadHtml(
      "<div id='d' class='c1 c2' title='t' data-n='5' data-q=\"a b\" data-bare=x1>"
      "data-z=9 <img src='about:pic.jpg'></div>"));
  const HtmlDocument div = document.querySelector("div");
  const HtmlDocument img = document.querySelector("img");
  HtmlQuery q;
  struct Case {
    const char* why;
    const HtmlDocument& node;
    std::string name;
    bool ok;
    std::string value;
  } cases[] = {
      {"id", div, "@id", true, "d"},
      {"class through className", div, "@CLASS", true, "c1 c2"},
      {"title", div, "@title", true, "t"},
      {"other attributes by getAttribute", div, "@data-n", true, "5"},
      {"src loses about:", img, "@src", true, "pic.jpg"},
      {"absent attribute", div, "@href", false, ""},
      {"raw read, quoted", div, "@@@data-q", true, "a b"},
      {"raw read of an attribute only named in the text", div, "@@@data-z", false, ""},
      {"name without @", div, "id", false, ""},
      {"empty name", div, "", false, ""},
      {"text of an element without text", img, "@@text", false, ""},
  };
  for (const Case& c : cases) {
    Text value = "stale";
    EXPECT_EQ(q.ReadAttribute(c.node, gbk(c.name), value), c.ok) << c.why;
    EXPECT_EQ(textToUtf8(value), c.value) << c.why;
  }
  // Names are data, not patterns: regex syntax in them never throws.
  for (const char* name : {"data-(", "[", "*", "\\", "data-n)|(x"})
    EXPECT_EQ(q.ReadRawAttribute(div, name), "") << name;
  EXPECT_EQ(q.ReadRawAttribute(div, "data-n"), "5");
  EXPECT_EQ(q.ReadRawAttribute(HtmlDocument(), "id"), "") << "empty handle";
}

TEST(QueryEvaluation, EmptyAndOddInputsNeverFail) {
  HtmlQuery q;
  std::vector<Text> texts;
  EXPECT_TRUE(q.QueryHtml("", "//p", texts)) << "an empty page is still a document";
  EXPECT_TRUE(texts.empty());
  for (const char* expression : {"",
                                 "/",
                                 "//",
                                 "[",
                                 "]",
                                 "/@",
                                 "/@[",
                                 "//a[",
                                 "//a[]",
                                 "//a[\\]",
                                 "//a[(]",
                                 "//a[)]",
                                 "//a[{]",
                                 "//a[}]",
                                 "//a[@x{]",
                                 "//a/@x{%re[(]re%}",
                                 "//a[%t[",
                                 "%path[//a]path%",
                                 "//a/@href{%path[%path[//a]path%]path%}",
                                 "//*[max()]\\min()\\rev()\\odd()\\even()"}) {
    EXPECT_TRUE(q.QueryHtml(gbk(kSmallPage), expression, texts)) << expression;
  }
  q.Evaluate("//a", HtmlDocument(), texts);
  EXPECT_TRUE(texts.empty()) << "an empty node finds nothing";
}

}  // namespace
}  // namespace varnel
