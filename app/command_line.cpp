#include "app/command_line.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "app/book_download.h"
#include "app/book_list.h"
#include "app/book_record.h"
#include "app/catalogue_site.h"
#include "app/catalogue_sync.h"
#include "app/headless_controls.h"
#include "app/page_fetch.h"
#include "app/pdf_export.h"
#include "app/process_state.h"
#include "app/progress_line.h"
#include "app/routines.h"
#include "app/settings.h"
#include "app/site_doctor.h"
#include "app/site_fetch.h"
#include "app/site_profile.h"
#include "os/process.h"
#include "pool/worker_pool.h"

namespace varnel {
namespace {

// --- interrupts --------------------------------------------------------------------
// Ctrl-C during a download stops handing out pages and lets the pages in
// flight end; during an export it stops the PDF, whose temporary file goes
// with it. Anywhere else, or a second time, the process leaves at once.
std::atomic<bool> exportCancel{false};

void onFirstInterrupt() {
  requestDownloadCancel();
  exportCancel = true;
}

// Said at once, from the handler: the pages in flight may take a moment.
constexpr std::string_view kStoppingNotice = "\n正在停止… (再按 Ctrl-C 立即退出)\n";

void installInterruptHandlers() {
  installInterruptHandler(kExitInterrupted, kStoppingNotice, onFirstInterrupt);
}

// --- output --------------------------------------------------------------------------
// Text from the site as it may be printed: UTF-8, control characters shown as '?'.
std::string siteText(const Text& text) { return printableText(textToUtf8(text)); }

constexpr std::string_view kDoctorHint =
    "varnel: `varnel doctor` 可找出哪一步、哪个配置键失效 (shows which step and key broke)";

void printLine(std::FILE* stream, std::string_view line) {
  std::fprintf(stream, "%.*s\n", static_cast<int>(line.size()), line.data());
}

// The desktop's file manager, without Qt.
void openWithDesktop(const std::string& folder) { startDetachedProgram({"xdg-open", folder}); }

// --- choosing by name ---------------------------------------------------------------
int findItem(HeadlessControls& controls, std::string_view combo, const std::string& nameUtf8) {
  const Text name = utf8BytesToText(nameUtf8);
  for (int i = 0; i < controls.itemCount(combo); ++i) {
    if (controls.itemText(combo, i) == name) return i;
  }
  return -1;
}

std::string listItems(HeadlessControls& controls, std::string_view combo) {
  std::string names;
  for (int i = 0; i < controls.itemCount(combo); ++i) {
    names += "\n  " + siteText(controls.itemText(combo, i));
  }
  return names;
}

int usageError(const CliEnvironment& env, const std::string& message) {
  printLine(env.err, "varnel: " + message);
  return kExitUsage;
}

// The catalogue or a book list could not be had: the status pane says why.
// "网站框架已更新" means the page came but its expressions found nothing.
// `what`, when given, names the subject the message is about.
int siteError(const CliEnvironment& env, HeadlessControls& controls, const std::string& what = {}) {
  const std::string message = textToUtf8(controls.paneText(kStatusBar, kMessagePane));
  printLine(env.err, "varnel: " + (what.empty() ? "" : what + ": ") + printableText(message) +
                         " (" + siteText(baseUrl()) + ")");
  const bool notUnderstood = message == kSyncFailedStatus || message == kListFailedStatus;
  if (notUnderstood) printLine(env.err, kDoctorHint);
  return notUnderstood ? kExitSiteNotUnderstood : kExitSiteUnreadable;
}

// The site profile of this run: --site FILE, else site.json beside conf.ini,
// else the built-in one. False after a file's problems were printed.
bool useSiteProfile(const CommandLine& cl, const CliEnvironment& env) {
  const std::string path = cl.siteFile.value_or(defaultSiteProfilePath());
  SiteProfileLoad load = loadSiteProfile(path);
  if (cl.siteFile && !load.fileFound) {
    load.problems.push_back({"", "文件不存在 (no such file)"});
  }
  if (!load.problems.empty()) {
    std::fputs(describeSiteProfileProblems(path, load.problems).c_str(), env.err);
    printLine(env.err, "varnel: 网站配置有错误, 未使用 (the site profile has errors; not used)");
    return false;
  }
  setSiteProfile(load.profile);
  return true;
}

int runDoctor(const CliEnvironment& env) {
  setBaseUrl(catalogueOrigin());
  const SiteDoctorReport report =
      runSiteDoctor(*currentSiteProfile(), baseUrl(), !ignoreCertificateErrors());
  std::fputs(report.text().c_str(), env.out);
  switch (report.verdict) {
    case SiteVerdict::understood:
      return kExitOk;
    case SiteVerdict::notUnderstood:
      return kExitSiteNotUnderstood;
    case SiteVerdict::unreadable:
      break;
  }
  return kExitSiteUnreadable;
}

// Of two exit statuses, the one that applies first: usage, interrupted, site
// unreadable, site not understood, a book incomplete, complete.
int firstApplying(int a, int b) {
  constexpr int kOrder[] = {kExitUsage,          kExitInterrupted,
                            kExitSiteUnreadable, kExitSiteNotUnderstood,
                            kExitFailed,         kExitOk};
  for (int status : kOrder) {
    if (a == status || b == status) return status;
  }
  return a;
}

std::optional<int> parseRowNumber(const std::string& text, int rows) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > rows) {
    return std::nullopt;
  }
  return value - 1;
}

