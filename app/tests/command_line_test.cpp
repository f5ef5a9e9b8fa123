// The command line: its parsing as a table, then the real `varnel` binary run
// against the demo site in this process, as a script or a user would run it.
#include "app/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>  // mkfifo
#include <sys/wait.h>
#include <unistd.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/book_record.h"
#include "app/progress_line.h"
#include "app/tests/e2e_support.h"
#include "tools/demo_site/demo_site.h"

extern char** environ;

namespace varnel {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

TEST(CommandLineParse, CommandsOptionsAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    CliCommand command;
    std::size_t operands;
    bool error;
    const char* why;
  };
  const Case cases[] = {
      {{}, CliCommand::window, 0, false, "no command opens the window"},
      {{"--base-url", "http://h"}, CliCommand::window, 0, false, "window against another site"},
      {{"-platform", "offscreen"}, CliCommand::window, 0, false, "Qt's own options"},
      {{"editions"}, CliCommand::editions, 0, false, "list editions"},
      {{"--base-url", "http://h", "editions"}, CliCommand::editions, 0, false, "option first"},
      {{"editions", "--base-url=http://h"}, CliCommand::editions, 0, false, "option after"},
      {{"subjects", "小学专版"}, CliCommand::subjects, 1, false, "one edition"},
      {{"subjects"}, CliCommand::subjects, 0, true, "missing edition"},
      {{"books", "a"}, CliCommand::books, 1, true, "missing subject"},
      {{"books", "a", "b", "c"}, CliCommand::books, 3, true, "too many"},
      {{"download", "a", "b", "1", "标题"}, CliCommand::download, 4, false, "two books"},
      {{"download", "a", "b", "--all"}, CliCommand::download, 2, false, "every book"},
      {{"download", "a"}, CliCommand::download, 1, true, "missing subject"},
      {{"--dir", "/x", "--open", "--pdf", "download", "a", "b", "1"},
       CliCommand::download,
       3,
       false,
       "download options"},
      {{"download", "a", "b", "--", "--all"},
       CliCommand::download,
       3,
       false,
       "after -- a title may start with dashes"},
      {{"download", "a", "--all"}, CliCommand::download, 1, false, "every subject of an edition"},
      {{"download", "a", "b", "1", "--all"}, CliCommand::help, 0, true, "--all with a book"},
      {{"download", "a", "b"}, CliCommand::help, 0, true, "neither a book nor --all"},
      {{"download", "a", "b", "--", "--base-url", "http://h"},
       CliCommand::download,
       4,
       false,
       "after -- even an option's name is an operand"},
      {{"pdf", "/books/x"}, CliCommand::pdf, 1, false, "export a folder"},
      {{"pdf", "--partial", "/books/x"}, CliCommand::pdf, 1, false, "export a torn book"},
      {{"-q", "editions"}, CliCommand::editions, 0, false, "a short option before the command"},
      {{"editions", "-v"}, CliCommand::editions, 0, false, "a short option after it"},
      {{"-qv", "--refetch", "download", "a", "b", "1"},
       CliCommand::download,
       3,
       false,
       "short options together"},
      {{"bogus"}, CliCommand::help, 0, true, "unknown command"},
      {{"editions", "--bogus"}, CliCommand::help, 0, true, "unknown option"},
      {{"-x", "editions"}, CliCommand::help, 0, true, "unknown short option, never the window"},
      {{"editions", "-x"}, CliCommand::help, 0, true, "unknown short option after the command"},
      {{"-platform", "offscreen", "editions"}, CliCommand::help, 0, true, "Qt's only alone"},
      {{"--bogus"}, CliCommand::help, 0, true, "unknown long option without a command"},
      {{"--dir"}, CliCommand::help, 0, true, "option without its value"},
      {{"--base-url"}, CliCommand::help, 0, true, "origin without its value"},
      {{"--dir", "", "editions"}, CliCommand::help, 0, true, "an empty directory"},
      {{"editions", "--dir="}, CliCommand::help, 0, true, "an empty directory after '='"},
      {{"--dir=", "editions"}, CliCommand::help, 0, true, "'=' and nothing: not the next word"},
      {{"doctor", "--site", "f.json"}, CliCommand::doctor, 0, false, "doctor with a profile"},
      {{"doctor", "x"}, CliCommand::help, 0, true, "doctor takes no operand"},
      {{"site-profile"}, CliCommand::siteProfile, 0, false, "print the built-in profile"},
      {{"--site", "", "editions"}, CliCommand::help, 0, true, "an empty profile file name"},
      {{"--help"}, CliCommand::help, 0, false, "help"},
      {{"download", "-h"}, CliCommand::help, 0, false, "help wins"},
      {{"--version"}, CliCommand::version, 0, false, "version"},
      {{"-V"}, CliCommand::version, 0, false, "version, short"},
  };
  for (const Case& c : cases) {
    const CommandLine cl = parseCommandLine(c.args);
    EXPECT_EQ(!cl.error.empty(), c.error) << c.why << ": " << cl.error;
    if (c.error) {
      EXPECT_NE(cl.command, CliCommand::window) << c.why << ": an error never opens the window";
      continue;
    }
    EXPECT_EQ(cl.command, c.command) << c.why;
    EXPECT_EQ(cl.operands.size(), c.operands) << c.why;
  }
  struct Fields {
    std::vector<std::string> args;
    std::optional<std::string> directory;
    std::optional<std::string> baseUrl;
    const char* why;
  };
  const Fields fields[] = {
      {{"--dir", "/x", "download", "a", "b", "1"}, "/x", std::nullopt, "--dir DIR"},
      {{"download", "a", "b", "1", "-d", "/x"}, "/x", std::nullopt, "-d DIR after the command"},
      {{"--dir=/x", "editions"}, "/x", std::nullopt, "the value without its '='"},
      {{"-d/x", "editions"}, "/x", std::nullopt, "short option glued to its value"},
      {{"-d=/x", "editions"}, "/x", std::nullopt, "short option with '='"},
      {{"--base-url=", "editions"}, std::nullopt, "", "an empty origin, not the next word"},
      {{"editions", "--base-url=http://h"}, std::nullopt, "http://h", "origin after the command"},
      {{"--base-url", "http://a", "--base-url=http://b"}, std::nullopt, "http://b", "last wins"},
      {{"download", "a", "b", "--", "--base-url", "http://h"},
       std::nullopt,
       std::nullopt,
       "no origin after --"},
  };
  for (const Fields& f : fields) {
    const CommandLine cl = parseCommandLine(f.args);
    EXPECT_EQ(cl.error, "") << f.why;
    EXPECT_EQ(cl.directory, f.directory) << f.why;
    EXPECT_EQ(cl.baseUrl, f.baseUrl) << f.why;
  }
  const CommandLine flags =
      parseCommandLine({"--open", "-q", "download", "a", "b", "1", "--refetch", "--insecure"});
  EXPECT_TRUE(flags.open && flags.quiet && flags.refetch && flags.insecure);
  EXPECT_FALSE(flags.pdf || flags.verbose || flags.all || flags.partial);
  const CommandLine more = parseCommandLine({"--pdf", "-v", "--partial", "--all", "editions"});
  EXPECT_TRUE(more.pdf && more.verbose && more.partial && more.all);
}

