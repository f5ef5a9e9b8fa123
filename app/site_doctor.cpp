#include "app/site_doctor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "app/catalogue_site.h"
#include "app/catalogue_sync.h"  // queryTexts
#include "app/page_fetch.h"
#include "app/progress_line.h"  // printableText
#include "app/site_fetch.h"
#include "htmlquery/html_query.h"
#include "regex/regex_object.h"
#include "web/resolve_url.h"

namespace varnel {
namespace {

using Clock = std::chrono::steady_clock;

// A text read from the site as it may be printed.
std::string shown(const Text& text) { return printableText(textToUtf8(text)); }

std::string firstThree(const std::vector<Text>& texts) {
  std::string list;
  for (std::size_t i = 0; i < texts.size() && i < 3; ++i) {
    list += (i ? ", " : "") + shown(trimSpaces(texts[i]));
  }
  return list;
}

// Single quotes for a POSIX shell.
std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string headerValue(const Text& headers, std::string_view name) {
  for (const Text& line : splitNonEmpty(headers, "\r\n")) {
    if (line.size() <= name.size() || line[name.size()] != ':') continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(line[i])) ==
             std::tolower(static_cast<unsigned char>(name[i]));
    }
    if (same) return textToUtf8(trimSpaces(std::string_view(line).substr(name.size() + 1)));
  }
  return {};
}

// Levenshtein distance over bytes; the names compared are short.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// A class or id an expression asks for ("@class='x'", "@id='x'"; "!=" left
// out), with the tag of the step that asks.
struct Wanted {
  std::string attribute;  // "class" or "id"
  std::string value;
  std::string tag;
};

std::vector<Wanted> wantedNames(std::string_view expression) {
  std::vector<Wanted> names;
  for (std::string_view attribute : {"@class", "@id"}) {
    for (std::size_t at = expression.find(attribute); at != std::string_view::npos;
         at = expression.find(attribute, at + 1)) {
      std::size_t pos = at + attribute.size();
      while (pos < expression.size() && expression[pos] == ' ') ++pos;
      if (pos >= expression.size() || expression[pos] != '=') continue;
      ++pos;
      while (pos < expression.size() && expression[pos] == ' ') ++pos;
      if (pos >= expression.size() || (expression[pos] != '\'' && expression[pos] != '"')) continue;
      const std::size_t end = expression.find(expression[pos], pos + 1);
      if (end == std::string_view::npos) continue;
      const std::size_t bracket = expression.rfind('[', at);
      const std::size_t slash = expression.rfind('/', bracket);
      std::string tag;
      if (bracket != std::string_view::npos && slash != std::string_view::npos) {
        tag = std::string(expression.substr(slash + 1, bracket - slash - 1));
      }
      names.push_back({std::string(attribute.substr(1)),
                       std::string(expression.substr(pos + 1, end - pos - 1)), tag});
    }
  }
  return names;
}

struct PageElement {
  std::string attribute;  // "class" or "id"
  std::string value;
  std::string tag;
  std::string startTag;  // as written
};

// Every class and id value on the page with the start tag that carries it.
std::vector<PageElement> classesAndIds(std::string_view page) {
  std::vector<PageElement> elements;
  for (std::size_t open = page.find('<'); open != std::string_view::npos;
       open = page.find('<', open + 1)) {
    const std::size_t close = page.find('>', open);
    if (close == std::string_view::npos) break;
    const std::string_view tag = page.substr(open, close - open + 1);
    const std::size_t nameEnd = std::min(tag.find_first_of(" \t\r\n>/", 1), tag.size());
    for (std::string_view attribute : {"class", "id"}) {
      const std::size_t at = tag.find(" " + std::string(attribute) + "=");
      if (at == std::string_view::npos) continue;
      const std::size_t quote = at + attribute.size() + 2;
      if (quote >= tag.size() || (tag[quote] != '"' && tag[quote] != '\'')) continue;
      const std::size_t end = tag.find(tag[quote], quote + 1);
      if (end == std::string_view::npos) continue;
      elements.push_back({std::string(attribute),
                          std::string(tag.substr(quote + 1, end - quote - 1)),
                          std::string(tag.substr(1, nameEnd - 1)),
                          std::string(tag.substr(0, std::min<std::size_t>(tag.size(), 200)))});
    }
  }
  return elements;
}

