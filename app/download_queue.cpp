#include "app/download_queue.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "app/book_download.h"
#include "app/book_folder.h"
#include "app/book_record.h"
#include "app/catalogue_site.h"
#include "app/process_state.h"
#include "app/progress_line.h"
#include "app/settings.h"
#include "app/user_action.h"

namespace varnel {
namespace {

struct QueueState {
  std::mutex mutex;
  bool running = false;
  int current = -1;                 // the row being downloaded; -1 between books
  std::deque<int> waiting;          // rows in the order they run
  std::map<int, Text> shownBefore;  // a waiting row's text before it was queued
};

QueueState& queue() {
  static auto* state = new QueueState;  // read by abandoned threads: never freed
  return *state;
}

bool isQueued(const QueueState& q, int row) {
  return row == q.current || std::find(q.waiting.begin(), q.waiting.end(), row) != q.waiting.end();
}

// What shows that a queue runs (the combo boxes belong to the user action).
void showQueueRunning(Controls& controls, bool running) {
  controls.setMenuItemEnabled(kCancelDownloadMenu, running);
  controls.setProgress(kDownloadProgressBar, 0, 0);
  controls.setVisible(kDownloadProgressBar, running);
  controls.setVisible(kCancelDownloadButton, running);
  controls.setPaneText(kStatusBar, kFiguresPane, {});
}

void showFolderLink(Controls& controls, const std::string& folder) {
  controls.setFolderLink(kFolderLink, folder);
  controls.setVisible(kFolderLink, !folder.empty());
}

// Thread routine: the waiting rows one by one, until none is left.
void runQueue(Controls& controls) {
  QueueState& q = queue();
  std::string lastFolder;
  for (;;) {
    int row = -1;
    {
      std::lock_guard lock(q.mutex);
      if (q.waiting.empty()) {
        q.running = false;
        break;
      }
      row = q.waiting.front();
      q.waiting.pop_front();
      q.shownBefore.erase(row);
      q.current = row;
    }
    showFolderLink(controls, {});
    // Busy until this book's pages are handed out; the last book's figures go.
    controls.setProgress(kDownloadProgressBar, 0, 0);
    controls.setPaneText(kStatusBar, kFiguresPane, {});
    const BookDownloadOutcome outcome = runBookDownload(controls, row);
    if (!outcome.folder.empty() && outcome.written + outcome.alreadyThere > 0) {
      lastFolder = outcome.folder;
    }
    std::lock_guard lock(q.mutex);
    q.current = -1;
    // The cancel was for this book (and the rows waiting then, already gone);
    // rows queued since are the user's new wish.
    clearDownloadCancel();
  }
  showQueueRunning(controls, false);
  showFolderLink(controls, lastFolder);
  // The user may start other actions as soon as the controls are back.
  endAction();
  controls.setEnabled(kEditionCombo, true);
  controls.setEnabled(kSubjectCombo, true);
}

std::vector<int> rowsWhere(Controls& controls, bool (*wanted)(Controls&, int)) {
  std::vector<int> rows;
  // Every row the list fills has its number.
  for (int row = 0; !controls.cellText(kBookList, row, kNumberColumn).empty(); ++row) {
    if (wanted(controls, row)) rows.push_back(row);
  }
  return rows;
}

}  // namespace

void queueDownloads(Controls& controls, const std::vector<int>& chosen) {
  QueueState& q = queue();
  std::vector<int> rows = chosen;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  {
    std::lock_guard lock(q.mutex);
    std::erase_if(rows, [&](int row) { return row < 0 || isQueued(q, row); });
  }
  if (rows.empty()) return;
  // Each row says it waits before the queue can reach it.
  std::map<int, Text> before;
  for (int row : rows) {
    before[row] = controls.cellText(kBookList, row, kRowStatusColumn);
    controls.setCellText(kBookList, row, kRowStatusColumn, statusText(kRowQueuedStatus));
  }
  bool start = false;
  {
    std::lock_guard lock(q.mutex);
    for (int row : rows) {
      if (isQueued(q, row)) continue;
      q.waiting.push_back(row);
      q.shownBefore[row] = before[row];
    }
    if (!q.running) {
      q.running = true;
      start = true;
      // A cancel of an earlier queue (or the command line's) is not this one's.
      clearDownloadCancel();
    }
  }
  if (!start) return;
  // Before the thread starts: 取消下载 works from the first moment, and a
  // queue that ends at once still ends last.
  showQueueRunning(controls, true);
  if (startUserAction(controls, {kEditionCombo, kSubjectCombo},
                      [&controls] { runQueue(controls); })) {
    return;
  }
  // Another action runs: nothing was queued.
  showQueueRunning(controls, false);
  {
    std::lock_guard lock(q.mutex);
    q.running = false;
    q.waiting.clear();
    q.shownBefore.clear();
  }
  for (const auto& [row, text] : before)
    controls.setCellText(kBookList, row, kRowStatusColumn, text);
}

void onDownloadItem(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  // Without a selected row there is no book to download.
  if (row >= 0) queueDownloads(controls, {row});
}

void onDownloadSelected(Controls& controls) {
  queueDownloads(controls, controls.selectedRows(kBookList));
}

void onDownloadAll(Controls& controls) {
  // A book the row says is complete would only be read back from disk.
  queueDownloads(
      controls, rowsWhere(controls, [](Controls& c, int row) {
        return c.cellText(kBookList, row, kDownloadableColumn) == statusText(kDownloadableMark) &&
               c.cellText(kBookList, row, kRowStatusColumn) != statusText(kRowDoneStatus);
      }));
}

void onCancelDownload(Controls& controls) {
  QueueState& q = queue();
  std::map<int, Text> dropped;
  {
    std::lock_guard lock(q.mutex);
    if (!q.running) return;
    q.waiting.clear();
    dropped.swap(q.shownBefore);
    // Set under the lock: the queue clears it only once the current book has ended.
    if (q.current >= 0) requestDownloadCancel();
  }
  for (const auto& [row, text] : dropped) {
    controls.setCellText(kBookList, row, kRowStatusColumn, text);
  }
}

bool downloadQueueRunning() {
  QueueState& q = queue();
  std::lock_guard lock(q.mutex);
  return q.running;
}

Text downloadFigures(double seconds, std::int64_t bytes, int fetched, int remaining, int retries,
                     int failed) {
  std::string figures;
  auto add = [&figures](const std::string& figure) {
    if (!figures.empty()) figures += "  ";
    figures += figure;
  };
  if (seconds > 0 && fetched > 0) {
    add(formatRate(static_cast<double>(bytes) / seconds));
    if (remaining > 0) {
      add(std::string(kTimeLeftLabel) + formatDuration(seconds / fetched * remaining));
    }
  }
  if (retries > 0) add(std::string(kRetriesLabel) + std::to_string(retries));
  if (failed > 0) add(std::string(kFailedPagesLabel) + std::to_string(failed));
  return statusText(figures);
}

void showDownloadProgress(Controls& controls) {
  QueueState& q = queue();
  int row = -1;
  {
    std::lock_guard lock(q.mutex);
    if (!q.running) return;
    row = q.current;
  }
  const std::optional<BookDownloadStart> book = runningDownload();
  if (row < 0 || !book || !book->tally) return;
  const DownloadTally& tally = *book->tally;
  const int finished = tally.finished();
  const int failed = tally.failed;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - book->started).count();
  controls.setProgress(kDownloadProgressBar, finished, book->pageCount);
  controls.setCellText(kBookList, row, kRowStatusColumn, rowRunningText(finished, book->pageCount));
  controls.setPaneText(kStatusBar, kFiguresPane,
                       downloadFigures(seconds, tally.bytes, tally.written + failed,
                                       book->pageCount - finished, tally.retries, failed));
}

void onRowActivated(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  if (row < 0) return;
  const FoundBook found = findBook(readDownloadDirectory(), bookOfRow(controls, row));
  if (found.record && found.record->complete) {
    openBookFolder(controls);
  } else {
    onDownloadItem(controls);
  }
}

}  // namespace varnel
