// A 300-page book of ~100 KB JPEGs as one PDF: writeBookPdf against img2pdf
// (which also embeds JPEGs unchanged) on the same files in the same run. Each
// tool runs as a process of its own, so its time, its peak memory (from
// wait4) and its file size are measured the same way. Rounds alternate the
// tools; the table shows the median time, the largest peak and the sizes.
// A second book of 1,200 pages (the same files linked four times) shows
// whether memory grows with the book.
//
// A spawned child's peak includes the memory of its parent before the exec,
// so the pages are drawn by a child too and the driver itself stays small;
// it prints its own resident size for comparison.
//
//   pdf_bench [--rounds N]          the table
//   pdf_bench --export FOLDER OUT   one export (the child the table times)
//   pdf_bench --make-book FOLDER    draws the pages into FOLDER
#include <fcntl.h>  // O_WRONLY
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pdf/book_pdf.h"
#include "pdf/tests/test_jpegs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 300;
constexpr int kLongBookFactor = 4;
constexpr int kDefaultRounds = 5;
// A scanned page at 150 dpi of about 100 KB, as the site serves them.
constexpr int kPageWidth = 1000;
constexpr int kPageHeight = 1414;
constexpr int kPageNoise = 2;
constexpr int kPageQuality = 60;
constexpr double kTargetSpeedup = 2.0;
constexpr double kMemoryLimitMb = 64;
constexpr const char* kTitle = "义务教育教科书 数学 一年级上册";

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system: steadier than wall time on a busy machine
  double peakMb = 0;
  bool ok = false;
};

Run runProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto begin = std::chrono::steady_clock::now();
  pid_t pid;
  Run run;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

std::uintmax_t sizeOf(const fs::path& path) {
  std::error_code error;
  auto size = fs::file_size(path, error);
  return error ? 0 : size;
}

// A scanned textbook page: off-white paper, lines of dark "characters", a
// picture box with a soft gradient, and scanner noise.
std::vector<unsigned char> drawPage(int width, int height, std::uint32_t seed, int noise) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  std::mt19937 random(seed);
  auto at = [&](int x, int y) { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      unsigned char* p = at(x, y);
      p[0] = 246;
      p[1] = 242;
      p[2] = 232;
    }
  const int margin = width / 10;
  const int glyph = width / 40;  // one character cell
  const int pictureTop = height / 3, pictureBottom = height / 3 + height / 5;
  for (int top = margin; top + glyph < height - margin; top += glyph * 2) {
    if (top >= pictureTop && top < pictureBottom) continue;
    for (int left = margin; left + glyph < width - margin; left += glyph) {
      if (random() % 9 == 0) continue;  // spaces
      // A character: a few strokes inside the cell.
      for (int stroke = 0; stroke < 4; ++stroke) {
        const bool across = random() % 2;
        const int at1 = static_cast<int>(random() % glyph),
                  from = static_cast<int>(random() % (glyph / 2));
        const int length = glyph / 3 + static_cast<int>(random() % (glyph / 2));
        for (int i = from; i < std::min(glyph - 2, from + length); ++i)
          for (int t = 0; t < 2; ++t) {
            const int x = left + (across ? i : std::min(at1 + t, glyph - 1));
            const int y = top + (across ? std::min(at1 + t, glyph - 1) : i);
            unsigned char* p = at(x, y);
            p[0] = 30;
            p[1] = 28;
            p[2] = 26;
          }
      }
    }
  }
  for (int y = pictureTop; y < pictureBottom; ++y)
    for (int x = margin; x < width - margin; ++x) {
      unsigned char* p = at(x, y);
      p[0] = static_cast<unsigned char>(80 + 120 * x / width);
      p[1] =
          static_cast<unsigned char>(120 + 100 * (y - pictureTop) / (pictureBottom - pictureTop));
      p[2] = static_cast<unsigned char>(200 - 90 * x / width);
    }
  if (noise > 0)
    for (auto& v : rgb)
      v = static_cast<unsigned char>(
          std::clamp(v + static_cast<int>(random() % (2 * noise + 1)) - noise, 0, 255));
  return rgb;
}

struct Book {
  fs::path folder;
  int pages = 0;
};

int makeBookPages(const fs::path& folder) {
  fs::create_directories(folder);
  for (int n = 1; n <= kPages; ++n) {
    const varnel::test::JpegShape shape{.width = kPageWidth,
                                        .height = kPageHeight,
                                        .quality = kPageQuality,
                                        .densityUnit = 1,
                                        .densityX = 150,
                                        .densityY = 150};
    varnel::test::writeFile(
        folder / (std::to_string(n) + ".jpg"),
        varnel::test::encodeJpeg(
            drawPage(kPageWidth, kPageHeight, static_cast<std::uint32_t>(n), kPageNoise), shape));
  }
  return 0;
}

// The same page files linked `factor` times over: a long book on little disk.
Book makeLongBook(const fs::path& root, const Book& source, int factor) {
  Book book{root / "long-book", source.pages * factor};
  fs::create_directories(book.folder);
  for (int n = 1; n <= book.pages; ++n) {
    fs::create_symlink(source.folder / (std::to_string((n - 1) % source.pages + 1) + ".jpg"),
                       book.folder / (std::to_string(n) + ".jpg"));
  }
  return book;
}

struct Tool {
  const char* name;
  std::vector<std::string> (*command)(const Book&, const fs::path& out);
};

double residentMb() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  double kb = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "VmRSS: %lf kB", &kb) == 1) break;
  }
  std::fclose(status);
  return kb / 1024;
}

std::string selfPath() { return fs::read_symlink("/proc/self/exe").string(); }

