// The demo catalogue: a small, fixed set of editions, subjects and books, and
// the pages the program reads from the catalogue site, generated in UTF-8.
//
// Front page: <div id="cemian"> holds three header blocks, one block per
// edition with its subjects as <li class="aaaul childmenu"><a href=...> links,
// and as its ninth child a block whose links sit in a plain paragraph (the
// links every block without menu links receives). Book-list pages hold the
// books as <div url=... nname=... pagecount=...> in the third div of
// <div id="middle">; a book page names its images' base path in
// `window.basepathh = "...";` after a stale `window.basepath` line. Page
// images are real JPEGs (see page_image.h).
//
// Paths: subject lists are "/list/<e>-<s>.html" (edition and subject numbered
// from 1 in page order), book pages "/book/<id>.html", page images
// "/files/<id>/<page>.jpg" (book ids count from 1 in page order).
//
// Edition "示例专版" (always present) holds the awkward cases the program has
// always handled: "缺页示例" whose page 3 answers 404 for good, "无路径示例"
// whose book page lacks the base path, a title with characters no folder name
// may hold ("习题/答案:第1册?"), a book without a title, and a subject without
// books ("空分类").
//
// With DemoOptions::faultCases, three more editions follow "综合资源":
//
//   故障专版 (/list/7-*)
//     传输故障  linked as "list/7-1.html" (relative to "/")
//       软404示例    page 2 always answers 200 OK with a small HTML error page
//                    (Content-Type text/html)
//       断流示例     page 2's first request is cut short: no Content-Length,
//                    half the JPEG (no end marker), then the connection closes;
//                    later requests get the whole page
//       首次500示例  page 1's first request answers 500, later ones the page
//       限流示例     page 1's first request answers 429 with "Retry-After: 1"
//       非图片示例   pages 2-5 always answer 200 with JSON, untyped text, HTML
//                    behind a BOM, and a gzip body nobody asked for; page 1 is whole
//     链接与页数  linked as "../list/7-2.html" (resolves to "/list/7-2.html")
//       相对链接示例  listed as "../book/<id>.html", its base path written
//                    "../files/<id>/" (both resolve to the usual paths)
//       two titles of exactly 300 bytes of UTF-8 (100 Chinese characters) that
//                    differ only in their last character (kLongTitleA/B)
//       页数前有空格  pagecount " 12" (12 pages)
//       页数不明      pagecount "约120" (4 pages served)
//       a title holding ESC, BEL and DEL (kControlCharactersBook, 2 pages)
//       页数虚报      pagecount "999999999", 3 pages served (kInflatedCountBook)
//     绝对链接  linked as "http://<Host header>/list/7-3.html"
//       绝对链接示例
//     同名书   books titled a:b, a?b, a/b, a_b, a\\b and twice 同名 (2 pages each)
//   人教版2.0 (/list/8-*): subjects "数学", "数学.选修", "拓展[16777215]"
//   人教版2   (/list/9-*): subject "0.数学"
//     Joining edition and subject with a bare "." makes "人教版2.0" + "数学"
//     and "人教版2" + "0.数学" the same key; every one of these books has a
//     title of its own, so a mix-up shows.
//
// With DemoOptions::faultCases the site also serves the hostile pages of
// hostile_pages.h under /hostile/.
//
// "First request" means the first request of that path to one DemoSite since it
// started or since resetFaults(). DemoOptions::failRate adds HTTP 500 on the
// first request of pages chosen by DemoOptions::seed, in every book.
//
// With DemoOptions::layout 2 the same catalogue is served in a changed
// structure, as a site redesign would: the front page's blocks sit in
// <div id="catalogue"><div class="inner">, edition names in <li class="title">,
// subject links in <li class="subject-item">; a list page's books in the third
// div of <div id="main"><div class="content">; a book page names its base path
// in `window.imageroot = "...";`. tools/demo_site/layout2.json is the site
// profile that reads it.
//
// With DemoOptions::benchBookPages > 0, a last edition "基准测试" holds subject
// "下载" with one book "基准书" of that many pages.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnel::demo {

