#include "app/routines.h"

#include <functional>
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

namespace {

void setCombosEnabled(Controls& controls, bool enabled) {
  controls.setEnabled(kEditionCombo, enabled);
  controls.setEnabled(kSubjectCombo, enabled);
}

// Claims the one running action and starts `routine` on its own thread, which
// releases the claim at its end. The controls the routine disables are
// disabled here first, on the user-interface thread, so a second click (or a
// mouse-wheel notch over a combo box) cannot start a second run meanwhile.
void startAction(Controls& controls, bool withList, std::function<void()> routine) {
  const int claim = tryBeginAction();
  if (claim == 0) return;
  setCombosEnabled(controls, false);
  if (withList) controls.setEnabled(kBookList, false);
  const bool started = startBackgroundThread([claim, routine = std::move(routine)] {
    routine();
    endAction(claim);
  });
  if (!started) {
    setCombosEnabled(controls, true);
    if (withList) controls.setEnabled(kBookList, true);
    endAction(claim);
  }
}

}  // namespace

void onEditionSelected(Controls& controls) {
  controls.clearItems(kSubjectCombo);
  const Text edition = currentItemText(controls, kEditionCombo);
  // The empty path is the store's root: its keys are editions, not subjects.
  if (edition.empty()) return;
  const Text path = storePath(edition);
  JsonValue& store = categoryStore();
  // Reading a missing path would create it; look first.
  if (!store.Exists(path)) return;
  std::vector<Text> subjects;
  store.Keys(path, subjects);
  for (const Text& subject : subjects) controls.addItem(kSubjectCombo, subject);
  controls.setCurrentIndex(kSubjectCombo, 0);
}

void onSubjectSelected(Controls& controls) {
  startAction(controls, false, [&controls] { runBookListFetch(controls); });
}

void onDownloadItem(Controls& controls) {
  // Without a selected row there is no book to download.
  if (controls.selectedRow(kBookList) < 0) return;
  startAction(controls, true, [&controls] { runBookDownload(controls); });
}

void openBookFolder(Controls& controls) { openSelectedBookFolder(controls); }

}  // namespace varnel
