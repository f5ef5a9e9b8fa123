// Page images, options and the fault editions of the demo site: what the
// program's downloads will be tested against must itself behave as documented.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/catalogue_site.h"
#include "htmlquery/html_query.h"
#include "regex/regex_object.h"
#include "tools/demo_site/demo_site.h"

namespace varnel::demo {
namespace {

constexpr int kSmallWidth = 60;
constexpr int kSmallHeight = 85;

DemoOptions smallFaultOptions() {
  return {.faultCases = true, .imageWidth = kSmallWidth, .imageHeight = kSmallHeight};
}

QImage decode(const std::string& bytes) {
  QImage image;
  image.loadFromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), "JPEG");
  return image;
}

// Walks the JPEG markers up to the first scan: true for a baseline frame
// (SOF0), false for progressive or other frame types, or a broken stream.
bool isBaselineJpeg(const std::string& jpeg) {
  std::size_t at = 2;
  if (jpeg.size() < 4 || jpeg.compare(0, 2, "\xFF\xD8") != 0) return false;
  while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
    const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
    if (marker == 0xC0) return true;
    if ((marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) ||
        marker == 0xDA) {
      return false;
    }
    const std::size_t length =
        static_cast<unsigned char>(jpeg[at + 2]) * 256u + static_cast<unsigned char>(jpeg[at + 3]);
    at += 2 + length;
  }
  return false;
}

bool endsWithEndMarker(const std::string& bytes) {
  return bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
}

const DemoBook& bookTitled(const DemoCatalogue& catalogue, std::string_view title) {
  const DemoBook* book = catalogue.findBook(title);
  if (!book) throw std::runtime_error("no book " + std::string(title));
  return *book;
}

TEST(DemoPageImage, IsABaselineJpegOfTheRequestedSize) {
  struct Case {
    int width;
    int height;
    const char* why;
  } cases[] = {
      {1240, 1754, "the default size"},
      {kSmallWidth, kSmallHeight, "small, as tests use it"},
      {300, 200, "landscape"},
      {8, 8, "the smallest the executable accepts"},
  };
  for (const Case& c : cases) {
    const DemoOptions options{.imageWidth = c.width, .imageHeight = c.height};
    DemoCatalogue catalogue(options);
    const DemoBook& book = catalogue.editions().front().subjects.front().books.front();
    const DemoBook& other = catalogue.editions().front().subjects.front().books.at(1);
    const std::string page = catalogue.pageImage(book, 2);

    const QImage image = decode(page);
    ASSERT_FALSE(image.isNull()) << c.why;
    EXPECT_EQ(image.width(), c.width) << c.why;
    EXPECT_EQ(image.height(), c.height) << c.why;
    EXPECT_TRUE(isBaselineJpeg(page)) << c.why;
    EXPECT_TRUE(endsWithEndMarker(page)) << c.why;

    EXPECT_EQ(catalogue.pageImage(book, 2), page) << c.why << ": kept";
    EXPECT_EQ(DemoCatalogue(options).pageImage(book, 2), page) << c.why << ": drawn again alike";
    EXPECT_EQ(catalogue.respond(book.imagePath(2)).body, page) << c.why;
    EXPECT_NE(catalogue.pageImage(book, 3), page) << c.why << ": another page";
    EXPECT_NE(catalogue.pageImage(other, 2), page) << c.why << ": another book";
  }
  // The default is a page of about 100 KB, as a scanned book page would be.
  const DemoCatalogue defaults;
  const DemoBook& book = defaults.editions().front().subjects.front().books.front();
  EXPECT_EQ(defaults.options().imageWidth, 1240);
  EXPECT_EQ(defaults.options().imageHeight, 1754);
  const std::size_t size = defaults.pageImage(book, 1).size();
  EXPECT_GT(size, 60'000u);
  EXPECT_LT(size, 160'000u);
}

TEST(DemoPageImage, ThreadsDrawingTogetherGetTheSameBytes) {
  const DemoOptions options{.imageWidth = kSmallWidth, .imageHeight = kSmallHeight};
  DemoCatalogue shared(options);
  const DemoBook& book = shared.editions().front().subjects.front().books.front();
  std::vector<std::string> expected;
  {
    DemoCatalogue alone(options);
    for (int page = 1; page <= book.pageCount; ++page)
      expected.push_back(alone.pageImage(book, page));
  }
  std::vector<std::vector<std::string>> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int page = 1; page <= book.pageCount; ++page)
        seen[t].push_back(shared.pageImage(book, page));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& pages : seen) EXPECT_EQ(pages, expected);
}

