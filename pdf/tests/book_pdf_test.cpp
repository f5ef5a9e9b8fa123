#include "pdf/book_pdf.h"

#include <fcntl.h>  // open
#include <gtest/gtest.h>
#include <linux/fs.h>   // FS_IOC_SETFLAGS, FS_IMMUTABLE_FL
#include <sys/ioctl.h>  // ioctl
#include <unistd.h>     // close, getpid, unlink

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "os/file_names.h"
#include "pdf/jpeg_info.h"
#include "pdf/tests/test_jpegs.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::JpegShape;
using test::makeJpeg;
using test::readFile;
using test::writeFile;

// A fresh directory per test holding the book folder; the PDF goes beside it.
class BookPdfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() /
            ("varnel_pdf_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(root_);
    book_ = root_ / "人教版--数学--一年级上册";
    fs::create_directories(book_);
  }
  void TearDown() override {
    for (const fs::path& dir : immutable_) setImmutable(dir, false);
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
  }

  // Page n: a JPEG whose width is 10 + n, so the order can be read back.
  std::string addPage(int n, JpegShape shape = {}) {
    shape.width = 10 + n;
    shape.seed = static_cast<std::uint32_t>(n);
    std::string jpeg = makeJpeg(shape);
    writeFile(book_ / (std::to_string(n) + ".jpg"), jpeg);
    return jpeg;
  }

  BookPdfRequest request() const {
    BookPdfRequest r;
    r.folder = book_.string();
    return r;
  }

  fs::path defaultPdf() const { return root_ / (book_.filename().string() + ".pdf"); }

  // Every name in `dir`: after a failure nothing new may be there, not even
  // a temporary file.
  static std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
    return names;
  }

  // Read-only for everyone: mode 0555 stops other users; root, whom modes do
  // not stop, is stopped by the immutable attribute (ext4, xfs, btrfs).
  bool makeUnwritable(const fs::path& dir) {
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    if (!canCreateIn(dir)) return true;
    if (setImmutable(dir, true)) immutable_.push_back(dir);
    return !canCreateIn(dir);
  }

  static bool canCreateIn(const fs::path& dir) {
    const fs::path probe = dir / "probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
  }

  static bool setImmutable(const fs::path& dir, bool on) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
  }

  fs::path root_;
  fs::path book_;
  std::vector<fs::path> immutable_;
};

// The file as qpdf reads it without repairing anything: a wrong offset in the
// cross-reference table or a wrong /Length throws or warns, and every stream
// is read through once so that each length is checked.
std::unique_ptr<QPDF> openStrictly(const std::string& path) {
  auto pdf = std::make_unique<QPDF>();
  pdf->setAttemptRecovery(false);
  pdf->setSuppressWarnings(true);
  pdf->processFile(path.c_str());
  for (QPDFObjectHandle object : pdf->getAllObjects()) {
    if (!object.isStream()) continue;
    Pl_Discard discard;
    bool filtered = false;
    EXPECT_TRUE(object.pipeStreamData(&discard, &filtered, 0, qpdf_dl_none)) << object.unparse();
  }
  EXPECT_FALSE(pdf->anyWarnings());
  for (const auto& warning : pdf->getWarnings()) ADD_FAILURE() << warning.what();
  return pdf;
}

struct PageRead {
  double width = 0;  // MediaBox, points
  double height = 0;
  QPDFObjectHandle image;
};

std::vector<PageRead> readPages(QPDF& pdf) {
  std::vector<PageRead> pages;
  for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    PageRead read;
    QPDFObjectHandle box = page.getAttribute("/MediaBox", false);
    read.width = box.getArrayItem(2).getNumericValue() - box.getArrayItem(0).getNumericValue();
    read.height = box.getArrayItem(3).getNumericValue() - box.getArrayItem(1).getNumericValue();
    auto images = page.getImages();
    if (images.size() == 1) read.image = images.begin()->second;
    pages.push_back(read);
  }
  return pages;
}

std::string rawStream(QPDFObjectHandle stream) {
  auto buffer = stream.getRawStreamData();
  return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
}