// --- download with progress ------------------------------------------------------------
// The progress line (not with -q) and each page request (with -v), both on
// standard error.
class ProgressReporter {
 public:
  ProgressReporter(const CliEnvironment& env, bool quiet, bool verbose)
      : line_(env.err, env.errIsTerminal, env.columns), quiet_(quiet) {
    if (verbose) {
      setPageRequestListener([this](const PageRequestEvent& request) { noteRequest(request); });
    }
    if (quiet) return;
    setDownloadStartListener([this](const BookDownloadStart& start) {
      std::lock_guard lock(mutex_);
      tally_ = start.tally;
      total_ = start.pageCount;
      started_ = std::chrono::steady_clock::now();
      line_.bookStarted(siteText(start.title), start.pageCount);
    });
    ticker_ = std::thread([this] { tick(); });
  }
  ~ProgressReporter() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
    setDownloadStartListener({});
    setPageRequestListener({});
  }

  // With -q only an incomplete book's summary is shown.
  void bookEnded(const std::string& summary, bool complete) {
    std::lock_guard lock(mutex_);
    tally_.reset();
    if (!quiet_ || !complete) line_.bookEnded(summary);
  }

 private:
  void noteRequest(const PageRequestEvent& request) {
    const std::string status =
        request.status == 0 ? std::string("无应答 (no answer)") : std::to_string(request.status);
    std::lock_guard lock(mutex_);
    line_.note("GET " + siteText(request.url) + " → " + status + ", 第 " +
               std::to_string(request.attempt) + " 次 (attempt " + std::to_string(request.attempt) +
               "), " + std::to_string(request.milliseconds) + " ms");
  }

  void tick() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      wake_.wait_for(lock, std::chrono::milliseconds(100));
      if (!tally_ || stopping_) continue;
      const auto now = std::chrono::steady_clock::now();
      line_.update({.finished = tally_->finished(),
                    .kept = tally_->alreadyThere.load(),
                    .total = total_,
                    .failed = tally_->failed.load(),
                    .retries = tally_->retries.load(),
                    .bytes = tally_->bytes.load(),
                    .seconds = std::chrono::duration<double>(now - started_).count()},
                   now);
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  ProgressLine line_;
  bool quiet_;
  std::shared_ptr<const DownloadTally> tally_;
  int total_ = 0;
  std::chrono::steady_clock::time_point started_{};
  bool stopping_ = false;
  std::thread ticker_;
};

