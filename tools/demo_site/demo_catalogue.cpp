#include "tools/demo_site/demo_catalogue.h"

#include <charconv>
#include <cstdint>

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
  return true;
}

DemoCatalogue::DemoCatalogue() {
  int nextBookId = 1;
  auto listPath = [](std::size_t edition, std::size_t subject) {
    return std::string(kListPrefix) + std::to_string(edition + 1) + "-" +
           std::to_string(subject + 1) + std::string(kHtmlSuffix);
  };
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

std::string DemoCatalogue::frontPage() const {
  std::string html =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>演示图书目录</title></head>\n"
      "<body>\n<div id=\"cemian\">\n"
      "<div class=\"top\"><a href=\"/\">首页</a> 欢迎来到演示图书目录</div>\n"
      "<div class=\"search\"><form action=\"/\"><input name=\"q\"></form></div>\n"
      "<div class=\"notice\"><ul><li class=\"li1\">公告</li><li>本站仅供演示</li></ul></div>\n";
  for (const DemoEdition& edition : editions_) {
    html += "<div class=\"fenlei\"><ul>\n";
    // The heading's text is the whole name: the query engine drops line breaks.
    html += "<li class=\"li1\"> " + escapeHtml(edition.name) + " </li>\n";
    html += "<li class=\"count\">共" + std::to_string(edition.subjects.size()) + "个学科</li>\n";
    if (edition.plainLinks) {
      html += "<li class=\"more\"><p>";
      for (const DemoSubject& subject : edition.subjects) {
        html += "<a href=\"" + subject.listPath + "\">" + escapeHtml(subject.name) + "</a> ";
      }
      html += "</p></li>\n";
    } else {
      for (const DemoSubject& subject : edition.subjects) {
        html += "<li class=\"aaaul childmenu\"><a href=\"" + subject.listPath + "\">" +
                escapeHtml(subject.name) + "</a></li>\n";
      }
    }
    html += "</ul></div>\n";
  }
  html += "</div>\n</body></html>\n";
  return html;
}

std::string DemoCatalogue::bookListPage(const DemoSubject& subject) const {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     escapeHtml(subject.name) +
                     "</title></head>\n<body>\n<div id=\"middle\">\n"
                     "<div class=\"crumbs\"><a href=\"/\">首页</a> &gt; " +
                     escapeHtml(subject.name) + "</div>\n<div class=\"heading\">" +
                     escapeHtml(subject.name) + "</div>\n<div class=\"books\">\n";
  for (const DemoBook& book : subject.books) {
    html += "<div class=\"book\" url=\"" + book.pagePath() + "\" nname=\"" +
            escapeHtml(book.title) + "\" pagecount=\"" + std::to_string(book.pageCount) +
            "\"><img src=\"" + book.imagePath(1) + "\"><p>" + escapeHtml(book.title) +
            "</p></div>\n";
  }
  html += "<div class=\"cleardiv\"></div>\n</div>\n</div>\n</body></html>\n";
  return html;
}

std::string DemoCatalogue::bookPage(const DemoBook& book) const {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     escapeHtml(book.title) + "</title>\n<script>\n";
  // A stale assignment first: only the name with two h is the real one.
  html += "window.basepath = \"/old" + book.imageBase() + "\";\n";
  if (book.hasBasePath) html += "window.basepathh = \"" + book.imageBase() + "\";\n";
  html += "</script></head>\n<body><h1>" + escapeHtml(book.title) + "</h1><p>共" +
          std::to_string(book.pageCount) + "页</p></body></html>\n";
  return html;
}

std::string DemoCatalogue::pageImage(const DemoBook& book, int page) const {
  std::string bytes = {'\xFF', '\xD8', '\xFF', '\xE0', '\x00', '\x10', 'J', 'F', 'I', 'F', '\x00'};
  const std::string label =
      "varnel demo book " + std::to_string(book.id) + " page " + std::to_string(page);
  bytes += label;
  // Pseudo-random filler, seeded by book and page.
  std::uint32_t state =
      static_cast<std::uint32_t>(book.id) * 7919u + static_cast<std::uint32_t>(page);
  const int filler = 200 + (book.id * 31 + page * 17) % 300;
  for (int i = 0; i < filler; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes += static_cast<char>(state >> 24);
  }
  bytes += '\xFF';
  bytes += '\xD9';
  return bytes;
}

DemoResponse DemoCatalogue::respond(std::string_view path) const {
  auto html = [](std::string body) {
    return DemoResponse{
        .status = 200, .contentType = std::string(kHtmlContentType), .body = std::move(body)};
  };
  if (path == "/") return html(frontPage());
  for (const DemoEdition& edition : editions_) {
    for (const DemoSubject& subject : edition.subjects) {
      if (path == subject.listPath) return html(bookListPage(subject));
      for (const DemoBook& book : subject.books) {
        if (path == book.pagePath()) return html(bookPage(book));
      }
    }
  }
  if (path.substr(0, kFilesPrefix.size()) == kFilesPrefix) {
    std::string_view rest = path.substr(kFilesPrefix.size());
    std::size_t slash = rest.find('/');
    if (slash != std::string_view::npos) {
      std::optional<int> id = parseNumber(rest.substr(0, slash));
      std::optional<int> page = numberBetween(rest.substr(slash), "/", kImageSuffix);
      for (const DemoEdition& edition : editions_) {
        for (const DemoSubject& subject : edition.subjects) {
          for (const DemoBook& book : subject.books) {
            if (id && page && book.id == *id && book.hasPage(*page)) {
              return {.status = 200,
                      .contentType = std::string(kImageContentType),
                      .body = pageImage(book, *page)};
            }
          }
        }
      }
    }
  }
  return {.status = 404,
          .contentType = std::string(kHtmlContentType),
          .body = "<html><body><h1>404 页面不存在</h1></body></html>"};
}

}  // namespace varnel::demo
