#include "app/book_list.h"

#include <string>
#include <vector>

#include "app/catalogue_site.h"
#include "app/process_state.h"
#include "htmlquery/html_query.h"
#include "json/json_value.h"
#include "web/web_request.h"

namespace varnel {
namespace {

std::vector<Text> query(HtmlQuery& html, std::string_view page, std::string_view expression) {
  std::vector<Text> texts;
  html.QueryHtml(page, expression, texts);
  return texts;
}

// The lists are parallel by construction; a missing partner reads as empty.
const Text& itemOrEmpty(const std::vector<Text>& list, std::size_t index) {
  static const Text empty;
  return index < list.size() ? list[index] : empty;
}

void enableCombos(Controls& controls) {
  controls.setEnabled(kSubjectCombo, true);
  controls.setEnabled(kEditionCombo, true);
}

}  // namespace

Text currentItemText(Controls& controls, std::string_view combo) {
  return controls.itemText(combo, controls.currentIndex(combo));
}

void runBookListFetch(Controls& controls) {
  HtmlQuery html;
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kListRunningStatus));
  controls.clearRows(kBookList);
  controls.setEnabled(kEditionCombo, false);
  controls.setEnabled(kSubjectCombo, false);

  const Text path = concatTexts(currentItemText(controls, kEditionCombo), kStorePathSeparator,
                                currentItemText(controls, kSubjectCombo));
  const Text listUrl = categoryStore().GetString(path);
  // No address (nothing stored for this pair) is not worth a request.
  const Text page = listUrl.empty() ? Text() : utf8BytesToText(webRequest(listUrl));

  const std::vector<Text> urls = query(html, page, kBookUrlsQuery);
  const std::vector<Text> titles = query(html, page, kBookTitlesQuery);
  const std::vector<Text> pageCounts = query(html, page, kBookPageCountsQuery);

  if (urls.empty()) {
    controls.setPaneText(kStatusBar, kMessagePane, statusText(kListFailedStatus));
    enableCombos(controls);
    return;
  }

  const Text& origin = baseUrl();
  const Text downloadable = statusText(kDownloadableMark);
  const Text notDownloaded = statusText(kNotDownloadedMark);
  for (std::size_t k = 0; k < urls.size(); ++k) {
    int row = controls.appendRow(kBookList, std::to_string(k + 1));
    controls.setCellText(kBookList, row, kTitleColumn, itemOrEmpty(titles, k));
    controls.setCellText(kBookList, row, kPageCountColumn, itemOrEmpty(pageCounts, k));
    controls.setCellText(kBookList, row, kDownloadableColumn, downloadable);
    controls.setCellText(kBookList, row, kUrlColumn, concatTexts(origin, urls[k]));
    controls.setCellText(kBookList, row, kRowStatusColumn, notDownloaded);
  }
  enableCombos(controls);
  controls.pressTabKey();
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kListDoneStatus));
  controls.setMenuItemEnabled(kDownloadItemMenu, true);
}

}  // namespace varnel
