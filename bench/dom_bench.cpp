// loadHtml of a generated 2 MB catalogue-like page given as Text (so the code
// page conversion is included), and outerHTML of the whole document, against
// lxml.html.fromstring / lxml.html.tostring on the same page as UTF-8 bytes.
// A front page holding 100 000 nested <div>s (1.1 MB) is loaded, and read as
// the catalogue sync reads it, against lxml's parse of the same page.
// lxml runs in a child /usr/bin/python3 during the same run; the summary
// prints MB/s for both, the ratio ours / lxml (above 1: ours is faster) and
// the memory one parsed document holds.
#include <benchmark/benchmark.h>
#include <malloc.h>  // mallinfo2

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "htmlquery/html_document.h"
#include "htmlquery/html_query.h"

namespace {

using varnel::HtmlDocument;
using varnel::Text;

constexpr std::size_t kPageBytes = 2 * 1024 * 1024;
constexpr int kMemoryDocuments = 8;
constexpr int kLxmlRounds = 20;
constexpr int kDeepNesting = 100000;
const char* const kPagePath = "/tmp/varnel_dom_bench_page.html";
const char* const kDeepPagePath = "/tmp/varnel_dom_bench_deep.html";

// Nested divs with lists, attributes of every quoting style, Chinese text.
const std::string& pageUtf8() {
  static const std::string page = [] {
    std::string out =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>书目 列表</title>"
        "<style>.b{color:red}</style></head><body><div id=\"wrap\">\n";
    for (int block = 0; out.size() < kPageBytes; ++block) {
      const std::string n = std::to_string(block);
      out += "<div class=\"section s" + n + "\" data-id=" + n + "><h2>第" + n +
             "部 古籍善本</h2><div class=inner>";
      out += "<ul class='books'>";
      for (int i = 0; i < 8; ++i) {
        const std::string id = n + "-" + std::to_string(i);
        out += "<li class=\"book\"><a href=\"book.asp?id=" + id + "&amp;p=1\" title='论语 " + id +
               "'>论语集注 卷" + id +
               "</a> <span class=au>朱熹 撰</span> &nbsp;<em>宋刻本</em></li>";
      }
      out +=
          "</"
          "ul><p>子曰：学而时习之，不亦说乎？有朋自远方来，不亦乐乎？<br>"
          "人不知而不愠，不亦君子乎？</p>";
      out += "</div></div>\n";
    }
    out += "</div></body></html>\n";
    return out;
  }();
  return page;
}

const Text& pageText() {
  static const Text text = varnel::utf8BytesToText(pageUtf8());
  return text;
}

// A front page with two edition blocks and, between them, 100 000 nested divs.
const std::string& deepPageUtf8() {
  static const std::string page = [] {
    const std::string edition =
        "<div><ul><li class=\"li1\">E</li><li class=\"aaaul childmenu\"><a "
        "href=\"/l\">S</a></li></ul></div>";
    std::string out =
        "<html><body><div id=\"cemian\"><div>a</div><div>b</div><div>c</div>" + edition + "<div>";
    for (int i = 0; i < kDeepNesting; ++i) out += "<div>";
    out += "deep";
    for (int i = 0; i < kDeepNesting; ++i) out += "</div>";
    return out + "</div>" + edition + "</div></body></html>";
  }();
  return page;
}

const Text& deepPageText() {
  static const Text text = varnel::utf8BytesToText(deepPageUtf8());
  return text;
}

double megabytes(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void ours_Load(benchmark::State& state) {
  for (auto _ : state) {
    HtmlDocument document;
    benchmark::DoNotOptimize(document.loadHtml(pageText()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pageText().size()));
}

void ours_OuterHtml(benchmark::State& state) {
  HtmlDocument document;
  document.loadHtml(pageText());
  std::size_t bytes = 0;
  for (auto _ : state) {
    const Text html = document.outerHTML();
    bytes = html.size();
    benchmark::DoNotOptimize(html.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The share of the load that is the code page conversion alone.
void ours_ConvertOnly(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(varnel::textToUtf8(pageText()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pageText().size()));
}

void ours_LoadDeepNesting(benchmark::State& state) {
  for (auto _ : state) {
    HtmlDocument document;
    benchmark::DoNotOptimize(document.loadHtml(deepPageText()));
  }
}

// The catalogue sync's reading: the blocks, then each block's name and links.
void ours_QueryDeepFrontPage(benchmark::State& state) {
  for (auto _ : state) {
    varnel::HtmlQuery html;
    std::vector<Text> blocks;
    html.QueryHtml(deepPageText(), "//div[@id='cemian']/div", blocks);
    for (const Text& block : blocks) {
      std::vector<Text> found;
      html.QueryHtml(block, "//li[@class='li1']/@@text", found);
      html.QueryHtml(block, "//li[@class='aaaul childmenu']/a/@href", found);
      html.QueryHtml(block, "//li[@class='aaaul childmenu']/a/@@text", found);
      benchmark::DoNotOptimize(found.data());
    }
  }
}

BENCHMARK(ours_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(ours_LoadDeepNesting)->Unit(benchmark::kMillisecond);
BENCHMARK(ours_QueryDeepFrontPage)->Unit(benchmark::kMillisecond);
BENCHMARK(ours_OuterHtml)->Unit(benchmark::kMillisecond);
BENCHMARK(ours_ConvertOnly)->Unit(benchmark::kMillisecond);

std::size_t heapInUse() { return mallinfo2().uordblks; }

double oursBytesPerDocument() {
  std::vector<HtmlDocument> documents(kMemoryDocuments);
  const std::size_t before = heapInUse();
  for (HtmlDocument& document : documents) document.loadHtml(pageText());
  return static_cast<double>(heapInUse() - before) / kMemoryDocuments;
}

// Seconds per parse and per serialisation, and resident bytes per document,
// as measured by lxml in a child interpreter; empty when it is unavailable.
std::map<std::string, double> runLxml() {
  std::ofstream(kPagePath, std::ios::binary) << pageUtf8();
  std::ofstream(kDeepPagePath, std::ios::binary) << deepPageUtf8();
  const std::string script =
      "import time, lxml.html\n"
      "data = open('" +
      std::string(kPagePath) +
      "', 'rb').read()\n"
      "rounds = " +
      std::to_string(kLxmlRounds) +
      "\n"
      "best = 1e9\n"
      "for _ in range(rounds):\n"
      "    t = time.perf_counter(); doc = lxml.html.fromstring(data); best = min(best, "
      "time.perf_counter() - t)\n"
      "print('parse', best)\n"
      "best = 1e9\n"
      "for _ in range(rounds):\n"
      "    t = time.perf_counter(); out = lxml.html.tostring(doc); best = min(best, "
      "time.perf_counter() - t)\n"
      "print('serialize', best)\n"
      "print('serialized_bytes', len(out))\n"
      "def rss():\n"
      "    return int(open('/proc/self/statm').read().split()[1]) * 4096\n"
      "before = rss(); keep = [lxml.html.fromstring(data) for _ in range(" +
      std::to_string(kMemoryDocuments) +
      ")]\n"
      "print('memory', (rss() - before) / " +
      std::to_string(kMemoryDocuments) +
      ")\n"
      "deep = open('" +
      std::string(kDeepPagePath) +
      "', 'rb').read()\n"
      "t = time.perf_counter(); lxml.html.fromstring(deep); print('deep', time.perf_counter() - "
      "t)\n";
  const std::string scriptPath = std::string(kPagePath) + ".py";
  std::ofstream(scriptPath) << script;
  std::map<std::string, double> figures;
  FILE* pipe =
      popen((std::string(VARNEL_SYSTEM_PYTHON) + " " + scriptPath + " 2>/dev/null").c_str(), "r");
  if (!pipe) return figures;
  char key[64];
  double value = 0;
  while (std::fscanf(pipe, "%63s %lf", key, &value) == 2) figures[key] = value;
  pclose(pipe);
  std::remove(scriptPath.c_str());
  std::remove(kPagePath);
  std::remove(kDeepPagePath);
  return figures;
}

class SideBySideReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      seconds_[run.benchmark_name()] = run.GetAdjustedRealTime() / 1e3;  // ms
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::map<std::string, double> lxml = runLxml();
    HtmlDocument document;
    document.loadHtml(pageText());
    const double outBytes = static_cast<double>(document.outerHTML().size());
    const double inMb = megabytes(pageText().size());
    std::printf("\npage: %.2f MB as Text (%.2f MB as UTF-8)\n", inMb, megabytes(pageUtf8().size()));
    line("load (ours incl. GBK->UTF-8) vs lxml.html.fromstring", inMb / seconds_["ours_Load"],
         lxml.count("parse") ? megabytes(pageUtf8().size()) / lxml.at("parse") : 0);
    line("outerHTML vs lxml.html.tostring", megabytes(outBytes) / seconds_["ours_OuterHtml"],
         lxml.count("serialize") ? megabytes(lxml.at("serialized_bytes")) / lxml.at("serialize")
                                 : 0);
    std::printf("%-56s ours %8.2f MB        lxml %8.2f MB (resident)\n",
                "memory per parsed document", megabytes(oursBytesPerDocument()),
                lxml.count("memory") ? megabytes(lxml.at("memory")) : 0.0);
    std::printf("%-56s ours %8.1f ms      lxml %8.1f ms      ratio %.2f\n",
                "100 000 nested divs: load vs lxml.html.fromstring",
                seconds_["ours_LoadDeepNesting"] * 1e3,
                lxml.count("deep") ? lxml.at("deep") * 1e3 : 0.0,
                lxml.count("deep") ? lxml.at("deep") / seconds_["ours_LoadDeepNesting"] : 0.0);
    std::printf("%-56s ours %8.1f ms\n", "100 000 nested divs: the catalogue sync's queries",
                seconds_["ours_QueryDeepFrontPage"] * 1e3);
    if (lxml.empty())
      std::printf("(lxml did not run: is python3-lxml installed for /usr/bin/python3?)\n");
  }

 private:
  static void line(const char* what, double ours, double peer) {
    std::printf("%-56s ours %8.1f MB/s   lxml %8.1f MB/s   ratio %.2f\n", what, ours, peer,
                peer > 0 ? ours / peer : 0.0);
  }
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SideBySideReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
