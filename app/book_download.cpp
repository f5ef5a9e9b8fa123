#include "app/book_download.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "app/book_record.h"
#include "app/catalogue_site.h"
#include "app/page_fetch.h"
#include "app/process_state.h"
#include "app/settings.h"
#include "app/site_fetch.h"
#include "app/site_profile.h"
#include "os/files.h"
#include "pool/worker_pool.h"
#include "regex/regex_object.h"
#include "web/resolve_url.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::mutex listenerMutex;
DownloadStartListener* startListener() {
  static auto* listener = new DownloadStartListener;  // never freed: see process_state.h
  return listener;
}

std::atomic<bool> refetchPages{false};

struct SelectedBook {
  int row = -1;
  BookIdentity identity;
  int pageCount = 0;
  Text declaredCount;  // the row's page count as the site wrote it
};

SelectedBook readBook(Controls& controls, int row) {
  SelectedBook book;
  book.row = row;
  book.identity = bookOfRow(controls, book.row);
  book.declaredCount = trimSpaces(controls.cellText(kBookList, book.row, kPageCountColumn));
  book.pageCount = pageCountOf(book.declaredCount);
  return book;
}

void setControlsForDownload(Controls& controls, bool enabled) {
  // The user may act again as soon as the controls are usable.
  if (enabled) endAction();
  controls.setEnabled(kSubjectCombo, enabled);
  controls.setEnabled(kEditionCombo, enabled);
  controls.setEnabled(kBookList, enabled);
}

Text progressText(int done, int total) {
  return concatTexts(statusText(kProgressPrefix), std::to_string(done), kProgressSeparator,
                     std::to_string(total));
}

// Whether handing out pages must stop before the book's end: a cancel, a
// stopped pool, a site that says the pages from some number on do not exist,
// or a disk that can take no page.
bool mustStopHandingOut(WorkerPool& pool, const DownloadTally& tally) {
  return pool.state() != PoolState::running || downloadCancelRequested() ||
         tally.absentFrom() > 0 || tally.lastingWriteError() != FileError::none;
}

// Hands `pages` to the pool in order, never more at a time than there are
// idle workers. Returns how many were handed over.
int submitPages(Controls& controls, WorkerPool& pool, const SelectedBook& book,
                const std::vector<int>& pages, const Text& imageBase, const std::string& folder,
                const std::shared_ptr<DownloadTally>& tally) {
  const bool verifyCertificates = !ignoreCertificateErrors();
  const Text suffix = currentSiteProfile()->pageFileSuffix;
  const int total = static_cast<int>(pages.size());
  int submitted = 0;
  while (submitted < total && !mustStopHandingOut(pool, *tally)) {
    // Idle workers less the jobs already queued for them: idleThreads alone
    // counts a job not yet picked up as room for one more, and the queue grows.
    int spare = 0;
    pool.spareThreads(spare);
    const int batch = std::min(spare, total - submitted);
    for (int i = 0; i < batch; ++i) {
      const int page = pages[static_cast<std::size_t>(submitted)];
      const Text pageUrl = concatTexts(imageBase, std::to_string(page), suffix);
      auto* job = new PageJob{concatTexts(book.identity.title, kJobTextSeparator, pageUrl), folder,
                              tally, verifyCertificates};
      if (!pool.submit(runPageJob, reinterpret_cast<std::intptr_t>(job), page)) {
        delete job;  // the pool stopped under us; the rest are not requested
        return submitted;
      }
      ++submitted;
      controls.setPaneText(kStatusBar, kProgressPane,
                           progressText(tally->alreadyThere + submitted, book.pageCount));
    }
    pool.waitJobDone(kJobDoneGuardMs);
  }
  return submitted;
}

// Until every handed-over page has ended, or the pool can no longer run them.
void waitForPages(WorkerPool& pool, const DownloadTally& tally, int submitted) {
  const int ended = tally.alreadyThere + submitted;
  while (tally.finished() < ended && !pool.isIdle() && pool.state() == PoolState::running) {
    pool.waitJobDone(kEndWaitStepMs);
  }
}

