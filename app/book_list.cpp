#include "app/book_list.h"

#include <optional>
#include <string>
#include <vector>

#include "app/book_download.h"  // rowStatusOnDisk
#include "app/book_folder.h"
#include "app/book_record.h"
#include "app/catalogue_site.h"
#include "app/catalogue_sync.h"  // storePath
#include "app/download_queue.h"
#include "app/process_state.h"
#include "app/settings.h"
#include "app/site_fetch.h"
#include "app/site_profile.h"
#include "app/user_action.h"
#include "htmlquery/html_query.h"
#include "json/json_value.h"
#include "web/resolve_url.h"

namespace varnel {
namespace {

// The lists are parallel by construction; a missing partner reads as empty.
const Text& itemOrEmpty(const std::vector<Text>& list, std::size_t index) {
  static const Text empty;
  return index < list.size() ? list[index] : empty;
}

// The record of the row's book, when its folder holds one of that book.
std::optional<BookRecord> recordOfRow(Controls& controls, const std::string& directory, int row) {
  return findBook(directory, bookOfRow(controls, row)).record;
}

void enableCombos(Controls& controls) {
  // The user may act again as soon as the boxes are usable, not only once this
  // thread has wound down.
  endAction();
  controls.setEnabled(kSubjectCombo, true);
  controls.setEnabled(kEditionCombo, true);
}

}  // namespace

void onSubjectSelected(Controls& controls) {
  startUserAction(controls, {kEditionCombo, kSubjectCombo},
                  [&controls] { runBookListFetch(controls); });
}

void runBookListFetch(Controls& controls) {
  HtmlQuery html;
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kListRunningStatus));
  controls.clearRows(kBookList);
  controls.setEnabled(kEditionCombo, false);
  controls.setEnabled(kSubjectCombo, false);

  const Text edition = currentItemText(controls, kEditionCombo);
  const Text subject = currentItemText(controls, kSubjectCombo);
  // The rows about to be filled belong to this category, whatever the boxes
  // show later.
  setListedCategory({edition, subject});
  const Text path = storePath(edition, subject);
  JsonValue& store = categoryStore();
  // Reading a missing path would create it; look first.
  const Text listUrl = store.Exists(path) ? store.GetString(path) : Text();
  // No address (nothing stored for this pair) is not worth a request.
  Text page;
  if (!listUrl.empty()) {
    const SiteAnswer answer = fetchFromSite(listUrl, !ignoreCertificateErrors());
    if (!answer.received()) {
      controls.setPaneText(kStatusBar, kMessagePane,
                           describeSiteFailure(answer, kListFailureTexts));
      enableCombos(controls);
      return;
    }
    page = pageText(answer.body);
  }

  const std::shared_ptr<const SiteProfile> profile = currentSiteProfile();
  const std::vector<Text> urls = queryTexts(html, page, profile->bookUrls);
  const std::vector<Text> titles = queryTexts(html, page, profile->bookTitles);
  const std::vector<Text> pageCounts = queryTexts(html, page, profile->bookPageCounts);

  if (urls.empty()) {
    controls.setMenuItemEnabled(kDiagnoseSiteMenu, true);
    controls.setPaneText(kStatusBar, kMessagePane, statusText(kListFailedStatus));
    enableCombos(controls);
    return;
  }

  const Text downloadable = statusText(kDownloadableMark);
  const Text notDownloaded = statusText(kNotDownloadedMark);
  const std::string directory = readDownloadDirectory();
  for (std::size_t k = 0; k < urls.size(); ++k) {
    int row = controls.appendRow(kBookList, std::to_string(k + 1));
    controls.setCellText(kBookList, row, kTitleColumn, itemOrEmpty(titles, k));
    controls.setCellText(kBookList, row, kPageCountColumn, itemOrEmpty(pageCounts, k));
    controls.setCellText(kBookList, row, kDownloadableColumn, downloadable);
    // Book addresses are relative to the list page they were read from.
    controls.setCellText(kBookList, row, kUrlColumn, resolveUrl(listUrl, urls[k]));
    // After a restart the user sees what is done.
    const std::optional<BookRecord> record = recordOfRow(controls, directory, row);
    controls.setCellText(kBookList, row, kRowStatusColumn,
                         record ? rowStatusOnDisk(*record) : notDownloaded);
  }
  enableCombos(controls);
  controls.pressTabKey();
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kListDoneStatus));
  enableBookMenuItems(controls);
}

void enableBookMenuItems(Controls& controls) {
  controls.setMenuItemEnabled(kDownloadItemMenu, true);
  controls.setMenuItemEnabled(kDownloadSelectedMenu, true);
  controls.setMenuItemEnabled(kDownloadAllMenu, true);
  enableFolderMenuItems(controls);
}

void enableFolderMenuItems(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  const std::optional<BookRecord> record =
      row < 0 ? std::nullopt : recordOfRow(controls, readDownloadDirectory(), row);
  // Nothing to show or export before a page is there.
  const bool pagesOnDisk = record && !record->pages.empty();
  controls.setMenuItemEnabled(kOpenFolderMenu, pagesOnDisk);
  // One action at a time: an export would be refused while books download.
  controls.setMenuItemEnabled(kExportPdfMenu, pagesOnDisk && !downloadQueueRunning());
}

}  // namespace varnel
