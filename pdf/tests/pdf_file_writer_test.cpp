#include "pdf/pdf_file_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace varnel {
namespace {

// Runs `write` against a writer on a memory file and returns the bytes and
// what finish() said. (Complete files are read back with qpdf in
// book_pdf_test.cpp.)
template <typename Write>
std::pair<std::string, bool> written(Write write) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = ::open_memstream(&data, &size);
  bool finished;
  {
    PdfFileWriter writer(file);
    finished = write(writer);
  }
  std::fclose(file);
  std::string bytes(data, size);
  std::free(data);
  return {bytes, finished};
}

TEST(PdfFileWriterTest, RefusesToFinishAnIncompleteFile) {
  struct Case {
    const char* why;
    bool (*write)(PdfFileWriter&);
  };
  const Case cases[] = {
      {"an object reserved but never written",
       [](PdfFileWriter& w) {
         const int root = w.reserveObject();
         w.reserveObject();
         w.writeObject(root, "<< >>");
         return w.finish(root, root);
       }},
      {"an object written twice",
       [](PdfFileWriter& w) {
         const int root = w.reserveObject();
         w.writeObject(root, "<< >>");
         w.writeObject(root, "<< >>");
         return w.finish(root, root);
       }},
      {"a number never reserved",
       [](PdfFileWriter& w) {
         const int root = w.reserveObject();
         w.writeObject(root, "<< >>");
         w.writeObject(root + 1, "<< >>");
         return w.finish(root, root);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_FALSE(written(c.write).second);
  }
}

TEST(PdfFileWriterTest, TextStringsAreHexAndUtf16BeyondAscii) {
  struct Case {
    const char* why;
    std::string utf8;
    std::string expected;
  };
  const Case cases[] = {
      {"ASCII as it is, parentheses and all", "a(b)\\", "<612862295C>"},
      {"empty", "", "<>"},
      {"Chinese as UTF-16BE with a byte order mark", "书", "<FEFF4E66>"},
      {"a character beyond the BMP as a surrogate pair", "\xF0\x9F\x93\x96", "<FEFFD83DDCD6>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(pdfTextString(c.utf8), c.expected);
  }
}

}  // namespace
}  // namespace varnel