inline constexpr int kDefaultDemoPort = 8080;
inline constexpr const char* kDefaultDemoHost = "127.0.0.1";

struct DemoOptions {
  std::string host = kDefaultDemoHost;
  int port = 0;             // 0: any free port
  int latencyMs = 0;        // waited before answering each page image
  double failRate = 0.0;    // share of page images whose first request answers 500
  std::uint32_t seed = 1;   // chooses those images
  bool faultCases = false;  // the editions 故障专版, 人教版2.0 and 人教版2
  int imageWidth = 1240;    // page images, in pixels
  int imageHeight = 1754;
  int benchBookPages = 0;  // > 0: the edition 基准测试 with one book of this many pages
  int layout = 1;          // 2: the changed structure described above
};

// The names of the fault editions, subjects and books, for tests to find them.
inline constexpr std::string_view kFaultEdition = "故障专版";
inline constexpr std::string_view kTransferFaultsSubject = "传输故障";
inline constexpr std::string_view kSoftNotFoundBook = "软404示例";
inline constexpr std::string_view kCutShortBook = "断流示例";
inline constexpr std::string_view kServerErrorBook = "首次500示例";
inline constexpr std::string_view kTooManyRequestsBook = "限流示例";
// Page 1 is whole; pages 2-5 answer 200 with one body each that is no image
// (JSON, untyped text, HTML behind a BOM, gzip).
inline constexpr std::string_view kNotImagesBook = "非图片示例";
inline constexpr std::string_view kLinksSubject = "链接与页数";
// Listed with pagecount "999999999"; 3 pages exist.
inline constexpr std::string_view kInflatedCountBook = "页数虚报";
// Titles that one folder name would otherwise hold together, two of them equal.
inline constexpr std::string_view kSameNamesSubject = "同名书";
inline constexpr std::string_view kSameNamesTitles[] = {"a:b",  "a?b",  "a/b", "a_b",
                                                        "a\\b", "同名", "同名"};
inline constexpr std::string_view kRelativeLinksBook = "相对链接示例";
inline constexpr std::string_view kBlankPageCountBook = "页数前有空格";
inline constexpr std::string_view kUnreadablePageCountBook = "页数不明";
// A title that would set a terminal's title (OSC), ring its bell and turn it red.
inline constexpr std::string_view kControlCharactersBook =
    "控制\x1b]0;改标题\x07字符\x1b[31m红\x7f";
inline constexpr std::string_view kAbsoluteLinkSubject = "绝对链接";
inline constexpr std::string_view kAbsoluteLinkBook = "绝对链接示例";
inline constexpr std::string_view kDottedEdition = "人教版2.0";
inline constexpr std::string_view kShortEdition = "人教版2";
inline constexpr std::string_view kBenchEdition = "基准测试";
inline constexpr std::string_view kBenchSubject = "下载";
inline constexpr std::string_view kBenchBook = "基准书";
// The two 300-byte titles (in 链接与页数).
std::string longTitle(int variant);  // variant 0 or 1

enum class PageFault {
  none,
  softNotFound,          // always: 200 OK, text/html, a small error page
  cutShortFirst,         // first request: half the bytes, no Content-Length, closed
  serverErrorFirst,      // first request: 500
  tooManyRequestsFirst,  // first request: 429 with "Retry-After: 1"
  // Always 200 OK with a body that is no image:
  jsonError,        // application/json {"code":404,"msg":"not found"}
  untypedNotFound,  // no Content-Type, the text "Not Found"
  bomHtml,          // no Content-Type, an HTML error page behind a byte-order mark
  gzipBody,         // image/jpeg, the page gzip-compressed with Content-Encoding: gzip
};
// Whether the fault answers every request with something that is not the page.
constexpr bool neverAPage(PageFault fault) {
  return fault == PageFault::softNotFound || fault == PageFault::jsonError ||
         fault == PageFault::untypedNotFound || fault == PageFault::bomHtml ||
         fault == PageFault::gzipBody;
}

