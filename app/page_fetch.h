// One page image, fetched until it arrives whole or the attempts run out.
//
// A page counts only when the answer is 2xx, the body is not empty, it is not
// a text answer (Content-Type text/*, or a body starting with '<' after blanks:
// the "soft 404" error pages some servers send with 200 OK) and, for a JPEG or
// a PNG, the image's end marker is there (a connection closed early without a
// Content-Length otherwise passes as a whole image).
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

// A body that is not text and, for JPEG and PNG, ends with the image's end
// marker (trailing zero bytes allowed after a JPEG's).
bool looksLikeCompleteImage(const Bytes& body, const Text& contentType);

// Milliseconds to wait before attempt `attempt` + 1 (attempt counts from 1):
// the planned delay scaled by `jitter01` (0..1 maps to -25 %..+25 %), or the
// server's Retry-After seconds when given, up to the cap.
int retryDelayMs(int attempt, const Text& retryAfter, double jitter01);

struct PageFetch {
  Bytes image;       // empty unless accepted
  int attempts = 0;  // requests made
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
