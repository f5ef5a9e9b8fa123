#include "app/site_fetch.h"

#include <algorithm>
#include <mutex>

#include "app/process_state.h"  // downloadCancelFlag

namespace varnel {
namespace {

std::mutex limitsMutex;
HtmlPageLimits htmlLimits;

HtmlPageLimits currentHtmlLimits() {
  std::lock_guard lock(limitsMutex);
  return htmlLimits;
}

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Why no connection held, after the routine's "无法连接网站!".
std::string_view connectionReason(WebFailureKind kind) {
  switch (kind) {
    case WebFailureKind::refused:
      return kRefusedReason;
    case WebFailureKind::unknownHost:
      return kUnknownHostReason;
    case WebFailureKind::timedOut:
      return kTimedOutReason;
    default:
      return {};
  }
}

// Why an answer was refused, after the routine's failure prefix.
std::string_view answerReason(WebFailureKind kind) {
  switch (kind) {
    case WebFailureKind::tooLarge:
      return kPageTooLargeReason;
    case WebFailureKind::tooManyRedirects:
      return kTooManyRedirectsReason;
    case WebFailureKind::unsupportedRedirect:
      return kUnsupportedRedirectReason;
    default:
      return {};
  }
}

}  // namespace

void setHtmlPageLimits(const HtmlPageLimits& limits) {
  std::lock_guard lock(limitsMutex);
  htmlLimits = limits;
}

SiteAnswer fetchFromSite(const Text& url, bool verifyCertificates, SiteContent content) {
  SiteAnswer answer;
  WebRequestOptions options{.responseHeaders = &answer.headers,
                            .status = &answer.status,
                            .verifyCertificates = verifyCertificates,
                            .failure = &answer.failure};
  if (content == SiteContent::pageImage) {
    // A page is written as it arrives: an encoded body would be no image.
    options.headers = "Accept-Encoding: identity";
    // A cancelled download ends its transfers at once, not when they end.
    options.abort = downloadCancelFlag();
    options.maxBodyBytes = kMaxPageBytes;
    options.lowSpeedBytesPerSecond = kPageLowSpeedBytesPerSecond;
    options.lowSpeedSeconds = kPageLowSpeedSeconds;
    options.totalTimeoutSeconds = kPageTotalTimeoutSeconds;
  } else {
    const HtmlPageLimits limits = currentHtmlLimits();
    options.maxBodyBytes = limits.maxBytes;
    options.lowSpeedBytesPerSecond = limits.lowSpeedBytesPerSecond;
    options.lowSpeedSeconds = limits.lowSpeedSeconds;
    options.totalTimeoutSeconds = limits.totalSeconds;
  }
  answer.body = webRequest(url, options);
  return answer;
}

Text pageText(const Bytes& body) {
  if (std::find(body.begin(), body.end(), 0) == body.end()) return utf8BytesToText(body);
  std::string utf8;
  utf8.reserve(body.size() + 16);
  for (std::uint8_t byte : body) {
    if (byte == 0) {
      utf8.append(kReplacementCharacter);
    } else {
      utf8.push_back(static_cast<char>(byte));
    }
  }
  return utf8BytesToText(utf8);
}

Text describeSiteFailure(const SiteAnswer& answer, const SiteFailureTexts& texts) {
  if (answer.received()) return {};
  if (answer.failure.kind == WebFailureKind::certificate) {
    return statusText(concatTexts(texts.failedPrefix, kCertificateFailedPrefix,
                                  textToUtf8(answer.failure.host), kCertificateHint));
  }
  const std::string_view answered = answerReason(answer.failure.kind);
  if (!answered.empty()) return statusText(concatTexts(texts.failedPrefix, answered));
  return statusText(concatTexts(texts.unreachable, connectionReason(answer.failure.kind)));
}

}  // namespace varnel
