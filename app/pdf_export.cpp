#include "app/pdf_export.h"

#include <mutex>

#include "app/book_download.h"
#include "app/catalogue_site.h"
#include "app/process_state.h"
#include "app/user_action.h"
#include "pdf/book_pdf.h"

namespace varnel {
namespace {

std::mutex reencoderMutex;
JpegReencoder* reencoderHook() {
  static auto* hook = new JpegReencoder;  // never freed: threads may still read it
  return hook;
}

}  // namespace

void setJpegReencoder(JpegReencoder reencoder) {
  std::lock_guard lock(reencoderMutex);
  *reencoderHook() = std::move(reencoder);
}

PdfExportResult exportBookPdf(const std::string& folder, const std::string& titleUtf8,
                              const std::function<void(int, int)>& progress) {
  BookPdfRequest request;
  request.folder = folder;
  request.title = titleUtf8;
  {
    std::lock_guard lock(reencoderMutex);
    request.reencodeToJpeg = *reencoderHook();
  }
  request.progress = progress;
  const BookPdfResult result = writeBookPdf(request);
  return {.ok = result.ok, .path = result.path, .message = result.message};
}

void runPdfExport(Controls& controls) {
  const int row = controls.selectedRow(kBookList);
  if (row < 0) return;
  const std::string folder = selectedBookFolder(controls);
  const std::string title = textToUtf8(controls.cellText(kBookList, row, kTitleColumn));
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kExportPdfRunningStatus));
  const PdfExportResult result = exportBookPdf(folder, title, [&controls](int done, int total) {
    controls.setPaneText(
        kStatusBar, kProgressPane,
        concatTexts(std::to_string(done), kProgressSeparator, std::to_string(total)));
  });
  controls.setPaneText(kStatusBar, kProgressPane, {});
  controls.setPaneText(
      kStatusBar, kMessagePane,
      result.ok ? statusText(kExportPdfDoneStatus) : utf8BytesToText(result.message));
}

void onExportPdf(Controls& controls) {
  if (controls.selectedRow(kBookList) < 0) return;
  startUserAction(controls, {}, [&controls] { runPdfExport(controls); });
}

}  // namespace varnel