// The line of `page` holding the longest beginning of the pattern's literal
// text (up to its first special character), for a pattern that matched nothing.
std::string closestLine(const Text& page, const Text& pattern) {
  std::size_t literal = 0;
  while (literal < pattern.size() &&
         std::string_view("\\()[]{}*+?|^$").find(pattern[literal]) == std::string_view::npos) {
    ++literal;
  }
  for (std::size_t length = literal; length >= 3; --length) {
    const std::size_t at = page.find(std::string_view(pattern).substr(0, length));
    if (at == Text::npos) continue;
    const std::size_t begin = page.rfind('\n', at);
    const std::size_t start = begin == Text::npos ? 0 : begin + 1;
    const std::size_t end = std::min(page.find('\n', at), start + 200);
    return shown(trimSpaces(std::string_view(page).substr(start, end - start)));
  }
  return {};
}

std::string fetchDetail(const SiteAnswer& answer, Clock::duration took) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  return "状态 " + std::to_string(answer.status) + ", " + std::to_string(answer.body.size()) +
         " 字节, " + std::to_string(ms) + " ms (status, bytes, time)";
}

class Walk {
 public:
  Walk(const SiteProfile& profile, bool verify) : profile_(profile), verify_(verify) {}

  SiteDoctorReport run(const Text& origin) {
    const std::optional<Text> front = fetch("首页 (front page)", origin, kSyncFailureTexts);
    if (!front || !frontPageParts(origin, *front)) return std::move(report_);
    const std::optional<Text> list = fetch("第一个学科的书目页 (first subject's book list)",
                                           firstSubjectUrl_, kListFailureTexts);
    if (!list || !bookList(*list)) return std::move(report_);
    const std::optional<Text> book =
        fetch("第一本书的书页 (first book's page)", firstBookUrl_, kDownloadFailureTexts);
    if (!book || !basePath(*book)) return std::move(report_);
    firstImage();
    return std::move(report_);
  }

 private:
  void pass(std::string name, std::string detail) {
    report_.steps.push_back({true, std::move(name), std::move(detail)});
  }
  // A step the profile is to blame for: `page` (read from `url`) is where the
  // key's expression or pattern found nothing usable.
  bool fail(std::string name, std::string detail, std::string_view key, const Text& value,
            const Text& page, const Text& url, const Text& queryPrefix = {}) {
    report_.steps.push_back({false, std::move(name), detail});
    report_.verdict = SiteVerdict::notUnderstood;
    report_.failedKey = std::string(key);
    report_.expression = textToUtf8(value);
    report_.found = std::move(detail);
    const bool isPattern = key == "basePathPattern";
    report_.excerpt = isPattern ? closestLine(page, value) : closestElements(page, value);
    if (report_.excerpt.empty()) {
      report_.excerpt = shown(trimSpaces(std::string_view(page).substr(0, 300)));
    }
    // A block's expression runs inside each block: after the blocks' own.
    const Text expression = isPattern ? Text("//script/@@html") : concatTexts(queryPrefix, value);
    report_.tryLine =
        "varnel-query " + shellQuoted(textToUtf8(url)) + " " + shellQuoted(textToUtf8(expression));
    return false;
  }

  std::optional<Text> fetch(std::string name, const Text& url, const SiteFailureTexts& texts) {
    const auto started = Clock::now();
    const SiteAnswer answer = fetchFromSite(url, verify_);
    const auto took = Clock::now() - started;
    if (!answer.received() || answer.status < 200 || answer.status >= 300) {
      std::string detail = answer.received() ? fetchDetail(answer, took)
                                             : textToUtf8(describeSiteFailure(answer, texts));
      report_.steps.push_back({false, std::move(name), detail + " — " + shown(url)});
      report_.verdict = SiteVerdict::unreadable;
      return std::nullopt;
    }
    pass(std::move(name), fetchDetail(answer, took) + " — " + shown(url));
    return pageText(answer.body);
  }