TEST(ProgressLineFormat, FitsTheTerminalAndCountsChineseAsTwoColumns) {
  EXPECT_EQ(displayWidth("abc"), 3);
  EXPECT_EQ(displayWidth("数学"), 4);
  EXPECT_EQ(displayWidth("第1页"), 5);
  EXPECT_EQ(cutToWidth("数学第一册", 5), "数学");
  EXPECT_EQ(cutToWidth("ab数", 3), "ab") << "a wide character does not half-fit";
  EXPECT_EQ(printableText("a\u009b2Jb\tc\n数\u00a0"), "a?2Jb?c?数\u00a0")
      << "C1 (CSI) and C0 as '?', a no-break space and Chinese kept";

  const ProgressFigures figures{
      .finished = 37, .total = 212, .failed = 1, .retries = 2, .bytes = 41 << 20, .seconds = 10};
  const std::string line = formatProgress(figures, "数学第一册", 200);
  EXPECT_EQ(line, "[37/212] 17%  4.1 MiB/s  ETA 0:47  retries 2  failed 1  数学第一册");
  ProgressFigures resumed = figures;
  resumed.finished = 137;  // 100 pages were on disk already: 37 fetched in 10 s
  resumed.kept = 100;
  EXPECT_NE(formatProgress(resumed, "书", 200).find("ETA 0:20"), std::string::npos)
      << "time left from the pages fetched, not from those kept";
  for (int columns : {20, 40, 60, 70}) {
    const std::string cut = formatProgress(figures, std::string(60, 'x') + "数学", columns);
    EXPECT_LT(displayWidth(cut), columns) << columns << ": never wraps";
  }

  // In a log: the book's line at once, figures only every 5 s after it.
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  ProgressLine progress(log, false, 80);
  progress.bookStarted("书", 212);
  const auto started = ProgressLine::Clock::now();
  const auto linesWritten = [&] {
    std::fflush(log);
    std::rewind(log);
    int lines = 0;
    for (int c; (c = std::fgetc(log)) != EOF;) lines += c == '\n';
    std::fseek(log, 0, SEEK_END);  // a stream read from must be positioned before a write
    return lines;
  };
  progress.update(figures, started + std::chrono::seconds(1));
  EXPECT_EQ(linesWritten(), 1) << "no figures right after the book's own line";
  progress.update(figures, started + std::chrono::milliseconds(5100));
  EXPECT_EQ(linesWritten(), 2) << "then every 5 s";
  progress.update(figures, started + std::chrono::seconds(6));
  EXPECT_EQ(linesWritten(), 2);
  std::fclose(log);
}

