// The handlers the main window binds (see window_routines.cpp), one user step
// each, every step in its own file beside its thread routine:
//   window created      launchCatalogueSync  catalogue_sync.h
//   edition chosen      onEditionSelected    catalogue_sync.h
//   subject chosen      onSubjectSelected    book_list.h
//   "下载此项"          onDownloadItem       download_queue.h
//   "下载选中项"        onDownloadSelected   download_queue.h
//   "下载全部"          onDownloadAll        download_queue.h
//   "取消下载", Esc     onCancelDownload     download_queue.h
//   row menu shown      enableFolderMenuItems book_list.h
//   "重试" (sync)       onRetrySync          catalogue_sync.h
//   "在文件夹中打开"    openBookFolder       book_folder.h
//   "导出PDF"           onExportPdf          pdf_export.h
#pragma once

#include "app/book_download.h"
#include "app/book_folder.h"
#include "app/book_list.h"
#include "app/catalogue_sync.h"
#include "app/download_queue.h"
#include "app/pdf_export.h"