TEST_F(BookPdfTest, EveryPageGoesInUnchangedInNumericOrder) {
  constexpr int kPages = 12;  // 10, 11 and 12 sort before 2 as text
  std::vector<std::string> jpegs;
  for (int n = 1; n <= kPages; ++n) jpegs.push_back(addPage(n, {.height = 20 + n % 3}));
  writeFile(book_ / "notes.txt", "not a page");
  writeFile(book_ / "13.jpg.part", "an unfinished page");
  writeFile(defaultPdf(), "an earlier export, replaced once the new one is complete");
  // Temporary files of earlier exports: one of a process that is gone (no
  // process id goes above 2^22), one of a process still writing (this one).
  const std::string gone = ".varnel-4194305-0000abcd.part";
  const std::string running = ".varnel-" + std::to_string(::getpid()) + "-0000abcd.part";
  writeFile(root_ / gone, "left by a killed export");
  writeFile(root_ / running, "being written");

  std::vector<std::pair<int, int>> progress;
  BookPdfRequest r = request();
  r.title = "义务教育教科书·数学 一年级上册";
  r.subject = "人教版 / 数学";
  r.progress = [&](int done, int total) { progress.emplace_back(done, total); };
  const BookPdfResult result = writeBookPdf(r);

  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(result.path, defaultPdf().string());
  EXPECT_EQ(result.pages, kPages);
  EXPECT_EQ(result.reencoded, 0);
  EXPECT_EQ(result.message, "导出PDF完成: 12 页");
  ASSERT_EQ(progress.size(), static_cast<std::size_t>(kPages));
  EXPECT_EQ(progress.back(), std::make_pair(kPages, kPages));
  EXPECT_EQ(namesIn(root_),
            (std::set<std::string>{book_.filename(), defaultPdf().filename(), running}))
      << "a dead process's temporary file is cleared, a running one's kept";

  auto pdf = openStrictly(result.path);
  auto pages = readPages(*pdf);
  ASSERT_EQ(pages.size(), static_cast<std::size_t>(kPages));
  for (int n = 1; n <= kPages; ++n) {
    SCOPED_TRACE("page " + std::to_string(n));
    PageRead& page = pages[static_cast<std::size_t>(n - 1)];
    ASSERT_TRUE(page.image.isStream());
    QPDFObjectHandle dict = page.image.getDict();
    EXPECT_EQ(dict.getKey("/Width").getIntValue(), 10 + n) << "pages in numeric order";
    EXPECT_EQ(dict.getKey("/Height").getIntValue(), 20 + n % 3);
    EXPECT_EQ(dict.getKey("/BitsPerComponent").getIntValue(), 8);
    EXPECT_TRUE(dict.getKey("/Filter").isNameAndEquals("/DCTDecode"));
    EXPECT_EQ(rawStream(page.image), jpegs[static_cast<std::size_t>(n - 1)])
        << "the file's bytes, unchanged";
    EXPECT_NEAR(page.width / page.height, (10.0 + n) / (20 + n % 3), 1e-3);
  }
  QPDFObjectHandle info = pdf->getTrailer().getKey("/Info");
  EXPECT_EQ(info.getKey("/Title").getUTF8Value(), r.title);
  EXPECT_EQ(info.getKey("/Subject").getUTF8Value(), r.subject);
  EXPECT_EQ(info.getKey("/Creator").getUTF8Value(), "Varnel下载器");
  EXPECT_EQ(info.getKey("/Title").getStringValue().substr(0, 2), "\xFE\xFF")
      << "UTF-16BE with a byte order mark";
}

TEST_F(BookPdfTest, ColourSpacesFollowTheComponents) {
  struct Case {
    const char* why;
    JpegShape shape;
    const char* colourSpace;
    bool invertedDecode;
  };
  const Case cases[] = {
      {"grey", {.components = 1}, "/DeviceGray", false},
      {"RGB", {.components = 3}, "/DeviceRGB", false},
      {"CMYK from Adobe, stored inverted", {.components = 4}, "/DeviceCMYK", true},
      {"CMYK without the Adobe marker",
       {.components = 4, .adobeMarker = false},
       "/DeviceCMYK",
       false},
  };
  int n = 0;
  for (const Case& c : cases) addPage(++n, c.shape);

  const BookPdfResult result = writeBookPdf(request());
  ASSERT_TRUE(result.ok) << result.message;
  auto pdf = openStrictly(result.path);
  auto pages = readPages(*pdf);
  ASSERT_EQ(pages.size(), std::size(cases));
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(cases[i].why);
    QPDFObjectHandle dict = pages[i].image.getDict();
    EXPECT_TRUE(dict.getKey("/ColorSpace").isNameAndEquals(cases[i].colourSpace));
    QPDFObjectHandle decode = dict.getKey("/Decode");
    if (cases[i].invertedDecode) {
      EXPECT_EQ(decode.unparse(), "[ 1 0 1 0 1 0 1 0 ]");
    } else {
      EXPECT_TRUE(decode.isNull());
    }
  }
}