// --- the binary -----------------------------------------------------------------------

struct PdfRead {
  std::vector<std::string> images;  // each page's image stream, raw
  std::string title;
  std::optional<std::string> subject;
};

// The PDF as qpdf reads it, without repairing anything.
PdfRead readPdf(const fs::path& path) {
  QPDF pdf;
  pdf.setAttemptRecovery(false);
  pdf.processFile(path.c_str());
  PdfRead read;
  for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    for (auto& [name, image] : page.getImages()) {
      auto buffer = image.getRawStreamData();
      read.images.emplace_back(reinterpret_cast<const char*>(buffer->getBuffer()),
                               buffer->getSize());
    }
  }
  QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
  read.title = info.getKey("/Title").getUTF8Value();
  if (info.hasKey("/Subject")) read.subject = info.getKey("/Subject").getUTF8Value();
  EXPECT_FALSE(pdf.anyWarnings()) << path;
  return read;
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class CommandLineRuns : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new demo::DemoSite(
        demo::DemoOptions{.faultCases = true, .imageWidth = 62, .imageHeight = 88});
    ASSERT_TRUE(site_->start());
  }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }
  void SetUp() override {
    root_ = testing::freshTestDirectory("varnel_cli_");
    fs::create_directories(root_ / "home");
    fs::create_directories(root_ / "cwd");
    books_ = root_ / "books";
  }
  void TearDown() override { fs::remove_all(root_); }

  // Starts varnel with `args` in `cwd` (default: root_/cwd).
  pid_t spawn(std::vector<std::string> args, const std::string& origin, fs::path cwd = {}) {
    args.insert(args.begin(), {VARNEL_EXECUTABLE, "--base-url", origin});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"HOME=" + (root_ / "home").string(),
                                    "XDG_CONFIG_HOME=" + (root_ / "home" / ".config").string(),
                                    "PATH=/usr/bin:/bin", "LANG=C"};
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (root_ / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (root_ / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (cwd.empty()) cwd = root_ / "cwd";
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, VARNEL_EXECUTABLE, &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  RunResult finish(pid_t pid) {
    RunResult run;
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(root_ / "out");
    run.err = readFile(root_ / "err");
    return run;
  }
  RunResult run(std::vector<std::string> args, std::string origin = {}, fs::path cwd = {}) {
    return finish(spawn(std::move(args), origin.empty() ? site_->origin() : origin, cwd));
  }

  std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

  void expectBookAsServed(const demo::DemoSite& site, std::string_view edition,
                          std::string_view subject, const demo::DemoBook& book) {
    const fs::path folder =
        books_ / (std::string(edition) + "--" + std::string(subject) + "--" + book.title);
    for (int page = 1; page <= book.pageCount; ++page) {
      EXPECT_EQ(readFile(folder / (std::to_string(page) + ".jpg")),
                site.catalogue().pageImage(book, page))
          << book.title << " page " << page;
    }
  }

  static demo::DemoSite* site_;
  fs::path root_;
  fs::path books_;
};

demo::DemoSite* CommandLineRuns::site_ = nullptr;

TEST_F(CommandLineRuns, ListingAndExitStatuses) {
  const std::string closed = "http://127.0.0.1:1";
  struct Case {
    std::vector<std::string> args;
    std::string origin;
    int status;
    std::string firstOutLine;  // "" when none is expected
    std::string inErr;
    const char* why;
  };
  const Case cases[] = {
      {{"editions"}, "", 0, "小学专版", "", "one edition per line"},
      {{"subjects", "初中专版"}, "", 0, "语文", "", "one subject per line"},
      {{"books", "小学专版", "数学"}, "", 0, "1\t数学第一册\t20", "", "number, title, pages"},
      {{"subjects", "大学专版"}, "", 2, "", "小学专版", "unknown edition lists the editions"},
      {{"books", "小学专版", "历史"}, "", 2, "", "英语", "unknown subject lists the subjects"},
      {{"download", "小学专版", "英语", "7"},
       "",
       2,
       "",
       "英语第一册",
       "unknown book lists the books"},
      {{"download", "小学专版", "英语"}, "", 2, "", "--all", "no book given"},
      {{"frobnicate"}, "", 2, "", "frobnicate", "unknown command"},
      {{"editions", "--frob"}, "", 2, "", "--frob", "unknown option"},
      {{"-x", "editions"}, "", 2, "", "-x", "unknown short option"},
      {{"-q", "editions"}, "", 0, "小学专版", "", "a short option never opens the window"},
      {{"download", "小学专版", "数学", "--", "--base-url", closed},
       "",
       2,
       "",
       "没有这本书",
       "after --, no origin: a title"},
      {{"editions"}, closed, 3, "", "无法连接网站", "the site cannot be read"},
      {{"books", "示例专版", "空分类"}, "", 4, "", "拉取失败", "a subject without books"},
      {{"--dir", "BOOKS", "download", "示例专版", "故障演示", "无路径示例"},
       "",
       4,
       "",
       "网站框架已更新",
       "a book page without its image path"},
      {{"--dir", "BOOKS", "download", "示例专版", "故障演示", "缺页示例"},
       "",
       1,
       "",
       "1/5",
       "a page that failed"},
      {{"--help"}, "", 0, "用法:", "", "help, Chinese first"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a == "BOOKS") a = books_.string();
    }
    const RunResult r = run(args, c.origin);
    EXPECT_EQ(r.status, c.status) << c.why << "\n" << r.err;
    if (!c.firstOutLine.empty()) {
      ASSERT_FALSE(lines(r.out).empty()) << c.why;
      EXPECT_EQ(lines(r.out).front(), c.firstOutLine) << c.why;
    }
    EXPECT_NE(r.err.find(c.inErr), std::string::npos) << c.why << "\n" << r.err;
  }
  EXPECT_NE(run({"--help"}).out.find("Usage:"), std::string::npos) << "English after";

  // A title that would retitle and recolour the terminal is shown with '?'.
  const RunResult odd =
      run({"books", std::string(demo::kFaultEdition), std::string(demo::kLinksSubject)});
  EXPECT_NE(odd.out.find("\t控制?]0;改标题?字符?[31m红?\t2\n"), std::string::npos) << odd.out;
  EXPECT_EQ(odd.out.find_first_of("\x1b\x07\x7f"), std::string::npos);
}

