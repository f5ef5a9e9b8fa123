#include "tools/demo_site/demo_catalogue.h"

#include <zlib.h>  // deflate: the gzip fault

#include <charconv>
#include <cstdint>
#include <mutex>

#include "tools/demo_site/page_image.h"

namespace varnel::demo {
namespace {

constexpr std::string_view kListPrefix = "/list/";
constexpr std::string_view kBookPrefix = "/book/";
constexpr std::string_view kFilesPrefix = "/files/";
constexpr std::string_view kHtmlSuffix = ".html";
constexpr std::string_view kImageSuffix = ".jpg";

std::string escapeHtml(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::optional<int> parseNumber(std::string_view text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "<prefix><number><suffix>" -> number.
std::optional<int> numberBetween(std::string_view path, std::string_view prefix,
                                 std::string_view suffix) {
  if (path.size() < prefix.size() + suffix.size() || path.substr(0, prefix.size()) != prefix ||
      path.substr(path.size() - suffix.size()) != suffix) {
    return std::nullopt;
  }
  return parseNumber(path.substr(prefix.size(), path.size() - prefix.size() - suffix.size()));
}

struct SubjectPlan {
  std::string_view name;
  std::vector<int> pageCounts;
};
struct EditionPlan {
  std::string_view name;
  std::vector<SubjectPlan> subjects;
};

const std::vector<EditionPlan>& plainEditions() {
  static const std::vector<EditionPlan> plans{
      {"小学专版", {{"语文", {12, 8}}, {"数学", {20, 6, 9}}, {"英语", {5}}}},
      {"初中专版", {{"语文", {10}}, {"物理", {7, 11}}, {"化学", {4}}}},
      {"高中专版", {{"数学", {16, 3}}, {"历史", {9}}}},
      {"职教专版", {{"机械制图", {6}}, {"电子技术", {8, 2}}}},
  };
  return plans;
}

std::string listPath(std::size_t edition, std::size_t subject) {
  return std::string(kListPrefix) + std::to_string(edition + 1) + "-" +
         std::to_string(subject + 1) + std::string(kHtmlSuffix);
}

// splitmix64: a well-mixed hash of a few numbers.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

constexpr std::string_view kSoftNotFoundPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>出错了</title></head>\n"
    "<body><h1>页面不存在</h1><p>您访问的页面已被删除或暂时无法访问。</p></body></html>\n";
constexpr std::string_view kNotFoundPage = "<html><body><h1>404 页面不存在</h1></body></html>";
constexpr std::string_view kServerErrorPage = "<html><body><h1>500 服务器错误</h1></body></html>";
constexpr std::string_view kTooManyRequestsPage = "<html><body><h1>429 请求过多</h1></body></html>";

// A gzip member of `bytes` (what a server that compresses everything sends).
std::string gzipped(const std::string& bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  std::string out(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// 200 OK with a body that is not the page, as `fault` describes.
DemoResponse notAPage(PageFault fault, const std::string& image) {
  switch (fault) {
    case PageFault::jsonError:
      return {.status = 200,
              .contentType = "application/json",
              .body = R"({"code":404,"msg":"not found"})"};
    case PageFault::untypedNotFound:
      return {.status = 200, .contentType = "", .body = "Not Found"};
    case PageFault::bomHtml:
      return {.status = 200,
              .contentType = "",
              .body = "\xEF\xBB\xBF" + std::string(kSoftNotFoundPage)};
    case PageFault::gzipBody:
      return {.status = 200,
              .contentType = std::string(kImageContentType),
              .body = gzipped(image),
              .headers = {{"Content-Encoding", "gzip"}}};
    default:
      return {.status = 200, .contentType = "text/html", .body = std::string(kSoftNotFoundPage)};
  }
}

constexpr std::string_view kVolumeNames[] = {"第一册", "第二册", "第三册", "第四册"};

}  // namespace

std::string DemoBook::pagePath() const {
  return std::string(kBookPrefix) + std::to_string(id) + std::string(kHtmlSuffix);
}
std::string DemoBook::imageBase() const {
  return std::string(kFilesPrefix) + std::to_string(id) + "/";
}
std::string DemoBook::imagePath(int page) const {
  return imageBase() + std::to_string(page) + std::string(kImageSuffix);
}
bool DemoBook::hasPage(int page) const {
  if (page < 1 || page > pageCount) return false;
  for (int missing : missingPages) {
    if (missing == page) return false;
  }
  return !neverAPage(faultOn(page));
}
PageFault DemoBook::faultOn(int page) const {
  for (const DemoPageFault& fault : pageFaults) {
    if (fault.page == page) return fault.fault;
  }
  return PageFault::none;
}
std::string DemoBook::pageHref() const {
  if (!relativeLinks) return pagePath();
  return ".." + pagePath();
}
std::string DemoBook::imageBaseHref() const {
  if (!relativeLinks) return imageBase();
  return ".." + imageBase();
}
std::string DemoBook::pageCountAttribute() const {
  return pageCountText.empty() ? std::to_string(pageCount) : pageCountText;
}

std::string DemoSubject::href(std::string_view authority) const {
  switch (linkForm) {
    case LinkForm::rootRelative:
      break;
    case LinkForm::relative:
      return listPath.substr(1);
    case LinkForm::parentRelative:
      return ".." + listPath;
    case LinkForm::absolute:
      return "http://" + std::string(authority) + listPath;
  }
  return listPath;
}

std::string longTitle(int variant) {
  // 99 Chinese characters shared, then one that tells the two apart: 300 bytes.
  std::string title;
  for (int i = 0; i < 9; ++i) title += "义务教育教科书超长书名";
  return title + (variant == 0 ? "甲" : "乙");
}

struct DemoCatalogue::ImageCache {
  std::mutex mutex;
  std::map<std::pair<int, int>, std::shared_ptr<const std::string>> images;
};

DemoCatalogue::DemoCatalogue() : DemoCatalogue(DemoOptions{}) {}

DemoCatalogue::DemoCatalogue(const DemoOptions& options)
    : options_(options), images_(std::make_shared<ImageCache>()) {
  int nextBookId = 1;
  for (const EditionPlan& plan : plainEditions()) {
    DemoEdition edition{.name = std::string(plan.name), .subjects = {}, .plainLinks = false};
    for (const SubjectPlan& subjectPlan : plan.subjects) {
      DemoSubject subject{.name = std::string(subjectPlan.name),
                          .listPath = listPath(editions_.size(), edition.subjects.size()),
                          .books = {}};
      for (std::size_t v = 0; v < subjectPlan.pageCounts.size(); ++v) {
        subject.books.push_back({.id = nextBookId++,
                                 .title = subject.name + std::string(kVolumeNames[v]),
                                 .pageCount = subjectPlan.pageCounts[v]});
      }
      edition.subjects.push_back(std::move(subject));
    }
    editions_.push_back(std::move(edition));
  }

  // The awkward cases.
  DemoEdition awkward{.name = "示例专版", .subjects = {}, .plainLinks = false};
  DemoSubject faults{.name = "故障演示", .listPath = listPath(editions_.size(), 0), .books = {}};
  faults.books.push_back({.id = nextBookId++, .title = "完整示例", .pageCount = 3});
  faults.books.push_back(
      {.id = nextBookId++, .title = "缺页示例", .pageCount = 5, .missingPages = {3}});
  faults.books.push_back(
      {.id = nextBookId++, .title = "无路径示例", .pageCount = 4, .hasBasePath = false});
  faults.books.push_back({.id = nextBookId++, .title = "习题/答案:第1册?", .pageCount = 2});
  faults.books.push_back({.id = nextBookId++, .title = "", .pageCount = 2});
  awkward.subjects.push_back(std::move(faults));
  awkward.subjects.push_back(
      {.name = "空分类", .listPath = listPath(editions_.size(), 1), .books = {}});
  editions_.push_back(std::move(awkward));

  DemoEdition plain{.name = "综合资源", .subjects = {}, .plainLinks = true};
  for (std::string_view name : {"课外阅读", "科普读物"}) {
    DemoSubject subject{.name = std::string(name),
                        .listPath = listPath(editions_.size(), plain.subjects.size()),
                        .books = {}};
    subject.books.push_back({.id = nextBookId++, .title = subject.name + "精选", .pageCount = 4});
    plain.subjects.push_back(std::move(subject));
  }
  editions_.push_back(std::move(plain));

  if (options_.faultCases) addFaultEditions(nextBookId);

  if (options_.benchBookPages > 0) {
    DemoEdition bench{.name = std::string(kBenchEdition), .subjects = {}, .plainLinks = false};
    DemoSubject subject{
        .name = std::string(kBenchSubject), .listPath = listPath(editions_.size(), 0), .books = {}};
    subject.books.push_back({.id = nextBookId++,
                             .title = std::string(kBenchBook),
                             .pageCount = options_.benchBookPages});
    bench.subjects.push_back(std::move(subject));
    editions_.push_back(std::move(bench));
  }
}

void DemoCatalogue::addFaultEditions(int& nextBookId) {
  auto book = [&nextBookId](std::string_view title, int pageCount) {
    return DemoBook{.id = nextBookId++, .title = std::string(title), .pageCount = pageCount};
  };

  DemoEdition faults{.name = std::string(kFaultEdition), .subjects = {}, .plainLinks = false};
  const std::size_t faultIndex = editions_.size();
  DemoSubject transfer{.name = std::string(kTransferFaultsSubject),
                       .listPath = listPath(faultIndex, 0),
                       .books = {},
                       .linkForm = LinkForm::relative};
  const std::pair<std::string_view, DemoPageFault> transferBooks[] = {
      {kSoftNotFoundBook, {2, PageFault::softNotFound}},
      {kCutShortBook, {2, PageFault::cutShortFirst}},
      {kServerErrorBook, {1, PageFault::serverErrorFirst}},
      {kTooManyRequestsBook, {1, PageFault::tooManyRequestsFirst}},
  };
  for (const auto& [title, fault] : transferBooks) {
    DemoBook faulty = book(title, 3);
    faulty.pageFaults = {fault};
    transfer.books.push_back(std::move(faulty));
  }
  DemoBook notImages = book(kNotImagesBook, 5);
  notImages.pageFaults = {{2, PageFault::jsonError},
                          {3, PageFault::untypedNotFound},
                          {4, PageFault::bomHtml},
                          {5, PageFault::gzipBody}};
  transfer.books.push_back(std::move(notImages));
  faults.subjects.push_back(std::move(transfer));

  DemoSubject links{.name = std::string(kLinksSubject),
                    .listPath = listPath(faultIndex, 1),
                    .books = {},
                    .linkForm = LinkForm::parentRelative};
  DemoBook relative = book(kRelativeLinksBook, 3);
  relative.relativeLinks = true;
  links.books.push_back(std::move(relative));
  links.books.push_back(book(longTitle(0), 2));
  links.books.push_back(book(longTitle(1), 2));
  DemoBook blank = book(kBlankPageCountBook, 12);
  blank.pageCountText = " 12";
  links.books.push_back(std::move(blank));
  DemoBook unreadable = book(kUnreadablePageCountBook, 4);
  unreadable.pageCountText = "约120";
  links.books.push_back(std::move(unreadable));
  links.books.push_back(book(kControlCharactersBook, 2));
  DemoBook inflated = book(kInflatedCountBook, 3);
  inflated.pageCountText = "999999999";
  links.books.push_back(std::move(inflated));
  faults.subjects.push_back(std::move(links));

  DemoSubject absolute{.name = std::string(kAbsoluteLinkSubject),
                       .listPath = listPath(faultIndex, 2),
                       .books = {},
                       .linkForm = LinkForm::absolute};
  absolute.books.push_back(book(kAbsoluteLinkBook, 2));
  faults.subjects.push_back(std::move(absolute));

  DemoSubject sameNames{
      .name = std::string(kSameNamesSubject), .listPath = listPath(faultIndex, 3), .books = {}};
  for (std::string_view title : kSameNamesTitles) sameNames.books.push_back(book(title, 2));
  faults.subjects.push_back(std::move(sameNames));
  editions_.push_back(std::move(faults));

  // Names that a bare "edition.subject" key would confuse: 人教版2.0 + 数学 and
  // 人教版2 + 0.数学 give the same key; the brackets read as an index.
  const std::pair<std::string_view, std::vector<std::pair<std::string_view, std::string_view>>>
      named[] = {
          {kDottedEdition,
           {{"数学", "二点零数学"}, {"数学.选修", "选修数学"}, {"拓展[16777215]", "拓展阅读"}}},
          {kShortEdition, {{"0.数学", "零点数学"}}},
      };
  for (const auto& [editionName, subjects] : named) {
    DemoEdition edition{.name = std::string(editionName), .subjects = {}, .plainLinks = false};
    for (const auto& [subjectName, title] : subjects) {
      DemoSubject subject{.name = std::string(subjectName),
                          .listPath = listPath(editions_.size(), edition.subjects.size()),
                          .books = {}};
      subject.books.push_back(book(title, 2));
      edition.subjects.push_back(std::move(subject));
    }
    editions_.push_back(std::move(edition));
  }
}

const DemoEdition* DemoCatalogue::findEdition(std::string_view name) const {
  for (const DemoEdition& edition : editions_) {
    if (edition.name == name) return &edition;
  }
  return nullptr;
}

const DemoSubject* DemoCatalogue::findSubject(std::string_view edition,
                                              std::string_view subject) const {
  const DemoEdition* found = findEdition(edition);
  if (!found) return nullptr;
  for (const DemoSubject& s : found->subjects) {
    if (s.name == subject) return &s;
  }
  return nullptr;
}

const DemoBook* DemoCatalogue::findBook(std::string_view title) const {
  for (const DemoEdition& edition : editions_) {
    for (const DemoSubject& subject : edition.subjects) {
      for (const DemoBook& book : subject.books) {
        if (book.title == title) return &book;
      }
    }
  }
  return nullptr;
}

const DemoBook* DemoCatalogue::findBookById(int id) const {
  for (const DemoEdition& edition : editions_) {
    for (const DemoSubject& subject : edition.subjects) {
      for (const DemoBook& book : subject.books) {
        if (book.id == id) return &book;
      }
    }
  }
  return nullptr;
}

std::string DemoCatalogue::frontPage(std::string_view authority) const {
  const bool changed = options_.layout == 2;
  const std::string heading = changed ? "title" : "li1";
  const std::string menuItem = changed ? "subject-item" : "aaaul childmenu";
  std::string html =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>演示图书目录</title></head>\n"
      "<body>\n";
  html += changed ? "<div id=\"catalogue\"><div class=\"inner\">\n" : "<div id=\"cemian\">\n";
  html +=
      "<div class=\"top\"><a href=\"/\">首页</a> 欢迎来到演示图书目录</div>\n"
      "<div class=\"search\"><form action=\"/\"><input name=\"q\"></form></div>\n"
      "<div class=\"notice\"><ul><li class=\"" +
      heading + "\">公告</li><li>本站仅供演示</li></ul></div>\n";
  for (const DemoEdition& edition : editions_) {
    html += "<div class=\"fenlei\"><ul>\n";
    // The heading's text is the whole name: the query engine drops line breaks.
    html += "<li class=\"" + heading + "\"> " + escapeHtml(edition.name) + " </li>\n";
    html += "<li class=\"count\">共" + std::to_string(edition.subjects.size()) + "个学科</li>\n";
    if (edition.plainLinks) {
      html += "<li class=\"more\"><p>";
      for (const DemoSubject& subject : edition.subjects) {
        html += "<a href=\"" + escapeHtml(subject.href(authority)) + "\">" +
                escapeHtml(subject.name) + "</a> ";
      }
      html += "</p></li>\n";
    } else {
      for (const DemoSubject& subject : edition.subjects) {
        html += "<li class=\"" + menuItem + "\"><a href=\"" + escapeHtml(subject.href(authority)) +
                "\">" + escapeHtml(subject.name) + "</a></li>\n";
      }
    }
    html += "</ul></div>\n";
  }
  html += changed ? "</div></div>\n</body></html>\n" : "</div>\n</body></html>\n";
  return html;
}

std::string DemoCatalogue::bookListPage(const DemoSubject& subject) const {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     escapeHtml(subject.name) + "</title></head>\n<body>\n" +
                     (options_.layout == 2 ? "<div id=\"main\"><div class=\"content\">\n"
                                           : "<div id=\"middle\">\n") +
                     "<div class=\"crumbs\"><a href=\"/\">首页</a> &gt; " +
                     escapeHtml(subject.name) + "</div>\n<div class=\"heading\">" +
                     escapeHtml(subject.name) + "</div>\n<div class=\"books\">\n";
  for (const DemoBook& book : subject.books) {
    html += "<div class=\"book\" url=\"" + book.pageHref() + "\" nname=\"" +
            escapeHtml(book.title) + "\" pagecount=\"" + escapeHtml(book.pageCountAttribute()) +
            "\"><img src=\"" + book.imagePath(1) + "\"><p>" + escapeHtml(book.title) +
            "</p></div>\n";
  }
  html += "<div class=\"cleardiv\"></div>\n</div>\n</div>\n";
  html += options_.layout == 2 ? "</div>\n</body></html>\n" : "</body></html>\n";
  return html;
}

std::string DemoCatalogue::bookPage(const DemoBook& book) const {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     escapeHtml(book.title) + "</title>\n<script>\n";
  // A stale assignment first: only the name with two h is the real one.
  html += "window.basepath = \"/old" + book.imageBase() + "\";\n";
  const std::string variable = options_.layout == 2 ? "window.imageroot" : "window.basepathh";
  if (book.hasBasePath) html += variable + " = \"" + book.imageBaseHref() + "\";\n";
  html += "</script></head>\n<body><h1>" + escapeHtml(book.title) + "</h1><p>共" +
          std::to_string(book.pageCount) + "页</p></body></html>\n";
  return html;
}

std::string DemoCatalogue::pageImage(const DemoBook& book, int page) const {
  const std::pair<int, int> key{book.id, page};
  {
    std::lock_guard lock(images_->mutex);
    auto found = images_->images.find(key);
    if (found != images_->images.end()) return *found->second;
  }
  // Drawn outside the lock so pages are drawn side by side; should two threads
  // draw the same page, both drew the same bytes and the first one is kept.
  auto drawn = std::make_shared<const std::string>(
      drawPageImage({.width = options_.imageWidth,
                     .height = options_.imageHeight,
                     .title = book.title,
                     .page = page,
                     .seed = static_cast<std::uint32_t>(book.id)}));
  std::lock_guard lock(images_->mutex);
  return *images_->images.emplace(key, std::move(drawn)).first->second;
}

bool DemoCatalogue::failsFirstRequest(const DemoBook& book, int page) const {
  if (options_.failRate <= 0) return false;
  const std::uint64_t hash =
      mix((static_cast<std::uint64_t>(options_.seed) << 32) ^
          mix((static_cast<std::uint64_t>(book.id) << 24) ^ static_cast<std::uint64_t>(page)));
  // The top 53 bits as a fraction in [0, 1).
  return static_cast<double>(hash >> 11) * 0x1.0p-53 < options_.failRate;
}

DemoResponse DemoCatalogue::respond(std::string_view path) const {
  return respond(DemoRequest{.path = path});
}

DemoResponse DemoCatalogue::respond(const DemoRequest& request) const {
  const std::string_view path = request.path;
  auto html = [](int status, std::string_view body) {
    return DemoResponse{
        .status = status, .contentType = std::string(kHtmlContentType), .body = std::string(body)};
  };
  if (path == "/") return html(200, frontPage(request.authority));
  for (const DemoEdition& edition : editions_) {
    for (const DemoSubject& subject : edition.subjects) {
      if (path == subject.listPath) return html(200, bookListPage(subject));
      for (const DemoBook& book : subject.books) {
        if (path == book.pagePath()) return html(200, bookPage(book));
      }
    }
  }
  if (path.substr(0, kFilesPrefix.size()) != kFilesPrefix) return html(404, kNotFoundPage);
  const std::string_view rest = path.substr(kFilesPrefix.size());
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return html(404, kNotFoundPage);
  const std::optional<int> id = parseNumber(rest.substr(0, slash));
  const std::optional<int> page = numberBetween(rest.substr(slash), "/", kImageSuffix);
  const DemoBook* book = id ? findBookById(*id) : nullptr;
  if (!book || !page || *page < 1 || *page > book->pageCount) return html(404, kNotFoundPage);
  for (int missing : book->missingPages) {
    if (missing == *page) return html(404, kNotFoundPage);
  }

  const PageFault fault = book->faultOn(*page);
  if (fault == PageFault::softNotFound) return html(200, kSoftNotFoundPage);
  if (neverAPage(fault)) return notAPage(fault, pageImage(*book, *page));
  if (request.firstRequest) {
    if (fault == PageFault::serverErrorFirst || failsFirstRequest(*book, *page)) {
      return html(500, kServerErrorPage);
    }
    if (fault == PageFault::tooManyRequestsFirst) {
      DemoResponse busy = html(429, kTooManyRequestsPage);
      busy.headers.emplace_back("Retry-After", "1");
      return busy;
    }
  }
  DemoResponse image{.status = 200,
                     .contentType = std::string(kImageContentType),
                     .body = pageImage(*book, *page)};
  if (image.body.empty()) return html(500, kServerErrorPage);  // the JPEG writer failed
  if (request.firstRequest && fault == PageFault::cutShortFirst) {
    image.body.resize(image.body.size() / 2);
    image.withoutLength = true;
  }
  return image;
}

}  // namespace varnel::demo
