// QueryHtml end to end (parse included) with the application's expressions on
// generated catalogue-shaped pages of 100 KB and 2 MB, against the same XPath
// in lxml (lxml.html.fromstring + .xpath, parse included) run by Debian's
// /usr/bin/python3 in the same run. The summary prints both times, the ratio
// lxml / ours (above 1: ours is faster) and how each side scales from the
// small page to the large one (20x the bytes).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "htmlquery/html_query.h"

namespace {

using varnel::Text;

constexpr std::size_t kSmallPage = 100 * 1024;
constexpr std::size_t kLargePage = 2 * 1024 * 1024;
constexpr int kLxmlRounds = 7;
const char* const kPagePathPrefix = "/tmp/varnel_query_bench_";

struct Case {
  const char* name;
  std::vector<const char*> ours;  // expressions, each a QueryHtml of its own
  std::vector<const char*> lxml;  // the same in XPath, each on a fresh parse
  bool serialise;                 // elements come back as markup on our side
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"category blocks", {"//div[@id='cemian']/div"}, {"//div[@id='cemian']/div"}, true},
      {"book list (3 attribute queries)",
       {"//div[@id='middle']/div[3]/div[@class!='cleardiv']/@url",
        "//div[@id='middle']/div[3]/div[@class!='cleardiv']/@nname",
        "//div[@id='middle']/div[3]/div[@class!='cleardiv']/@pagecount"},
       {"//div[@id='middle']/div[3]/div[not(@class='cleardiv')]/@url",
        "//div[@id='middle']/div[3]/div[not(@class='cleardiv')]/@nname",
        "//div[@id='middle']/div[3]/div[not(@class='cleardiv')]/@pagecount"},
       false},
      {"all links //a/@href", {"//a/@href"}, {"//a/@href"}, false},
  };
  return all;
}

// A front-page menu (a third of the bytes) and a book list (the rest).
std::string pageUtf8(std::size_t bytes) {
  std::string out =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>书目</title></head><body>"
      "<div id=\"top\"><a href=\"/\">首页</a></div><div id=\"cemian\">\n"
      "<div class=\"banner\"><a href=\"/ad\">广告</a></div><div class=\"search\"></div>"
      "<div class=\"notice\"></div>\n";
  for (int block = 0; out.size() < bytes / 3; ++block) {
    const std::string n = std::to_string(block);
    out += "<div class=\"block\"><ul><li class=\"li1\"><p>第" + n + "专版</p><p>共8类</p></li>";
    for (int i = 0; i < 8; ++i) {
      const std::string id = n + "-" + std::to_string(i);
      out += "<li class=\"aaaul childmenu\"><a href=\"/list/" + id + ".html\" title=\"学科" + id +
             "\">学科 " + id + "</a></li>";
    }
    out += "</ul></div>\n";
  }
  out +=
      "</div><div id=\"middle\"><div class=\"crumb\"><a href=\"/\">首页</a></div>"
      "<div class=\"filter\"></div><div class=\"list\">\n";
  for (int book = 0; out.size() < bytes; ++book) {
    const std::string n = std::to_string(book);
    out += "<div class=\"book\" url=\"/book/" + n + ".html\" nname=\"三年级语文 第" + n +
           "册\" pagecount=\"" + std::to_string(40 + book % 200) + "\"><a href=\"/book/" + n +
           ".html\"><img src=\"/cover/" + n + ".jpg\"></a><p>三年级语文 第" + n +
           "册</p></div><div class=\"cleardiv\"></div>\n";
  }
  out += "</div></div></body></html>\n";
  return out;
}

const Text& pageText(std::size_t bytes) {
  static std::map<std::size_t, Text> pages;
  auto found = pages.find(bytes);
  if (found == pages.end())
    found = pages.emplace(bytes, varnel::utf8BytesToText(pageUtf8(bytes))).first;
  return found->second;
}

std::string caseKey(std::size_t c, std::size_t bytes) {
  return std::to_string(c) + "/" + std::to_string(bytes);
}

void ours_Query(benchmark::State& state) {
  const Case& c = cases()[static_cast<std::size_t>(state.range(0))];
  const Text& page = pageText(static_cast<std::size_t>(state.range(1)));
  varnel::HtmlQuery query;
  std::vector<Text> texts;
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const char* expression : c.ours) {
      query.QueryHtml(page, expression, texts);
      found += texts.size();
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["results"] = static_cast<double>(found);
  state.SetLabel(c.name);
}

// The walk alone, on a document loaded once: shows that the steps scale with
// the page, whatever the parser does.
void ours_WalkOnly(benchmark::State& state) {
  const Case& c = cases()[static_cast<std::size_t>(state.range(0))];
  varnel::HtmlQuery query;
  query.LoadHtml(pageText(static_cast<std::size_t>(state.range(1))));
  std::vector<Text> texts;
  for (auto _ : state) {
    for (const char* expression : c.ours) query.Query(expression, texts);
    benchmark::DoNotOptimize(texts.data());
  }
  state.SetLabel(c.name);
}

