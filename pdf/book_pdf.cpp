#include "pdf/book_pdf.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "os/file_names.h"
#include "os/files.h"
#include "pdf/jpeg_info.h"
#include "pdf/pdf_file_writer.h"

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
constexpr std::string_view kCutPage = ": 图片不完整";

// --- page size ---------------------------------------------------------------
constexpr double kPointsPerInch = 72;
constexpr double kDefaultDpi = 150;
constexpr double kMinPlausibleDpi = 72;
constexpr double kMaxPlausibleDpi = 600;
// Readers refuse pages outside 3..14400 points a side.
constexpr double kMinPagePoints = 3;
constexpr double kMaxPagePoints = 14400;

// Failures that end the export with a message for the user.
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

// The request's pages, or the run 1.jpg, 2.jpg, ... while the files are there.
std::vector<int> pagesToExport(const BookPdfRequest& request, const fs::path& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) throw ExportError{kNoFolderText};
  if (!request.pages.empty()) return request.pages;
  std::vector<int> pages;
  while (fs::is_regular_file(folder / pageFileName(static_cast<int>(pages.size()) + 1), error)) {
    pages.push_back(static_cast<int>(pages.size()) + 1);
  }
  return pages;
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Reads a whole file into `buffer`, reusing its storage from page to page:
// one read of the size the file has, then a check that nothing follows.
bool readWholeFile(const fs::path& path, std::string& buffer) {
  FilePtr file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return false;
  std::error_code error;
  const auto size = static_cast<std::size_t>(fs::file_size(path, error));
  if (error) return false;
  buffer.resize(size);
  std::size_t got = std::fread(buffer.data(), 1, size, file.get());
  buffer.resize(got);
  // A file that grew while it was read: take the rest too.
  char chunk[4096];
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) buffer.append(chunk, got);
  return !std::ferror(file.get());
}

// --- the document ------------------------------------------------------------
// Objects 1..3 are known before the pages; each page adds its image, its page
// object and, for a size not seen before, the content stream that draws the
// image over the whole page (pages of one size share it).
class BookDocument {
 public:
  explicit BookDocument(std::FILE* out)
      : writer_(out),
        catalog_(writer_.reserveObject()),
        pages_(writer_.reserveObject()),
        info_(writer_.reserveObject()) {}

  void addPage(const JpegInfo& info, std::string_view jpeg) {
    const int image = writer_.reserveObject();
    std::string dictionary = "/Type /XObject /Subtype /Image /Width " + std::to_string(info.width) +
                             " /Height " + std::to_string(info.height) + " /ColorSpace " +
                             colourSpaceOf(info) + " /BitsPerComponent " +
                             std::to_string(info.bitsPerComponent) + " /Filter /DCTDecode";
    // Adobe applications store CMYK JPEGs inverted and mark them so.
    if (info.components == 4 && info.adobeMarker) dictionary += " /Decode [1 0 1 0 1 0 1 0]";
    writer_.writeStream(image, dictionary, jpeg);

    const PageSize size = pageSizeOf(info);
    const std::string width = formatPoints(size.width);
    const std::string height = formatPoints(size.height);
    int& contents = contentsBySize_[width + " " + height];
    if (contents == 0) {
      contents = writer_.reserveObject();
      writer_.writeStream(contents, "", "q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q");
    }
    const int page = writer_.reserveObject();
    writer_.writeObject(page, "<< /Type /Page /Parent " + reference(pages_) + " /MediaBox [0 0 " +
                                  width + " " + height + "] /Resources << /XObject << /Im0 " +
                                  reference(image) + " >> >> /Contents " + reference(contents) +
                                  " >>");
    pageObjects_.push_back(page);
  }

  bool finish(std::string_view title, std::string_view subject) {
    writer_.writeObject(catalog_, "<< /Type /Catalog /Pages " + reference(pages_) + " >>");
    std::string kids;
    kids.reserve(pageObjects_.size() * 10);
    for (int page : pageObjects_) kids += reference(page) + " ";
    writer_.writeObject(pages_, "<< /Type /Pages /Kids [" + kids + "] /Count " +
                                    std::to_string(pageObjects_.size()) + " >>");
    std::string info = "<< /Title " + pdfTextString(title);
    if (!subject.empty()) info += " /Subject " + pdfTextString(subject);
    writer_.writeObject(info_, info + " /Creator " + pdfTextString(kCreator) + " >>");
    return writer_.finish(catalog_, info_);
  }

  bool ok() const { return writer_.ok(); }

 private:
  static std::string reference(int object) { return std::to_string(object) + " 0 R"; }
  static const char* colourSpaceOf(const JpegInfo& info) {
    switch (info.components) {
      case 1:
        return "/DeviceGray";
      case 4:
        return "/DeviceCMYK";
      default:
        return "/DeviceRGB";
    }
  }

