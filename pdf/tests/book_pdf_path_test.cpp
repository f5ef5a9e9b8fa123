#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/file_names.h"
#include "pdf/book_pdf.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(FileNamesTest, BookPdfPathIsBesideTheFolder) {
  const std::string longName = repeat("书", 84);  // 252 bytes: fits, but not with .pdf
  const fs::path cwd = fs::current_path();
  struct Case {
    const char* why;
    std::string folder;
    std::string expected;
  };
  const Case cases[] = {
      {"absolute", "/home/u/下载/人教版--语文--一年级上册",
       "/home/u/下载/人教版--语文--一年级上册.pdf"},
      {"trailing separators", "/books/数学//", "/books/数学.pdf"},
      {"relative: from the working directory", "数学", (cwd / "数学.pdf").string()},
      {"the working directory itself", ".", (cwd.parent_path() / cwd.filename()).string() + ".pdf"},
      {"dot steps dropped", "/books/x/../数学/./", "/books/数学.pdf"},
      {"a dot in the name", "/books/人教版2.0--数学", "/books/人教版2.0--数学.pdf"},
      {"name cut for .pdf", "/books/" + longName, "/books/" + fitFileName(longName, 4) + ".pdf"},
      {"root has no name", "/", ""},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(bookPdfPath(c.folder), c.expected);
  }
  EXPECT_LE(fs::path(bookPdfPath("/books/" + longName)).filename().string().size(),
            kMaxFileNameBytes);
}

}  // namespace
}  // namespace varnel