std::mutex runningMutex;
std::optional<BookDownloadStart>& running() {
  static auto* value = new std::optional<BookDownloadStart>;  // read by abandoned threads
  return *value;
}

void notifyStart(const SelectedBook& book, const std::string& folder,
                 const std::shared_ptr<DownloadTally>& tally) {
  const BookDownloadStart start{book.identity.title, book.pageCount, folder, tally, Clock::now()};
  {
    std::lock_guard lock(runningMutex);
    running() = start;
  }
  DownloadStartListener listener;
  {
    std::lock_guard lock(listenerMutex);
    listener = *startListener();
  }
  if (listener) listener(start);
}

// The pages of 1..pageCount whose files on disk are whole images; none when
// refetching.
std::vector<int> wholePagesOnDisk(const std::string& folder, int pageCount) {
  std::vector<int> pages;
  if (refetchPages) return pages;
  for (int page = 1; page <= pageCount; ++page) {
    const std::string file = concatTexts(folder, "/", std::to_string(page), kPageFileExtension);
    if (isCompleteImage(checkPageImageFile(file))) pages.push_back(page);
  }
  return pages;
}

// The outcome's result and texts from how its pages ended.
void judgeOutcome(const SelectedBook& book, const DownloadTally& tally, bool cancelled,
                  BookDownloadOutcome& outcome) {
  const int missing = static_cast<int>(outcome.missing.size());
  if (missing == 0) {
    outcome.result = DownloadResult::complete;
    outcome.message = statusText(kDownloadDoneStatus);
    return;
  }
  outcome.result = cancelled ? DownloadResult::cancelled : DownloadResult::incomplete;
  if (cancelled) {
    outcome.message = statusText(kDownloadCancelledStatus);
  } else if (tally.lastingWriteError() != FileError::none) {
    outcome.message = concatTexts(statusText(kDownloadIncompleteCausePrefix),
                                  utf8BytesToText(fileErrorText(tally.lastingWriteError())));
  } else if (tally.absentFrom() > 0) {
    outcome.message = utf8BytesToText(
        concatTexts(kSiteCountWrongPrefix, textToUtf8(book.declaredCount), kSiteCountWrongMiddle,
                    std::to_string(tally.absentFrom()), kSiteCountWrongSuffix));
  } else {
    outcome.message = concatTexts(statusText(kDownloadIncompletePrefix), std::to_string(missing),
                                  kProgressSeparator, std::to_string(book.pageCount));
  }
  outcome.detail = tally.firstFailure();
}

// Hands out every page the folder lacks and waits for them; the record is
// written before the first page and after the last.
void fetchPages(Controls& controls, const SelectedBook& book, const Text& imageBase,
                BookRecord record, BookDownloadOutcome& outcome) {
  removePartialPages(outcome.folder);
  const std::vector<int> onDisk = wholePagesOnDisk(outcome.folder, book.pageCount);
  record.pages = onDisk;
  saveBookRecord(outcome.folder, record);  // the folder says whose it is before any page lands

  WorkerPool& pool = workerPool();
  auto tally = std::make_shared<DownloadTally>(book.pageCount);
  tally->alreadyThere = static_cast<int>(onDisk.size());
  notifyStart(book, outcome.folder, tally);
  const std::vector<int> wanted = pagesMissingFrom(onDisk, book.pageCount);
  const int submitted = submitPages(controls, pool, book, wanted, imageBase, outcome.folder, tally);
  waitForPages(pool, *tally, submitted);
  const bool cancelled = downloadCancelRequested();
  // A page abandoned by a stopping pool may have left its temporary file.
  if (cancelled || tally->finished() < tally->alreadyThere + submitted) {
    removePartialPages(outcome.folder);
  }

  const std::vector<int> written = tally->writtenPages();
  record.pages.insert(record.pages.end(), written.begin(), written.end());
  std::sort(record.pages.begin(), record.pages.end());
  saveBookRecord(outcome.folder, record);

  outcome.written = static_cast<int>(written.size());
  outcome.alreadyThere = tally->alreadyThere;
  outcome.failed = tally->failed;
  outcome.notRequested = static_cast<int>(wanted.size()) - outcome.written - outcome.failed;
  outcome.retries = tally->retries;
  outcome.bytes = tally->bytes;
  outcome.missing = pagesMissingFrom(record.pages, book.pageCount);
  judgeOutcome(book, *tally, cancelled, outcome);
}