  bool frontPageParts(const Text& origin, const Text& page) {
    const std::vector<Text> blocks = queryTexts(html_, page, profile_.categoryBlocks);
    const auto skipped = static_cast<std::size_t>(profile_.skippedCategoryBlocks);
    const std::string blockCount = std::to_string(blocks.size()) + " 块, 跳过前 " +
                                   std::to_string(skipped) + " 块 (blocks, header skipped)";
    if (blocks.size() <= skipped) {
      return fail("分类块 (category blocks)", blockCount, "categoryBlocks", profile_.categoryBlocks,
                  page, origin);
    }
    pass("分类块 (category blocks)", blockCount);

    std::vector<Text> editions;
    std::size_t hrefCount = 0, titleCount = 0, pairs = 0;
    for (std::size_t i = skipped; i < blocks.size(); ++i) {
      std::vector<Text> names = queryTexts(html_, blocks[i], profile_.editionName);
      if (names.empty() || trimSpaces(names.front()).empty()) continue;
      editions.push_back(names.front());
      std::vector<Text> hrefs = queryTexts(html_, blocks[i], profile_.menuHrefs);
      std::vector<Text> titles = queryTexts(html_, blocks[i], profile_.menuTitles);
      if (hrefs.empty()) {
        hrefs = queryTexts(html_, page, profile_.fallbackHrefs);
        titles = queryTexts(html_, page, profile_.fallbackTitles);
      }
      hrefCount += hrefs.size();
      titleCount += titles.size();
      pairs += std::min(hrefs.size(), titles.size());
      if (firstSubjectUrl_.empty() && !hrefs.empty() && !titles.empty()) {
        firstSubjectUrl_ = resolveUrl(origin, hrefs.front());
      }
    }
    const std::string editionDetail = std::to_string(editions.size()) + " 个 (found)" +
                                      (editions.empty() ? "" : ": " + firstThree(editions));
    if (editions.empty()) {
      return fail("专版名 (edition names)", editionDetail, "editionName", profile_.editionName,
                  blocks[skipped], origin, profile_.categoryBlocks);
    }
    pass("专版名 (edition names)", editionDetail);

    const bool paired = hrefCount == titleCount;
    const std::string subjectDetail =
        "链接 " + std::to_string(hrefCount) + ", 名称 " + std::to_string(titleCount) + ", " +
        (paired ? "一一对应 (links, titles, paired)" : "不成对 (links, titles, not paired)");
    if (hrefCount == 0 || !paired) {
      const bool linksMissing = hrefCount == 0;
      return fail("学科链接和名称 (subject links and titles)", subjectDetail,
                  linksMissing ? "menuHrefs" : "menuTitles",
                  linksMissing ? profile_.menuHrefs : profile_.menuTitles, blocks[skipped], origin,
                  profile_.categoryBlocks);
    }
    pass("学科链接和名称 (subject links and titles)", subjectDetail);
    return true;
  }

  bool bookList(const Text& page) {
    const std::vector<Text> urls = queryTexts(html_, page, profile_.bookUrls);
    const std::vector<Text> titles = queryTexts(html_, page, profile_.bookTitles);
    const std::vector<Text> counts = queryTexts(html_, page, profile_.bookPageCounts);
    const bool lined = urls.size() == titles.size() && urls.size() == counts.size();
    std::string detail = "地址 " + std::to_string(urls.size()) + ", 书名 " +
                         std::to_string(titles.size()) + ", 页数 " + std::to_string(counts.size()) +
                         (lined ? ", 一致 (addresses, titles, page counts line up)"
                                : ", 不一致 (addresses, titles, page counts differ)");
    std::vector<Text> firstBooks;
    for (std::size_t i = 0; i < urls.size() && i < titles.size() && i < counts.size() && i < 3;
         ++i) {
      firstBooks.push_back(concatTexts(titles[i], " (", trimSpaces(counts[i]), ")"));
    }
    if (!firstBooks.empty()) detail += ": " + firstThree(firstBooks);
    const char* name = "书目 (books)";
    if (urls.empty()) {
      return fail(name, detail, "bookUrls", profile_.bookUrls, page, firstSubjectUrl_);
    }
    if (titles.size() != urls.size()) {
      return fail(name, detail, "bookTitles", profile_.bookTitles, page, firstSubjectUrl_);
    }
    if (counts.size() != urls.size()) {
      return fail(name, detail, "bookPageCounts", profile_.bookPageCounts, page, firstSubjectUrl_);
    }
    pass(name, detail);
    firstBookUrl_ = resolveUrl(firstSubjectUrl_, urls.front());
    return true;
  }

  bool basePath(const Text& page) {
    RegexObject regex;
    const bool found = regex.execute(profile_.basePathPattern, page) && regex.matchCount() > 0;
    const Text base = found ? regex.submatchText(1, 1) : Text();
    if (base.empty()) {
      const std::string detail = found ? "第 1 组为空 (group 1 is empty)" : "没有匹配 (no match)";
      return fail("图片基础路径 (image base path)", detail, "basePathPattern",
                  profile_.basePathPattern, page, firstBookUrl_);
    }
    imageBase_ = resolveUrl(firstBookUrl_, base);
    pass("图片基础路径 (image base path)", shown(base) + " → " + shown(imageBase_));
    return true;
  }