// What one GET saw.
struct Seen {
  int status = 0;
  std::string contentType;
  bool hasLength = false;
  std::string retryAfter;
  std::string body;
};

Seen get(int port, const std::string& path) {
  httplib::Client client("127.0.0.1", port);
  auto result = client.Get(path);
  if (!result) return {};
  return {.status = result->status,
          .contentType = result->get_header_value("Content-Type"),
          .hasLength = result->has_header("Content-Length"),
          .retryAfter = result->get_header_value("Retry-After"),
          .body = result->body};
}

enum class Body { image, html, cutImage };

void expectAnswer(const Seen& seen, int status, Body body, const std::string& image,
                  const std::string& why) {
  EXPECT_EQ(seen.status, status) << why;
  switch (body) {
    case Body::image:
      EXPECT_EQ(seen.contentType, kImageContentType) << why;
      EXPECT_TRUE(seen.hasLength) << why;
      EXPECT_EQ(seen.body, image) << why;
      break;
    case Body::html:
      EXPECT_EQ(seen.contentType, kHtmlContentType) << why;
      EXPECT_EQ(seen.body.substr(0, 1), "<") << why;
      break;
    case Body::cutImage:
      EXPECT_EQ(seen.contentType, kImageContentType) << why;
      EXPECT_FALSE(seen.hasLength) << why << ": the client cannot tell the body is short";
      EXPECT_FALSE(seen.body.empty()) << why;
      EXPECT_LT(seen.body.size(), image.size()) << why;
      EXPECT_EQ(image.compare(0, seen.body.size(), seen.body), 0) << why << ": the page's start";
      EXPECT_FALSE(endsWithEndMarker(seen.body)) << why;
      break;
  }
}

TEST(DemoFaults, EachFaultHappensAsDocumented) {
  DemoSite site(smallFaultOptions());
  ASSERT_TRUE(site.start());
  const DemoCatalogue& catalogue = site.catalogue();
  struct Case {
    std::string_view book;
    int page;
    int firstStatus;
    Body first;
    int laterStatus;
    Body later;
  } cases[] = {
      {kSoftNotFoundBook, 2, 200, Body::html, 200, Body::html},
      {kSoftNotFoundBook, 1, 200, Body::image, 200, Body::image},
      {kCutShortBook, 2, 200, Body::cutImage, 200, Body::image},
      {kCutShortBook, 3, 200, Body::image, 200, Body::image},
      {kServerErrorBook, 1, 500, Body::html, 200, Body::image},
      {kServerErrorBook, 2, 200, Body::image, 200, Body::image},
      {kTooManyRequestsBook, 1, 429, Body::html, 200, Body::image},
      {kTooManyRequestsBook, 3, 200, Body::image, 200, Body::image},
      {"缺页示例", 3, 404, Body::html, 404, Body::html},
      {kRelativeLinksBook, 1, 200, Body::image, 200, Body::image},
      {kBlankPageCountBook, 12, 200, Body::image, 200, Body::image},
  };
  auto check = [&](const std::string& round) {
    for (const Case& c : cases) {
      const DemoBook& book = bookTitled(catalogue, c.book);
      const std::string image = catalogue.pageImage(book, c.page);
      const std::string why = round + std::string(c.book) + " page " + std::to_string(c.page);
      const Seen first = get(site.port(), book.imagePath(c.page));
      expectAnswer(first, c.firstStatus, c.first, image, why + ", first request");
      EXPECT_EQ(first.retryAfter, c.firstStatus == 429 ? "1" : "") << why;
      expectAnswer(get(site.port(), book.imagePath(c.page)), c.laterStatus, c.later, image,
                   why + ", second request");
      expectAnswer(get(site.port(), book.imagePath(c.page)), c.laterStatus, c.later, image,
                   why + ", third request");
    }
  };
  check("");
  site.resetFaults();
  check("after resetFaults: ");

  // Another site keeps its own count of first requests.
  DemoSite other(smallFaultOptions());
  ASSERT_TRUE(other.start());
  const DemoBook& failing = bookTitled(catalogue, kServerErrorBook);
  EXPECT_EQ(get(site.port(), failing.imagePath(1)).status, 200);
  EXPECT_EQ(get(other.port(), failing.imagePath(1)).status, 500);
}

