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

namespace varnel {

struct BookPdfRequest {
  // Native path of the book folder (UTF-8 on Linux).
  std::string folder{};
  // Native path of the PDF; empty: bookPdfPath(folder), beside the folder.
  // An existing file there is replaced only once the new one is complete.
  std::string outputPath{};
  // UTF-8, becomes /Title; empty: the folder's name.
  std::string title{};
  // The book has pages 1..pageCount. 0: up to the highest N.jpg in the folder,
  // so a gap below it still counts as missing.
  int pageCount = 0;
  // Turns a page that is not a JPEG a PDF reader shows (PNG, WebP, 12-bit,
  // arithmetic-coded, broken) into JPEG bytes; nullopt when it cannot. Null:
  // such a page fails the export. The app supplies one built on QImage. A
  // re-encoded page is sized at 150 dpi, whatever density the encoder wrote.
  std::function<std::optional<std::string>(const std::string& bytes)> reencodeToJpeg{};
  // Called on the exporting thread after each page is in the file.
  std::function<void(int done, int total)> progress{};
  // Polled before each page and before the file is completed; once true the
  // export stops and leaves nothing behind.
  const std::atomic<bool>* cancel = nullptr;
};

struct BookPdfResult {
  bool ok = false;
  bool cancelled = false;
  std::string path;   // the PDF written; empty unless ok
  int pages = 0;      // pages in the PDF, or the book's page count when it failed
  int reencoded = 0;  // pages that went through reencodeToJpeg
  int missing = 0;    // pages of 1..N absent from the folder (then nothing is written)
  // UTF-8 text for the user: the summary when ok ("导出PDF完成: 212 页, 其中 3 页
  // 重新编码为JPEG"), else why nothing was written ("缺少 3 页, 未生成PDF").
  std::string message;
};

// Never throws; every failure is a result with ok == false and no file left
// behind (neither the PDF nor its temporary file).
BookPdfResult writeBookPdf(const BookPdfRequest& request);

// <parent of folder>/<folder name>.pdf, the name cut by fitFileName so that it
// fits in 255 bytes with ".pdf". Trailing separators of `folder` are ignored;
// "" when the folder has no name (empty, "/").
std::string bookPdfPath(const std::string& folder);

}  // namespace varnel