struct DemoPageFault {
  int page = 0;
  PageFault fault = PageFault::none;
};

// How a link is written in the page that holds it.
enum class LinkForm {
  rootRelative,    // "/list/1-1.html"
  relative,        // "list/7-1.html"
  parentRelative,  // "../list/7-2.html"
  absolute,        // "http://<authority>/list/7-3.html"
};

struct DemoBook {
  int id = 0;
  std::string title;                // UTF-8; may be empty
  int pageCount = 0;                // pages served
  std::vector<int> missingPages{};  // answered with 404
  bool hasBasePath = true;          // false: the page script lacks window.basepathh
  std::vector<DemoPageFault> pageFaults{};
  std::string pageCountText{};  // the list's pagecount attribute; empty: pageCount's digits
  // The list links the book as "../book/<id>.html" and its page writes the base
  // path as "../files/<id>/" instead of root-relative paths.
  bool relativeLinks = false;

  std::string pagePath() const;   // "/book/<id>.html"
  std::string imageBase() const;  // "/files/<id>/", where the images are
  std::string imagePath(int page) const;
  bool hasPage(int page) const;  // answered with an image (at least on a later request)
  PageFault faultOn(int page) const;
  std::string pageHref() const;       // the url attribute as the list writes it
  std::string imageBaseHref() const;  // window.basepathh as the book page writes it
  std::string pageCountAttribute() const;
};

struct DemoSubject {
  std::string name;
  std::string listPath;  // "/list/<edition>-<subject>.html", what the link resolves to
  std::vector<DemoBook> books;
  LinkForm linkForm = LinkForm::rootRelative;

  // The href as the front page writes it; `authority` ("host:port") only
  // matters for an absolute link.
  std::string href(std::string_view authority) const;
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
  std::string body{};                                          // the bytes sent
  std::vector<std::pair<std::string, std::string>> headers{};  // beside Content-Type
  // Sent without Content-Length, the connection closed after `body`, so the
  // client cannot tell a cut body from a whole one.
  bool withoutLength = false;
};

struct DemoRequest {
  std::string_view path;
  // The request's Host header, written into absolute links.
  std::string_view authority = kDefaultDemoHost;
  // The first request of this path since the site started (or resetFaults()).
  bool firstRequest = false;
};

inline constexpr std::string_view kHtmlContentType = "text/html; charset=utf-8";
inline constexpr std::string_view kImageContentType = "image/jpeg";

class DemoCatalogue {
 public:
  DemoCatalogue();
  explicit DemoCatalogue(const DemoOptions& options);

  const DemoOptions& options() const { return options_; }
  const std::vector<DemoEdition>& editions() const { return editions_; }
  // nullptr when absent.
  const DemoEdition* findEdition(std::string_view name) const;
  const DemoSubject* findSubject(std::string_view edition, std::string_view subject) const;
  // Any edition; nullptr when absent.
  const DemoBook* findBook(std::string_view title) const;

  std::string frontPage(std::string_view authority = kDefaultDemoHost) const;
  std::string bookListPage(const DemoSubject& subject) const;
  std::string bookPage(const DemoBook& book) const;
  // A baseline JPEG of the options' image size showing the title and the page
  // number; drawn once and kept, the same bytes for the same book and page.
  // Thread-safe.
  std::string pageImage(const DemoBook& book, int page) const;
  // Whether options().failRate picks this page for a 500 on its first request.
  bool failsFirstRequest(const DemoBook& book, int page) const;

  // The answer for a request path ("/", "/list/...", "/book/...", "/files/...");
  // 404 for anything else, a missing page included. The one-argument form
  // answers as to a later request (no first-request fault).
  DemoResponse respond(std::string_view path) const;
  DemoResponse respond(const DemoRequest& request) const;

 private:
  struct ImageCache;

  void addFaultEditions(int& nextBookId);
  const DemoBook* findBookById(int id) const;

  DemoOptions options_;
  std::vector<DemoEdition> editions_;
  std::shared_ptr<ImageCache> images_;
};

}  // namespace varnel::demo
