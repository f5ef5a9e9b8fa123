// Handlers of the main window's events that belong to the catalogue
// synchronisation, the book list and the download. Each runs on the
// user-interface thread and starts its long work with startBackgroundThread.
#pragma once

#include "app/controls.h"

namespace varnel {

// MainWindow was created.
void launchCatalogueSync(Controls& controls);
// The user chose an item of 组合框_专版分类.
void onEditionSelected(Controls& controls);
// The user chose an item of 组合框_学科分类.
void onSubjectSelected(Controls& controls);
// Menu "下载此项".
void onDownloadItem(Controls& controls);
// Menu "在文件夹中打开".
void openBookFolder(Controls& controls);

}  // namespace varnel