TEST_F(BookPdfTest, PageSizeIsTheImageAtItsDensity) {
  struct Case {
    const char* why;
    JpegShape shape;
    double width, height;  // points
  };
  const JpegShape inch300{
      .width = 300, .height = 600, .densityUnit = 1, .densityX = 300, .densityY = 300};
  auto at = [](JpegShape shape, int unit, int x, int y) {
    shape.densityUnit = unit;
    shape.densityX = x;
    shape.densityY = y;
    return shape;
  };
  const Case cases[] = {
      {"300 dpi", inch300, 72, 144},
      {"72 dpi, the lowest believed", at(inch300, 1, 72, 72), 300, 600},
      {"600 dpi, the highest believed", at(inch300, 1, 600, 600), 36, 72},
      {"118 dots per cm", at(inch300, 2, 118, 118), 300 * 72 / 299.72, 600 * 72 / 299.72},
      {"each axis at its own density", at(inch300, 1, 300, 150), 72, 288},
      {"1200 dpi is not believed: 150", at(inch300, 1, 1200, 1200), 144, 288},
      {"50 dpi is not believed: 150", at(inch300, 1, 50, 50), 144, 288},
      {"one axis not believed: 150 for both", at(inch300, 1, 300, 1200), 144, 288},
      {"no unit: 150", at(inch300, 0, 1, 1), 144, 288},
      {"a sliver is widened to 3 points", {.width = 2, .height = 600}, 3, 900},
      {"a strip is cut to 14400 points", {.width = 60000, .height = 8}, 14400, 1.92},
  };
  int n = 0;
  for (const Case& c : cases) writeFile(book_ / (std::to_string(++n) + ".jpg"), makeJpeg(c.shape));
  const BookPdfResult result = writeBookPdf(request());
  ASSERT_TRUE(result.ok) << result.message;
  auto pdf = openStrictly(result.path);
  auto pages = readPages(*pdf);
  ASSERT_EQ(pages.size(), std::size(cases));
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(cases[i].why);
    EXPECT_NEAR(pages[i].width, cases[i].width, 1e-3);
    EXPECT_NEAR(pages[i].height, cases[i].height, 1e-3);
  }
}

TEST_F(BookPdfTest, PagesReadersCannotShowAreReencoded) {
  addPage(1);
  writeFile(book_ / "2.jpg", test::pngBytes());
  addPage(3, {.arithmetic = true});
  // Stamped 96 dpi, as QImage does: the page is still sized at 150 dpi.
  const std::string replacement = makeJpeg({.width = 16,
                                            .height = 12,
                                            .components = 1,
                                            .densityUnit = 1,
                                            .densityX = 96,
                                            .densityY = 96});

  struct Case {
    const char* why;
    std::function<std::optional<std::string>(const std::string&)> reencode;
    bool ok;
    const char* message;
  };
  std::vector<std::string> seen;
  const Case cases[] = {
      {"no re-encoder", nullptr, false, "第 2 页不是可用的JPEG图像, 未生成PDF"},
      {"re-encoder gives up", [](const std::string&) { return std::nullopt; }, false,
       "第 2 页无法转换为JPEG, 未生成PDF"},
      {"re-encoder returns no JPEG", [](const std::string&) { return test::pngBytes(); }, false,
       "第 2 页无法转换为JPEG, 未生成PDF"},
      {"re-encoder throws",
       [](const std::string&) -> std::optional<std::string> { throw std::runtime_error("x"); },
       false, "第 2 页无法转换为JPEG, 未生成PDF"},
      {"re-encoder works",
       [&](const std::string& bytes) {
         seen.push_back(bytes);
         return replacement;
       },
       true, "导出PDF完成: 3 页, 其中 2 页重新编码为JPEG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    BookPdfRequest r = request();
    r.reencodeToJpeg = c.reencode;
    const BookPdfResult result = writeBookPdf(r);
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(fs::exists(defaultPdf()), c.ok);
  }

  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], test::pngBytes()) << "the page's own bytes go to the re-encoder";
  auto pdf = openStrictly(defaultPdf());
  auto pages = readPages(*pdf);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(rawStream(pages[0].image), readFile(book_ / "1.jpg"));
  for (std::size_t i : {1u, 2u}) {
    EXPECT_EQ(rawStream(pages[i].image), replacement);
    EXPECT_TRUE(pages[i].image.getDict().getKey("/ColorSpace").isNameAndEquals("/DeviceGray"));
    EXPECT_NEAR(pages[i].width, 16 * 72 / 150.0, 1e-3);
    EXPECT_NEAR(pages[i].height, 12 * 72 / 150.0, 1e-3);
  }
}

