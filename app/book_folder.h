// Where a book goes: download directory / "edition--subject--title", and the
// menu item "在文件夹中打开" that shows it.
#pragma once

#include <optional>
#include <string>

#include "app/book_record.h"
#include "app/controls.h"
#include "text/text.h"

namespace varnel {

// Menu "在文件夹中打开": shows the selected book's folder through the shell
// hook; nothing when no row is selected or no hook is installed.
void openBookFolder(Controls& controls);

// Who a book is: its address (the identity) and the names it was listed under.
struct BookIdentity {
  Text url;
  Text edition;
  Text subject;
  Text title;
};
// The book of a row, named after the edition and subject its list was fetched
// for (not after what the combo boxes show by now).
BookIdentity bookOfRow(Controls& controls, int row);

struct FolderChoice {
  std::string path;  // native; empty when no folder can be had
  Text problem;      // why not, for the status pane
};

// The folder `book` is downloaded into, claimed for it for the rest of the
// process: the plain name (bookFolderPath) when that folder is free, holds no
// record (made by an earlier version: adopted) or a record of this book;
// otherwise the plain name with "~" and 8 hex digits of a hash of the book's
// address. A folder whose record names another book, or one claimed by
// another book earlier in this process, is never chosen. The folder is not
// created here.
FolderChoice chooseBookFolder(const std::string& downloadDirectory, const BookIdentity& book);

// Where `book` is on disk now, by the same rules but claiming nothing: the
// folder whose record names it, with that record; else the plain name and no
// record.
struct FoundBook {
  std::string folder;
  std::optional<BookRecord> record;
};
FoundBook findBook(const std::string& downloadDirectory, const BookIdentity& book);
// findBook's folder.
std::string findBookFolder(const std::string& downloadDirectory, const BookIdentity& book);

// The folder of the selected row (empty when none is selected).
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
