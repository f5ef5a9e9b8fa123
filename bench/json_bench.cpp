// Parsing and writing generated documents of 2-5 MB: JsonValue from UTF-16
// (LoadW / ToTextW) and from GBK text (Load / ToText, which include the code
// page conversion) against RapidJSON (Document::Parse, Writer) and
// nlohmann::json (parse, dump), both working on UTF-8. Every rate is counted
// against the document's UTF-8 size so the figures compare. The summary puts
// each peer beside our UTF-16 figure with the ratio ours / peer (above 1: ours
// is faster), then the heap bytes each library holds per value.
#include <benchmark/benchmark.h>
#include <malloc.h>  // mallinfo2

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <nlohmann/json.hpp>

#include "json/json_arena.h"  // releaseCachedChunks
#include "json/json_value.h"

namespace {

constexpr std::size_t kTargetBytes = 3 * 1024 * 1024;

struct Document {
  std::string utf8;
  varnel::Text ansi;
  std::u16string wide;
};

Document makeDocument(std::string utf8) {
  Document doc;
  doc.ansi = varnel::utf8BytesToText(utf8);
  doc.wide = varnel::utf8ToUtf16(utf8);
  doc.utf8 = std::move(utf8);
  return doc;
}

// Tweets: Chinese texts with escapes, nested users and entities.
std::string tweets() {
  std::mt19937 random(1);
  const char* words[] = {"今天",           "天气",   "很好",     "转发",  "北京",
                         "学习",           "电子书", "下载",     "hello", "world",
                         "\\\"quoted\\\"", "\\n",    "\\\\path", "\\t",   "#话题"};
  std::string out = "[";
  for (int id = 0; out.size() < kTargetBytes; ++id) {
    std::string text;
    for (int w = 0; w < 12; ++w) text += words[random() % std::size(words)], text += ' ';
    if (id) out += ',';
    out +=
        R"({"id":)" + std::to_string(1000000000000LL + id) + R"(,"text":")" + text +
        R"(","user":{"id":)" + std::to_string(random() % 100000) + R"(,"name":"用户)" +
        std::to_string(id % 977) + R"(","screen_name":"u_)" + std::to_string(id) +
        R"(","followers_count":)" + std::to_string(random() % 50000) +
        R"(,"verified":false,"lang":"zh-cn"},"entities":{"hashtags":[{"text":"话题","indices":[3,6]}],"urls":[]},"retweet_count":)" +
        std::to_string(random() % 1000) +
        R"(,"favorited":true,"geo":null,"coordinates":[116.397128,39.916527]})";
  }
  return out + "]";
}

// Large number arrays: coordinates as floats and counters as integers.
std::string numbers() {
  std::mt19937 random(2);
  std::uniform_real_distribution<double> coordinate(-180, 180);
  std::string out = "[";
  char buffer[64];
  for (int i = 0; out.size() < kTargetBytes; ++i) {
    if (i) out += ',';
    std::snprintf(buffer, sizeof buffer, "[%.6f,%.6f,%u]", coordinate(random), coordinate(random),
                  static_cast<unsigned>(random() % 100000));
    out += buffer;
  }
  return out + "]";
}

// Nested catalogue: editions, subjects, books, as the program stores them.
std::string catalogue() {
  std::mt19937 random(3);
  std::string out = R"({"editions":{)";
  for (int e = 0; out.size() < kTargetBytes; ++e) {
    if (e) out += ',';
    out += R"("专版)" + std::to_string(e) + R"(":{"id":)" + std::to_string(e) + R"(,"subjects":{)";
    for (int s = 0; s < 12; ++s) {
      if (s) out += ',';
      out += R"("学科)" + std::to_string(s) + R"(":{"url":"http://127.0.0.1:8080/list?e=)" +
             std::to_string(e) + "&s=" + std::to_string(s) + R"(","books":[)";
      for (int b = 0; b < 8; ++b) {
        if (b) out += ',';
        out += R"({"title":"第)" + std::to_string(b) + R"(册 数学 练习","pages":)" +
               std::to_string(random() % 400 + 10) + R"(,"downloadable":)" +
               (random() % 2 ? "true" : "false") + R"(,"score":)" +
               std::to_string((random() % 1000) / 10.0) + "}";
      }
      out += "]}";
    }
    out += "}}";
  }
  return out + "}}";
}

const std::map<std::string, Document>& documents() {
  static const std::map<std::string, Document> docs = {
      {"tweets", makeDocument(tweets())},
      {"numbers", makeDocument(numbers())},
      {"catalogue", makeDocument(catalogue())},
  };
  return docs;
}

void setRate(benchmark::State& state, const Document& doc) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.utf8.size()));
}

void oursUtf16_Parse(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  for (auto _ : state) {
    varnel::JsonValue value;
    if (!value.LoadW(doc.wide)) state.SkipWithError("parse failed");
  }
  setRate(state, doc);
}

void oursAnsi_Parse(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  for (auto _ : state) {
    varnel::JsonValue value;
    if (!value.Load(doc.ansi)) state.SkipWithError("parse failed");
  }
  setRate(state, doc);
}