std::string summaryOf(const BookDownloadOutcome& outcome) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", outcome.seconds);
  const std::string w = std::to_string(outcome.written), a = std::to_string(outcome.alreadyThere),
                    f = std::to_string(outcome.failed), n = std::to_string(outcome.notRequested),
                    r = std::to_string(outcome.retries);
  std::string line = siteText(outcome.title) + ": " + siteText(outcome.message) + " — 写入 " + w +
                     " 页, 已有 " + a + " 页, 失败 " + f + " 页, 未下载 " + n + " 页, 重试 " + r +
                     " 次, " + seconds + " 秒 (" + w + " written, " + a + " already there, " + f +
                     " failed, " + n + " not requested, " + r + " retries, " + seconds + " s)";
  // An unfinished book says which pages it lacks and where it is.
  const bool started = !outcome.folder.empty();
  if (started && outcome.result != DownloadResult::complete && !outcome.missing.empty()) {
    line += "\n  缺少第 " + pageRanges(outcome.missing, ", ", "–") + " 页 (missing pages " +
            pageRanges(outcome.missing, ", ", "-") + "): " + outcome.folder;
  }
  if (!outcome.detail.empty()) line += "\n  " + printableText(outcome.detail);
  return line;
}

// The exit status a book's outcome calls for.
int exitStatusOf(const BookDownloadOutcome& outcome) {
  switch (outcome.result) {
    case DownloadResult::complete:
    case DownloadResult::notStarted:
      return kExitOk;
    case DownloadResult::cancelled:
      return kExitInterrupted;
    case DownloadResult::unreachable:
      return kExitSiteUnreadable;
    case DownloadResult::noBasePath:
    case DownloadResult::noPageCount:
      return kExitSiteNotUnderstood;
    case DownloadResult::incomplete:
    case DownloadResult::folderFailed:
      break;
  }
  return kExitFailed;
}

// Books of one run, for the line after several.
struct DownloadTotals {
  int books = 0;
  int complete = 0;
  int pages = 0;
  int written = 0;
  int alreadyThere = 0;
  void add(const BookDownloadOutcome& outcome) {
    ++books;
    if (outcome.result == DownloadResult::complete) ++complete;
    pages += outcome.pageCount;
    written += outcome.written;
    alreadyThere += outcome.alreadyThere;
  }
  std::string line() const {
    const std::string b = std::to_string(books), c = std::to_string(complete),
                      u = std::to_string(books - complete), w = std::to_string(written),
                      a = std::to_string(alreadyThere);
    return "共 " + b + " 本: 完成 " + c + " 本, 未完成 " + u + " 本; 写入 " + w + " 页, 已有 " + a +
           " 页 (" + b + " books: " + c + " complete, " + u + " not; " + w + " pages written, " +
           a + " already there)";
  }
};

// The folder's record names the book; the folder's name is never read back.
int exportPdf(const CliEnvironment& env, const std::string& folder, bool partial, bool quiet) {
  setInterruptCatching(true);
  const BookPdfResult result = exportBookPdf({.folder = folder, .cancel = &exportCancel}, partial);
  setInterruptCatching(false);
  if (!quiet || !result.ok) {
    std::string_view lines = result.message;  // a note may stand before the summary
    std::size_t end = 0;
    while ((end = lines.find('\n')) != std::string_view::npos) {
      printLine(env.err, printableText(lines.substr(0, end)));
      lines.remove_prefix(end + 1);
    }
    printLine(env.err, printableText(lines));
  }
  if (result.cancelled) return kExitInterrupted;
  if (!result.ok) return kExitFailed;
  printLine(env.out, result.path);
  return kExitOk;
}