// The same catalogue in a changed layout: the built-in profile breaks at a
// known step, the doctor names it, and the example profile repairs it.
TEST_F(CommandLineRuns, DoctorNamesTheBrokenStepAndAProfileRepairsIt) {
  demo::DemoSite changed(demo::DemoOptions{.imageWidth = 62, .imageHeight = 88, .layout = 2});
  ASSERT_TRUE(changed.start());
  const std::string example = std::string(VARNEL_SOURCE_DIR) + "/tools/demo_site/layout2.json";
  const fs::path partial = root_ / "partial.json";  // the front page's blocks only
  std::ofstream(partial)
      << R"({"categoryBlocks": "//div[@id='catalogue']/div[@class='inner']/div"})";
  const fs::path broken = root_ / "broken.json";
  std::ofstream(broken) << R"({"bookUrl": "//div/@url", "basePathPattern": "(("})";
  const fs::path written = root_ / "written.json";
  std::ofstream(written) << run({"site-profile"}).out;

  struct Case {
    const char* why;
    std::vector<std::string> args;
    bool changedSite;
    int status;
    std::vector<std::string> inOut;  // in this order
    int passed;                      // ✔ lines
  } cases[] = {
      {"the plain site passes every step",
       {"doctor"},
       false,
       0,
       {"✔ 首页", "✔ 第一页图片", "image/jpeg", "每一步都通过"},
       9},
      {"the built-in profile on the changed site",
       {"doctor"},
       true,
       4,
       {"✔ 首页", "✘ 分类块", "配置键 (key): categoryBlocks", "//div[@id='cemian']/div",
        "<div id=\"catalogue\">", "varnel-query '" + changed.origin() + "'"},
       1},
      {"a profile that mends one step fails at the next",
       {"doctor", "--site", partial.string()},
       true,
       4,
       {"✔ 分类块", "✘ 专版名", "配置键 (key): editionName", "<li class=\"title\">"},
       2},
      {"the example profile", {"doctor", "--site", example}, true, 0, {"每一步都通过"}, 9},
      {"the printed template is the built-in profile",
       {"doctor", "--site", written.string()},
       false,
       0,
       {"每一步都通过"},
       9},
      {"a profile with problems is not used",
       {"doctor", "--site", broken.string()},
       false,
       2,
       {},
       0},
      {"a --site file that is not there",
       {"editions", "--site", (root_ / "none.json").string()},
       false,
       2,
       {},
       0},
  };
  for (const Case& c : cases) {
    const RunResult r = run(c.args, c.changedSite ? changed.origin() : site_->origin());
    EXPECT_EQ(r.status, c.status) << c.why << "\n" << r.out << r.err;
    std::size_t at = 0;
    for (const std::string& part : c.inOut) {
      at = r.out.find(part, at);
      EXPECT_NE(at, std::string::npos) << c.why << ": " << part << "\n" << r.out;
      if (at == std::string::npos) break;
    }
    int passed = 0;
    for (const std::string& line : lines(r.out)) passed += line.starts_with("✔");
    EXPECT_EQ(passed, c.passed) << c.why << "\n" << r.out;
  }
  const RunResult broke = run({"doctor", "--site", broken.string()});
  EXPECT_NE(broke.err.find("bookUrl: "), std::string::npos) << broke.err;
  EXPECT_NE(broke.err.find("basePathPattern: "), std::string::npos) << broke.err;

  // A download: exit 4 with the built-in profile, the whole book with the example.
  const demo::DemoSubject& english = *changed.catalogue().findSubject("小学专版", "英语");
  const std::vector<std::string> download = {"--dir",    books_.string(), "-q", "download",
                                             "小学专版", "英语",          "1"};
  const RunResult failed = run(download, changed.origin());
  EXPECT_EQ(failed.status, 4) << failed.err;
  EXPECT_NE(failed.err.find("varnel doctor"), std::string::npos) << failed.err;
  EXPECT_FALSE(fs::exists(books_));
  std::vector<std::string> repaired = download;
  repaired.insert(repaired.end(), {"--site", example});
  const RunResult done = run(repaired, changed.origin());
  ASSERT_EQ(done.status, 0) << done.err;
  expectBookAsServed(changed, "小学专版", "英语", english.books.front());
}

