#include "app/book_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/catalogue_site.h"
#include "app/process_state.h"
#include "app/settings.h"
#include "os/file_names.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

bool isForbiddenInName(unsigned char c) {
  constexpr std::string_view kForbidden = "\\/:*?\"<>|";
  return c < 0x20 || c == 0x7F || kForbidden.find(static_cast<char>(c)) != std::string_view::npos;
}

// The list on screen belongs to the category it was fetched for; the combo
// boxes may show another one by now. Rows filled without a fetch (none
// recorded) fall back to the boxes.
ListedCategory categoryOfList(Controls& controls) {
  ListedCategory category = listedCategory();
  if (category.edition.empty() && category.subject.empty()) {
    category = {currentItemText(controls, kEditionCombo), currentItemText(controls, kSubjectCombo)};
  }
  return category;
}

}  // namespace

bool ensureDirectoryPath(const std::string& nativePath) {
  if (nativePath.empty()) return false;
  std::error_code error;
  fs::create_directories(nativePath, error);
  return fs::is_directory(nativePath, error);
}

std::string bookFolderPath(const std::string& downloadDirectory, const Text& edition,
                           const Text& subject, const Text& title) {
  // Sanitised in UTF-8: a GBK trail byte can equal '\\' or '|', a UTF-8 one cannot.
  std::string name =
      textToUtf8(concatTexts(edition, kFolderNameSeparator, subject, kFolderNameSeparator, title));
  std::replace_if(
      name.begin(), name.end(),
      [](char c) { return isForbiddenInName(static_cast<unsigned char>(c)); },
      kFolderNameReplacement);
  // An empty directory would put books into the file-system root.
  const std::string directory =
      downloadDirectory.empty() ? settingsLocation().defaultDownloadDirectory : downloadDirectory;
  return concatTexts(directory, "/", fitFileName(name));
}

std::string bookFolderOfRow(Controls& controls, int row) {
  const ListedCategory category = categoryOfList(controls);
  return bookFolderPath(readDownloadDirectory(), category.edition, category.subject,
                        controls.cellText(kBookList, row, kTitleColumn));
}

void showFolder(const std::string& folder) {
  if (FolderOpener opener = shellHooks().openFolder) opener(folder);
}

std::string selectedBookFolder(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  return row < 0 ? std::string() : bookFolderOfRow(controls, row);
}

void openBookFolder(Controls& controls) {
  const std::string folder = selectedBookFolder(controls);
  if (!folder.empty()) showFolder(folder);
}

}  // namespace varnel