// The end every download shares, whatever the outcome: the progress pane
// emptied, the outcome's message in pane 1 and the row, the controls back.
BookDownloadOutcome finishDownload(Controls& controls, const SelectedBook& book,
                                   BookDownloadOutcome outcome, Clock::time_point started) {
  outcome.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  {
    std::lock_guard lock(runningMutex);
    running().reset();
  }
  controls.setPaneText(kStatusBar, kProgressPane, {});
  controls.setPaneText(kStatusBar, kMessagePane, outcome.message);
  controls.setCellText(kBookList, book.row, kRowStatusColumn, rowStatusOf(outcome));
  return outcome;
}

}  // namespace

std::optional<BookDownloadStart> runningDownload() {
  std::lock_guard lock(runningMutex);
  return running();
}

Text rowRunningText(int done, int total) {
  return concatTexts(statusText(kRowRunningPrefix), std::to_string(done), kProgressSeparator,
                     std::to_string(total));
}

Text rowStatusOf(const BookDownloadOutcome& outcome) {
  const int missing = static_cast<int>(outcome.missing.size());
  switch (outcome.result) {
    case DownloadResult::notStarted:
      return statusText(kNotDownloadedMark);
    case DownloadResult::complete:
      return statusText(kRowDoneStatus);
    case DownloadResult::incomplete:
      return concatTexts(statusText(kRowIncompletePrefix), std::to_string(missing),
                         statusText(kRowIncompleteSuffix));
    case DownloadResult::cancelled:
      return concatTexts(statusText(kRowCancelledPrefix),
                         std::to_string(outcome.pageCount - missing), kProgressSeparator,
                         std::to_string(outcome.pageCount), statusText(kRowCancelledSuffix));
    default:
      break;
  }
  // The pane's message without its "下载失败!": the row already says it failed.
  const Text failedPrefix = statusText(kDownloadFailedPrefix);
  std::string_view why = outcome.message;
  if (why.starts_with(failedPrefix)) why.remove_prefix(failedPrefix.size());
  return concatTexts(statusText(kRowFailedPrefix), why);
}

Text rowStatusOnDisk(const BookRecord& record) {
  if (record.pages.empty()) return statusText(kNotDownloadedMark);
  const int missing = record.missingCount();
  if (missing == 0) return statusText(kRowDoneStatus);
  return concatTexts(statusText(kRowIncompletePrefix), std::to_string(missing),
                     statusText(kRowIncompleteSuffix));
}

void setDownloadStartListener(DownloadStartListener listener) {
  std::lock_guard lock(listenerMutex);
  *startListener() = std::move(listener);
}

int pageCountOf(std::string_view text) {
  return static_cast<int>(std::clamp<long long>(leadingInteger(text), 0, kMaxPageCount));
}

Text pageUrlOf(std::string_view jobText) {
  std::vector<Text> parts = splitNonEmpty(jobText, kJobTextSeparator);
  return parts.empty() ? Text() : parts.back();
}

