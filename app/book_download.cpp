#include "app/book_download.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "app/catalogue_site.h"
#include "app/page_fetch.h"
#include "app/process_state.h"
#include "app/settings.h"
#include "app/site_fetch.h"
#include "app/user_action.h"
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

struct SelectedBook {
  int row = -1;
  Text title;
  int pageCount = 0;
  Text url;
};

SelectedBook readSelectedBook(Controls& controls) {
  SelectedBook book;
  book.row = controls.selectedRow(kBookList);
  book.title = controls.cellText(kBookList, book.row, kTitleColumn);
  book.pageCount = leadingNumber(controls.cellText(kBookList, book.row, kPageCountColumn));
  book.url = controls.cellText(kBookList, book.row, kUrlColumn);
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

// Hands every page to the pool, never more at a time than there are idle
// workers. Returns how many pages were handed over.
int submitPages(Controls& controls, WorkerPool& pool, const SelectedBook& book,
                const Text& imageBase, const std::string& folder,
                const std::shared_ptr<DownloadTally>& tally) {
  const bool verifyCertificates = !ignoreCertificateErrors();
  int submitted = 0;
  while (submitted < book.pageCount && pool.state() == PoolState::running &&
         !downloadCancelRequested()) {
    // Idle workers less the jobs already queued for them: idleThreads alone
    // counts a job not yet picked up as room for one more, and the queue grows.
    int spare = 0;
    pool.spareThreads(spare);
    const int batch = std::min(spare, book.pageCount - submitted);
    for (int i = 0; i < batch; ++i) {
      const int page = submitted + 1;
      const Text pageUrl = concatTexts(imageBase, std::to_string(page), kPageFileExtension);
      auto* job = new PageJob{concatTexts(book.title, kJobTextSeparator, pageUrl), folder, tally,
                              verifyCertificates};
      if (!pool.submit(runPageJob, reinterpret_cast<std::intptr_t>(job), page)) {
        delete job;  // the pool stopped under us; the rest count as failed
        return submitted;
      }
      submitted = page;
      controls.setPaneText(kStatusBar, kProgressPane, progressText(submitted, book.pageCount));
    }
    pool.waitJobDone(kJobDoneGuardMs);
  }
  return submitted;
}

// Until every handed-over page has ended, or the pool can no longer run them.
void waitForPages(WorkerPool& pool, const DownloadTally& tally, int submitted) {
  while (tally.finished() < submitted && !pool.isIdle() && pool.state() == PoolState::running) {
    pool.waitJobDone(kEndWaitStepMs);
  }
}

void notifyStart(const SelectedBook& book, const std::string& folder,
                 const std::shared_ptr<DownloadTally>& tally) {
  DownloadStartListener listener;
  {
    std::lock_guard lock(listenerMutex);
    listener = *startListener();
  }
  if (listener) listener({book.title, book.pageCount, folder, tally});
}

// Hands out every page of the book and waits for them; the tally's end goes
// into `outcome` (result complete, incomplete or cancelled).
void fetchPages(Controls& controls, const SelectedBook& book, const Text& imageBase,
                BookDownloadOutcome& outcome) {
  removePartialPages(outcome.folder);
  WorkerPool& pool = workerPool();
  auto tally = std::make_shared<DownloadTally>();
  notifyStart(book, outcome.folder, tally);
  const int submitted = submitPages(controls, pool, book, imageBase, outcome.folder, tally);
  waitForPages(pool, *tally, submitted);
  const bool cancelled = downloadCancelRequested();
  // A page abandoned by a stopping pool may have left its temporary file.
  if (cancelled || tally->finished() < submitted) removePartialPages(outcome.folder);

  // Pages never handed over, dropped by a stopping pool or still unfinished count as failed.
  outcome.written = tally->written.load();
  outcome.failed = book.pageCount - outcome.written;
  outcome.retries = tally->retries.load();
  outcome.bytes = tally->bytes.load();
  if (outcome.failed == 0) {
    outcome.result = DownloadResult::complete;
    outcome.message = statusText(kDownloadDoneStatus);
  } else if (cancelled) {
    outcome.result = DownloadResult::cancelled;
    outcome.message = statusText(kDownloadCancelledStatus);
  } else {
    outcome.result = DownloadResult::incomplete;
    outcome.message =
        concatTexts(statusText(kDownloadIncompletePrefix), std::to_string(outcome.failed),
                    kProgressSeparator, std::to_string(book.pageCount));
  }
}

// The end every download shares, whatever the outcome: the progress pane
// emptied, the outcome's message in pane 1 and the row, the controls back.
BookDownloadOutcome finishDownload(Controls& controls, const SelectedBook& book,
                                   BookDownloadOutcome outcome, Clock::time_point started) {
  outcome.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  controls.setPaneText(kStatusBar, kProgressPane, {});
  controls.setPaneText(kStatusBar, kMessagePane, outcome.message);
  const bool complete = outcome.result == DownloadResult::complete;
  controls.setCellText(kBookList, book.row, kRowStatusColumn,
                       statusText(complete ? kRowDoneStatus : kRowFailedStatus));
  setControlsForDownload(controls, true);
  return outcome;
}

}  // namespace

