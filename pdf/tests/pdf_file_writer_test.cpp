#include "pdf/pdf_file_writer.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace varnel {
namespace {

// Runs `write` against a writer on a memory file and returns the bytes and
// what finish() said.
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

TEST(PdfFileWriterTest, WritesAFileQpdfReadsWithoutRepair) {
  const auto [bytes, finished] = written([](PdfFileWriter& writer) {
    const int catalog = writer.reserveObject();
    const int pages = writer.reserveObject();
    const int info = writer.reserveObject();
    const int contents = writer.reserveObject();
    writer.writeStream(contents, "", "0 0 m 10 10 l S");
    // Written out of order: the table is by number, not by position.
    writer.writeObject(info, "<< /Title " + pdfTextString("书 (draft)") + " >>");
    const int page = writer.reserveObject();
    writer.writeObject(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 20 20] /Contents " +
                                 std::to_string(contents) + " 0 R >>");
    writer.writeObject(pages, "<< /Type /Pages /Kids [5 0 R] /Count 1 >>");
    writer.writeObject(catalog, "<< /Type /Catalog /Pages 2 0 R >>");
    return writer.finish(catalog, info);
  });
  ASSERT_TRUE(finished);
  QPDF pdf;
  pdf.setAttemptRecovery(false);
  pdf.setSuppressWarnings(true);
  pdf.processMemoryFile("written", bytes.data(), bytes.size());
  std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
  ASSERT_EQ(pages.size(), 1u);
  auto data = pages[0].getKey("/Contents").getStreamData();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()),
            "0 0 m 10 10 l S");
  EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value(), "书 (draft)");
  EXPECT_EQ(pdf.getTrailer().getKey("/ID").getArrayNItems(), 2);
  EXPECT_FALSE(pdf.anyWarnings());
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
