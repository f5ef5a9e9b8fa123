#include "htmlquery/html_document.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varnel {
namespace {

// Tests are written in UTF-8; the DOM takes and gives code page 936.
Text gbk(std::string_view utf8) { return utf8BytesToText(utf8); }
std::string utf8(std::string_view text) { return textToUtf8(text); }

HtmlDocument load(std::string_view utf8Html) {
  HtmlDocument document;
  EXPECT_TRUE(document.loadHtml(gbk(utf8Html)));
  return document;
}

HtmlDocument loadSavedPage(const std::string& name) {
  std::ifstream in(std::string(VARNEL_TEST_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return load(bytes);
}

std::vector<std::string> tagNames(const HtmlNodeList& list) {
  std::vector<std::string> names;
  for (int i = 1; i <= list.length(); ++i) names.push_back(list.item(i).tagName());
  return names;
}

std::vector<std::string> attributeOf(const HtmlNodeList& list, std::string_view name) {
  std::vector<std::string> values;
  for (int i = 1; i <= list.length(); ++i) values.push_back(utf8(list.item(i).getAttribute(name)));
  return values;
}

using Names = std::vector<std::string>;

TEST(HtmlDocumentTest, EmptyHandlesAnswerEveryReadWithTheEmptyValue) {
  const HtmlDocument empty;
  EXPECT_TRUE(empty.isEmpty());
  EXPECT_EQ(empty.getElementsByTagName("div").length(), 0);
  EXPECT_EQ(empty.getElementsByName("x").length(), 0);
  EXPECT_EQ(empty.getElementsByClassName("x").length(), 0);
  EXPECT_EQ(empty.childNodes().length(), 0);
  EXPECT_EQ(empty.all().length(), 0);
  EXPECT_EQ(empty.querySelectorAll("div").length(), 0);
  EXPECT_EQ(empty.querySelectorAllDetached("div").length(), 0);
  EXPECT_TRUE(empty.querySelector("div").isEmpty());
  EXPECT_TRUE(empty.getElementById("x").isEmpty());
  EXPECT_TRUE(empty.parentNode().isEmpty());
  EXPECT_TRUE(empty.body().isEmpty());
  EXPECT_FALSE(empty.hasAttribute("id"));
  EXPECT_FALSE(empty.hasAttributes());
  EXPECT_FALSE(empty.hasChildNodes());
  EXPECT_EQ(empty.nodeType(), 0);
  for (const Text& read : {empty.getAttribute("id"), empty.tagName(), empty.title(), empty.id(),
                           empty.className(), empty.href(), empty.outerText(), empty.innerText(),
                           empty.textContent(), empty.innerHTML(), empty.outerHTML()})
    EXPECT_EQ(read, "");
  // A chain of reads from a missing node ends in empty text.
  const HtmlDocument page = load("<p>x</p>");
  EXPECT_EQ(page.getElementById("missing").parentNode().querySelector("p").outerHTML(), "");
  EXPECT_TRUE(page.emptyNode().isEmpty());

  const HtmlNodeList list;
  EXPECT_EQ(list.length(), 0);
  EXPECT_TRUE(list.item().isEmpty());

  HtmlDocument attached = page;
  attached.attach(DomObject{});  // attaching nothing empties the handle
  EXPECT_TRUE(attached.isEmpty());
}

TEST(HtmlDocumentTest, LoadingBuildsACompleteDocumentEvenFromNothing) {
  struct Case {
    const char* html;
    const char* why;
  };
  const Case cases[] = {
      {"", "the empty input"},
      {"just text", "text without any tag"},
      {"<td>cell", "a stray table cell"},
      {"</div></p></html>", "end tags only"},
  };
  for (const Case& c : cases) {
    HtmlDocument document;
    ASSERT_TRUE(document.loadHtml(c.html)) << c.why;
    EXPECT_EQ(document.nodeType(), kDocumentNode) << c.why;
    EXPECT_TRUE(document.hasChildNodes()) << c.why;
    EXPECT_EQ(tagNames(document.all()).size() >= 3, true) << c.why;
    EXPECT_EQ(document.body().tagName(), "BODY") << c.why;
    EXPECT_EQ(document.getElementsByTagName("head").length(), 1) << c.why;
  }
  HtmlDocument fresh;
  ASSERT_TRUE(fresh.newDocument());
  EXPECT_EQ(tagNames(fresh.all()), (Names{"HTML", "HEAD", "BODY"}));
  EXPECT_EQ(fresh.body().innerHTML(), "");

  // Loading again replaces the tree; nodes taken before keep the old one.
  HtmlDocument document = load("<p id=old>old</p>");
  const HtmlDocument old = document.getElementById("old");
  ASSERT_TRUE(document.loadHtml("<p id=new>new</p>"));
  EXPECT_TRUE(document.getElementById("old").isEmpty());
  EXPECT_EQ(document.getElementById("new").innerText(), "new");
  EXPECT_EQ(old.innerText(), "old");
}

TEST(HtmlDocumentTest, MessyPageReadsBackThroughEveryOperation) {
  const HtmlDocument page = loadSavedPage("dom_messy_page.html");
  EXPECT_EQ(utf8(page.title()), "书目 列表 - 第1页");

  // The script was not run: what it would have written is not in the tree,
  // and its "</div>" string did not close anything.
  EXPECT_TRUE(page.getElementById("injected").isEmpty());
  EXPECT_EQ(page.getElementsByTagName("script").item().textContent().find("</div>") != Text::npos,
            true);
  EXPECT_EQ(page.getElementById("nav").parentNode().tagName(), "BODY");

  // Unclosed p and li are closed where a browser closes them; the table gets
  // its tbody.
  const HtmlDocument main = page.getElementById("main");
  EXPECT_EQ(tagNames(main.childNodes().item(2).parentNode().all()),
            (Names{"H1", "P", "P", "UL", "LI", "A", "LI", "A", "LI", "A", "TABLE", "TBODY", "TR",
                   "TD", "TD", "A", "TD", "INPUT"}));
  EXPECT_EQ(main.querySelectorAll("ul > li").length(), 3);
  EXPECT_EQ(page.querySelector("table > tbody > tr > td").innerText(), "1");

  // Upper-case tags and unquoted attributes.
  const HtmlDocument nav = page.getElementById("nav");
  EXPECT_EQ(nav.className(), "bar top");
  EXPECT_EQ(nav.querySelector("a").href(), "/index.html");
  EXPECT_EQ(utf8(nav.querySelector("a").title()), "首页");
  EXPECT_EQ(page.body().className(), "catalogue");

  // Entities are decoded in text and attributes.
  EXPECT_EQ(utf8(page.querySelector("h1").innerText()), "古籍 & 善本");
  EXPECT_EQ(nav.querySelectorAll("a").item(2).href(), "list.asp?page=1&sort=2");
  EXPECT_EQ(utf8(nav.innerText()), "首页 > 书目");

  // The class, name and tag-name lists.
  EXPECT_EQ(attributeOf(page.getElementsByClassName("book"), "data-id"),
            (Names{"101", "102", "103"}));
  EXPECT_EQ(attributeOf(page.getElementsByClassName(" old  book "), "data-id"), (Names{"103"}));
  EXPECT_EQ(page.getElementsByClassName("books book").length(), 0);
  EXPECT_EQ(tagNames(page.getElementsByName("pick")), (Names{"A", "INPUT"}));
  EXPECT_EQ(page.getElementsByTagName("LI").length(), 3);
  EXPECT_EQ(main.getElementsByTagName("*").length(), main.all().length());

  // The checkbox's value is present but empty.
  const HtmlDocument box = page.querySelector("input");
  EXPECT_TRUE(box.hasAttribute("value"));
  EXPECT_TRUE(box.hasAttribute("CHECKED"));
  EXPECT_EQ(box.getAttribute("value"), "");

  // Chinese text through the rendered and the plain text.
  const HtmlDocument foot = page.getElementById("foot");
  EXPECT_EQ(utf8(foot.innerText()), "版权所有×2024\r\n联系我们");
  EXPECT_EQ(utf8(foot.textContent()), "版权所有×2024联系我们");
  EXPECT_EQ(utf8(page.querySelectorAll("p").item(2).innerText()), "第二段 结束");
  EXPECT_EQ(utf8(page.querySelector("li a").outerHTML()), "<a href=\"book.asp?id=101\">论语</a>");
}

TEST(HtmlDocumentTest, NodeTypesNamesAndParents) {
  const HtmlDocument page =
      load("<!DOCTYPE html><!--c--><html><body>t<b>x</b><!--in--><svg><foreignObject/></svg>");
  const HtmlNodeList top = page.childNodes();
  ASSERT_EQ(top.length(), 3);
  EXPECT_EQ(top.item(1).nodeType(), kDocumentTypeNode);
  EXPECT_EQ(top.item(2).nodeType(), kCommentNode);
  EXPECT_EQ(top.item(3).nodeType(), kElementNode);
  EXPECT_EQ(top.item(3).tagName(), "HTML");
  EXPECT_EQ(top.item(3).parentNode().nodeType(), kDocumentNode);
  EXPECT_TRUE(page.parentNode().isEmpty());

  const HtmlNodeList children = page.body().childNodes();
  ASSERT_EQ(children.length(), 4);
  EXPECT_EQ(children.item(1).nodeType(), kTextNode);
  EXPECT_EQ(children.item(1).tagName(), "");  // only elements have a tag name
  EXPECT_EQ(children.item(1).textContent(), "t");
  EXPECT_EQ(children.item(3).nodeType(), kCommentNode);
  EXPECT_EQ(children.item(3).textContent(), "in");
  EXPECT_EQ(children.item(3).innerText(), "");
  EXPECT_EQ(children.item(2).tagName(), "B");
  EXPECT_EQ(children.item(4).tagName(), "svg");    // foreign elements keep their case
  EXPECT_TRUE(children.item(2).body().isEmpty());  // only the document has a body
  EXPECT_TRUE(children.item(2) == page.querySelector("b"));
  EXPECT_FALSE(children.item(2) == children.item(1));
}

TEST(HtmlDocumentTest, ListsAreOneBased) {
  const HtmlNodeList items = load("<ul><li>a<li>b<li>c</ul>").getElementsByTagName("li");
  struct Case {
    int index;
    const char* expected;
    const char* why;
  };
  const Case cases[] = {
      {1, "a", "the first item"},  {3, "c", "the last item"}, {0, "", "0 asks for index -1"},
      {4, "", "one past the end"}, {-1, "", "negative"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(items.item(c.index).innerText(), c.expected) << c.why;
    EXPECT_EQ(items.element(c.index).innerText(), c.expected) << c.why;
  }
  EXPECT_EQ(items.item().innerText(), "a");
  EXPECT_EQ(items.element().innerText(), "a");
  EXPECT_EQ(items.length(), 3);
}

TEST(HtmlDocumentTest, AttributesAreReadAsWritten) {
  const HtmlDocument page = load(
      "<a id=x HREF='../a b.html?q=1#f' Title=\"标&quot;题\" class=\"\" data-empty "
      "disabled=>link</a>"
      "<img src=pic.png alt=''>");
  const HtmlDocument a = page.getElementById("x");
  struct Case {
    const char* name;
    bool present;
    const char* value;
    const char* why;
  };
  const Case cases[] = {
      {"href", true, "../a b.html?q=1#f", "relative address, no base applied"},
      {"HrEf", true, "../a b.html?q=1#f", "names match case-insensitively"},
      {"title", true, "标\"题", "entity decoded in the value"},
      {"class", true, "", "present with an empty value"},
      {"data-empty", true, "", "a 0-length attribute without ="},
      {"disabled", true, "", "a 0-length attribute with ="},
      {"style", false, "", "absent"},
      {"", false, "", "the empty name"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(a.hasAttribute(c.name), c.present) << c.why;
    EXPECT_EQ(utf8(a.getAttribute(c.name)), c.value) << c.why;
  }
  EXPECT_EQ(a.href(), "../a b.html?q=1#f");
  EXPECT_EQ(a.id(), "x");
  EXPECT_TRUE(a.hasAttributes());
  EXPECT_FALSE(page.body().hasAttributes());
  EXPECT_FALSE(a.childNodes().item().hasAttributes());  // a text node
  EXPECT_EQ(page.querySelector("img").getAttribute("src"), "pic.png");
  EXPECT_EQ(page.querySelector("img").href(), "");
  EXPECT_TRUE(page.getElementById("").isEmpty());
}

TEST(HtmlDocumentTest, RenderedTextFollowsTheBoxes) {
  struct Case {
    const char* body;
    const char* expected;
    const char* why;
  };
  const Case cases[] = {
      {"  a \n\t b  ", "a b", "whitespace collapsed and trimmed"},
      {"a<b> b </b> c", "a b c", "collapsing runs across inline elements"},
      {"<div>a</div><div>b</div>", "a\r\nb", "one break between blocks"},
      {"<div><div>a</div></div><div>b</div>", "a\r\nb", "nested block ends give one break"},
      {"<p>a</p><p>b</p>", "a\r\n\r\nb", "paragraphs are set apart by an empty line"},
      {"a <br> b<br>", "a\r\nb\r\n", "br breaks the line, even at the end"},
      {"a<br><br>b", "a\r\n\r\nb", "two br give an empty line"},
      {"a<script>x()</script><style>p{}</style><template>t</template>b", "ab",
       "nothing from hidden elements"},
      {"<pre>  a\n   b</pre>c", "  a\r\n   b\r\nc", "pre keeps its whitespace"},
      {"<table><tr><td>1</td><td> 2 </td></tr><tr><td>3</td></tr></table>", "1\t2\r\n3",
       "cells by tabs, rows by breaks"},
      {"<ul><li>一<li>二</ul>", "一\r\n二", "list items are blocks"},
      {"a&nbsp;&nbsp;b", "a  b", "no-break spaces become spaces and are not collapsed"},
      {"<!--c-->a", "a", "comments give nothing"},
  };
  for (const Case& c : cases) {
    const HtmlDocument page = load(std::string("<body>") + c.body);
    EXPECT_EQ(utf8(page.body().innerText()), c.expected) << c.why;
    EXPECT_EQ(page.body().outerText(), page.body().innerText()) << c.why;
  }
  const HtmlDocument page = load("<title>T</title><script>s=1</script><div>d</div>");
  EXPECT_EQ(page.innerText(), "d");  // the head is skipped on the document
  EXPECT_EQ(page.querySelector("script").innerText(),
            "s=1");  // a hidden node answers with its text
  EXPECT_EQ(page.textContent(), "Ts=1d");
}

TEST(HtmlDocumentTest, SerialisationEscapesWhatWouldReparseDifferently) {
  struct Case {
    const char* body;
    const char* expected;
    const char* why;
  };
  const Case cases[] = {
      {"<p class=a>x</p>", "<p class=\"a\">x</p>", "attributes quoted"},
      {"a &lt;b&gt; &amp; &quot;", "a &lt;b&gt; &amp; \"", "text escaped"},
      {"<i title='say \"hi\" & go'></i>", "<i title=\"say &quot;hi&quot; &amp; go\"></i>",
       "attribute escaped"},
      {"<br><img src=x><hr>", "<br><img src=\"x\"><hr>", "void elements have no end tag"},
      {"<input disabled>", "<input disabled=\"\">", "an empty attribute"},
      {"<script>if (a<b && c) {}</script>", "<script>if (a<b && c) {}</script>", "script text raw"},
      {"<!--note-->", "<!--note-->", "comments kept"},
      {"a&nbsp;b", "a&nbsp;b", "no-break space as an entity"},
      {"&#x1F600;", "&#x1F600;", "characters without a GBK form as references"},
      {"<DIV><SPAN>中文</SPAN></DIV>", "<div><span>中文</span></div>", "tag names in lower case"},
  };
  for (const Case& c : cases) {
    const HtmlDocument page = load(std::string("<body>") + c.body);
    EXPECT_EQ(utf8(page.body().innerHTML()), c.expected) << c.why;
    EXPECT_EQ(utf8(page.body().outerHTML()), std::string("<body>") + c.expected + "</body>")
        << c.why;
  }
  const HtmlDocument page = load("<!DOCTYPE html><title>t</title>");
  EXPECT_EQ(page.outerHTML(),
            "<!DOCTYPE html><html><head><title>t</title></head><body></body></html>");
  EXPECT_EQ(page.innerHTML(), page.outerHTML());
}

TEST(HtmlDocumentTest, InvalidSelectorsGiveTheEmptyList) {
  const HtmlDocument page = load("<div><a href=x>1</a><ul><li>a</li><li>b</li></ul></div>");
  // Each of these crashed the selector engine or was half accepted by it.
  const char* invalid[] = {":not(",
                           ":has(",
                           "a[",
                           ":nth-child(",
                           "li:not(.x",
                           "a[href='x]",
                           "a[href=\"x\"",
                           "div)",
                           "a]",
                           "(",
                           "\\",
                           "",
                           "   ",
                           "li::",
                           "###",
                           "a >",
                           "[",
                           "div, ",
                           ":nth-child(2n+",
                           "a[href=x",
                           "li:not(. x)",
                           "a:has(> )",
                           "li::before",
                           "li:nosuch",
                           "li:nosuch(1)",
                           "###",
                           "#x#",
                           "..a",
                           "a:is(b)",
                           "a/*c*/",
                           "#1a",
                           "--x",
                           "a\\:b",
                           "div>\\\\"};
  for (const char* selector : invalid) {
    EXPECT_EQ(page.querySelectorAll(selector).length(), 0) << selector;
    EXPECT_TRUE(page.querySelector(selector).isEmpty()) << selector;
    EXPECT_EQ(page.querySelectorAllDetached(selector).length(), 0) << selector;
  }
  EXPECT_EQ(page.querySelectorAll("li:not(.x)").length(), 2);
  // Well-formed selectors in the spellings pages use; the engine misread a
  // combinator written without spaces ("div>a").
  const std::pair<const char*, int> valid[] = {
      {"div>a", 1},
      {"div> a", 1},
      {"div >a", 1},
      {"a+ul", 1},
      {"a~ul", 1},
      {"div>ul>li", 2},
      {"a[href^='x'] ", 1},
      {"a[href=x i]", 1},
      {"li:nth-child(2n + 1)", 1},
      {"li:nth-child(-n+3)", 2},
      {"li:first-child", 1},
      {"div:has(> a)", 1},
      {"ul:not(div)", 1},
      {"LI", 2},
      {":root", 1},
      {"a[x='>']", 0},
  };
  for (const auto& [selector, count] : valid)
    EXPECT_EQ(page.querySelectorAll(selector).length(), count) << selector;
  EXPECT_EQ(page.querySelectorAll("div:has(li)").length(), 1);
  EXPECT_EQ(page.querySelectorAll("li:nth-child(2n+1)").length(), 1);
  EXPECT_EQ(page.querySelectorAll("a[href='x']").length(), 1);
  EXPECT_EQ(page.querySelectorAll("li:nth-child(2)").item().innerText(), "b");
  EXPECT_EQ(page.querySelectorAll("a[title='(']").length(), 0);  // brackets inside quotes are text
}

TEST(HtmlDocumentTest, SelectorGroupsComeBackInDocumentOrderOnce) {
  const HtmlDocument page = load(
      "<!DOCTYPE html><div id=d1><a>1</a><ul><li>a</li><li></li></ul></div><div "
      "id=d2><a>2</a></div><p></p>");
  EXPECT_EQ(tagNames(page.querySelectorAll("li, div, a")),
            (Names{"DIV", "A", "LI", "LI", "DIV", "A"}));
  EXPECT_EQ(tagNames(page.querySelectorAll("div, div, #d1")), (Names{"DIV", "DIV"}));
  EXPECT_EQ(tagNames(page.querySelectorAll("*:empty")), (Names{"HEAD", "LI", "P"}));  // no doctype
  // Scoped: only descendants, never the node itself; ancestors still count.
  const HtmlDocument d1 = page.getElementById("d1");
  EXPECT_EQ(tagNames(d1.querySelectorAll("div, li")), (Names{"LI", "LI"}));
  EXPECT_EQ(d1.querySelector("ul").querySelectorAll("div li").length(), 2);
  EXPECT_EQ(d1.querySelector("a").innerText(), "1");
}

TEST(HtmlDocumentTest, DetachedSelectionSeesOnlyTheCopy) {
  const HtmlDocument page =
      load("<div id=outer><ul id=list><li>a</li><li>b</li></ul></div><ul><li>c</li></ul>");
  const HtmlDocument list = page.getElementById("list");
  HtmlNodeList items = list.querySelectorAllDetached("li");
  EXPECT_EQ(attributeOf(items, "id"), (Names{"", ""}));
  ASSERT_EQ(items.length(), 2);
  EXPECT_EQ(items.item(1).innerText(), "a");
  EXPECT_EQ(items.item(2).innerText(), "b");
  // The copy is a document of its own: the ancestors outside the node are gone.
  EXPECT_EQ(list.querySelectorAll("#outer li").length(), 2);
  EXPECT_EQ(list.querySelectorAllDetached("#outer li").length(), 0);
  EXPECT_EQ(list.querySelectorAllDetached("body > ul > li").length(), 2);
  EXPECT_EQ(items.item(1).parentNode().parentNode().tagName(), "BODY");
}

TEST(HtmlDocumentTest, NodesAndListsOutliveTheirDocumentHandle) {
  HtmlDocument node;
  HtmlNodeList list;
  HtmlNodeList detached;
  {
    HtmlDocument document;
    ASSERT_TRUE(document.loadHtml(gbk("<div id=k title=标题><b>粗</b><i>斜</i></div>")));
    node = document.getElementById("k");
    list = document.querySelectorAll("b, i");
    detached = node.querySelectorAllDetached("i");
  }  // the document handle is gone; the tree must not be
  EXPECT_EQ(utf8(node.title()), "标题");
  EXPECT_EQ(node.parentNode().parentNode().parentNode().nodeType(), kDocumentNode);
  EXPECT_EQ(utf8(list.item(2).innerText()), "斜");
  EXPECT_EQ(utf8(detached.item().outerHTML()), "<i>斜</i>");

  HtmlDocument copy = node;
  node = HtmlDocument();  // copies share the node, not its lifetime
  EXPECT_EQ(utf8(copy.innerText()), "粗斜");
  list = HtmlNodeList();
  EXPECT_EQ(copy.all().length(), 2);
}

// Nesting deeper than 512 levels is read as its content: the page loads whole
// (the text inside, what follows the nesting), elements stop near the bound,
// and the walks over the deepest tree that remains run without recursion.
TEST(HtmlDocumentTest, DeepNestingIsBoundedAndReadWhole) {
  constexpr int kDepth = 100000;
  constexpr int kBound = 512;
  for (const std::string tag : {"span", "div"}) {
    std::string html = "<body>";
    for (int i = 0; i < kDepth; ++i) html += "<" + tag + ">";
    html += "x";
    for (int i = 0; i < kDepth; ++i) html += "</" + tag + ">";
    html += "<p id=\"after\">after</p>";
    HtmlDocument page = load(html);
    const HtmlDocument body = page.body();
    const int built = body.getElementsByTagName(tag).length();
    EXPECT_GT(built, kBound - 8) << tag;
    EXPECT_LE(built, kBound) << tag;
    EXPECT_EQ(body.textContent(), "xafter") << tag;
    EXPECT_EQ(body.querySelectorAll("p").item(1).outerHTML(), "<p id=\"after\">after</p>") << tag;
    const HtmlDocument deepest = body.getElementsByTagName(tag).item(built);  // counted from 1
    EXPECT_EQ(deepest.outerHTML(), "<" + tag + ">x</" + tag + ">") << tag;
    page = HtmlDocument();  // the tree goes with the last handle
    EXPECT_EQ(deepest.innerText(), "x") << tag;
  }
}

TEST(HtmlDocumentTest, ThreadsWorkOnDocumentsOfTheirOwn) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 50;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      const std::string mark = std::to_string(t);
      for (int round = 0; round < kRounds; ++round) {
        HtmlDocument page;
        if (!page.loadHtml("<ul><li class=k" + mark + ">" + mark + "</li><li>x</li></ul>"))
          ++wrong[t];
        if (page.querySelectorAll("li.k" + mark + ", li").length() != 2) ++wrong[t];
        if (page.querySelector(".k" + mark).innerText() != mark) ++wrong[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace varnel