void removePartialPages(const std::string& folder) {
  removeStaleTemporaryFiles(folder);
  // Earlier versions wrote a page through "N.jpg.part" beside it.
  const Text legacySuffix = concatTexts(kPageFileExtension, kTemporarySuffix);
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().string().ends_with(legacySuffix)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

void DownloadTally::pageEnded(int page, PageEnd end, const std::string& reason,
                              FileError writeError) {
  std::lock_guard lock(mutex_);
  if (page >= 1 && static_cast<std::size_t>(page) < ends_.size()) {
    ends_[static_cast<std::size_t>(page)] = static_cast<std::uint8_t>(end) + 1;
  }
  if (end == PageEnd::absent && absentFrom_ == 0) {
    // The run of absent pages through this one, looked at only around it.
    const auto isAbsent = [&](int n) {
      return n >= 1 && static_cast<std::size_t>(n) < ends_.size() &&
             ends_[static_cast<std::size_t>(n)] == static_cast<std::uint8_t>(PageEnd::absent) + 1;
    };
    int first = page, last = page;
    while (page - first < kAbsentPagesToStop && isAbsent(first - 1)) --first;
    while (last - page < kAbsentPagesToStop && isAbsent(last + 1)) ++last;
    if (last - first + 1 >= kAbsentPagesToStop) absentFrom_ = first;
  }
  if (writeError == FileError::diskFull || writeError == FileError::permission) {
    writeError_ = writeError;
  }
  if (end != PageEnd::written && !reason.empty() &&
      (firstFailurePage_ == 0 || page < firstFailurePage_)) {
    firstFailurePage_ = page;
    firstFailure_ = "第 " + std::to_string(page) + " 页: " + reason;
  }
}

int DownloadTally::absentFrom() const {
  std::lock_guard lock(mutex_);
  // Pages end out of order: absent pages below the run found may have ended
  // since, and belong to it.
  int first = absentFrom_;
  const auto absent = static_cast<std::uint8_t>(PageEnd::absent) + 1;
  while (first > 1 && ends_[static_cast<std::size_t>(first) - 1] == absent) --first;
  return first;
}

FileError DownloadTally::lastingWriteError() const {
  std::lock_guard lock(mutex_);
  return writeError_;
}

std::string DownloadTally::firstFailure() const {
  std::lock_guard lock(mutex_);
  return firstFailure_;
}

std::vector<int> DownloadTally::writtenPages() const {
  std::lock_guard lock(mutex_);
  std::vector<int> pages;
  for (std::size_t n = 1; n < ends_.size(); ++n) {
    if (ends_[n] == static_cast<std::uint8_t>(PageEnd::written) + 1)
      pages.push_back(static_cast<int>(n));
  }
  return pages;
}

void setRefetchPages(bool refetch) { refetchPages = refetch; }

namespace {

// Why a page that was not written failed, for the user.
std::string failureReason(const PageFetch& fetch) {
  if (!fetch.refusal.empty()) return fetch.refusal;
  if (fetch.status == 0) return "没有收到回答";
  return "网站回答 " + std::to_string(fetch.status);
}

}  // namespace

void runPageJob(std::intptr_t job, std::intptr_t pageNumber) {
  std::unique_ptr<PageJob> page(reinterpret_cast<PageJob*>(job));
  if (!page) return;
  const int number = static_cast<int>(pageNumber);
  PageEnd end = PageEnd::failed;
  std::string reason;
  FileError writeError = FileError::none;
  try {
    const Text pageUrl = pageUrlOf(page->jobText);
    if (!pageUrl.empty()) {
      PageFetch fetch = fetchPageImage(pageUrl, page->verifyCertificates,
                                       [] { return downloadCancelRequested(); });
      if (page->tally && fetch.attempts > 1) page->tally->retries += fetch.attempts - 1;
      if (!fetch.image.empty()) {
        const std::string file =
            concatTexts(page->bookFolder, "/", std::to_string(number), kPageFileExtension);
        writeError = replaceFileAtomically(file, asView(fetch.image));
        if (writeError == FileError::none) {
          end = PageEnd::written;
          if (page->tally) page->tally->bytes += static_cast<std::int64_t>(fetch.image.size());
        } else {
          reason = std::string(fileErrorText(writeError));
        }
      } else if (fetch.attempts > 0) {
        end = fetch.absent() ? PageEnd::absent : PageEnd::failed;
        reason = failureReason(fetch);
      }
    }
  } catch (...) {
    // Out of memory or a file-system error: a failed page, never a lost count.
  }
  if (!page->tally) return;
  if (end != PageEnd::written && downloadCancelRequested()) {
    ++page->tally->abandoned;  // the user stopped it; the site did nothing wrong
    return;
  }
  ++(end == PageEnd::written ? page->tally->written : page->tally->failed);
  page->tally->pageEnded(number, end, reason, writeError);
}

BookDownloadOutcome runBookDownload(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  if (row < 0) return {};
  setControlsForDownload(controls, false);
  BookDownloadOutcome outcome = runBookDownload(controls, row);
  setControlsForDownload(controls, true);
  return outcome;
}

BookDownloadOutcome runBookDownload(Controls& controls, int row) {
  RegexObject regex;
  // Every row the list fills has its number; a row that is not there has none.
  if (row < 0 || controls.cellText(kBookList, row, kNumberColumn).empty()) return {};
  const auto started = Clock::now();

  const SelectedBook book = readBook(controls, row);
  BookDownloadOutcome outcome{.title = book.identity.title, .pageCount = book.pageCount};
  controls.setCellText(kBookList, book.row, kRowStatusColumn, rowRunningText(0, book.pageCount));
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kDownloadRunningStatus));

  // Every early end fetches no page and creates nothing (but the folder, when
  // its creation is what failed).
  auto failEarly = [&](DownloadResult result, Text message) {
    outcome.result = result;
    outcome.message = std::move(message);
    outcome.notRequested = book.pageCount;
    return finishDownload(controls, book, std::move(outcome), started);
  };
  if (book.pageCount <= 0) {
    return failEarly(DownloadResult::noPageCount, statusText(kDownloadNoPageCountStatus));
  }
  const SiteAnswer answer = fetchFromSite(book.identity.url, !ignoreCertificateErrors());
  if (!answer.received()) {
    return failEarly(DownloadResult::unreachable,
                     describeSiteFailure(answer, kDownloadFailureTexts));
  }
  const bool found = regex.execute(currentSiteProfile()->basePathPattern, pageText(answer.body)) &&
                     regex.matchCount() > 0;
  // The base path is written by the site: relative to the book page, or absolute.
  const Text imageBase = found ? resolveUrl(book.identity.url, regex.submatchText(1, 1)) : Text();
  if (imageBase.empty()) {
    controls.setMenuItemEnabled(kDiagnoseSiteMenu, true);
    return failEarly(DownloadResult::noBasePath, statusText(kDownloadNoBasePathStatus));
  }
  const FolderChoice choice = chooseBookFolder(readDownloadDirectory(), book.identity);
  if (choice.path.empty()) return failEarly(DownloadResult::folderFailed, choice.problem);
  const std::string& folder = choice.path;
  if (!ensureDirectoryPath(folder)) {
    return failEarly(DownloadResult::folderFailed,
                     concatTexts(statusText(kDownloadFolderFailedStatus), utf8BytesToText(folder)));
  }
  // A link put where the book folder goes would take the pages elsewhere.
  if (checkRealDirectory(folder) == FileError::isLink) {
    return failEarly(DownloadResult::folderFailed,
                     concatTexts(statusText(kDownloadFolderLinkStatus), utf8BytesToText(folder)));
  }
  outcome.folder = folder;
  fetchPages(controls, book, imageBase,
             {.url = textToUtf8(book.identity.url),
              .edition = textToUtf8(book.identity.edition),
              .subject = textToUtf8(book.identity.subject),
              .title = textToUtf8(book.identity.title),
              .declaredPages = book.pageCount,
              .imageBase = textToUtf8(imageBase)},
             outcome);
  outcome = finishDownload(controls, book, std::move(outcome), started);
  if (outcome.result != DownloadResult::cancelled && readOpenFolderSetting()) showFolder(folder);
  return outcome;
}

}  // namespace varnel