TEST(DemoFaults, FailRateChoosesImagesBySeed) {
  struct Case {
    double rate;
    std::uint32_t seed;
    int fewest;
    int most;
  } cases[] = {{0.0, 1, 0, 0}, {1.0, 1, 40, 40}, {0.3, 1, 4, 20}, {0.3, 2, 4, 20}};
  std::vector<std::set<int>> chosenBySeed;
  for (const Case& c : cases) {
    DemoSite site({.failRate = c.rate,
                   .seed = c.seed,
                   .imageWidth = kSmallWidth,
                   .imageHeight = kSmallHeight,
                   .benchBookPages = 40});
    ASSERT_TRUE(site.start());
    const DemoBook& book = bookTitled(site.catalogue(), kBenchBook);
    std::set<int> failed;
    for (int page = 1; page <= book.pageCount; ++page) {
      const Seen first = get(site.port(), book.imagePath(page));
      if (first.status == 500) failed.insert(page);
      EXPECT_EQ(first.status == 500, site.catalogue().failsFirstRequest(book, page)) << page;
      EXPECT_TRUE(first.status == 200 || first.status == 500) << page;
      EXPECT_EQ(get(site.port(), book.imagePath(page)).status, 200) << "page " << page << " later";
    }
    EXPECT_GE(static_cast<int>(failed.size()), c.fewest) << c.rate;
    EXPECT_LE(static_cast<int>(failed.size()), c.most) << c.rate;
    if (c.rate == 0.3) chosenBySeed.push_back(failed);
  }
  ASSERT_EQ(chosenBySeed.size(), 2u);
  EXPECT_NE(chosenBySeed[0], chosenBySeed[1]) << "another seed, other images";
}

std::vector<Text> query(std::string_view utf8Page, std::string_view expression) {
  HtmlQuery html;
  std::vector<Text> texts;
  html.QueryHtml(utf8BytesToText(utf8Page), expression, texts);
  return texts;
}

QUrl resolve(const QUrl& base, const Text& link) {
  return base.resolved(QUrl(QString::fromStdString(textToUtf8(link))));
}

