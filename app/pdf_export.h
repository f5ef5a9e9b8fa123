// A downloaded book folder as one PDF beside it, for the window's "导出PDF"
// and the command line's --pdf and `pdf`. What goes in is what the folder's
// record says the book is, never what its name or stray files suggest.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/controls.h"
#include "pdf/book_pdf.h"

namespace varnel {

// Turns page bytes that are not a usable JPEG into JPEG bytes (the program
// installs one built on QImage); nullopt when it cannot.
using JpegReencoder = std::function<std::optional<std::string>(const std::string& bytes)>;
// Process-wide, set at start-up; without one such pages fail the export.
void setJpegReencoder(JpegReencoder reencoder);

// Exports `request.folder` as its record (.varnel-book.json) describes it:
// exactly the pages 1..N the site declared, /Title the record's title and
// /Subject "edition / subject". A page of 1..N that the record lacks or whose
// file is absent refuses the export ("缺少第 2, 7–9 页, 未生成PDF"), unless
// `partial`: then the pages that are there go in and the message names the
// others. Without a record (or with one that cannot be read or has no count)
// the run of pages from 1.jpg goes in under the folder's own name, and the
// message says the count could not be checked. The caller sets the folder
// and may set outputPath, progress and cancel; pages, title, subject and the
// re-encoder are set here. A note, when there is one, is the message's first
// line, the library's summary the last.
BookPdfResult exportBookPdf(BookPdfRequest request, bool partial = false);

// Menu "导出PDF": exports the selected book's folder on a background thread,
// the progress in pane 2 and the result in pane 1. Nothing without a selected
// row or while another action runs.
void onExportPdf(Controls& controls);
// Its thread routine.
void runPdfExport(Controls& controls);

}  // namespace varnel