  PdfFileWriter writer_;
  int catalog_;
  int pages_;
  int info_;
  std::vector<int> pageObjects_;
  std::map<std::string, int> contentsBySize_;
};

bool cancelled(const BookPdfRequest& request) {
  return request.cancel && request.cancel->load(std::memory_order_relaxed);
}

// The JPEG to embed for page `number`, read into `bytes`: the file as it is,
// or, when no reader could show it, what the re-encoder makes of it.
JpegInfo pageJpeg(const BookPdfRequest& request, const fs::path& folder, int number,
                  std::string& bytes, BookPdfResult& result) {
  if (!readWholeFile(folder / pageFileName(number), bytes)) {
    throw ExportError{pageText(number, kUnreadablePage)};
  }
  if (auto info = readJpegInfo(bytes)) return *info;
  // A decoder would fill the part that never arrived with grey and call the
  // page good.
  if (isCutJpeg(bytes)) throw ExportError{pageText(number, kCutPage)};
  if (!request.reencodeToJpeg) throw ExportError{pageText(number, kNotJpegPage)};
  std::optional<std::string> jpeg;
  try {
    jpeg = request.reencodeToJpeg(bytes);
  } catch (...) {
  }
  auto info = jpeg ? readJpegInfo(*jpeg) : std::nullopt;
  if (!info) throw ExportError{pageText(number, kReencodeFailedPage)};
  // The encoder stamps a density of its own (QImage: 96 dpi) that says nothing
  // about the page; such a page gets the size of a JPEG page without one.
  info->dpiX = info->dpiY = 0;
  bytes = std::move(*jpeg);
  ++result.reencoded;
  return *info;
}

// Absolute, without "." or ".." steps or a trailing separator, so that "."
// has the name of the folder it is.
fs::path resolvedFolder(const std::string& folder) {
  if (folder.empty()) return {};
  std::error_code error;
  fs::path path = fs::absolute(folder, error);
  if (error) path = folder;
  path = path.lexically_normal();
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

}  // namespace

std::string bookPdfPath(const std::string& folder) {
  const fs::path path = resolvedFolder(folder);
  const std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") return {};
  return (path.parent_path() / (fitFileName(name, 4) + ".pdf")).string();
}

BookPdfResult writeBookPdf(const BookPdfRequest& request) {
  BookPdfResult result;
  try {
    const fs::path folder = resolvedFolder(request.folder);
    const std::vector<int> pages = pagesToExport(request, folder);
    const int total = static_cast<int>(pages.size());
    result.pages = total;
    if (total == 0) throw ExportError{kNoPagesText};

    const std::string outputPath =
        request.outputPath.empty() ? bookPdfPath(request.folder) : request.outputPath;
    if (outputPath.empty()) throw ExportError{kNoOutputText};
    // Written under a temporary name and renamed when complete, so a failed or
    // cancelled export never leaves half a PDF under the final name.
    const fs::path outputFolder = fs::path(outputPath).parent_path();
    removeStaleTemporaryFiles(outputFolder.empty() ? "." : outputFolder.string());
    ReplacingFile output(outputPath);
    if (!output.stream()) throw ExportError{kWriteFailedText};

    // One pass, one page in memory: each page is read, checked and copied
    // into the file before the next is read.
    BookDocument document(output.stream());
    std::string bytes;
    for (int done = 0; done < total; ++done) {
      if (cancelled(request)) throw Cancelled{};
      const JpegInfo info =
          pageJpeg(request, folder, pages[static_cast<std::size_t>(done)], bytes, result);
      document.addPage(info, bytes);
      if (!document.ok()) throw ExportError{kWriteFailedText};
      if (request.progress) request.progress(done + 1, total);
    }
    if (cancelled(request)) throw Cancelled{};
    const std::string title = request.title.empty() ? folder.filename().string() : request.title;
    if (!document.finish(title, request.subject) || output.commit() != FileError::none) {
      throw ExportError{kWriteFailedText};
    }

    result.ok = true;
    result.path = outputPath;
    result.message = doneText(total, result.reencoded);
  } catch (const Cancelled&) {
    result.cancelled = true;
    result.message = kCancelledText;
  } catch (const ExportError& error) {
    // A failure once the user asked to stop (a read the interrupt cut short)
    // is the stop, not a broken page.
    result.cancelled = cancelled(request);
    result.message = result.cancelled ? kCancelledText : error.message;
  } catch (...) {
    // Out of memory, or a re-encoded page too large for a string.
    result.message = kWriteFailedText;
  }
  return result;
}

}  // namespace varnel
