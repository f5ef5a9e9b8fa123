// varnel-demo-site: serves the demo catalogue so the program has a site to read
// on a machine that cannot reach the real one. The first line on standard
// output is "PORT n" (the port chosen when --port is 0); then each request is
// logged, unless --quiet.
#include <QGuiApplication>
#include <QtGlobal>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "tools/demo_site/demo_site.h"

namespace {

constexpr const char* kUsage =
    "usage: varnel-demo-site [options]\n"
    "  --host ADDRESS       address to listen on (default 127.0.0.1)\n"
    "  --port PORT          port; 0 picks a free one (default 8080)\n"
    "  --latency-ms MS      wait before answering each page image (default 0)\n"
    "  --fail-rate F        share of page images (0..1) whose first request answers 500\n"
    "  --seed N             chooses those images (default 1)\n"
    "  --image-size WxH     page image size in pixels (default 1240x1754)\n"
    "  --fault-cases        add the editions of awkward answers, links and names\n"
    "  --bench-book PAGES   add edition 基准测试, subject 下载, book 基准书 of PAGES pages\n"
    "  --layout N           1 (default) or 2: the same catalogue in a changed structure,\n"
    "                       read with --site tools/demo_site/layout2.json\n"
    "  --quiet              do not log requests\n"
    "Prints \"PORT n\" first (the port it listens on), with --bench-book then\n"
    "\"BENCH /files/<id>/ PAGES\" (where the book's images are), then one line per request.\n"
    "See tools/demo_site/demo_catalogue.h for the catalogue and its fault cases.\n";

template <typename Number>
std::optional<Number> parse(std::string_view text, Number low, Number high) {
  Number value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<varnel::demo::DemoOptions> parseArguments(int argc, char** argv, bool& quiet) {
  varnel::demo::DemoOptions options;
  options.port = varnel::demo::kDefaultDemoPort;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--fault-cases") {
      options.faultCases = true;
      continue;
    }
    if (arg == "--quiet") {
      quiet = true;
      continue;
    }
    if (i + 1 >= argc) return std::nullopt;
    const std::string_view value = argv[++i];
    if (arg == "--host") {
      options.host = std::string(value);
    } else if (arg == "--port") {
      auto port = parse<int>(value, 0, 65535);
      if (!port) return std::nullopt;
      options.port = *port;
    } else if (arg == "--latency-ms") {
      auto latency = parse<int>(value, 0, 600000);
      if (!latency) return std::nullopt;
      options.latencyMs = *latency;
    } else if (arg == "--fail-rate") {
      auto rate = parse<double>(value, 0.0, 1.0);
      if (!rate) return std::nullopt;
      options.failRate = *rate;
    } else if (arg == "--seed") {
      auto seed = parse<std::uint32_t>(value, 0, UINT32_MAX);
      if (!seed) return std::nullopt;
      options.seed = *seed;
    } else if (arg == "--image-size") {
      const std::size_t x = value.find('x');
      if (x == std::string_view::npos) return std::nullopt;
      auto width = parse<int>(value.substr(0, x), 8, 10000);
      auto height = parse<int>(value.substr(x + 1), 8, 10000);
      if (!width || !height) return std::nullopt;
      options.imageWidth = *width;
      options.imageHeight = *height;
    } else if (arg == "--layout") {
      auto layout = parse<int>(value, 1, 2);
      if (!layout) return std::nullopt;
      options.layout = *layout;
    } else if (arg == "--bench-book") {
      auto pages = parse<int>(value, 1, 100000);
      if (!pages) return std::nullopt;
      options.benchBookPages = *pages;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  bool quiet = false;
  std::optional<varnel::demo::DemoOptions> options = parseArguments(argc, argv, quiet);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  // Titles on the page images need Qt's fonts, which need a GUI application;
  // the site never shows a window, so the offscreen platform does.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QGuiApplication application(qtArgc, argv);

  varnel::demo::DemoSite site(*options);
  if (!quiet) site.logRequests();
  const bool served = site.serveForever([&](int port) {
    std::printf("PORT %d\n", port);
    std::printf("varnel-demo-site: serving http://%s:%d/\n", options->host.c_str(), port);
    for (const auto& edition : site.catalogue().editions()) {
      if (edition.name != varnel::demo::kBenchEdition) continue;
      const auto& book = edition.subjects.front().books.front();
      std::printf("BENCH %s %d\n", book.imageBase().c_str(), book.pageCount);
    }
    std::fflush(stdout);
  });
  if (!served) {
    std::fprintf(stderr, "varnel-demo-site: cannot listen on %s:%d\n", options->host.c_str(),
                 options->port);
    return 1;
  }
  return 0;
}
