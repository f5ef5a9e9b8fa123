// Where a book goes: download directory / "edition--subject--title", and the
// menu item "在文件夹中打开" that shows it.
#pragma once

#include <string>

#include "app/controls.h"
#include "text/text.h"

namespace varnel {

// Menu "在文件夹中打开": shows the selected book's folder through the shell
// hook; nothing when no row is selected or no hook is installed.
void openBookFolder(Controls& controls);

// The folder of a row (or of the selected row: empty when none is selected),
// named after the edition and subject its list was fetched for.
std::string bookFolderOfRow(Controls& controls, int row);
std::string selectedBookFolder(Controls& controls);

// Shows a folder through the shell hook, when one is installed.
void showFolder(const std::string& folder);

// downloadDirectory / edition--subject--title, with characters that no file
// system accepts in a name replaced by '_' so a title can neither nest nor
// escape the folder, and a name over 255 bytes cut (see fitFileName). An empty
// directory means the default download directory.
std::string bookFolderPath(const std::string& downloadDirectory, const Text& edition,
                           const Text& subject, const Text& title);

// Creates every missing directory of `nativePath`; true when it then names a
// directory. An empty path gives false.
bool ensureDirectoryPath(const std::string& nativePath);

}  // namespace varnel