// The rows the operands after edition and subject name (every row with --all);
// nullopt after a usage error was printed.
std::optional<std::vector<int>> chooseRows(const CommandLine& cl, const CliEnvironment& env,
                                           HeadlessControls& controls) {
  const int rows = controls.rowCount(kBookList);
  std::vector<int> chosen;
  if (cl.all) {
    for (int r = 0; r < rows; ++r) chosen.push_back(r);
  }
  for (std::size_t i = 2; i < cl.operands.size(); ++i) {
    const std::string& book = cl.operands[i];
    std::optional<int> row = parseRowNumber(book, rows);
    for (int r = 0; !row && r < rows; ++r) {
      if (controls.cellText(kBookList, r, kTitleColumn) == utf8BytesToText(book)) row = r;
    }
    if (!row) {
      std::string titles;
      for (int r = 0; r < rows; ++r) {
        titles += "\n  " + std::to_string(r + 1) + "\t" +
                  siteText(controls.cellText(kBookList, r, kTitleColumn));
      }
      usageError(env, "没有这本书 (no such book): " + book + "\n现有书目 (books):" + titles);
      return std::nullopt;
    }
    chosen.push_back(*row);
  }
  return chosen;
}

// Standard output lists the folder of each complete book only; anything else
// a book ends with goes to standard error with its summary.
int downloadRows(const CommandLine& cl, const CliEnvironment& env, HeadlessControls& controls,
                 ProgressReporter& progress, const std::vector<int>& chosen,
                 DownloadTotals& totals) {
  int status = kExitOk;
  for (int row : chosen) {
    if (interruptRequested()) break;
    controls.selectRow(kBookList, row);
    setInterruptCatching(true);
    const BookDownloadOutcome outcome = runBookDownload(controls);
    setInterruptCatching(false);
    totals.add(outcome);
    const bool complete = outcome.result == DownloadResult::complete;
    progress.bookEnded(summaryOf(outcome), complete);
    if (outcome.result == DownloadResult::noBasePath) printLine(env.err, kDoctorHint);
    if (complete) printLine(env.out, outcome.folder);
    std::fflush(env.out);
    status = firstApplying(status, exitStatusOf(outcome));
    if (status == kExitInterrupted || interruptRequested()) return kExitInterrupted;
    if (complete && cl.pdf) {
      const int exported = exportPdf(env, outcome.folder, false, cl.quiet);
      if (exported == kExitInterrupted) return kExitInterrupted;
      status = firstApplying(status, exported);
    }
  }
  return status;
}

void printTotals(const CliEnvironment& env, const DownloadTotals& totals) {
  if (totals.books > 1) printLine(env.err, totals.line());
}

int downloadBooks(const CommandLine& cl, const CliEnvironment& env, HeadlessControls& controls) {
  const std::optional<std::vector<int>> chosen = chooseRows(cl, env, controls);
  if (!chosen) return kExitUsage;
  workerPool().start(kPoolCoreThreads, kPoolMaxThreads);
  ProgressReporter progress(env, cl.quiet, cl.verbose);
  DownloadTotals totals;
  const int status = downloadRows(cl, env, controls, progress, *chosen, totals);
  printTotals(env, totals);
  return status;
}

// `download EDITION --all`: every book of every subject of the edition.
int downloadEdition(const CommandLine& cl, const CliEnvironment& env, HeadlessControls& controls) {
  workerPool().start(kPoolCoreThreads, kPoolMaxThreads);
  ProgressReporter progress(env, cl.quiet, cl.verbose);
  DownloadTotals totals;
  int status = kExitOk;
  for (int subject = 0; subject < controls.itemCount(kSubjectCombo) && !interruptRequested();
       ++subject) {
    controls.setCurrentIndex(kSubjectCombo, subject);
    runBookListFetch(controls);
    if (controls.rowCount(kBookList) == 0) {
      const std::string name = siteText(controls.itemText(kSubjectCombo, subject));
      status = firstApplying(status, siteError(env, controls, name));
      continue;
    }
    const std::optional<std::vector<int>> chosen = chooseRows(cl, env, controls);
    status = firstApplying(status, downloadRows(cl, env, controls, progress, *chosen, totals));
    if (status == kExitInterrupted) break;
  }
  printTotals(env, totals);
  return interruptRequested() ? kExitInterrupted : status;
}

