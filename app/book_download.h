// Book download: every page image of the selected book goes into one folder,
// download directory / "edition--subject--title", as 1.jpg, 2.jpg, ...
// The driver runs on its own thread; each page is a PageJob on the shared pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/controls.h"
#include "text/text.h"

namespace varnel {

// How the pages of one download ended; shared by the driver and its jobs.
struct DownloadTally {
  std::atomic<int> written{0};
  std::atomic<int> failed{0};
  int finished() const { return written.load() + failed.load(); }
};

// The heap argument of one page job; runPageJob takes ownership of it.
struct PageJob {
  Text jobText;            // title + "!<>!" + page address
  std::string bookFolder;  // native path the page file goes into
  std::shared_ptr<DownloadTally> tally;
};

// Thread routine for the selected row of 超级列表框1 (nothing happens when no
// row is selected). Controls stay disabled until every handed-over page has
// ended. The row and pane 1 end with "下载完成" only when every page was
// written; a book page without the image base path fetches nothing.
void runBookDownload(Controls& controls);

// Pool job: `job` is a PageJob*, `pageNumber` its page. The page is fetched
// and written as <pageNumber>.jpg through a temporary file, so a failed page
// (no answer, an error status, an empty body, a failed write) leaves no file
// and replaces nothing; it is counted in the tally either way.
void runPageJob(std::intptr_t job, std::intptr_t pageNumber);

// Shows the selected book's folder through the shell hook; nothing when no row
// is selected or no hook is installed.
void openSelectedBookFolder(Controls& controls);

// Creates every missing directory of `nativePath`; true when it then names a
// directory. An empty path gives false.
bool ensureDirectoryPath(const std::string& nativePath);

// downloadDirectory / edition--subject--title, with characters that no file
// system accepts in a name replaced by '_' so a title can neither nest nor
// escape the folder. An empty directory means the default download directory.
std::string bookFolderPath(const std::string& downloadDirectory, const Text& edition,
                           const Text& subject, const Text& title);

// The page count of a row: its leading decimal digits (0 without any),
// at most kMaxPageCount.
int leadingNumber(std::string_view text);

// The page address of a JobText: the part after the last separator, so an
// empty title or a title holding the separator still finds it.
Text pageUrlOf(std::string_view jobText);

}  // namespace varnel
