#include "app/catalogue_sync.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/catalogue_site.h"
#include "app/process_state.h"
#include "app/settings.h"
#include "app/site_fetch.h"
#include "app/site_profile.h"
#include "htmlquery/html_query.h"
#include "json/json_value.h"
#include "os/threads.h"
#include "pool/worker_pool.h"
#include "web/resolve_url.h"

namespace varnel {
namespace {

// The first non-empty line of the block's first li1 text, trimmed; nothing
// when there is no such line or it is all spaces (such a block is skipped:
// an empty name would address the store's root).
std::optional<Text> editionName(HtmlQuery& html, std::string_view block,
                                const SiteProfile& profile) {
  std::vector<Text> names = queryTexts(html, block, profile.editionName);
  if (names.empty()) return std::nullopt;
  std::vector<Text> lines = splitNonEmpty(names.front(), kEditionNameLineBreak);
  if (lines.empty()) return std::nullopt;
  Text name(trimAsciiSpaces(lines.front()));
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace

std::vector<Text> queryTexts(HtmlQuery& html, std::string_view page, std::string_view expression) {
  std::vector<Text> texts;
  html.QueryHtml(page, expression, texts);
  return texts;
}

Text storePath(std::string_view edition) {
  Text escaped;
  std::size_t i = 0;
  while (i < edition.size()) {
    const std::size_t length = std::max<std::size_t>(1, charLengthAt(edition, i));
    // Only single-byte characters can be special; a GBK trail byte never is.
    if (length == 1 && kStorePathSpecials.find(edition[i]) != std::string_view::npos) {
      escaped += '\\';
    }
    escaped.append(edition.substr(i, length));
    i += length;
  }
  return escaped;
}

Text storePath(std::string_view edition, std::string_view subject) {
  return concatTexts(storePath(edition), kStorePathSeparator, storePath(subject));
}

namespace {

void startCatalogueSync(Controls& controls) {
  controls.setEnabled(kEditionCombo, false);
  controls.setEnabled(kSubjectCombo, false);
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kSyncRunningStatus));
  if (!startBackgroundThread([&controls] { runCatalogueSync(controls); })) {
    controls.setVisible(kRetrySyncButton, true);
  }
}

}  // namespace

void launchCatalogueSync(Controls& controls) {
  setBaseUrl(catalogueOrigin());
  workerPool().start(kPoolCoreThreads, kPoolMaxThreads);
  startCatalogueSync(controls);
}

void onRetrySync(Controls& controls) {
  controls.setVisible(kRetrySyncButton, false);
  startCatalogueSync(controls);
}

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
  // Nothing chosen until the user chooses: a shown subject whose list was
  // never fetched would look applied.
  controls.setCurrentIndex(kSubjectCombo, -1);
}

void runCatalogueSync(Controls& controls) {
  HtmlQuery html;
  JsonValue& store = categoryStore();
  store.Load(kEmptyStore);

  const Text& origin = baseUrl();
  const SiteAnswer answer = fetchFromSite(origin, !ignoreCertificateErrors());
  if (!answer.received()) {
    fillEditionCombo(controls);
    controls.setPaneText(kStatusBar, kMessagePane, describeSiteFailure(answer, kSyncFailureTexts));
    return;
  }
  const Text frontPage = pageText(answer.body);
  const std::shared_ptr<const SiteProfile> profile = currentSiteProfile();
  const std::vector<Text> blocks = queryTexts(html, frontPage, profile->categoryBlocks);

  const auto skipped = static_cast<std::size_t>(profile->skippedCategoryBlocks);
  for (std::size_t i = skipped; i < blocks.size(); ++i) {
    const Text& block = blocks[i];
    std::optional<Text> edition = editionName(html, block, *profile);
    if (!edition) continue;

    std::vector<Text> hrefs = queryTexts(html, block, profile->menuHrefs);
    std::vector<Text> titles = queryTexts(html, block, profile->menuTitles);
    if (hrefs.empty()) {
      hrefs = queryTexts(html, frontPage, profile->fallbackHrefs);
      titles = queryTexts(html, frontPage, profile->fallbackTitles);
    }
    // Pairs only: an address without a name (or the reverse) has no entry.
    const std::size_t pairs = std::min(hrefs.size(), titles.size());
    for (std::size_t j = 0; j < pairs; ++j) {
      // Links are written by the site: relative, root-relative or absolute.
      store.SetString(storePath(*edition, titles[j]), resolveUrl(origin, hrefs[j]));
    }
  }
  fillEditionCombo(controls);
}

void fillEditionCombo(Controls& controls) {
  std::vector<Text> editions;
  categoryStore().Keys({}, editions);
  controls.clearItems(kEditionCombo);
  for (const Text& edition : editions) controls.addItem(kEditionCombo, edition);
  // Nothing chosen until the user chooses (its subjects are not loaded yet).
  controls.setCurrentIndex(kEditionCombo, -1);
  if (editions.empty()) {
    controls.setMenuItemEnabled(kDiagnoseSiteMenu, true);
    controls.setPaneText(kStatusBar, kMessagePane, statusText(kSyncFailedStatus));
    // Not a dead end: the site may be back in a minute.
    controls.setVisible(kRetrySyncButton, true);
    return;
  }
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kSyncDoneStatus));
  controls.setEnabled(kEditionCombo, true);
  controls.setEnabled(kSubjectCombo, true);
}

}  // namespace varnel
