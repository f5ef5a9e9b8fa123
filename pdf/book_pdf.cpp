#include "pdf/book_pdf.h"

#include <fcntl.h>   // open
#include <unistd.h>  // fsync, getpid, unlink

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>  // utf8_to_utf16

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "pdf/file_names.h"
#include "pdf/jpeg_info.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// --- what the user reads -----------------------------------------------------
constexpr std::string_view kCreator = "Varnel下载器";
constexpr std::string_view kNotWritten = ", 未生成PDF";

std::string doneText(int pages, int reencoded) {
  std::string text = "导出PDF完成: " + std::to_string(pages) + " 页";
  if (reencoded > 0) text += ", 其中 " + std::to_string(reencoded) + " 页重新编码为JPEG";
  return text;
}
std::string missingText(int missing) {
  return "缺少 " + std::to_string(missing) + " 页" + std::string(kNotWritten);
}
std::string pageText(int page, std::string_view what) {
  return "第 " + std::to_string(page) + " 页" + std::string(what) + std::string(kNotWritten);
}
const std::string kNoPagesText = "文件夹中没有页面" + std::string(kNotWritten);
const std::string kNoFolderText = "无法读取文件夹" + std::string(kNotWritten);
const std::string kNoOutputText = "无法确定PDF文件名" + std::string(kNotWritten);
const std::string kWriteFailedText = "无法写入PDF文件" + std::string(kNotWritten);
const std::string kCancelledText = "已取消" + std::string(kNotWritten);
constexpr std::string_view kUnreadablePage = "无法读取";
constexpr std::string_view kNotJpegPage = "不是可用的JPEG图像";
constexpr std::string_view kReencodeFailedPage = "无法转换为JPEG";
constexpr std::string_view kChangedPage = "在导出时被修改";

// --- page size ---------------------------------------------------------------
constexpr double kPointsPerInch = 72;
constexpr double kDefaultDpi = 150;
constexpr double kMinPlausibleDpi = 72;
constexpr double kMaxPlausibleDpi = 600;
// Readers refuse pages outside 3..14400 points a side.
constexpr double kMinPagePoints = 3;
constexpr double kMaxPagePoints = 14400;

constexpr int kMaxPageNumber = 100000;  // a book's page count never comes near

// Failures that end the export with a message for the user. Not derived from
// std::exception: qpdf turns those into its own errors on their way out of a
// stream provider, and the message would be lost.
struct ExportError {
  std::string message;
};
struct Cancelled {};

bool isPlausibleDpi(double dpi) { return dpi >= kMinPlausibleDpi && dpi <= kMaxPlausibleDpi; }

struct PageSize {
  double width = 0;
  double height = 0;
};

PageSize pageSizeOf(const JpegInfo& info) {
  const bool plausible = isPlausibleDpi(info.dpiX) && isPlausibleDpi(info.dpiY);
  PageSize size{info.width * kPointsPerInch / (plausible ? info.dpiX : kDefaultDpi),
                info.height * kPointsPerInch / (plausible ? info.dpiY : kDefaultDpi)};
  // Scale, never stretch: the image keeps its aspect.
  double scale = 1;
  const double smaller = std::min(size.width, size.height);
  const double larger = std::max(size.width, size.height);
  if (smaller < kMinPagePoints) scale = kMinPagePoints / smaller;
  if (larger * scale > kMaxPagePoints) scale = kMaxPagePoints / larger;
  return {size.width * scale, size.height * scale};
}

