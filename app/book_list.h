// Book-list retrieval: the chosen subject's page becomes one row of
// 超级列表框1 per book (number, title, pages, "是", address, "-").
#pragma once

#include "app/controls.h"

namespace varnel {

// The user chose an item of 组合框_学科分类: runBookListFetch on its own thread,
// both combo boxes disabled first (nothing while another action runs).
void onSubjectSelected(Controls& controls);

// Thread routine. Reads the address for the current edition and subject from
// the CategoryStore, fetches the page and fills the list; each row's state says
// what its book's record in the download directory holds ("下载完成",
// "未完成 (缺 k 页)", or "-"). Both combo boxes are
// disabled while it runs and enabled again at its end, also after a failure
// ("拉取失败!网站框架已更新!"), so another subject can still be chosen. The
// first success calls enableBookMenuItems; nothing disables them again.
void runBookListFetch(Controls& controls);

// Enables the row menu's "下载此项", "下载选中项" and "下载全部", then
// enableFolderMenuItems. Every front end follows these two routines.
void enableBookMenuItems(Controls& controls);
// "在文件夹中打开" and "导出PDF" are enabled exactly when the selected row's
// book has pages on disk (by its folder's record), 导出PDF only while no
// download queue runs; run before the menu shows.
void enableFolderMenuItems(Controls& controls);

}  // namespace varnel
