// The command line: its parsing as a table, then the real `varnel` binary run
// against the demo site in this process, as a script or a user would run it.
#include "app/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

  // Starts varnel with `args`; `whileRunning` gets its pid.
  pid_t spawn(std::vector<std::string> args, const std::string& origin) {
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
    posix_spawn_file_actions_addchdir_np(&actions, (root_ / "cwd").c_str());
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
  RunResult run(std::vector<std::string> args, std::string origin = {}) {
    return finish(spawn(std::move(args), origin.empty() ? site_->origin() : origin));
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
  const RunResult pdf = run({"pdf", englishFolder.string()});
  EXPECT_EQ(pdf.status, 0) << pdf.err;
  EXPECT_EQ(readFile(englishFolder.string() + ".pdf").substr(0, 5), "%PDF-");
  const RunResult withPdf =
      run({"--pdf", "--dir", books_.string(), "download", "小学专版", "数学", "2"});
  EXPECT_EQ(withPdf.status, 0) << withPdf.err;
  EXPECT_TRUE(fs::exists(books_ / "小学专版--数学--数学第二册.pdf")) << withPdf.err;
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
  EXPECT_NE(r.err.find("not requested"), std::string::npos) << r.err;
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

}  // namespace
}  // namespace varnel
