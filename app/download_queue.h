// The window's downloads: chosen rows of 超级列表框1 downloaded one after
// another on one thread of their own, each book through runBookDownload with
// its pages fetched in parallel as always. A waiting row says "排队中", the
// running one "正在下载 k/N", each its end (see rowStatusOf).
//
// While a queue runs, both combo boxes are disabled (a new list would take its
// rows away); the list stays usable, so more rows can be queued and the queue
// cancelled from its menu. 取消下载 is enabled and the status bar shows the
// progress bar and the cancel button; at the end the folder of the last book
// with pages on disk is shown as a link.
#pragma once

#include <vector>

#include "app/controls.h"

namespace varnel {

// Menu "下载此项": the row acted on. Menu "下载选中项": every selected row.
// Menu "下载全部": every row of the list that does not say "下载完成". Rows already waiting or
// running are left where they are; the others join the queue in list order. When no queue runs, one
// starts, unless another action (a list fetch, a PDF) runs: then nothing happens and the rows say
// what they said.
void onDownloadItem(Controls& controls);
void onDownloadSelected(Controls& controls);
void onDownloadAll(Controls& controls);
// Queues `rows` as the menus do.
void queueDownloads(Controls& controls, const std::vector<int>& rows);

// 取消下载 (menu, button, Esc): the running book stops handing out pages and
// aborts its transfers (its record is written, no partial file stays, its row
// says "已取消 (k/N)"); the waiting rows leave the queue and say again what
// they said before. Nothing when no queue runs. Rows queued after the cancel
// start once the cancelled book has ended.
void onCancelDownload(Controls& controls);

// Whether a queue runs (from its start until its controls are given back).
bool downloadQueueRunning();

// The window's clock (every kProgressTickMs): the progress bar, the running
// row's "正在下载 k/N" and the figures pane (speed, time left, retries,
// failed pages). Nothing while no book's pages are being handed out.
void showDownloadProgress(Controls& controls);

// "1.2 MiB/s  剩余 0:42  重试 2  失败 1": each figure only once it means
// something. `fetched` counts the pages this run asked for that have ended.
Text downloadFigures(double seconds, std::int64_t bytes, int fetched, int remaining, int retries,
                     int failed);

// Double-click or Enter on a row: opens the folder of a book complete on
// disk, otherwise queues the row.
void onRowActivated(Controls& controls);

}  // namespace varnel