BENCHMARK(ours_WalkOnly)
    ->ArgsProduct({{0, 1, 2}, {static_cast<long>(kSmallPage), static_cast<long>(kLargePage)}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(ours_Query)
    ->ArgsProduct({{0, 1, 2}, {static_cast<long>(kSmallPage), static_cast<long>(kLargePage)}})
    ->Unit(benchmark::kMillisecond);

// Best seconds per case and page as lxml measures them, keyed like caseKey.
std::map<std::string, double> runLxml() {
  std::string script = "import time, lxml.html\nresults = {}\n";
  for (std::size_t bytes : {kSmallPage, kLargePage}) {
    const std::string path = kPagePathPrefix + std::to_string(bytes) + ".html";
    std::ofstream(path, std::ios::binary) << pageUtf8(bytes);
    script += "data = open('" + path + "', 'rb').read()\n";
    for (std::size_t c = 0; c < cases().size(); ++c) {
      script += "best = 1e9\nfor _ in range(" + std::to_string(kLxmlRounds) + "):\n";
      script += "    t = time.perf_counter(); n = 0\n";
      for (const char* xpath : cases()[c].lxml) {
        script += "    found = lxml.html.fromstring(data).xpath(\"" + std::string(xpath) + "\")\n";
        script += cases()[c].serialise
                      ? "    found = [lxml.html.tostring(e, encoding='unicode') for e in found]\n"
                      : "    found = [str(v) for v in found]\n";
        script += "    n += len(found)\n";
      }
      script += "    best = min(best, time.perf_counter() - t)\n";
      script += "print('" + caseKey(c, bytes) + "', best, n)\n";
    }
  }
  const std::string scriptPath = std::string(kPagePathPrefix) + "lxml.py";
  std::ofstream(scriptPath) << script;
  std::map<std::string, double> seconds;
  FILE* pipe = popen(("/usr/bin/python3 " + scriptPath + " 2>/dev/null").c_str(), "r");
  if (pipe) {
    char key[64];
    double value = 0, count = 0;
    while (std::fscanf(pipe, "%63s %lf %lf", key, &value, &count) == 3) {
      seconds[key] = value;
      seconds[std::string(key) + "#"] = count;
    }
    pclose(pipe);
  }
  std::remove(scriptPath.c_str());
  for (std::size_t bytes : {kSmallPage, kLargePage})
    std::remove((kPagePathPrefix + std::to_string(bytes) + ".html").c_str());
  return seconds;
}

class SideBySideReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // ours_Query/<case>/<bytes> and ours_WalkOnly/<case>/<bytes>
      const std::string name = run.benchmark_name();
      std::map<std::string, double>& times = name.starts_with("ours_WalkOnly") ? walkMs_ : oursMs_;
      const std::size_t first = name.find('/'), second = name.find('/', first + 1);
      const std::string key = name.substr(first + 1, second - first - 1) + "/" +
                              name.substr(second + 1, name.find('/', second + 1) - second - 1);
      times[key] = run.GetAdjustedRealTime();
      const auto results = run.counters.find("results");
      if (results != run.counters.end()) oursCount_[key] = results->second;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::map<std::string, double> lxml = runLxml();
    std::printf("\n%-34s %8s %10s %10s %7s %9s %9s\n", "case", "page", "ours ms", "lxml ms",
                "ratio", "ours n", "lxml n");
    for (std::size_t c = 0; c < cases().size(); ++c) {
      for (std::size_t bytes : {kSmallPage, kLargePage}) {
        const std::string key = caseKey(c, bytes);
        const double ours = oursMs_[key];
        const double peer = lxml.count(key) ? lxml.at(key) * 1e3 : 0;
        std::printf("%-34s %6zuKB %10.2f %10.2f %7.2f %9.0f %9.0f\n", cases()[c].name, bytes / 1024,
                    ours, peer, ours > 0 ? peer / ours : 0.0, oursCount_[key],
                    lxml.count(key + "#") ? lxml.at(key + "#") : 0.0);
      }
      const std::string small = caseKey(c, kSmallPage), large = caseKey(c, kLargePage);
      std::printf(
          "%-34s scaling 100KB -> 2MB (bytes x20): ours x%.1f, lxml x%.1f; our walk alone "
          "%.2f -> %.2f ms, x%.1f\n",
          "", oursMs_[small] > 0 ? oursMs_[large] / oursMs_[small] : 0.0,
          lxml.count(small) && lxml.at(small) > 0 ? lxml.at(large) / lxml.at(small) : 0.0,
          walkMs_[small], walkMs_[large],
          walkMs_[small] > 0 ? walkMs_[large] / walkMs_[small] : 0.0);
    }
    if (lxml.empty())
      std::printf("(lxml did not run: is python3-lxml installed for /usr/bin/python3?)\n");
  }

 private:
  std::map<std::string, double> oursMs_;
  std::map<std::string, double> walkMs_;
  std::map<std::string, double> oursCount_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SideBySideReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