TEST_F(CommandLineRuns, DownloadsAreByteIdenticalAndWriteNothingElse) {
  const fs::path programConf = fs::path(VARNEL_EXECUTABLE).parent_path() / "conf.ini";
  const bool confExisted = fs::exists(programConf);
  const std::string confBefore = confExisted ? readFile(programConf) : "";

  const RunResult one =
      run({"--dir", books_.string(), "download", "小学专版", "英语", "英语第一册"});
  ASSERT_EQ(one.status, 0) << one.err;
  const auto& english = site_->catalogue().findSubject("小学专版", "英语")->books;
  expectBookAsServed(*site_, "小学专版", "英语", english[0]);
  EXPECT_EQ(lines(one.out),
            std::vector<std::string>{(books_ / "小学专版--英语--英语第一册").string()});
  EXPECT_NE(one.err.find("5 written"), std::string::npos) << one.err;

  const RunResult all = run({"download", "小学专版", "数学", "--all", "--dir", books_.string()});
  ASSERT_EQ(all.status, 0) << all.err;
  const auto& maths = site_->catalogue().findSubject("小学专版", "数学")->books;
  EXPECT_EQ(lines(all.out).size(), maths.size());
  for (const demo::DemoBook& book : maths) expectBookAsServed(*site_, "小学专版", "数学", book);

  // The book as one PDF beside its folder, from the command and after a download.
  const fs::path englishFolder = books_ / "小学专版--英语--英语第一册";
  // Its record, written by the download, gives the pages, the title and the subject.
  const RunResult pdf = run({"pdf", englishFolder.string()});
  EXPECT_EQ(pdf.status, 0) << pdf.err;
  EXPECT_EQ(pdf.err, "导出PDF完成: 5 页\n") << "no note: the record vouches for every page";
  const PdfRead english1 = readPdf(englishFolder.string() + ".pdf");
  EXPECT_EQ(english1.images.size(), 5u);
  EXPECT_EQ(english1.images.back(), site_->catalogue().pageImage(english[0], 5));
  EXPECT_EQ(english1.title, "英语第一册");
  EXPECT_EQ(english1.subject, "小学专版 / 英语");
  const RunResult withPdf =
      run({"--pdf", "--dir", books_.string(), "download", "小学专版", "数学", "2"});
  EXPECT_EQ(withPdf.status, 0) << withPdf.err;
  EXPECT_EQ(readPdf(books_ / "小学专版--数学--数学第二册.pdf").title, "数学第二册") << withPdf.err;
  const RunResult incomplete =
      run({"--pdf", "--dir", books_.string(), "download", "示例专版", "故障演示", "缺页示例"});
  EXPECT_EQ(incomplete.status, 1);
  EXPECT_FALSE(fs::exists(books_ / "示例专版--故障演示--缺页示例.pdf")) << "no PDF of a torn book";

  // Nothing but the book folders: no conf.ini anywhere, nothing in the
  // working or the home directory.
  EXPECT_EQ(fs::exists(programConf), confExisted);
  if (confExisted) {
    EXPECT_EQ(readFile(programConf), confBefore);
  }
  EXPECT_TRUE(fs::is_empty(root_ / "cwd"));
  EXPECT_TRUE(fs::is_empty(root_ / "home"));
}

