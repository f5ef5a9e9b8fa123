// Pulling the base path out of a book page, and a global scan with many
// matches: RegexObject (GBK -> UTF-16 -> wide Boost.Regex) against Boost.Regex
// run directly over the GBK bytes and against std::regex. The summary at the
// end puts each peer beside ours with the ratio peer / ours (below 1: the peer
// is faster). The narrow peers skip the UTF-16 round trip, and with it the
// Unicode view of the text that keeps positions and case folding right.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "regex/regex_object.h"

#include "bench/side_by_side_reporter.h"

namespace {

using varnel::Text;

constexpr int kFillerLines = 2000;  // roughly a 100 KB book page
const char* const kBasePathPattern = "window.basepathh = \"(.*?)\";";
const char* const kNumberPattern = "(\\d+)";

const Text& bookPage() {
  static const Text page = [] {
    Text filler =
        varnel::utf8BytesToText("<div class=\"p\">第一章 红楼梦 正文内容 page 12</div>\n");
    Text out = "<html><head><script>window.basepath = \"/old/\";\n";
    for (int i = 0; i < kFillerLines; ++i) out += filler;
    out += "window.basepathh = \"/files/2023/book/\";</script></head></html>\n";
    return out;
  }();
  return page;
}

void ours_BasePath(benchmark::State& state) {
  for (auto _ : state) {
    varnel::RegexObject re;
    re.execute(kBasePathPattern, bookPage());
    benchmark::DoNotOptimize(re.submatchText(1, 1));
  }
  state.SetBytesProcessed(state.iterations() * bookPage().size());
}

void boost_BasePath(benchmark::State& state) {
  for (auto _ : state) {
    boost::regex re(kBasePathPattern, boost::regex::perl | boost::regex::icase);
    boost::smatch m;
    boost::regex_search(bookPage(), m, re, boost::match_not_dot_newline);
    benchmark::DoNotOptimize(m[1].str());
  }
  state.SetBytesProcessed(state.iterations() * bookPage().size());
}

void std_BasePath(benchmark::State& state) {
  for (auto _ : state) {
    std::regex re(kBasePathPattern, std::regex::ECMAScript | std::regex::icase);
    std::smatch m;
    std::regex_search(bookPage(), m, re);
    benchmark::DoNotOptimize(m[1].str());
  }
  state.SetBytesProcessed(state.iterations() * bookPage().size());
}

void ours_AllNumbers(benchmark::State& state) {
  for (auto _ : state) {
    varnel::RegexObject re;
    re.execute(kNumberPattern, bookPage());
    Text last;
    for (int i = 1; i <= re.matchCount(); ++i) last = re.submatchText(i, 1);
    benchmark::DoNotOptimize(last);
  }
}

void boost_AllNumbers(benchmark::State& state) {
  for (auto _ : state) {
    boost::regex re(kNumberPattern, boost::regex::perl | boost::regex::icase);
    std::string last;
    for (boost::sregex_iterator it(bookPage().begin(), bookPage().end(), re), end; it != end; ++it)
      last = (*it)[1].str();
    benchmark::DoNotOptimize(last);
  }
}

void std_AllNumbers(benchmark::State& state) {
  for (auto _ : state) {
    std::regex re(kNumberPattern, std::regex::ECMAScript | std::regex::icase);
    std::string last;
    for (std::sregex_iterator it(bookPage().begin(), bookPage().end(), re), end; it != end; ++it)
      last = (*it)[1].str();
    benchmark::DoNotOptimize(last);
  }
}

BENCHMARK(ours_BasePath);
BENCHMARK(boost_BasePath);
BENCHMARK(std_BasePath);
BENCHMARK(ours_AllNumbers);
BENCHMARK(boost_AllNumbers);
BENCHMARK(std_AllNumbers);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  varnel::bench::SideBySideReporter reporter(12);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
