// A downloaded book folder as one PDF beside it, for the window's "导出PDF"
// and the command line's --pdf and `pdf`.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/controls.h"

namespace varnel {

inline constexpr std::string_view kExportPdfRunningStatus = "正在导出PDF ...";
inline constexpr std::string_view kExportPdfDoneStatus = "导出PDF完成";

// Turns page bytes that are not a usable JPEG into JPEG bytes (the program
// installs one built on QImage); nullopt when it cannot.
using JpegReencoder = std::function<std::optional<std::string>(const std::string& bytes)>;
// Process-wide, set at start-up; without one such pages fail the export.
void setJpegReencoder(JpegReencoder reencoder);

struct PdfExportResult {
  bool ok = false;
  std::string path;     // the PDF written (native); empty unless ok
  std::string message;  // UTF-8, for the user
};

// Writes <folder>.pdf beside `folder` (native path) from its pages 1.jpg ...
// `progress` (may be empty) is told done/total after each page.
PdfExportResult exportBookPdf(const std::string& folder, const std::string& titleUtf8,
                              const std::function<void(int done, int total)>& progress = {});

// Menu "导出PDF": exports the selected book's folder on a background thread,
// the progress in pane 2 and the result in pane 1. Nothing without a selected
// row or while another action runs.
void onExportPdf(Controls& controls);
// Its thread routine.
void runPdfExport(Controls& controls);

}  // namespace varnel