TEST_F(CommandLineRuns, WhereBooksGoAndWhatIsPrinted) {
  // Without --dir (and without DownloadPath): the current directory. The last
  // row is chosen by its number. -q: the folder on standard output, nothing else.
  // A conf.ini beside the program may name a DownloadPath: then --dir.
  const fs::path programConf = fs::path(VARNEL_EXECUTABLE).parent_path() / "conf.ini";
  const bool noConf = !fs::exists(programConf);
  const auto& maths = site_->catalogue().findSubject("小学专版", "数学")->books;
  std::vector<std::string> args = {"-q", "download", "小学专版", "数学",
                                   std::to_string(maths.size())};
  if (!noConf) args.insert(args.end(), {"--dir", books_.string()});
  const RunResult quiet = run(args);
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  const fs::path folder =
      (noConf ? fs::canonical(root_ / "cwd") : books_) / ("小学专版--数学--" + maths.back().title);
  EXPECT_EQ(lines(quiet.out), std::vector<std::string>{folder.string()});
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(readFile(folder / "1.jpg"), site_->catalogue().pageImage(maths.back(), 1));

  // An edition without a subject: every subject's books. -v: each request.
  const RunResult edition = run({"download", "综合资源", "--all", "-v", "-d", books_.string()});
  ASSERT_EQ(edition.status, 0) << edition.err;
  int pages = 0;
  for (const demo::DemoSubject& subject : site_->catalogue().findEdition("综合资源")->subjects) {
    for (const demo::DemoBook& book : subject.books) {
      expectBookAsServed(*site_, "综合资源", subject.name, book);
      pages += book.pageCount;
    }
  }
  EXPECT_EQ(lines(edition.out).size(), 2u);
  std::size_t requests = 0;
  for (const std::string& line : lines(edition.err)) {
    if (line.rfind("GET " + site_->origin() + "/", 0) == 0 &&
        line.find(" → 200, 第 1 次 (attempt 1), ") != std::string::npos) {
      ++requests;
    }
  }
  EXPECT_EQ(requests, static_cast<std::size_t>(pages)) << edition.err;
}