void setDownloadStartListener(DownloadStartListener listener) {
  std::lock_guard lock(listenerMutex);
  *startListener() = std::move(listener);
}

int leadingNumber(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return 0;
  int value = 0;
  for (char c : text.substr(first)) {
    if (c < '0' || c > '9') break;
    value = std::min(kMaxPageCount, value * 10 + (c - '0'));
  }
  return value;
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

void runPageJob(std::intptr_t job, std::intptr_t pageNumber) {
  std::unique_ptr<PageJob> page(reinterpret_cast<PageJob*>(job));
  if (!page) return;
  bool written = false;
  try {
    const Text pageUrl = pageUrlOf(page->jobText);
    if (!pageUrl.empty()) {
      PageFetch fetch = fetchPageImage(pageUrl, page->verifyCertificates,
                                       [] { return downloadCancelRequested(); });
      if (page->tally && fetch.attempts > 1) page->tally->retries += fetch.attempts - 1;
      if (!fetch.image.empty()) {
        const std::string file =
            concatTexts(page->bookFolder, "/", std::to_string(pageNumber), kPageFileExtension);
        written = replaceFileAtomically(file, asView(fetch.image)) == FileError::none;
        if (written && page->tally)
          page->tally->bytes += static_cast<std::int64_t>(fetch.image.size());
      }
    }
  } catch (...) {
    // Out of memory or a file-system error: a failed page, never a lost count.
  }
  if (page->tally) ++(written ? page->tally->written : page->tally->failed);
}

void onDownloadItem(Controls& controls) {
  // Without a selected row there is no book to download.
  if (controls.selectedRow(kBookList) < 0) return;
  startUserAction(controls, {kEditionCombo, kSubjectCombo, kBookList},
                  [&controls] { runBookDownload(controls); });
}

BookDownloadOutcome runBookDownload(Controls& controls) {
  RegexObject regex;
  if (controls.selectedRow(kBookList) < 0) return {};
  const auto started = Clock::now();
  setControlsForDownload(controls, false);

  const SelectedBook book = readSelectedBook(controls);
  BookDownloadOutcome outcome{.title = book.title, .pageCount = book.pageCount};
  const Text running = statusText(kDownloadRunningStatus);
  controls.setCellText(kBookList, book.row, kRowStatusColumn, running);
  controls.setPaneText(kStatusBar, kMessagePane, running);

  // Every early end fetches no page and creates nothing (but the folder, when
  // its creation is what failed).
  auto failEarly = [&](DownloadResult result, Text message) {
    outcome.result = result;
    outcome.message = std::move(message);
    outcome.failed = book.pageCount;
    return finishDownload(controls, book, std::move(outcome), started);
  };
  if (book.pageCount <= 0) {
    return failEarly(DownloadResult::noPageCount, statusText(kDownloadNoPageCountStatus));
  }
  const SiteAnswer answer = fetchFromSite(book.url);
  if (!answer.received()) {
    return failEarly(DownloadResult::unreachable,
                     describeSiteFailure(answer, kDownloadUnreachableStatus));
  }
  const bool found =
      regex.execute(kBasePathPattern, utf8BytesToText(answer.body)) && regex.matchCount() > 0;
  // The base path is written by the site: relative to the book page, or absolute.
  const Text imageBase = found ? resolveUrl(book.url, regex.submatchText(1, 1)) : Text();
  if (imageBase.empty()) {
    return failEarly(DownloadResult::noBasePath, statusText(kDownloadNoBasePathStatus));
  }
  const std::string folder = bookFolderOfRow(controls, book.row);
  if (!ensureDirectoryPath(folder)) {
    return failEarly(DownloadResult::folderFailed,
                     concatTexts(statusText(kDownloadFolderFailedStatus), utf8BytesToText(folder)));
  }
  outcome.folder = folder;
  fetchPages(controls, book, imageBase, outcome);
  outcome = finishDownload(controls, book, std::move(outcome), started);
  if (outcome.result != DownloadResult::cancelled && readOpenFolderSetting()) showFolder(folder);
  return outcome;
}

}  // namespace varnel