TEST_F(BookPdfTest, ThePagesAreThoseAskedForOrTheRunFromPageOne) {
  struct Case {
    const char* why;
    std::vector<int> present;
    std::vector<int> pages;  // asked for
    std::vector<int> inPdf;  // empty: nothing written
    std::string message;
  };
  const Case cases[] = {
      {"stale pages beyond the book stay out",
       {1, 2, 3, 4, 5, 6, 7, 8},
       {1, 2, 3, 4, 5},
       {1, 2, 3, 4, 5},
       "导出PDF完成: 5 页"},
      {"pages left out on purpose", {1, 2, 3, 5}, {1, 2, 5}, {1, 2, 5}, "导出PDF完成: 3 页"},
      {"a page asked for is not there", {1, 2}, {1, 2, 3}, {}, "第 3 页无法读取, 未生成PDF"},
      {"none asked: the run from 1 stops at the first gap",
       {1, 2, 4, 5},
       {},
       {1, 2},
       "导出PDF完成: 2 页"},
      {"none asked and no page 1", {2, 3}, {}, {}, "文件夹中没有页面, 未生成PDF"},
      {"no pages at all", {}, {}, {}, "文件夹中没有页面, 未生成PDF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    fs::remove_all(book_);
    fs::create_directories(book_);
    for (int n : c.present) addPage(n);
    writeFile(defaultPdf(), "an earlier export");
    const auto before = namesIn(root_);
    BookPdfRequest r = request();
    r.pages = c.pages;
    const BookPdfResult result = writeBookPdf(r);
    EXPECT_EQ(result.message, c.message);
    ASSERT_EQ(result.ok, !c.inPdf.empty());
    if (!result.ok) {
      EXPECT_EQ(namesIn(root_), before);
      EXPECT_EQ(readFile(defaultPdf()), "an earlier export") << "replaces nothing";
      continue;
    }
    auto pdf = openStrictly(result.path);
    std::vector<int> widths;
    for (PageRead& page : readPages(*pdf)) {
      widths.push_back(static_cast<int>(page.image.getDict().getKey("/Width").getIntValue()) - 10);
    }
    EXPECT_EQ(widths, c.inPdf) << "page n is 10 + n wide";
  }
}

TEST_F(BookPdfTest, ACutPageIsRefusedByName) {
  const std::string whole = makeJpeg({.width = 40, .height = 30, .noise = 80});
  const std::string arithmetic = makeJpeg({.width = 40, .height = 30, .arithmetic = true});
  struct Case {
    const char* why;
    std::string page2;
  };
  const Case cases[] = {
      {"cut in the scan", whole.substr(0, whole.size() / 2)},
      {"cut, the rest of the file zeros",
       whole.substr(0, whole.size() / 2) + std::string(64, '\0')},
      {"cut in the header", whole.substr(0, 30)},
      {"cut, and not a JPEG readers show anyway", arithmetic.substr(0, arithmetic.size() - 8)},
  };
  addPage(1);
  addPage(3);
  const auto before = namesIn(root_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    writeFile(book_ / "2.jpg", c.page2);
    int reencoded = 0;
    BookPdfRequest r = request();
    // What a decoder makes of a cut file: a page, grey where the data ran out.
    r.reencodeToJpeg = [&](const std::string&) {
      ++reencoded;
      return std::optional<std::string>(whole);
    };
    const BookPdfResult result = writeBookPdf(r);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "第 2 页: 图片不完整, 未生成PDF");
    EXPECT_EQ(reencoded, 0);
    EXPECT_EQ(namesIn(root_), before);
  }
}

