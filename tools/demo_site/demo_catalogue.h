// The demo catalogue: a small, fixed set of editions, subjects and books, and
// the pages the program reads from the catalogue site, generated in UTF-8.
//
// Front page: <div id="cemian"> holds three header blocks, one block per
// edition with its subjects as <li class="aaaul childmenu"><a href=...> links,
// and as its ninth child a block whose links sit in a plain paragraph (the
// links every block without menu links receives). Book-list pages hold the
// books as <div url=... nname=... pagecount=...> in the third div of
// <div id="middle">; a book page names its images' base path in
// `window.basepathh = "...";` after a stale `window.basepath` line.
//
// One edition, "示例专版", holds the awkward cases: a book with a missing page,
// a book page without the base path, a title with characters no folder name
// may hold, a book without a title and a subject without books.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::demo {

struct DemoBook {
  int id = 0;
  std::string title;  // UTF-8; may be empty
  int pageCount = 0;
  std::vector<int> missingPages{};  // answered with 404
  bool hasBasePath = true;          // false: the page script lacks window.basepathh

  std::string pagePath() const;   // "/book/<id>.html"
  std::string imageBase() const;  // "/files/<id>/", what window.basepathh holds
  std::string imagePath(int page) const;
  bool hasPage(int page) const;
};

struct DemoSubject {
  std::string name;
  std::string listPath;  // "/list/<edition>-<subject>.html"
  std::vector<DemoBook> books;
};

struct DemoEdition {
  std::string name;
  std::vector<DemoSubject> subjects;
  // Listed in a paragraph of the ninth block instead of menu links.
  bool plainLinks = false;
};

struct DemoResponse {
  int status = 404;
  std::string contentType{};
  std::string body{};
};

inline constexpr std::string_view kHtmlContentType = "text/html; charset=utf-8";
inline constexpr std::string_view kImageContentType = "image/jpeg";

class DemoCatalogue {
 public:
  DemoCatalogue();

  const std::vector<DemoEdition>& editions() const { return editions_; }
  // nullptr when absent.
  const DemoEdition* findEdition(std::string_view name) const;
  const DemoSubject* findSubject(std::string_view edition, std::string_view subject) const;

  std::string frontPage() const;
  std::string bookListPage(const DemoSubject& subject) const;
  std::string bookPage(const DemoBook& book) const;
  // A few hundred bytes that start and end like a JPEG; the same for the same
  // book and page, different for every other pair.
  std::string pageImage(const DemoBook& book, int page) const;

  // The answer for a request path ("/", "/list/...", "/book/...", "/files/...");
  // 404 for anything else, a missing page included.
  DemoResponse respond(std::string_view path) const;

 private:
  std::vector<DemoEdition> editions_;
};

}  // namespace varnel::demo