// Follows every link the program follows, resolving it against the page it was
// read on, and fetches what it points at.
TEST(DemoFaults, LinksResolveToPagesThatExist) {
  DemoSite site(smallFaultOptions());
  ASSERT_TRUE(site.start());
  const DemoCatalogue& catalogue = site.catalogue();
  const std::string authority = "127.0.0.1:" + std::to_string(site.port());
  const QUrl origin(QString::fromStdString(site.origin() + "/"));

  const Seen front = get(site.port(), "/");
  ASSERT_EQ(front.status, 200);
  const std::vector<Text> hrefs = query(front.body, kMenuHrefsQuery);
  std::vector<const DemoSubject*> subjects;
  for (const DemoEdition& edition : catalogue.editions()) {
    if (edition.plainLinks) continue;
    for (const DemoSubject& subject : edition.subjects) subjects.push_back(&subject);
  }
  ASSERT_EQ(hrefs.size(), subjects.size());

  int relativeBooks = 0;
  for (std::size_t i = 0; i < hrefs.size(); ++i) {
    const DemoSubject& subject = *subjects[i];
    const QUrl listUrl = resolve(origin, hrefs[i]);
    EXPECT_EQ(listUrl.authority().toStdString(), authority) << subject.name;
    ASSERT_EQ(listUrl.path().toStdString(), subject.listPath) << subject.name;
    const Seen list = get(site.port(), subject.listPath);
    ASSERT_EQ(list.status, 200) << subject.name;

    const std::vector<Text> bookHrefs = query(list.body, kBookUrlsQuery);
    ASSERT_EQ(bookHrefs.size(), subject.books.size()) << subject.name;
    for (std::size_t k = 0; k < bookHrefs.size(); ++k) {
      const DemoBook& book = subject.books[k];
      const QUrl bookUrl = resolve(listUrl, bookHrefs[k]);
      ASSERT_EQ(bookUrl.path().toStdString(), book.pagePath()) << book.title;
      const Seen bookPage = get(site.port(), book.pagePath());
      ASSERT_EQ(bookPage.status, 200) << book.title;
      if (!book.hasBasePath) continue;
      if (book.relativeLinks) ++relativeBooks;

      RegexObject regex;
      ASSERT_TRUE(regex.execute(kBasePathPattern, utf8BytesToText(bookPage.body)));
      ASSERT_EQ(regex.matchCount(), 1) << book.title;
      const QUrl base = resolve(bookUrl, regex.submatchText(1, 1));
      const QUrl firstPage = base.resolved(QUrl("1.jpg"));
      EXPECT_EQ(firstPage.path().toStdString(), book.imagePath(1)) << book.title;
      // Asked twice: some first pages fail on purpose the first time.
      get(site.port(), firstPage.path().toStdString());
      const Seen image = get(site.port(), firstPage.path().toStdString());
      EXPECT_EQ(image.status, book.hasPage(1) ? 200 : 404) << book.title;
    }
  }
  EXPECT_EQ(relativeBooks, 1);

  // The links are written as documented, so the program meets each form.
  struct Form {
    std::string_view subject;
    std::string href;
  } forms[] = {
      {kTransferFaultsSubject, "list/7-1.html"},
      {kLinksSubject, "../list/7-2.html"},
      {kAbsoluteLinkSubject, "http://" + authority + "/list/7-3.html"},
  };
  for (const Form& form : forms) {
    const DemoSubject* subject = catalogue.findSubject(kFaultEdition, form.subject);
    ASSERT_NE(subject, nullptr) << form.subject;
    EXPECT_NE(front.body.find("href=\"" + form.href + "\""), std::string::npos) << form.href;
  }
  const DemoBook& relative = bookTitled(catalogue, kRelativeLinksBook);
  const std::string id = std::to_string(relative.id);
  EXPECT_NE(catalogue.bookListPage(*catalogue.findSubject(kFaultEdition, kLinksSubject))
                .find("url=\"../book/" + id + ".html\""),
            std::string::npos);
  EXPECT_NE(catalogue.bookPage(relative).find("window.basepathh = \"../files/" + id + "/\";"),
            std::string::npos);
}

TEST(DemoFaults, AwkwardNamesTitlesAndPageCounts) {
  const DemoCatalogue catalogue(smallFaultOptions());
  // Names a bare "edition.subject" key confuses.
  struct Named {
    std::string_view edition;
    std::string_view subject;
  } named[] = {{kDottedEdition, "数学"},
               {kDottedEdition, "数学.选修"},
               {kDottedEdition, "拓展[16777215]"},
               {kShortEdition, "0.数学"}};
  std::set<std::string> titles;
  for (const Named& n : named) {
    const DemoSubject* subject = catalogue.findSubject(n.edition, n.subject);
    ASSERT_NE(subject, nullptr) << n.edition << " " << n.subject;
    ASSERT_EQ(subject->books.size(), 1u);
    titles.insert(subject->books.front().title);
  }
  EXPECT_EQ(titles.size(), 4u) << "every book tells where it was listed";
  EXPECT_EQ(std::string(kDottedEdition) + ".数学", std::string(kShortEdition) + ".0.数学");

  const std::string a = longTitle(0);
  const std::string b = longTitle(1);
  for (const std::string& title : {a, b}) {
    EXPECT_EQ(title.size(), 300u);
    EXPECT_EQ(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())).size(), 100);
    EXPECT_NE(catalogue.findBook(title), nullptr);
  }
  EXPECT_EQ(a.compare(0, 297, b, 0, 297), 0) << "a shared prefix";
  EXPECT_NE(a, b);

  struct Count {
    std::string_view book;
    std::string attribute;
  } counts[] = {{kBlankPageCountBook, " 12"}, {kUnreadablePageCountBook, "约120"}};
  for (const Count& c : counts) {
    const DemoBook& book = bookTitled(catalogue, c.book);
    EXPECT_EQ(book.pageCountAttribute(), c.attribute);
    EXPECT_NE(catalogue.bookListPage(*catalogue.findSubject(kFaultEdition, kLinksSubject))
                  .find("pagecount=\"" + c.attribute + "\""),
              std::string::npos)
        << c.book;
  }

  // Without the option the catalogue is the small one the window tests know.
  const DemoCatalogue plain;
  EXPECT_EQ(plain.editions().size(), 6u);
  for (std::string_view edition : {kFaultEdition, kDottedEdition, kShortEdition, kBenchEdition}) {
    EXPECT_EQ(plain.findEdition(edition), nullptr) << edition;
    EXPECT_NE(DemoCatalogue({.faultCases = true, .benchBookPages = 1}).findEdition(edition),
              nullptr)
        << edition;
  }
}