TEST_F(CommandLineRuns, InterruptStopsCleanlyWithStatus130) {
  // Each page takes 3 s: pages in flight must be cut off, not waited for.
  demo::DemoSite slow(demo::DemoOptions{.latencyMs = 3000, .imageWidth = 62, .imageHeight = 88});
  ASSERT_TRUE(slow.start());
  const pid_t pid =
      spawn({"--dir", books_.string(), "download", "小学专版", "数学", "1"}, slow.origin());
  const fs::path folder = books_ / "小学专版--数学--数学第一册";
  // Once pages are on their way, as a user pressing Ctrl-C would see them.
  ASSERT_TRUE(testing::eventually([&] { return fs::exists(folder); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  const auto interrupted = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  const RunResult r = finish(pid);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count(),
            2.5)
      << "transfers in flight are aborted, not waited for";
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("正在停止"), std::string::npos) << "says so at once\n" << r.err;
  EXPECT_NE(r.err.find(", 0 failed,"), std::string::npos)
      << "pages cut off by the user are not failures\n"
      << r.err;
  const demo::DemoBook& book = slow.catalogue().findSubject("小学专版", "数学")->books[0];
  int pages = 0;
  for (const std::string& name : testing::pageFilesIn(folder)) {
    ASSERT_EQ(name.find(".part"), std::string::npos) << name;
    EXPECT_EQ(readFile(folder / name), slow.catalogue().pageImage(book, std::stoi(name))) << name;
    ++pages;
  }
  EXPECT_LT(pages, book.pageCount) << "it stopped before the end";
  EXPECT_NE(r.err.find("written"), std::string::npos) << "says what was written\n" << r.err;
}

// --- the PDF of a book folder ------------------------------------------------------------

constexpr std::string_view kBookFolderName = "ed--sub--Part A--Part B";

class PdfCommandRuns : public CommandLineRuns {
 protected:
  const demo::DemoBook& book() const {
    return site_->catalogue().findSubject("小学专版", "数学")->books[0];
  }
  std::string page(int n) const { return site_->catalogue().pageImage(book(), n); }
  fs::path folder() const { return books_ / kBookFolderName; }
  fs::path pdf() const { return books_ / (std::string(kBookFolderName) + ".pdf"); }

  // A book folder as a download leaves it: page files and, unless `declared`
  // is nullopt, the record saying which of its pages are on disk.
  void makeBook(const std::vector<int>& files, std::optional<int> declared,
                const std::vector<int>& listed) {
    fs::remove_all(books_);
    fs::create_directories(folder());
    for (int n : files) writeBytes(folder() / (std::to_string(n) + ".jpg"), page(n));
    if (!declared) return;
    BookRecord record;
    record.url = "http://site/book/1";
    record.edition = "小学专版";
    record.subject = "数学";
    record.title = book().title;
    record.declaredPages = *declared;
    record.pages = listed;
    ASSERT_EQ(saveBookRecord(folder().string(), record), FileError::none);
  }
  static void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::set<std::string> namesInBooks() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(books_)) names.insert(entry.path().filename());
    return names;
  }
};

