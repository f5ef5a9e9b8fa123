#include "app/routines.h"

#include <vector>

#include "app/book_download.h"
#include "app/book_list.h"
#include "app/catalogue_site.h"
#include "app/catalogue_sync.h"
#include "app/process_state.h"
#include "json/json_value.h"
#include "pool/worker_pool.h"
#include "text/background_thread.h"

namespace varnel {

void launchCatalogueSync(Controls& controls) {
  setBaseUrl(catalogueOrigin());
  workerPool().start(kPoolCoreThreads, kPoolMaxThreads);
  controls.setEnabled(kEditionCombo, false);
  controls.setEnabled(kSubjectCombo, false);
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kSyncRunningStatus));
  startBackgroundThread([&controls] { runCatalogueSync(controls); });
}

void onEditionSelected(Controls& controls) {
  controls.clearItems(kSubjectCombo);
  const Text edition = currentItemText(controls, kEditionCombo);
  // The empty path is the store's root: its keys are editions, not subjects.
  if (edition.empty()) return;
  std::vector<Text> subjects;
  categoryStore().Keys(edition, subjects);
  for (const Text& subject : subjects) controls.addItem(kSubjectCombo, subject);
  controls.setCurrentIndex(kSubjectCombo, 0);
}

void onSubjectSelected(Controls& controls) {
  startBackgroundThread([&controls] { runBookListFetch(controls); });
}

void onDownloadItem(Controls& controls) {
  // Without a selected row there is no book to download.
  if (controls.selectedRow(kBookList) < 0) return;
  startBackgroundThread([&controls] { runBookDownload(controls); });
}

void openBookFolder(Controls& controls) { openSelectedBookFolder(controls); }

}  // namespace varnel
