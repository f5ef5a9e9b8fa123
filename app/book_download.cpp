#include "app/book_download.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "app/book_list.h"  // currentItemText
#include "app/catalogue_site.h"
#include "app/process_state.h"
#include "app/settings.h"
#include "pool/worker_pool.h"
#include "regex/regex_object.h"
#include "web/web_request.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

bool isForbiddenInName(unsigned char c) {
  constexpr std::string_view kForbidden = "\\/:*?\"<>|";
  return c < 0x20 || c == 0x7F || kForbidden.find(static_cast<char>(c)) != std::string_view::npos;
}

// Writes `bytes` beside `path` first and renames it into place, so a reader
// never sees a half-written page and a failure leaves the old file alone.
bool writeFileReplacing(const std::string& path, const Bytes& bytes) {
  const std::string partial = concatTexts(path, kPartialFileSuffix);
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(partial, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::rename(partial, path, error);
  if (error) {
    fs::remove(partial, error);
    return false;
  }
  return true;
}

bool fetchAndWritePage(const PageJob& job, std::intptr_t pageNumber) {
  const Text pageUrl = pageUrlOf(job.jobText);
  if (pageUrl.empty()) return false;
  int status = 0;
  WebRequestOptions options;
  options.status = &status;
  const Bytes image = webRequest(pageUrl, options);
  // An error page is not an image, and an empty body is no page at all.
  if (status < 200 || status > 299 || image.empty()) return false;
  const std::string file =
      concatTexts(job.bookFolder, "/", std::to_string(pageNumber), kPageFileExtension);
  return writeFileReplacing(file, image);
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

std::string selectedBookFolder(Controls& controls, int row) {
  return bookFolderPath(readDownloadDirectory(), currentItemText(controls, kEditionCombo),
                        currentItemText(controls, kSubjectCombo),
                        controls.cellText(kBookList, row, kTitleColumn));
}

void openFolder(const std::string& folder) {
  if (FolderOpener opener = shellHooks().openFolder) opener(folder);
}

void setControlsForDownload(Controls& controls, bool enabled) {
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
  int submitted = 0;
  while (submitted < book.pageCount && pool.state() == PoolState::running) {
    const int idle = pool.idleThreads();
    const int batch = std::min(idle, book.pageCount - submitted);
    for (int i = 0; i < batch; ++i) {
      const int page = submitted + 1;
      const Text pageUrl = concatTexts(imageBase, std::to_string(page), kPageFileExtension);
      auto* job = new PageJob{concatTexts(book.title, kJobTextSeparator, pageUrl), folder, tally};
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

}  // namespace

int leadingNumber(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min(kMaxPageCount, value * 10 + (c - '0'));
  }
  return value;
}

Text pageUrlOf(std::string_view jobText) {
  std::vector<Text> parts = splitNonEmpty(jobText, kJobTextSeparator);
  return parts.empty() ? Text() : parts.back();
}

bool ensureDirectoryPath(const std::string& nativePath) {
  if (nativePath.empty()) return false;
  std::error_code error;
  fs::create_directories(nativePath, error);
  return fs::is_directory(nativePath, error);
}

std::string bookFolderPath(const std::string& downloadDirectory, const Text& edition,
                           const Text& subject, const Text& title) {
  // Sanitised in UTF-8: a GBK trail byte can equal '\\' or '|', a UTF-8 one cannot.
  std::string name =
      textToUtf8(concatTexts(edition, kFolderNameSeparator, subject, kFolderNameSeparator, title));
  std::replace_if(
      name.begin(), name.end(),
      [](char c) { return isForbiddenInName(static_cast<unsigned char>(c)); },
      kFolderNameReplacement);
  // An empty directory would put books into the file-system root.
  const std::string directory =
      downloadDirectory.empty() ? settingsLocation().defaultDownloadDirectory : downloadDirectory;
  return concatTexts(directory, "/", name);
}

void runPageJob(std::intptr_t job, std::intptr_t pageNumber) {
  std::unique_ptr<PageJob> page(reinterpret_cast<PageJob*>(job));
  if (!page) return;
  bool written = false;
  try {
    written = fetchAndWritePage(*page, pageNumber);
  } catch (...) {
    // Out of memory or a file-system error: a failed page, never a lost count.
  }
  if (page->tally) ++(written ? page->tally->written : page->tally->failed);
}

void runBookDownload(Controls& controls) {
  RegexObject regex;
  if (controls.selectedRow(kBookList) < 0) return;
  setControlsForDownload(controls, false);

  SelectedBook book = readSelectedBook(controls);
  const Text running = statusText(kDownloadRunningStatus);
  controls.setCellText(kBookList, book.row, kRowStatusColumn, running);
  controls.setPaneText(kStatusBar, kMessagePane, running);

  const Text bookPage = utf8BytesToText(webRequest(book.url));
  const bool found = regex.execute(kBasePathPattern, bookPage) && regex.matchCount() > 0;
  if (!found) {
    // Every address would lack the base path: fetch nothing, create nothing.
    controls.setPaneText(kStatusBar, kProgressPane, {});
    controls.setPaneText(kStatusBar, kMessagePane, statusText(kDownloadNoBasePathStatus));
    controls.setCellText(kBookList, book.row, kRowStatusColumn, statusText(kRowFailedStatus));
    setControlsForDownload(controls, true);
    return;
  }
  const Text imageBase = concatTexts(baseUrl(), regex.submatchText(1, 1));

  const std::string folder = selectedBookFolder(controls, book.row);
  ensureDirectoryPath(folder);

  WorkerPool& pool = workerPool();
  auto tally = std::make_shared<DownloadTally>();
  const int submitted = submitPages(controls, pool, book, imageBase, folder, tally);
  waitForPages(pool, *tally, submitted);

  // Pages never handed over, dropped by a stopping pool or still unfinished count as failed.
  const int failed = book.pageCount - tally->written.load();
  controls.setPaneText(kStatusBar, kProgressPane, {});
  if (failed == 0) {
    controls.setPaneText(kStatusBar, kMessagePane, statusText(kDownloadDoneStatus));
    controls.setCellText(kBookList, book.row, kRowStatusColumn, statusText(kRowDoneStatus));
  } else {
    controls.setPaneText(kStatusBar, kMessagePane,
                         concatTexts(statusText(kDownloadIncompletePrefix), std::to_string(failed),
                                     kProgressSeparator, std::to_string(book.pageCount)));
    controls.setCellText(kBookList, book.row, kRowStatusColumn, statusText(kRowFailedStatus));
  }
  setControlsForDownload(controls, true);
  if (readOpenFolderSetting()) openFolder(folder);
}

void openSelectedBookFolder(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  if (row < 0) return;
  openFolder(selectedBookFolder(controls, row));
}

}  // namespace varnel
