// The small rules inside the routines: page counts, job texts, folder names.
#include <gtest/gtest.h>

#include <unistd.h>  // getpid

#include <filesystem>
#include <fstream>
#include <string>

#include "app/book_download.h"
#include "app/catalogue_site.h"
#include "app/catalogue_sync.h"
#include "app/settings.h"

namespace varnel {
namespace {

TEST(PageCountOf, ReadsTheLeadingNumberWithinLimits) {
  struct Case {
    const char* text;
    int expected;
    const char* why;
  } cases[] = {
      {"12", 12, "plain number"},
      {"007", 7, "leading zeros"},
      {"12页", 12, "digits before text"},
      {"", 0, "empty column"},
      {"abc", 0, "no digits"},
      {" 12", 12, "leading blanks are skipped"},
      {"\t 7", 7, "a tab too"},
      {"约120", 0, "text before the digits"},
      {"1 2", 1, "digits stop at a blank"},
      {"99999999999999", kMaxPageCount, "capped instead of overflowing"},
      {"-5", 0, "no negative count"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pageCountOf(utf8BytesToText(c.text)), c.expected) << c.why;
  }
}

TEST(PageUrlOf, TakesThePartAfterTheLastSeparator) {
  struct Case {
    const char* jobText;
    const char* expected;
    const char* why;
  } cases[] = {
      {"T!<>!http://h/p/1.jpg", "http://h/p/1.jpg", "title and address"},
      {"!<>!http://h/p/1.jpg", "http://h/p/1.jpg", "empty title leaves one part"},
      {"A!<>!B!<>!http://h/p/2.jpg", "http://h/p/2.jpg", "separator inside the title"},
      {"", "", "nothing at all"},
  };
  for (const Case& c : cases) EXPECT_EQ(pageUrlOf(c.jobText), c.expected) << c.why;
}

TEST(BookFolderPath, JoinsPiecesAndKeepsTheFolderInsideTheDirectory) {
  setSettingsLocation({.filePath = "/nonexistent/conf.ini", .defaultDownloadDirectory = "/dl"});
  struct Case {
    const char* directory;
    const char* edition;
    const char* subject;
    const char* title;
    const char* expected;
    const char* why;
  } cases[] = {
      {"/books", "E", "S", "T", "/books/E--S--T", "plain join"},
      {"/books", "小学专版", "数学", "第一册", "/books/小学专版--数学--第一册", "Chinese"},
      {"/books", "E", "S", "a/b\\c", "/books/E--S--a_b_c", "slashes cannot nest"},
      {"/books", "E", "S", "../..", "/books/E--S--.._..", "cannot climb out"},
      {"/books", "E:", "S?", "T*<>|\"", "/books/E_--S_--T_____", "Windows-invalid characters"},
      {"/books", "E", "S", "", "/books/E--S--", "empty title"},
      {"", "E", "S", "T", "/dl/E--S--T", "empty directory: the default, not the root"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bookFolderPath(c.directory, utf8BytesToText(c.edition), utf8BytesToText(c.subject),
                             utf8BytesToText(c.title)),
              c.expected)
        << c.why;
  }
}

TEST(BookFolderPath, GbkTrailBytesThatLookLikeSeparatorsSurvive) {
  // D5 5C is one GBK character whose trail byte is "\" in ASCII.
  const Text title = "\xB1\xED\xD5\x5C";
  const std::string folder = bookFolderPath("/b", "E", "S", title);
  EXPECT_EQ(folder, "/b/E--S--" + textToUtf8(title));
  EXPECT_EQ(folder.find('\\'), std::string::npos);
}

TEST(EnsureDirectoryPath, CreatesEveryLevel) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("varnel_dirs_" + std::to_string(::getpid()));
  fs::remove_all(root);
  EXPECT_TRUE(ensureDirectoryPath((root / "a" / "b").string()));
  EXPECT_TRUE(fs::is_directory(root / "a" / "b"));
  EXPECT_TRUE(ensureDirectoryPath((root / "a").string())) << "an existing directory";
  EXPECT_FALSE(ensureDirectoryPath("")) << "empty path";
  std::ofstream((root / "file").string()) << "x";
  EXPECT_FALSE(ensureDirectoryPath((root / "file").string())) << "a file is not a directory";
  fs::remove_all(root);
}

}  // namespace
}  // namespace varnel