TEST_F(BookPdfTest, NothingIsWrittenWhereTheFileCannotBeWritten) {
  addPage(1);
  addPage(2);
  const fs::path readOnly = root_ / "read-only";
  fs::create_directories(readOnly);
  const bool unwritable = makeUnwritable(readOnly);
  writeFile(root_ / "a-file", "x");

  struct Case {
    const char* why;
    fs::path output;
  };
  std::vector<Case> cases = {
      {"inside a plain file", root_ / "a-file" / "book.pdf"},
      {"a directory that does not exist", root_ / "nowhere" / "book.pdf"},
      {"a file system that takes no new files", "/proc/varnel-book.pdf"},
  };
  if (unwritable) {
    cases.push_back({"a read-only directory", readOnly / "book.pdf"});
  } else {
    std::printf(
        "note: no read-only directory case here (root on a file system without "
        "the immutable attribute)\n");
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto before = namesIn(root_);
    BookPdfRequest r = request();
    r.outputPath = c.output.string();
    const BookPdfResult result = writeBookPdf(r);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "无法写入PDF文件, 未生成PDF");
    EXPECT_FALSE(fs::exists(c.output));
    EXPECT_EQ(namesIn(root_), before);
    EXPECT_TRUE(namesIn(readOnly).empty());
  }
}

TEST_F(BookPdfTest, ACancelOrAFailureMidwayLeavesTheOldFile) {
  for (int n = 1; n <= 5; ++n) addPage(n);
  writeFile(defaultPdf(), "an earlier export");
  const auto before = namesIn(root_);

  std::atomic<bool> cancel{false};
  using Reencoder = std::function<std::optional<std::string>(const std::string&)>;
  struct Case {
    const char* why;
    std::function<void(int, int)> progress;
    Reencoder reencode;
    bool cancelled;
    const char* message;
  };
  const Case cases[] = {
      {"cancelled at page 3", [&](int done, int) { cancel = done == 3; }, nullptr, true,
       "已取消, 未生成PDF"},
      {"cancelled after the last page was read",
       [&](int done, int total) { cancel = done == total; }, nullptr, true, "已取消, 未生成PDF"},
      {"page 4 removed while page 2 was written",
       [&](int done, int) {
         if (done == 2) fs::remove(book_ / "4.jpg");
       },
       nullptr, false, "第 4 页无法读取, 未生成PDF"},
      {"a page failing once the stop was asked is the stop, not a broken page",
       [&](int done, int) {
         if (done == 2) writeFile(book_ / "4.jpg", test::pngBytes());
       },
       [&](const std::string&) {
         cancel = true;
         return std::optional<std::string>();
       },
       true, "已取消, 未生成PDF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    cancel = false;
    BookPdfRequest r = request();
    r.cancel = &cancel;
    r.progress = c.progress;
    r.reencodeToJpeg = c.reencode;
    r.pages = {1, 2, 3, 4, 5};
    const BookPdfResult result = writeBookPdf(r);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.cancelled, c.cancelled);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(namesIn(root_), before);
    EXPECT_EQ(readFile(defaultPdf()), "an earlier export");
  }
}

TEST_F(BookPdfTest, ALongFolderNameGivesAPdfNameThatFits) {
  // 252 bytes: a folder the file system accepts, but not with ".pdf".
  std::string name;
  for (int i = 0; i < 84; ++i) name += "书";
  book_ = root_ / name;
  fs::create_directories(book_);
  addPage(1);
  const BookPdfResult result = writeBookPdf(request());
  ASSERT_TRUE(result.ok) << result.message;
  const std::string pdfName = fs::path(result.path).filename();
  EXPECT_EQ(pdfName, fitFileName(name, 4) + ".pdf");
  EXPECT_LE(pdfName.size(), kMaxFileNameBytes);
  EXPECT_TRUE(fs::is_regular_file(result.path));
  auto pdf = openStrictly(result.path);
  QPDFObjectHandle info = pdf->getTrailer().getKey("/Info");
  EXPECT_EQ(info.getKey("/Title").getUTF8Value(), name)
      << "without a title the folder's name is the title";
  EXPECT_FALSE(info.hasKey("/Subject")) << "no subject given, none written";
}

}  // namespace
}  // namespace varnel
