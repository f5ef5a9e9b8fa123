#include "app/pdf_export.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <vector>

#include "app/book_folder.h"
#include "app/book_record.h"
#include "app/catalogue_site.h"
#include "app/user_action.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::mutex reencoderMutex;
JpegReencoder* reencoderHook() {
  static auto* hook = new JpegReencoder;  // never freed: threads may still read it
  return hook;
}

// The export and what the user should know beside its summary.
struct RecordedExport {
  BookPdfResult result;
  std::string note;  // UTF-8; empty when the record vouched for every page
};

std::string missingText(const std::vector<int>& missing) {
  return std::string(kPdfMissingPrefix) + pageRanges(missing, kPdfPageSeparator, kPdfPageDash) +
         std::string(kPdfMissingSuffix);
}

std::string pageCountText(std::size_t pages) {
  return std::to_string(pages) + std::string(kPdfPagesUnit);
}

// Pages 1..declaredPages the record does not list, or whose file is gone
// since it was written.
std::vector<int> missingPages(const BookRecord& record, const std::string& folder) {
  std::vector<int> onDisk;
  for (int n : record.pages) {
    std::error_code error;
    if (fs::exists(fs::path(folder) / (std::to_string(n) + std::string(kPageFileExtension)),
                   error)) {
      onDisk.push_back(n);
    }
  }
  return pagesMissingFrom(onDisk, record.declaredPages);
}

RecordedExport exportByRecord(BookPdfRequest request, bool partial) {
  {
    std::lock_guard lock(reencoderMutex);
    request.reencodeToJpeg = *reencoderHook();
  }
  const LoadedRecord loaded = loadBookRecord(request.folder);
  const BookRecord& record = loaded.record;
  if (loaded.state == RecordState::read) {
    request.title = record.title;
    if (!record.edition.empty() || !record.subject.empty()) {
      request.subject = record.edition + " / " + record.subject;
    }
  }
  // A count this program never writes (beyond kMaxPageCount, say by a hand
  // that edited the file) would only make a list of millions of pages.
  const bool countTooLarge = record.declaredPages > kMaxPageCount;
  if (loaded.state != RecordState::read || record.declaredPages <= 0 || countTooLarge) {
    // Nothing to check the folder against: the pages from 1 while they last.
    request.pages.clear();
    RecordedExport done{.result = writeBookPdf(request), .note = {}};
    const std::string_view why = loaded.state == RecordState::absent ? kPdfNoRecord
                                 : loaded.state == RecordState::invalid || countTooLarge
                                     ? kPdfUnreadableRecord
                                     : kPdfRecordWithoutCount;
    if (done.result.ok) {
      done.note = std::string(why) + std::string(kPdfUncheckedPrefix) +
                  pageCountText(static_cast<std::size_t>(done.result.pages));
    }
    return done;
  }

  const std::vector<int> missing = missingPages(record, request.folder);
  request.pages.clear();
  for (int n = 1; n <= record.declaredPages; ++n) {
    if (!std::binary_search(missing.begin(), missing.end(), n)) request.pages.push_back(n);
  }
  if (!missing.empty() && (!partial || request.pages.empty())) {
    BookPdfResult refused;
    refused.pages = record.declaredPages;
    refused.message = missingText(missing) + std::string(kPdfNotWritten);
    return {.result = refused, .note = {}};
  }
  RecordedExport done{.result = writeBookPdf(request), .note = {}};
  if (done.result.ok && !missing.empty()) {
    done.note =
        missingText(missing) + std::string(kPdfPartialPrefix) + pageCountText(request.pages.size());
  }
  return done;
}

}  // namespace

void setJpegReencoder(JpegReencoder reencoder) {
  std::lock_guard lock(reencoderMutex);
  *reencoderHook() = std::move(reencoder);
}

BookPdfResult exportBookPdf(BookPdfRequest request, bool partial) {
  RecordedExport done = exportByRecord(std::move(request), partial);
  if (!done.note.empty()) done.result.message = done.note + "\n" + done.result.message;
  return done.result;
}

void runPdfExport(Controls& controls) {
  if (controls.selectedRow(kBookList) < 0) return;
  controls.setPaneText(kStatusBar, kMessagePane, statusText(kExportPdfRunningStatus));
  const RecordedExport done = exportByRecord(
      {.folder = selectedBookFolder(controls),
       .progress =
           [&controls](int pages, int total) {
             controls.setPaneText(
                 kStatusBar, kProgressPane,
                 concatTexts(std::to_string(pages), kProgressSeparator, std::to_string(total)));
           }},
      false);
  controls.setPaneText(kStatusBar, kProgressPane, {});
  std::string status = done.result.ok ? std::string(kExportPdfDoneStatus) : done.result.message;
  if (!done.note.empty()) status += " (" + done.note + ")";
  controls.setPaneText(kStatusBar, kMessagePane, statusText(status));
}

void onExportPdf(Controls& controls) {
  if (controls.selectedRow(kBookList) < 0) return;
  startUserAction(controls, {}, [&controls] { runPdfExport(controls); });
}

}  // namespace varnel
