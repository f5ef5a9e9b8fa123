// Book download: every page image of the selected book goes into one folder,
// download directory / "edition--subject--title", as 1.jpg, 2.jpg, ...
// The driver runs on its own thread; each page is a PageJob on the shared pool.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/book_folder.h"
#include "app/book_record.h"
#include "app/controls.h"
#include "os/files.h"
#include "text/text.h"

namespace varnel {

// How one page of a download ended.
enum class PageEnd { written, failed, absent };

// How the pages of one download are going; shared by the driver, its jobs and
// whoever shows the progress.
class DownloadTally {
 public:
  explicit DownloadTally(int pageCount = 0) : ends_(static_cast<std::size_t>(pageCount) + 1) {}

  std::atomic<int> written{0};         // pages written by this run
  std::atomic<int> failed{0};          // pages tried and not written
  std::atomic<int> alreadyThere{0};    // whole pages kept from disk, not requested
  std::atomic<int> retries{0};         // attempts beyond the first, over all pages
  std::atomic<std::int64_t> bytes{0};  // image bytes received for written pages
  std::atomic<int> abandoned{0};       // cut off by a cancel: not downloaded, not failed
  int finished() const {
    return written.load() + failed.load() + alreadyThere.load() + abandoned.load();
  }

  // Called once per handed-out page. `reason` (UTF-8) says why a failed page
  // failed; `writeError` why it could not be written.
  void pageEnded(int page, PageEnd end, const std::string& reason = {},
                 FileError writeError = FileError::none);
  // The first page of a run of kAbsentPagesToStop consecutive pages the site
  // said do not exist; 0 while there is none.
  int absentFrom() const;
  // Why writing failed, when it failed for a reason every further page shares
  // (a full disk, no permission); none otherwise.
  FileError lastingWriteError() const;
  // The first failed page's reason, prefixed with its page ("第 2 页: ...").
  std::string firstFailure() const;
  // The pages written by this run, ascending.
  std::vector<int> writtenPages() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> ends_;  // by page number: 0 pending, else PageEnd + 1
  int absentFrom_ = 0;
  FileError writeError_ = FileError::none;
  std::string firstFailure_;
  int firstFailurePage_ = 0;
};

// The heap argument of one page job; runPageJob takes ownership of it.
struct PageJob {
  Text jobText;            // title + "!<>!" + page address
  std::string bookFolder;  // native path the page file goes into
  std::shared_ptr<DownloadTally> tally;
  bool verifyCertificates = true;
};

enum class DownloadResult {
  notStarted,    // no row selected
  complete,      // every page on disk
  incomplete,    // some pages failed, or the site's count was wrong
  cancelled,     // stopped by requestDownloadCancel
  noPageCount,   // the row's page count is 0 or unreadable: nothing created
  unreachable,   // the book page could not be fetched: nothing created
  noBasePath,    // the book page names no image path: nothing created
  folderFailed,  // the book folder could not be had or made: nothing fetched
};

struct BookDownloadOutcome {
  DownloadResult result = DownloadResult::notStarted;
  Text title{};
  int pageCount = 0;
  int written = 0;       // pages written by this run
  int alreadyThere = 0;  // whole pages found on disk and kept
  int failed = 0;        // pages tried and not written
  int notRequested = 0;  // pages never asked for (cancelled, stopped early)
  int retries = 0;
  std::int64_t bytes = 0;
  std::vector<int> missing{};  // pages of 1..pageCount not on disk at the end
  std::string folder{};        // native path; empty when none was chosen
  Text message{};              // what pane 1 shows at the end
  std::string detail{};        // UTF-8: the first failure's cause, when there is one
  double seconds = 0;
};

// Told when a book's pages start to be handed out, with the live tally.
struct BookDownloadStart {
  Text title{};
  int pageCount = 0;
  std::string folder;
  std::shared_ptr<const DownloadTally> tally;
  std::chrono::steady_clock::time_point started{};
};
using DownloadStartListener = std::function<void(const BookDownloadStart&)>;
// Process-wide, set before any download runs (the command line's progress line).
void setDownloadStartListener(DownloadStartListener listener);

// The book whose pages are being handed out now, its tally live; nothing
// before the first page and after the last (cleared before the row's end text).
std::optional<BookDownloadStart> runningDownload();

// Thread routine for the selected row of 超级列表框1 (nothing happens when no
// row is selected). The book goes into the folder chooseBookFolder gives;
// whole pages already there are kept and not requested (unless refetching),
// the others are fetched, and the folder's record is written before the
// first page and again at the end, also after a cancel. Both combo boxes and
// the list stay disabled until every handed-over page has ended. The row and
// pane 1 end with "下载完成" only when every page 1..N is on disk; every other
// end says why in pane 1 and its rowStatusOf in the row.
BookDownloadOutcome runBookDownload(Controls& controls);
// The same for `row` (nothing for a row that does not exist), leaving every
// control's enabled state alone: the caller (the download queue) owns it.
BookDownloadOutcome runBookDownload(Controls& controls, int row);

// What a row says after a download: "下载完成", "未完成 (缺 k 页)",
// "已取消 (k/N)" with k the pages on disk, or "失败: " and why nothing could be
// fetched.
Text rowStatusOf(const BookDownloadOutcome& outcome);
// What a row says from its book's record when a list is fetched: "下载完成",
// "未完成 (缺 k 页)", or "-" when no page is on disk.
Text rowStatusOnDisk(const BookRecord& record);
// "正在下载 37/212".
Text rowRunningText(int done, int total);

// Process-wide: fetch every page again, whole ones on disk included (the
// command line's --refetch).
void setRefetchPages(bool refetch);

// Pool job: `job` is a PageJob*, `pageNumber` its page. The page is fetched
// (with retries, see page_fetch.h) and written as <pageNumber>.jpg through a
// temporary file that is flushed to disk and renamed, so a failed page leaves
// no file and replaces nothing; it is counted in the tally either way.
void runPageJob(std::intptr_t job, std::intptr_t pageNumber);

// Removes the temporary page files that runs which ended without finishing
// them (a crash, a kill, an earlier version's "N.jpg.part") left in `folder`.
void removePartialPages(const std::string& folder);

// The page count of a row: its leading number (0 without one or below 0), at
// most kMaxPageCount so an absurd count cannot queue millions of jobs.
int pageCountOf(std::string_view text);

// The page address of a JobText: the part after the last separator, so an
// empty title or a title holding the separator still finds it.
Text pageUrlOf(std::string_view jobText);

}  // namespace varnel