// Three decimals, no trailing zeros: the same text in the MediaBox and in the
// content stream's matrix.
std::string formatPoints(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string out = text;
  while (!out.empty() && out.back() == '0') out.pop_back();
  if (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

// --- files -------------------------------------------------------------------
std::string pageFileName(int number) { return std::to_string(number) + ".jpg"; }

// 1..999999 from "N.jpg" written without leading zeros; 0 for other names.
int pageNumberOf(const std::string& name) {
  constexpr std::string_view kSuffix = ".jpg";
  if (name.size() <= kSuffix.size() || name.size() > kSuffix.size() + 6) return 0;
  if (name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) return 0;
  if (name[0] == '0') return 0;
  int number = 0;
  for (std::size_t i = 0; i < name.size() - kSuffix.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

struct PageScan {
  int total = 0;    // the book has pages 1..total
  int missing = 0;  // how many of them are absent
};

PageScan scanPages(const fs::path& folder, int pageCount) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw ExportError{kNoFolderText};
  PageScan scan;
  if (pageCount > 0) {
    scan.total = pageCount;
    for (int n = 1; n <= pageCount; ++n) {
      if (!fs::is_regular_file(folder / pageFileName(n), error)) ++scan.missing;
    }
    return scan;
  }
  std::set<int> present;
  fs::directory_iterator it(folder, error);
  if (error) throw ExportError{kNoFolderText};
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) throw ExportError{kNoFolderText};
    const int number = pageNumberOf(it->path().filename().string());
    if (number > 0 && number <= kMaxPageNumber && it->is_regular_file(error)) {
      present.insert(number);
    }
  }
  scan.total = present.empty() ? 0 : *present.rbegin();
  scan.missing = scan.total - static_cast<int>(present.size());
  return scan;
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Reads a whole file into `buffer`, reusing its storage from page to page.
bool readWholeFile(const fs::path& path, std::string& buffer) {
  FilePtr file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return false;
  buffer.clear();
  char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) buffer.append(chunk, got);
  return !std::ferror(file.get());
}

// The PDF's own file while it is written: created beside the result under a
// name nobody else uses, renamed onto the result when complete, removed
// otherwise.
class TemporaryOutput {
 public:
  explicit TemporaryOutput(const fs::path& finalPath) : finalPath_(finalPath) {
    fs::path directory = finalPath.parent_path();
    if (directory.empty()) directory = ".";
    std::random_device seed;
    for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
      char name[64];
      std::snprintf(name, sizeof name, ".varnel-pdf-%ld-%08x.part", static_cast<long>(::getpid()),
                    static_cast<unsigned>(seed()));
      fs::path candidate = directory / name;
      // O_EXCL: never reuse or follow whatever already has the name.
      int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        break;
      }
      file_ = ::fdopen(fd, "wb");
      if (!file_) {
        ::close(fd);
        ::unlink(candidate.c_str());
        break;
      }
      path_ = candidate;
    }
  }
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  ~TemporaryOutput() {
    if (file_) std::fclose(file_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  std::FILE* file() const { return file_; }
  const fs::path& path() const { return path_; }

  // Flushed to the disk before the rename, so a crash leaves the old PDF or
  // the new one, never a half-written file under the final name.
  bool commit() {
    std::FILE* file = std::exchange(file_, nullptr);
    bool ok = std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) return false;
    std::error_code error;
    fs::rename(path_, finalPath_, error);
    if (error) return false;
    path_.clear();
    return true;
  }

 private:
  fs::path finalPath_;
  fs::path path_;
  std::FILE* file_ = nullptr;
};

// --- the pages ---------------------------------------------------------------
struct PageRecord {
  int number = 0;
  JpegInfo info;
  std::size_t size = 0;
  // Where a re-encoded page waits for the writer; -1: the page's own file.
  long spoolOffset = -1;
};

// What the stream providers share while qpdf writes: the folder to read
// pages from again, the spool of re-encoded pages and one page's buffer.
struct WriteState {
  fs::path folder;
  FilePtr spool{nullptr, std::fclose};
  std::vector<PageRecord> pages;
  std::string buffer;
  const std::atomic<bool>* cancel = nullptr;

  bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
};

std::FILE* spoolOf(WriteState& state) {
  if (!state.spool) state.spool.reset(std::tmpfile());
  if (!state.spool) throw ExportError{kWriteFailedText};
  return state.spool.get();
}

