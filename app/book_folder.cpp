#include "app/book_folder.h"

#include <algorithm>
#include <cstdio>   // snprintf
#include <cstring>  // strlen
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

#include "app/book_record.h"
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

// Folders claimed by a book in this process: path -> the book's address.
std::mutex claimsMutex;
std::map<std::string, std::string>& claims() {
  static auto* value = new std::map<std::string, std::string>;  // read by abandoned threads
  return *value;
}

// The plain folder name, then the same name marked with the book's address.
std::vector<std::string> candidateFolders(const std::string& downloadDirectory,
                                          const BookIdentity& book) {
  const std::string plain =
      bookFolderPath(downloadDirectory, book.edition, book.subject, book.title);
  const std::size_t slash = plain.rfind('/');
  const std::string name = plain.substr(slash + 1);
  char mark[16];
  std::snprintf(mark, sizeof mark, "~%08x",
                static_cast<unsigned>(fileNameHash(textToUtf8(book.url))));
  return {plain,
          concatTexts(plain.substr(0, slash + 1), fitFileName(name, std::strlen(mark)), mark)};
}

// Whether the book with address `url` may be written into `folder`: nothing
// there yet, a folder without a record, or one whose record names this book.
bool mayHold(const std::string& folder, const std::string& url) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(folder, error))) return true;
  const LoadedRecord loaded = loadBookRecord(folder);
  if (loaded.state == RecordState::absent) return true;
  return loaded.state == RecordState::read && loaded.record.url == url;
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

BookIdentity bookOfRow(Controls& controls, int row) {
  const ListedCategory category = categoryOfList(controls);
  return {.url = controls.cellText(kBookList, row, kUrlColumn),
          .edition = category.edition,
          .subject = category.subject,
          .title = controls.cellText(kBookList, row, kTitleColumn)};
}

FolderChoice chooseBookFolder(const std::string& downloadDirectory, const BookIdentity& book) {
  std::lock_guard lock(claimsMutex);
  const std::string url = textToUtf8(book.url);
  for (const std::string& candidate : candidateFolders(downloadDirectory, book)) {
    const auto claim = claims().find(candidate);
    if (claim != claims().end() && claim->second != url) continue;
    if (!mayHold(candidate, url)) continue;
    claims()[candidate] = url;
    return {.path = candidate, .problem = {}};
  }
  return {.path = {}, .problem = statusText(kDownloadFolderTakenStatus)};
}

FoundBook findBook(const std::string& downloadDirectory, const BookIdentity& book) {
  const std::string url = textToUtf8(book.url);
  const std::vector<std::string> candidates = candidateFolders(downloadDirectory, book);
  for (const std::string& candidate : candidates) {
    LoadedRecord loaded = loadBookRecord(candidate);
    if (loaded.state == RecordState::read && loaded.record.url == url) {
      return {.folder = candidate, .record = std::move(loaded.record)};
    }
  }
  return {.folder = candidates.front(), .record = std::nullopt};
}

std::string findBookFolder(const std::string& downloadDirectory, const BookIdentity& book) {
  return findBook(downloadDirectory, book).folder;
}

void showFolder(const std::string& folder) {
  if (FolderOpener opener = shellHooks().openFolder) opener(folder);
}

std::string selectedBookFolder(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  return row < 0 ? std::string()
                 : findBookFolder(readDownloadDirectory(), bookOfRow(controls, row));
}

void openBookFolder(Controls& controls) {
  const std::string folder = selectedBookFolder(controls);
  if (!folder.empty()) showFolder(folder);
}

}  // namespace varnel
