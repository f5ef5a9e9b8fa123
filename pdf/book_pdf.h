// A downloaded book as one PDF: the pages 1.jpg ... N.jpg of a book folder, in
// numeric order, each JPEG embedded byte for byte (/DCTDecode) on a page of
// its own size. Written to a temporary file beside the result and renamed, so
// a failure or a cancel leaves no file and replaces nothing. One pass: each
// page is read, checked and copied into the file before the next, so memory
// stays about one page plus a few bytes per page, whatever the book's length.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varnel {

struct BookPdfRequest {
  // Native path of the book folder (UTF-8 on Linux); a relative one, "." among
  // them, is taken from the working directory, so the PDF gets its real name.
  std::string folder{};
  // Native path of the PDF; empty: bookPdfPath(folder), beside the folder.
  // An existing file there is replaced only once the new one is complete.
  std::string outputPath{};
  // UTF-8, becomes /Title; empty: the folder's name as it is.
  std::string title{};
  // UTF-8, becomes /Subject; empty: none.
  std::string subject{};
  // The pages to put in, in this order; page n is the file n.jpg, and one
  // that cannot be read fails the export. Empty: the run 1.jpg, 2.jpg, ...
  // up to the first number without a file (all a folder can say by itself).
  std::vector<int> pages{};
  // Turns a page that is not a JPEG a PDF reader shows (PNG, WebP, 12-bit,
  // arithmetic-coded, broken) into JPEG bytes; nullopt when it cannot. Null:
  // such a page fails the export. A JPEG cut short never gets here: it fails
  // the export by name. The app supplies one built on QImage. A re-encoded
  // page is sized at 150 dpi, whatever density the encoder wrote.
  std::function<std::optional<std::string>(const std::string& bytes)> reencodeToJpeg{};
  // Called on the exporting thread after each page is in the file.
  std::function<void(int done, int total)> progress{};
  // Polled before each page and before the file is completed; once true the
  // export stops and leaves nothing behind, and a failure after it (a read
  // the interrupt cut short) counts as the cancel.
  const std::atomic<bool>* cancel = nullptr;
};

struct BookPdfResult {
  bool ok = false;
  bool cancelled = false;
  std::string path;   // the PDF written; empty unless ok
  int pages = 0;      // pages in the PDF, or those it was to hold when it failed
  int reencoded = 0;  // pages that went through reencodeToJpeg
  // UTF-8 text for the user: the summary when ok ("导出PDF完成: 212 页, 其中 3 页
  // 重新编码为JPEG"), else why nothing was written ("第 7 页: 图片不完整, 未生成PDF").
  std::string message;
};

// Never throws; every failure is a result with ok == false and no file left
// behind (neither the PDF nor its temporary file).
BookPdfResult writeBookPdf(const BookPdfRequest& request);

// <parent of folder>/<folder name>.pdf, the name cut by fitFileName so that it
// fits in 255 bytes with ".pdf". A relative `folder` ("." too) is resolved
// against the working directory first; trailing separators are ignored; ""
// when the folder has no name ("/").
std::string bookPdfPath(const std::string& folder);

}  // namespace varnel