// First pass: every page is read once, checked and, when it is not a usable
// JPEG, re-encoded into the spool. Only the records stay in memory.
void preparePages(const BookPdfRequest& request, int total, WriteState& state,
                  BookPdfResult& result) {
  state.pages.reserve(static_cast<std::size_t>(total));
  for (int n = 1; n <= total; ++n) {
    if (state.cancelled()) throw Cancelled{};
    if (!readWholeFile(state.folder / pageFileName(n), state.buffer)) {
      throw ExportError{pageText(n, kUnreadablePage)};
    }
    PageRecord page;
    page.number = n;
    page.size = state.buffer.size();
    if (auto info = readJpegInfo(state.buffer)) {
      page.info = *info;
    } else {
      if (!request.reencodeToJpeg) throw ExportError{pageText(n, kNotJpegPage)};
      std::optional<std::string> jpeg;
      try {
        jpeg = request.reencodeToJpeg(state.buffer);
      } catch (...) {
      }
      auto jpegInfo = jpeg ? readJpegInfo(*jpeg) : std::nullopt;
      if (!jpegInfo) throw ExportError{pageText(n, kReencodeFailedPage)};
      std::FILE* spool = spoolOf(state);
      page.info = *jpegInfo;
      page.size = jpeg->size();
      page.spoolOffset = std::ftell(spool);
      if (page.spoolOffset < 0 ||
          std::fwrite(jpeg->data(), 1, jpeg->size(), spool) != jpeg->size()) {
        throw ExportError{kWriteFailedText};
      }
      ++result.reencoded;
    }
    state.pages.push_back(page);
    if (request.progress) request.progress(n, total);
  }
  if (state.spool && std::fflush(state.spool.get()) != 0) throw ExportError{kWriteFailedText};
}

// Second pass, called by qpdf as it writes each image: the page's bytes,
// read again, exactly as they were checked.
void providePage(WriteState& state, std::size_t index, Pipeline* pipeline) {
  if (state.cancelled()) throw Cancelled{};
  const PageRecord& page = state.pages[index];
  bool same;
  if (page.spoolOffset < 0) {
    same = readWholeFile(state.folder / pageFileName(page.number), state.buffer) &&
           state.buffer.size() == page.size;
    if (same) {
      auto info = readJpegInfo(state.buffer);
      same = info && info->width == page.info.width && info->height == page.info.height &&
             info->components == page.info.components;
    }
  } else {
    state.buffer.resize(page.size);
    same = std::fseek(state.spool.get(), page.spoolOffset, SEEK_SET) == 0 &&
           std::fread(state.buffer.data(), 1, page.size, state.spool.get()) == page.size;
  }
  if (!same) throw ExportError{pageText(page.number, kChangedPage)};
  pipeline->write(reinterpret_cast<const unsigned char*>(state.buffer.data()), state.buffer.size());
  pipeline->finish();
}

// A text string of the info dictionary: ASCII as it is, anything else as
// UTF-16BE with a byte order mark, which every reader understands.
QPDFObjectHandle infoString(std::string_view utf8) {
  const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return QPDFObjectHandle::newString(ascii ? std::string(utf8)
                                           : QUtil::utf8_to_utf16(std::string(utf8)));
}

QPDFObjectHandle colourSpaceOf(const JpegInfo& info) {
  switch (info.components) {
    case 1:
      return QPDFObjectHandle::newName("/DeviceGray");
    case 4:
      return QPDFObjectHandle::newName("/DeviceCMYK");
    default:
      return QPDFObjectHandle::newName("/DeviceRGB");
  }
}

