// Every request the program makes to the catalogue site goes through here, so
// they all carry the same limits and report failures in one voice. Whether
// certificates are checked is the caller's decision (read once from the
// settings), never looked up here.
#pragma once

#include <cstdint>

#include "app/catalogue_site.h"
#include "text/text.h"
#include "web/web_request.h"

namespace varnel {

struct SiteAnswer {
  Bytes body;
  int status = 0;  // 0: nothing was received
  Text headers;    // "Name: value" lines, CR LF between them
  WebFailure failure;
  bool received() const { return failure.kind == WebFailureKind::none; }
};

// What is asked for decides the limits: a page of the catalogue (front, list
// or book page) or a page image.
enum class SiteContent { htmlPage, pageImage };

// The limits an HTML page is fetched with (catalogue_site.h's by default);
// tests shorten them. A 0 switches that limit off.
struct HtmlPageLimits {
  std::int64_t maxBytes = kMaxHtmlPageBytes;
  int lowSpeedBytesPerSecond = kHtmlLowSpeedBytesPerSecond;
  int lowSpeedSeconds = kHtmlLowSpeedSeconds;
  int totalSeconds = kHtmlTotalTimeoutSeconds;
};
void setHtmlPageLimits(const HtmlPageLimits& limits);

// One request with the program's options and the limits of `content`.
SiteAnswer fetchFromSite(const Text& url, bool verifyCertificates,
                         SiteContent content = SiteContent::htmlPage);

// A page body as text. A NUL byte reads as U+FFFD (which code page 936 shows
// as '?'), as an HTML parser reads it, so a stray zero never cuts the page.
Text pageText(const Bytes& body);

// The answer's failure for the status pane, in the routine's words: its
// "无法连接网站!" text, followed by the reason when the connection was
// refused, the host unknown or the time up; else its failure prefix and the
// reason (too large, certificate with the host and the setting to change,
// redirect loop or unsupported redirect). Empty when something was received.
Text describeSiteFailure(const SiteAnswer& answer, const SiteFailureTexts& texts);

}  // namespace varnel