void rapidjson_Parse(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  for (auto _ : state) {
    rapidjson::Document value;
    value.Parse(doc.utf8.data(), doc.utf8.size());
    if (value.HasParseError()) state.SkipWithError("parse failed");
  }
  setRate(state, doc);
}

void nlohmann_Parse(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  for (auto _ : state) benchmark::DoNotOptimize(nlohmann::json::parse(doc.utf8));
  setRate(state, doc);
}

void oursUtf16_Write(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  varnel::JsonValue value;
  value.LoadW(doc.wide);
  for (auto _ : state) benchmark::DoNotOptimize(value.ToTextW());
  setRate(state, doc);
}

void oursAnsi_Write(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  varnel::JsonValue value;
  value.LoadW(doc.wide);
  for (auto _ : state) benchmark::DoNotOptimize(value.ToText());
  setRate(state, doc);
}

void rapidjson_Write(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  rapidjson::Document value;
  value.Parse(doc.utf8.data(), doc.utf8.size());
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
  setRate(state, doc);
}

void nlohmann_Write(benchmark::State& state, const std::string& name) {
  const Document& doc = documents().at(name);
  nlohmann::json value = nlohmann::json::parse(doc.utf8);
  for (auto _ : state) benchmark::DoNotOptimize(value.dump());
  setRate(state, doc);
}

// Heap bytes held while the parsed tree is alive, per value in the document;
// blocks malloc maps on their own (large arrays) count too.
std::size_t heapInUse() {
  const auto info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

std::size_t valueCount(const nlohmann::json& value) {
  std::size_t count = 1;
  if (value.is_structured()) {
    for (const auto& child : value) count += valueCount(child);
  }
  return count;
}

template <typename Parse>
double bytesPerValue(const Document& doc, std::size_t values, Parse parse) {
  // Chunks kept from earlier parses would otherwise hide part of the tree.
  varnel::json::releaseCachedChunks();
  std::size_t before = heapInUse();
  auto tree = parse(doc);
  std::size_t after = heapInUse();
  benchmark::DoNotOptimize(tree);
  return static_cast<double>(after - before) / static_cast<double>(values);
}

void printMemory() {
  std::printf("\nheap bytes per value (tree alive, input excluded)\n");
  for (const auto& [name, doc] : documents()) {
    std::size_t values = valueCount(nlohmann::json::parse(doc.utf8));
    double ours = bytesPerValue(doc, values, [](const Document& d) {
      auto value = std::make_unique<varnel::JsonValue>();
      value->LoadW(d.wide);
      return value;
    });
    double rapid = bytesPerValue(doc, values, [](const Document& d) {
      auto value = std::make_unique<rapidjson::Document>();
      value->Parse(d.utf8.data(), d.utf8.size());
      return value;
    });
    double nlohmannBytes = bytesPerValue(doc, values, [](const Document& d) {
      return std::make_unique<nlohmann::json>(nlohmann::json::parse(d.utf8));
    });
    std::printf("%-10s %8zu values  ours %6.1f  rapidjson %6.1f  nlohmann %6.1f\n", name.c_str(),
                values, ours, rapid, nlohmannBytes);
  }
}

// Prints the usual table, then one line per case: ours (UTF-16), ours (GBK),
// each peer with the ratio ours / peer.
class SideBySideReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      std::string name = run.benchmark_name();
      auto cut = name.find('_');
      auto it = run.counters.find("bytes_per_second");
      if (cut == std::string::npos || it == run.counters.end()) continue;
      rates_[name.substr(cut + 1)][name.substr(0, cut)] = it->second.value / 1e6;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nMB/s of UTF-8 input size (ratio = ours UTF-16 / peer)\n");
    for (const auto& [caseName, byImpl] : rates_) {
      auto ours = byImpl.find("oursUtf16");
      if (ours == byImpl.end()) continue;
      std::printf("%-18s ours(UTF-16) %7.1f", caseName.c_str(), ours->second);
      if (auto ansi = byImpl.find("oursAnsi"); ansi != byImpl.end()) {
        std::printf("  ours(GBK) %7.1f", ansi->second);
      }
      for (const char* peer : {"rapidjson", "nlohmann"}) {
        auto it = byImpl.find(peer);
        if (it == byImpl.end()) continue;
        std::printf("  %s %7.1f (x%.2f)", peer, it->second, ours->second / it->second);
      }
      std::printf("\n");
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> rates_;
};

void registerAll() {
  using Case = void (*)(benchmark::State&, const std::string&);
  const std::pair<const char*, Case> cases[] = {
      {"oursUtf16_Parse", oursUtf16_Parse}, {"oursAnsi_Parse", oursAnsi_Parse},
      {"rapidjson_Parse", rapidjson_Parse}, {"nlohmann_Parse", nlohmann_Parse},
      {"oursUtf16_Write", oursUtf16_Write}, {"oursAnsi_Write", oursAnsi_Write},
      {"rapidjson_Write", rapidjson_Write}, {"nlohmann_Write", nlohmann_Write},
  };
  for (const char* doc : {"tweets", "numbers", "catalogue"}) {
    for (const auto& [name, run] : cases) {
      benchmark::RegisterBenchmark((std::string(name) + "/" + doc).c_str(), run, std::string(doc))
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  registerAll();
  SideBySideReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printMemory();
  benchmark::Shutdown();
  return 0;
}