QPDFObjectHandle imageOf(QPDF& pdf, const std::shared_ptr<WriteState>& state, std::size_t index) {
  const JpegInfo& info = state->pages[index].info;
  QPDFObjectHandle image = pdf.newStream();
  QPDFObjectHandle dict = image.getDict();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
  dict.replaceKey("/Width", QPDFObjectHandle::newInteger(info.width));
  dict.replaceKey("/Height", QPDFObjectHandle::newInteger(info.height));
  dict.replaceKey("/ColorSpace", colourSpaceOf(info));
  dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(info.bitsPerComponent));
  if (info.components == 4 && info.adobeMarker) {
    // Adobe applications store CMYK JPEGs inverted and mark them so.
    dict.replaceKey("/Decode", QPDFObjectHandle::parse("[1 0 1 0 1 0 1 0]"));
  }
  image.replaceStreamData(
      [state, index](Pipeline* pipeline) { providePage(*state, index, pipeline); },
      QPDFObjectHandle::newName("/DCTDecode"), QPDFObjectHandle::newNull());
  return image;
}

// Builds the document: one page per record, the image filling the page.
// Pages of the same size share one content stream.
void buildDocument(QPDF& pdf, const std::shared_ptr<WriteState>& state, const std::string& title) {
  pdf.emptyPDF();
  QPDFPageDocumentHelper pages(pdf);
  std::map<std::string, QPDFObjectHandle> contentsBySize;
  for (std::size_t i = 0; i < state->pages.size(); ++i) {
    const PageSize size = pageSizeOf(state->pages[i].info);
    const std::string width = formatPoints(size.width);
    const std::string height = formatPoints(size.height);
    QPDFObjectHandle& contents = contentsBySize[width + " " + height];
    if (!contents.isInitialized()) {
      contents = pdf.newStream("q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q");
    }
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox",
                    QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{
                        QPDFObjectHandle::newInteger(0), QPDFObjectHandle::newInteger(0),
                        QPDFObjectHandle::newReal(width), QPDFObjectHandle::newReal(height)}));
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", imageOf(pdf, state, i));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", contents);
    pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
  }
  QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
  info.replaceKey("/Title", infoString(title));
  info.replaceKey("/Creator", infoString(kCreator));
  pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));
}

fs::path withoutTrailingSeparators(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return fs::path(trimmed);
}

}  // namespace

std::string bookPdfPath(const std::string& folder) {
  const fs::path path = withoutTrailingSeparators(folder);
  const std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") return {};
  return (path.parent_path() / (fitFileName(name, 4) + ".pdf")).string();
}

BookPdfResult writeBookPdf(const BookPdfRequest& request) {
  BookPdfResult result;
  try {
    auto state = std::make_shared<WriteState>();
    state->folder = withoutTrailingSeparators(request.folder);
    state->cancel = request.cancel;

    const PageScan scan = scanPages(state->folder, request.pageCount);
    result.pages = scan.total;
    result.missing = scan.missing;
    if (scan.total == 0) throw ExportError{kNoPagesText};
    if (scan.missing > 0) throw ExportError{missingText(scan.missing)};

    const std::string outputPath =
        request.outputPath.empty() ? bookPdfPath(request.folder) : request.outputPath;
    if (outputPath.empty()) throw ExportError{kNoOutputText};

    preparePages(request, scan.total, *state, result);

    QPDF pdf;
    pdf.setSuppressWarnings(true);
    buildDocument(pdf, state,
                  request.title.empty() ? state->folder.filename().string() : request.title);

    TemporaryOutput output{fs::path(outputPath)};
    if (!output.file()) throw ExportError{kWriteFailedText};
    QPDFWriter writer(pdf);
    writer.setOutputFile(output.path().c_str(), output.file(), false);
    // The page dictionaries go into a compressed object stream; the images
    // are copied as they are.
    writer.setObjectStreamMode(qpdf_o_generate);
    writer.write();
    if (state->cancelled()) throw Cancelled{};
    if (!output.commit()) throw ExportError{kWriteFailedText};

    result.ok = true;
    result.path = outputPath;
    result.message = doneText(scan.total, result.reencoded);
  } catch (const Cancelled&) {
    result.cancelled = true;
    result.message = kCancelledText;
  } catch (const ExportError& error) {
    result.message = error.message;
  } catch (...) {
    // qpdf reports a failed write (a full disk, say) as an exception.
    result.message = kWriteFailedText;
  }
  return result;
}

}  // namespace varnel