// Books go to --dir, else DownloadPath of conf.ini, else the current directory
// (not the program's, where a user of any other download tool never looks).
void useCurrentDirectoryByDefault() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return;
  SettingsLocation where = settingsLocation();
  where.defaultDownloadDirectory = current.string();
  setSettingsLocation(where);
}

}  // namespace

int runCommandLine(const CommandLine& cl, const CliEnvironment& env) {
  if (cl.command == CliCommand::help || !cl.error.empty()) {
    if (!cl.error.empty()) {
      usageError(env, cl.error);
      printLine(env.err, "varnel --help 查看用法 (shows the usage)");
      return kExitUsage;
    }
    std::fputs(helpText().c_str(), env.out);
    return kExitOk;
  }
  if (cl.command == CliCommand::version) {
    printLine(env.out, versionText());
    return kExitOk;
  }
  if (cl.command == CliCommand::siteProfile) {
    std::fputs(siteProfileTemplate().c_str(), env.out);
    return kExitOk;
  }
  installInterruptHandlers();
  setIgnoreCertificateErrorsOverride(cl.insecure ? std::optional<bool>(true) : std::nullopt);
  setDownloadDirectoryOverride(cl.directory);
  useCurrentDirectoryByDefault();
  setOpenFolderOverride(cl.open);
  setRefetchPages(cl.refetch);
  setShellHooks({.browseForFolder = {}, .openFolder = openWithDesktop});

  if (cl.command == CliCommand::pdf) {
    return exportPdf(env, cl.operands[0], cl.partial, cl.quiet);
  }

  if (!useSiteProfile(cl, env)) return kExitUsage;
  if (cl.command == CliCommand::doctor) return runDoctor(env);
  setBaseUrl(catalogueOrigin());
  HeadlessControls controls;
  runCatalogueSync(controls);
  if (controls.itemCount(kEditionCombo) == 0) return siteError(env, controls);
  if (cl.command == CliCommand::editions) {
    for (int i = 0; i < controls.itemCount(kEditionCombo); ++i) {
      printLine(env.out, siteText(controls.itemText(kEditionCombo, i)));
    }
    return kExitOk;
  }

  const int edition = findItem(controls, kEditionCombo, cl.operands[0]);
  if (edition < 0) {
    return usageError(env, "没有这个专版 (no such edition): " + cl.operands[0] +
                               "\n现有专版 (editions):" + listItems(controls, kEditionCombo));
  }
  controls.setCurrentIndex(kEditionCombo, edition);
  onEditionSelected(controls);
  if (cl.command == CliCommand::subjects) {
    for (int i = 0; i < controls.itemCount(kSubjectCombo); ++i) {
      printLine(env.out, siteText(controls.itemText(kSubjectCombo, i)));
    }
    return kExitOk;
  }
  if (cl.operands.size() == 1) return downloadEdition(cl, env, controls);

  const int subject = findItem(controls, kSubjectCombo, cl.operands[1]);
  if (subject < 0) {
    return usageError(env, "没有这个学科 (no such subject): " + cl.operands[1] +
                               "\n现有学科 (subjects):" + listItems(controls, kSubjectCombo));
  }
  controls.setCurrentIndex(kSubjectCombo, subject);
  runBookListFetch(controls);
  if (controls.rowCount(kBookList) == 0) return siteError(env, controls);
  if (cl.command == CliCommand::books) {
    for (int r = 0; r < controls.rowCount(kBookList); ++r) {
      printLine(env.out, siteText(controls.cellText(kBookList, r, kNumberColumn)) + "\t" +
                             siteText(controls.cellText(kBookList, r, kTitleColumn)) + "\t" +
                             siteText(controls.cellText(kBookList, r, kPageCountColumn)));
    }
    return kExitOk;
  }
  return downloadBooks(cl, env, controls);
}

}  // namespace varnel
