// The demo site's pages answer the program's expressions as the real site's do.
#include <gtest/gtest.h>
#include <httplib.h>

#include <string>
#include <vector>

#include "app/catalogue_site.h"
#include "htmlquery/html_query.h"
#include "regex/regex_object.h"
#include "tools/demo_site/demo_site.h"

namespace varnel::demo {
namespace {

Text gbk(std::string_view utf8) { return utf8BytesToText(utf8); }

std::vector<Text> query(std::string_view utf8Page, std::string_view expression) {
  HtmlQuery html;
  std::vector<Text> texts;
  html.QueryHtml(gbk(utf8Page), expression, texts);
  return texts;
}

TEST(DemoCatalogue, AnswersEveryPathItLinks) {
  DemoCatalogue catalogue;
  const DemoBook& missing = catalogue.findSubject("示例专版", "故障演示")->books.at(1);
  ASSERT_EQ(missing.missingPages, std::vector<int>{3});
  const DemoBook& first = catalogue.editions().front().subjects.front().books.front();
  struct Case {
    std::string path;
    int status;
    std::string_view contentType;
    const char* why;
  } cases[] = {
      {"/", 200, kHtmlContentType, "front page"},
      {catalogue.editions().front().subjects.front().listPath, 200, kHtmlContentType, "book list"},
      {first.pagePath(), 200, kHtmlContentType, "book page"},
      {first.imagePath(1), 200, kImageContentType, "first page"},
      {first.imagePath(first.pageCount), 200, kImageContentType, "last page"},
      {first.imagePath(first.pageCount + 1), 404, kHtmlContentType, "past the last page"},
      {first.imagePath(0), 404, kHtmlContentType, "page 0"},
      {missing.imagePath(3), 404, kHtmlContentType, "the missing page"},
      {"/files/x/1.jpg", 404, kHtmlContentType, "no such book"},
      {"/nothing", 404, kHtmlContentType, "unknown path"},
  };
  for (const Case& c : cases) {
    DemoResponse response = catalogue.respond(c.path);
    EXPECT_EQ(response.status, c.status) << c.why;
    EXPECT_EQ(response.contentType, c.contentType) << c.why;
  }
}

// The plain catalogue and the one with every fault edition and the bench book.
std::vector<DemoOptions> catalogueVariants() {
  return {
      DemoOptions{},
      DemoOptions{.faultCases = true, .imageWidth = 40, .imageHeight = 60, .benchBookPages = 3}};
}

constexpr std::string_view kAuthority = "127.0.0.1:8123";

TEST(DemoCatalogue, FrontPageAnswersTheCategoryQueries) {
  for (const DemoOptions& options : catalogueVariants()) {
    DemoCatalogue catalogue(options);
    const std::string page = catalogue.frontPage(kAuthority);
    const std::vector<Text> blocks = query(page, kCategoryBlocksQuery);
    ASSERT_EQ(blocks.size(), kSkippedCategoryBlocks + catalogue.editions().size());
    for (std::size_t i = 0; i < catalogue.editions().size(); ++i) {
      const DemoEdition& edition = catalogue.editions()[i];
      const std::string block = textToUtf8(blocks[kSkippedCategoryBlocks + i]);
      std::vector<Text> names = query(block, kEditionNameQuery);
      ASSERT_FALSE(names.empty()) << edition.name;
      EXPECT_EQ(trimSpaces(names.front()), gbk(edition.name));

      std::vector<Text> hrefs = query(block, kMenuHrefsQuery);
      std::vector<Text> titles = query(block, kMenuTitlesQuery);
      if (edition.plainLinks) {
        EXPECT_TRUE(hrefs.empty()) << edition.name << " has no menu links";
        EXPECT_EQ(kSkippedCategoryBlocks + i + 1, 9u) << "it is the ninth block";
        hrefs = query(page, kFallbackHrefsQuery);
        titles = query(page, kFallbackTitlesQuery);
      }
      ASSERT_EQ(hrefs.size(), edition.subjects.size()) << edition.name;
      ASSERT_EQ(titles.size(), edition.subjects.size()) << edition.name;
      for (std::size_t j = 0; j < hrefs.size(); ++j) {
        EXPECT_EQ(hrefs[j], edition.subjects[j].href(kAuthority));
        EXPECT_EQ(titles[j], gbk(edition.subjects[j].name));
      }
    }
  }
}

TEST(DemoCatalogue, BookListAndBookPagesAnswerTheirQueries) {
  for (const DemoOptions& options : catalogueVariants()) {
    DemoCatalogue catalogue(options);
    for (const DemoEdition& edition : catalogue.editions()) {
      for (const DemoSubject& subject : edition.subjects) {
        const std::string page = catalogue.bookListPage(subject);
        std::vector<Text> urls = query(page, kBookUrlsQuery);
        std::vector<Text> titles = query(page, kBookTitlesQuery);
        std::vector<Text> counts = query(page, kBookPageCountsQuery);
        ASSERT_EQ(urls.size(), subject.books.size()) << subject.name;
        ASSERT_EQ(titles.size(), subject.books.size()) << subject.name;
        ASSERT_EQ(counts.size(), subject.books.size()) << subject.name;
        for (std::size_t k = 0; k < subject.books.size(); ++k) {
          const DemoBook& book = subject.books[k];
          EXPECT_EQ(urls[k], book.pageHref());
          EXPECT_EQ(titles[k], gbk(book.title));
          EXPECT_EQ(counts[k], gbk(book.pageCountAttribute()));

          RegexObject regex;
          ASSERT_TRUE(regex.execute(kBasePathPattern, gbk(catalogue.bookPage(book))));
          EXPECT_EQ(regex.matchCount(), book.hasBasePath ? 1 : 0) << "the decoy never matches";
          EXPECT_EQ(regex.submatchText(1, 1), book.hasBasePath ? book.imageBaseHref() : "");
        }
      }
    }
  }
}

TEST(DemoSite, ServesOverHttpAndStops) {
  DemoSite site;
  EXPECT_EQ(site.origin(), "");
  ASSERT_TRUE(site.start());
  EXPECT_GT(site.port(), 0);
  EXPECT_FALSE(site.start()) << "already running";
  httplib::Client client("127.0.0.1", site.port());
  auto front = client.Get("/");
  ASSERT_TRUE(front);
  EXPECT_EQ(front->status, 200);
  EXPECT_EQ(front->body, site.catalogue().frontPage());
  auto missing = client.Get("/nothing");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  site.stop();
  site.stop();  // a second stop does nothing
}

}  // namespace
}  // namespace varnel::demo

extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