std::vector<std::string> oursCommand(const Book& book, const fs::path& out) {
  return {selfPath(), "--export", book.folder.string(), out.string()};
}

std::vector<std::string> img2pdfCommand(const Book& book, const fs::path& out) {
  std::vector<std::string> argv = {PDF_BENCH_IMG2PDF, "--title", kTitle, "-o", out.string()};
  for (int n = 1; n <= book.pages; ++n) {
    argv.push_back((book.folder / (std::to_string(n) + ".jpg")).string());
  }
  return argv;
}

struct Measured {
  double medianSeconds = 0;
  double medianCpuSeconds = 0;
  double peakMb = 0;
  std::uintmax_t bytes = 0;
  bool ok = true;
};

std::vector<Measured> measure(const Book& book, const std::vector<Tool>& tools, int rounds,
                              const fs::path& root) {
  std::vector<std::vector<double>> times(tools.size());
  std::vector<std::vector<double>> cpuTimes(tools.size());
  std::vector<Measured> results(tools.size());
  for (int round = 0; round <= rounds; ++round) {  // round 0 warms the page cache
    for (std::size_t t = 0; t < tools.size(); ++t) {
      const fs::path out = root / (std::string(tools[t].name) + ".pdf");
      fs::remove(out);
      const Run run = runProcess(tools[t].command(book, out));
      Measured& m = results[t];
      m.ok = m.ok && run.ok;
      if (round == 0) continue;
      times[t].push_back(run.seconds);
      cpuTimes[t].push_back(run.cpuSeconds);
      m.peakMb = std::max(m.peakMb, run.peakMb);
      m.bytes = sizeOf(out);
    }
  }
  auto median = [](std::vector<double>& values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
  };
  for (std::size_t t = 0; t < tools.size(); ++t) {
    results[t].medianSeconds = median(times[t]);
    results[t].medianCpuSeconds = median(cpuTimes[t]);
  }
  return results;
}

void printTable(const char* title, const Book& book, const std::vector<Tool>& tools,
                const std::vector<Measured>& results) {
  std::uintmax_t input = 0;
  for (int n = 1; n <= book.pages; ++n) {
    input += sizeOf(book.folder / (std::to_string(n) + ".jpg"));
  }
  std::printf("%s: %d pages, %.1f MB of JPEG\n", title, book.pages, input / 1e6);
  std::printf("  %-10s %10s %10s %14s %14s %10s\n", "tool", "wall ms", "cpu ms", "PDF bytes",
              "over JPEGs", "peak MB");
  for (std::size_t t = 0; t < tools.size(); ++t) {
    const Measured& m = results[t];
    std::printf("  %-10s %10.1f %10.1f %14ju %14jd %10.1f%s\n", tools[t].name,
                m.medianSeconds * 1e3, m.medianCpuSeconds * 1e3, m.bytes,
                static_cast<std::intmax_t>(m.bytes) - static_cast<std::intmax_t>(input), m.peakMb,
                m.ok ? "" : "  FAILED");
  }
}

int exportOne(const char* folder, const char* out) {
  const auto begin = std::chrono::steady_clock::now();
  const varnel::BookPdfResult result =
      varnel::writeBookPdf({.folder = folder, .outputPath = out, .title = kTitle});
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
  std::fprintf(stderr, "%s (%.1f ms in the export)\n", result.message.c_str(), ms);
  return result.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--export") == 0) return exportOne(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "--make-book") == 0) return makeBookPages(argv[2]);
  int rounds = kDefaultRounds;
  if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[2]));

  const fs::path root =
      fs::temp_directory_path() / ("varnel_pdf_bench_" + std::to_string(::getpid()));
  fs::create_directories(root);
  const Book book{root / "人教版--数学--一年级上册", kPages};
  if (!runProcess({selfPath(), "--make-book", book.folder.string()}).ok) {
    std::fprintf(stderr, "could not draw the pages\n");
    return 1;
  }
  const Book longBook = makeLongBook(root, book, kLongBookFactor);
  std::printf("driver resident %.1f MB (a floor under every peak below)\n", residentMb());

  const std::vector<Tool> tools = {{"ours", oursCommand}, {"img2pdf", img2pdfCommand}};
  const auto results = measure(book, tools, rounds, root);
  printTable("book", book, tools, results);
  const auto longResults = measure(longBook, tools, rounds, root);
  printTable("long book", longBook, tools, longResults);

  const Measured& ours = results[0];
  const Measured& peer = results[1];
  const double speedup = peer.medianSeconds / ours.medianSeconds;
  std::printf(
      "%d pages: ours %.1f ms | img2pdf %.1f ms (x%.2f, target x%.1f; cpu x%.2f) | size "
      "ours/img2pdf %.4f (target <= 1) | peak ours %.1f MB (target < %.0f), at %d pages %.1f MB\n",
      book.pages, ours.medianSeconds * 1e3, peer.medianSeconds * 1e3, speedup, kTargetSpeedup,
      peer.medianCpuSeconds / ours.medianCpuSeconds,
      static_cast<double>(ours.bytes) / static_cast<double>(peer.bytes), ours.peakMb,
      kMemoryLimitMb, longBook.pages, longResults[0].peakMb);

  fs::remove_all(root);
  const bool met = ours.ok && peer.ok && speedup >= kTargetSpeedup && ours.bytes <= peer.bytes &&
                   ours.peakMb < kMemoryLimitMb && longResults[0].peakMb < kMemoryLimitMb;
  std::printf("targets %s\n", met ? "met" : "NOT met");
  return ours.ok && peer.ok ? 0 : 1;
}
