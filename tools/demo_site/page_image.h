// Page images of the demo catalogue: real baseline JPEGs that look like a
// printed page, so a downloaded book can be looked at and exported.
#pragma once

#include <cstdint>
#include <string>

namespace varnel::demo {

struct PageImageRequest {
  int width = 1240;
  int height = 1754;
  std::string title;       // UTF-8, printed at the top
  int page = 1;            // printed as "第 n 页" and as large block digits
  std::uint32_t seed = 0;  // varies the layout from book to book
};

// The same request gives the same bytes within a process. Titles and "第 n 页" are
// drawn only while a QGuiApplication exists (Qt's fonts need one); the block
// digits, the text-like lines and the figure are drawn without fonts, so the
// page is a complete JPEG either way. At the default size a page is about
// 100 KB at quality 80.
std::string drawPageImage(const PageImageRequest& request);

}  // namespace varnel::demo
