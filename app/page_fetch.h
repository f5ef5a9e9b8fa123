// One page image, fetched until it arrives whole or the attempts run out.
//
// A page counts only when the answer is 2xx, not encoded (we ask for
// identity), and its bytes are a whole image of a kind we know (JPEG, PNG, GIF,
// WebP), whatever its Content-Type says: error pages sent with 200 OK ("soft
// 404"), JSON error objects and bodies cut short never become a page.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "app/site_fetch.h"
#include "text/text.h"

namespace varnel {

enum class PageVerdict {
  accepted,
  retry,   // a transport failure, 408, 425, 429, 5xx, or a refused body
  failed,  // any other answer (404 and the other 4xx): trying again cannot help
};

PageVerdict judgePageAnswer(const SiteAnswer& answer);

enum class PageImageKind {
  none,       // not an image we know (an error page, JSON, text, nothing)
  truncated,  // the start of an image we know, without its end
  jpeg,       // FF D8 FF ... FF D9 (zero bytes after the end allowed)
  png,        // the signature ... the IEND chunk
  gif,        // GIF87a/GIF89a ... the trailer byte
  webp,       // RIFF with the size of the whole file, WEBP
};
inline bool isCompleteImage(PageImageKind kind) { return kind > PageImageKind::truncated; }

// What the bytes are, whatever the server said they are.
PageImageKind recognisePageImage(std::string_view body);
// The same for a page file on disk; none when it cannot be read.
PageImageKind checkPageImageFile(const std::string& path);

// What a refused answer held, for the user (UTF-8): "收到 application/json,
// 不是图片", "收到不完整的图片", ...
std::string describeRefusedPage(const SiteAnswer& answer);

// Milliseconds to wait before attempt `attempt` + 1 (attempt counts from 1):
// the planned delay scaled by `jitter01` (0..1 maps to -25 %..+25 %), or the
// server's Retry-After seconds when given, up to the cap.
int retryDelayMs(int attempt, const Text& retryAfter, double jitter01);

struct PageFetch {
  Bytes image;       // empty unless accepted
  int attempts = 0;  // requests made
  int status = 0;    // of the last answer; 0: none received
  // Why the last 2xx answer was refused (UTF-8); empty when none was.
  std::string refusal;
  // The last answer said the page does not exist (404 or 410).
  bool absent() const { return status == 404 || status == 410; }
};

// One page request as it ended (the command line's -v prints them).
struct PageRequestEvent {
  Text url;
  int status = 0;   // 0: nothing was received
  int attempt = 0;  // from 1
  int milliseconds = 0;
};
using PageRequestListener = std::function<void(const PageRequestEvent&)>;
// Process-wide, told on the page job's thread after every request; empty: nobody.
void setPageRequestListener(PageRequestListener listener);

// Fetches `url` up to kPageAttempts times, waiting between attempts. Stops
// early (no further attempt, no wait) once `cancelled` returns true.
PageFetch fetchPageImage(const Text& url, bool verifyCertificates,
                         const std::function<bool()>& cancelled);

}  // namespace varnel