TEST_F(PdfCommandRuns, ThePdfIsExactlyTheRecordedBook) {
  const std::vector<int> fivePresent = {1, 3, 4, 5, 6};
  struct Case {
    const char* why;
    std::vector<int> files;
    std::optional<int> declared;  // nullopt: no record
    std::vector<int> listed;      // the record's pages on disk
    int cutPage = 0;              // this page's file cut in half
    std::vector<std::string> options{};
    bool fromInside = false;  // `varnel pdf .` in the folder
    int status = 0;
    std::string err{};         // all of standard error
    std::vector<int> inPdf{};  // empty: no PDF
  };
  const Case cases[] = {
      {.why = "stale pages beyond the record's count stay out",
       .files = {1, 2, 3, 4, 5, 6, 7, 8},
       .declared = 5,
       .listed = {1, 2, 3, 4, 5},
       .err = "导出PDF完成: 5 页\n",
       .inPdf = {1, 2, 3, 4, 5}},
      {.why = "missing pages named as ranges, nothing written",
       .files = fivePresent,
       .declared = 9,
       .listed = fivePresent,
       .status = 1,
       .err = "缺少第 2, 7–9 页, 未生成PDF\n"},
      {.why = "a page the record lists but whose file is gone",
       .files = {1, 3},
       .declared = 3,
       .listed = {1, 2, 3},
       .status = 1,
       .err = "缺少第 2 页, 未生成PDF\n"},
      {.why = "--partial: the pages there, and which are not",
       .files = fivePresent,
       .declared = 9,
       .listed = fivePresent,
       .options = {"--partial"},
       .err = "缺少第 2, 7–9 页, 只导出现有的 5 页\n导出PDF完成: 5 页\n",
       .inPdf = fivePresent},
      {.why = "--partial with no page there",
       .files = {},
       .declared = 2,
       .listed = {},
       .options = {"--partial"},
       .status = 1,
       .err = "缺少第 1–2 页, 未生成PDF\n"},
      {.why = "no record: the run from page 1 under the folder's name as it is",
       .files = {1, 2, 3, 5},
       .declared = std::nullopt,
       .listed = {},
       .err = "没有下载记录, 无法核对页数: 导出连续的 3 页\n导出PDF完成: 3 页\n",
       .inPdf = {1, 2, 3}},
      {.why = "a record without a count checks nothing, but names the book",
       .files = {1, 2, 4},
       .declared = 0,
       .listed = {1, 2, 4},
       .err = "下载记录没有页数, 无法核对页数: 导出连续的 2 页\n导出PDF完成: 2 页\n",
       .inPdf = {1, 2}},
      {.why = "a count this program never writes is not believed",
       .files = {1, 2},
       .declared = 2000000000,
       .listed = {1, 2},
       .err = "下载记录无法读取, 无法核对页数: 导出连续的 2 页\n导出PDF完成: 2 页\n",
       .inPdf = {1, 2}},
      {.why = "a page cut short is refused by name, not drawn grey",
       .files = {1, 2, 3},
       .declared = 3,
       .listed = {1, 2, 3},
       .cutPage = 2,
       .status = 1,
       .err = "第 2 页: 图片不完整, 未生成PDF\n"},
      {.why = "`varnel pdf .` in the folder names the PDF after it",
       .files = {1, 2},
       .declared = 2,
       .listed = {1, 2},
       .fromInside = true,
       .err = "导出PDF完成: 2 页\n",
       .inPdf = {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    makeBook(c.files, c.declared, c.listed);
    if (c.cutPage > 0) writeBytes(folder() / "2.jpg", page(2).substr(0, page(2).size() / 2));
    std::vector<std::string> args = {"pdf"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.fromInside ? "." : folder().string());
    const RunResult r = run(args, {}, c.fromInside ? folder() : fs::path());
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err, c.err);
    if (c.inPdf.empty()) {
      EXPECT_FALSE(fs::exists(pdf()));
      EXPECT_EQ(r.out, "");
      continue;
    }
    EXPECT_EQ(r.out, pdf().string() + "\n");
    const PdfRead read = readPdf(pdf());
    std::vector<std::string> expected;
    for (int n : c.inPdf) expected.push_back(page(n));
    EXPECT_TRUE(read.images == expected) << "the pages, in order, byte for byte";
    EXPECT_EQ(read.title, c.declared ? book().title : std::string(kBookFolderName))
        << "never a piece of the folder's name";
    EXPECT_EQ(read.subject,
              c.declared ? std::optional<std::string>("小学专版 / 数学") : std::nullopt);
  }
}

TEST_F(PdfCommandRuns, AnInterruptedExportLeavesNothingBehind) {
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "Ctrl-C" : "SIGTERM");
    makeBook({1, 3}, 3, {1, 2, 3});
    // Page 2 is a pipe: the export waits there until the signal arrives.
    const fs::path pipe = folder() / "2.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    writeBytes(pdf(), "an earlier export");
    const auto before = namesInBooks();

    const pid_t pid = spawn({"pdf", folder().string()}, site_->origin());
    ASSERT_TRUE(testing::eventually([&] {
      for (const std::string& name : namesInBooks()) {
        if (name.starts_with(".varnel-") && name.ends_with(".part")) return true;
      }
      return false;
    })) << "the export started";
    ::kill(pid, signal);
    // Should the read go on after the signal, page 2 arrives; the stop is
    // then seen before page 3.
    std::atomic<bool> done{false};
    std::thread feeder([&] {
      while (!done) {
        const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          const std::string bytes = page(2);
          [[maybe_unused]] const ssize_t written = ::write(fd, bytes.data(), bytes.size());
          ::close(fd);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    const RunResult r = finish(pid);
    done = true;
    feeder.join();

    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("已取消"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(namesInBooks(), before) << "no temporary file, no new PDF";
    EXPECT_EQ(readFile(pdf()), "an earlier export");
  }
}

}  // namespace
}  // namespace varnel