  void firstImage() {
    const char* name = "第一页图片 (first page image)";
    const Text url = concatTexts(imageBase_, "1", profile_.pageFileSuffix);
    const auto started = Clock::now();
    const SiteAnswer answer = fetchFromSite(url, verify_, SiteContent::pageImage);
    const auto took = Clock::now() - started;
    if (!answer.received()) {
      report_.steps.push_back(
          {false, name,
           textToUtf8(describeSiteFailure(answer, kDownloadFailureTexts)) + " — " + shown(url)});
      report_.verdict = SiteVerdict::unreadable;
      return;
    }
    const PageImageKind kind = recognisePageImage(
        std::string_view(reinterpret_cast<const char*>(answer.body.data()), answer.body.size()));
    const std::string type = headerValue(answer.headers, "Content-Type");
    std::string detail =
        fetchDetail(answer, took) + ", " + (type.empty() ? "-" : type) + ", " +
        (isCompleteImage(kind) ? "完整的图片 (a whole image)" : describeRefusedPage(answer)) +
        " — " + shown(url);
    if (judgePageAnswer(answer) != PageVerdict::accepted) {
      if (answer.status >= 200 && answer.status < 300) {
        report_.steps.push_back({false, name, detail});
        report_.verdict = SiteVerdict::notUnderstood;
        return;
      }
      // A page the site says is not there: the address is built wrongly.
      fail(name, detail, "pageFileSuffix", profile_.pageFileSuffix, Text(), url);
      report_.tryLine.clear();
      report_.excerpt.clear();
      return;
    }
    pass(name, detail);
  }

  const SiteProfile& profile_;
  bool verify_;
  HtmlQuery html_;
  SiteDoctorReport report_;
  Text firstSubjectUrl_;
  Text firstBookUrl_;
  Text imageBase_;
};

}  // namespace

std::string closestElements(const Text& page, const Text& expression, int count) {
  const std::vector<Wanted> wanted = wantedNames(expression);
  if (wanted.empty()) return {};
  std::vector<PageElement> elements = classesAndIds(page);
  // A renamed element mostly keeps its tag and whether it was named by class
  // or by id; among those, the nearest spelling first.
  auto distance = [&](const PageElement& element) {
    std::size_t best = SIZE_MAX;
    for (const Wanted& name : wanted) {
      const std::size_t kind = name.attribute == element.attribute ? 0 : 2;
      const std::size_t tag = name.tag.empty() || name.tag == element.tag ? 0 : 1;
      best = std::min(best, (kind + tag) * 1000 + editDistance(name.value, element.value));
    }
    return best;
  };
  std::stable_sort(
      elements.begin(), elements.end(),
      [&](const PageElement& a, const PageElement& b) { return distance(a) < distance(b); });
  std::string lines;
  std::vector<std::string> seen;
  for (const PageElement& element : elements) {
    if (static_cast<int>(seen.size()) >= count) break;
    if (std::find(seen.begin(), seen.end(), element.startTag) != seen.end()) continue;
    seen.push_back(element.startTag);
    lines += (lines.empty() ? "" : "\n") + shown(element.startTag);
  }
  return lines;
}

std::string SiteDoctorReport::text() const {
  std::string out;
  for (const SiteDoctorStep& step : steps) {
    out += std::string(step.ok ? "✔ " : "✘ ") + step.name + ": " + step.detail + "\n";
  }
  if (verdict == SiteVerdict::understood) {
    out += "每一步都通过 (every step passed)\n";
    return out;
  }
  if (failedKey.empty()) return out;
  out += "\n配置键 (key): " + failedKey + "\n";
  out += "表达式 (expression): " + expression + "\n";
  out += "找到 (found): " + found + "\n";
  if (!excerpt.empty()) {
    out += "页面上最接近的内容 (closest on the page):\n";
    std::size_t start = 0;
    while (start <= excerpt.size()) {
      const std::size_t end = std::min(excerpt.find('\n', start), excerpt.size());
      out += "  " + excerpt.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
  if (!tryLine.empty()) out += "试改表达式 (try an edited expression): " + tryLine + "\n";
  out += "改好的值写进 site.json (或 --site 文件) 的 \"" + failedKey +
         "\" (put the value that works under this key in site.json, or a --site file)\n";
  return out;
}

SiteDoctorReport runSiteDoctor(const SiteProfile& profile, const Text& origin,
                               bool verifyCertificates) {
  return Walk(profile, verifyCertificates).run(origin);
}

}  // namespace varnel