TEST(DemoSiteOptions, LatencyDelaysPageImages) {
  constexpr int kLatencyMs = 150;
  DemoSite site({.latencyMs = kLatencyMs, .imageWidth = kSmallWidth, .imageHeight = kSmallHeight});
  ASSERT_TRUE(site.start());
  const DemoBook& book = site.catalogue().editions().front().subjects.front().books.front();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(get(site.port(), book.imagePath(1)).status, 200);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kLatencyMs));
}

// The executable, started as the scripts start it.
struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;
};

Child spawn(const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    // The usage text and Qt's notes would only clutter the test's output.
    if (FILE* null = std::fopen("/dev/null", "w")) ::dup2(::fileno(null), STDERR_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    std::vector<char*> argv{const_cast<char*>(VARNEL_DEMO_SITE_EXECUTABLE)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  return {pid, ::fdopen(fds[0], "r")};
}

std::string readLine(FILE* in) {
  char line[512];
  if (!std::fgets(line, sizeof line, in)) return {};
  std::string text(line);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

int exitCode(Child& child) {
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  if (child.out) std::fclose(child.out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DemoSiteExecutable, PrintsThePortAndServesTheOptions) {
  Child child = spawn(
      {"--port", "0", "--image-size", "100x140", "--fault-cases", "--bench-book", "5", "--quiet"});
  ASSERT_GT(child.pid, 0);
  const std::string portLine = readLine(child.out);
  ASSERT_EQ(portLine.rfind("PORT ", 0), 0u) << portLine;
  const int port = std::stoi(portLine.substr(5));
  std::string benchLine;
  for (std::string line = readLine(child.out); !line.empty(); line = readLine(child.out)) {
    if (line.rfind("BENCH ", 0) == 0) {
      benchLine = line;
      break;
    }
  }
  const DemoCatalogue inProcess(
      {.faultCases = true, .imageWidth = 100, .imageHeight = 140, .benchBookPages = 5});
  const DemoBook& bench = bookTitled(inProcess, kBenchBook);
  EXPECT_EQ(benchLine, "BENCH " + bench.imageBase() + " 5");

  const Seen front = get(port, "/");
  EXPECT_EQ(front.status, 200);
  EXPECT_NE(front.body.find(std::string(kFaultEdition)), std::string::npos);
  const Seen last = get(port, bench.imagePath(5));
  EXPECT_EQ(last.status, 200);
  const QImage image = decode(last.body);
  EXPECT_EQ(image.size(), QSize(100, 140));
  // The executable has a GUI application and prints the title and page; this
  // process has none, so its page lacks them.
  EXPECT_NE(last.body, inProcess.pageImage(bench, 5));
  EXPECT_EQ(get(port, bench.imagePath(6)).status, 404);

  ::kill(child.pid, SIGTERM);
  exitCode(child);
}

TEST(DemoSiteExecutable, RefusesBadOptions) {
  const std::vector<std::vector<std::string>> cases = {
      {"--port", "70000"},       {"--port"},           {"--image-size", "100"},
      {"--image-size", "0x100"}, {"--fail-rate", "2"}, {"--latency-ms", "-1"},
      {"--bench-book", "0"},     {"--seed", "x"},      {"--what"},
  };
  for (const auto& args : cases) {
    Child child = spawn(args);
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(exitCode(child), 2) << args.front();
  }
}

}  // namespace
}  // namespace varnel::demo
