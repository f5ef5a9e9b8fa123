#include "app/book_list.h"

#include <string>
#include <vector>

#include "app/catalogue_site.h"
#include "app/catalogue_sync.h"  // storePath
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
  for (std::size_t k = 0; k < urls.size(); ++k) {
    int row = controls.appendRow(kBookList, std::to_string(k + 1));
    controls.setCellText(kBookList, row, kTitleColumn, itemOrEmpty(titles, k));
    controls.setCellText(kBookList, row, kPageCountColumn, itemOrEmpty(pageCounts, k));
    controls.setCellText(kBookList, row, kDownloadableColumn, downloadable);
    // Book addresses are relative to the list page they were read from.
    controls.setCellText(kBookList, row, kUrlColumn, resolveUrl(listUrl, urls[k]));
    controls.setCellText(kBookList, row, kRowStatusColumn, notDownloaded);
  }
  enableCombos(controls);
  controls.pressTabKey();
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kListDoneStatus));
  enableBookMenuItems(controls);
}

void enableBookMenuItems(Controls& controls) {
  // A book can be exported exactly when it can be downloaded and its folder
  // opened; 在文件夹中打开 is never greyed, so 导出PDF goes with 下载此项.
  controls.setMenuItemEnabled(kDownloadItemMenu, true);
  controls.setMenuItemEnabled(kExportPdfMenu, true);
}

}  // namespace varnel
