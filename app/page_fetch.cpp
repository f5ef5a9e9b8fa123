#include "app/page_fetch.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "app/catalogue_site.h"
#include "os/files.h"
#include "web/header_block.h"

namespace varnel {
namespace {

constexpr unsigned char kJpegStart[] = {0xFF, 0xD8, 0xFF};
constexpr unsigned char kJpegEnd[] = {0xFF, 0xD9};
constexpr unsigned char kPngStart[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The IEND chunk's type and CRC: the last 8 bytes of every whole PNG.
constexpr unsigned char kPngEnd[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr unsigned char kGif87Start[] = {'G', 'I', 'F', '8', '7', 'a'};
constexpr unsigned char kGif89Start[] = {'G', 'I', 'F', '8', '9', 'a'};
constexpr unsigned char kGifTrailer = 0x3B;
constexpr unsigned char kRiffStart[] = {'R', 'I', 'F', 'F'};
constexpr unsigned char kWebpMark[] = {'W', 'E', 'B', 'P'};
constexpr std::size_t kRiffHeaderBytes = 8;  // "RIFF" and the size that follows
// Waits in steps this short, so a cancelled download is not held up by a retry.
constexpr int kWaitStepMs = 50;

template <std::size_t N>
bool startsWith(std::string_view body, const unsigned char (&prefix)[N], std::size_t at = 0) {
  return body.size() >= at + N &&
         std::equal(prefix, prefix + N, reinterpret_cast<const unsigned char*>(body.data()) + at);
}

template <std::size_t N>
bool endsWith(std::string_view body, std::size_t end, const unsigned char (&suffix)[N]) {
  return end >= N && std::equal(suffix, suffix + N,
                                reinterpret_cast<const unsigned char*>(body.data()) + end - N);
}

std::uint32_t littleEndian32(std::string_view body, std::size_t at) {
  const auto* b = reinterpret_cast<const unsigned char*>(body.data()) + at;
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// The media type without parameters, lower case: "application/json".
std::string mediaTypeOf(const Text& contentType) {
  std::string type(trimAsciiSet(contentType.substr(0, contentType.find(';')), " \t"));
  return asciiLower(type);
}

bool isRetryableStatus(int status) {
  return status == 0 || status == 408 || status == 425 || status == 429 ||
         (status >= 500 && status <= 599);
}

double randomUnit() {
  thread_local std::mt19937 generator(std::random_device{}());
  return std::uniform_real_distribution<double>(0.0, 1.0)(generator);
}

void waitUnlessCancelled(int ms, const std::function<bool()>& cancelled) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (cancelled && cancelled()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
  }
}

std::mutex listenerMutex;
PageRequestListener& requestListener() {
  static auto* listener = new PageRequestListener;  // never destroyed: page jobs may outlive exit
  return *listener;
}

void reportRequest(const PageRequestEvent& event) {
  std::lock_guard lock(listenerMutex);
  if (requestListener()) requestListener()(event);
}

}  // namespace

void setPageRequestListener(PageRequestListener listener) {
  std::lock_guard lock(listenerMutex);
  requestListener() = std::move(listener);
}

PageImageKind recognisePageImage(std::string_view body) {
  if (startsWith(body, kJpegStart)) {
    std::size_t end = body.size();
    while (end > 0 && body[end - 1] == 0) --end;  // some servers pad a JPEG with zeros
    return endsWith(body, end, kJpegEnd) ? PageImageKind::jpeg : PageImageKind::truncated;
  }
  if (startsWith(body, kPngStart)) {
    return endsWith(body, body.size(), kPngEnd) ? PageImageKind::png : PageImageKind::truncated;
  }
  if (startsWith(body, kGif87Start) || startsWith(body, kGif89Start)) {
    return static_cast<unsigned char>(body.back()) == kGifTrailer ? PageImageKind::gif
                                                                  : PageImageKind::truncated;
  }
  if (startsWith(body, kRiffStart) && startsWith(body, kWebpMark, kRiffHeaderBytes)) {
    return littleEndian32(body, 4) + kRiffHeaderBytes == body.size() ? PageImageKind::webp
                                                                     : PageImageKind::truncated;
  }
  return PageImageKind::none;
}

PageImageKind checkPageImageFile(const std::string& path) {
  std::string content;
  if (readRegularFile(path, content) != ReadState::read) return PageImageKind::none;
  return recognisePageImage(content);
}

namespace {

// The Content-Encoding of a body encoded although we asked for identity;
// empty when the body is as sent.
Text unaskedEncoding(const SiteAnswer& answer) {
  Text encoding = headerValue(answer.headers, "Content-Encoding");
  return equalsIgnoringAsciiCase(encoding, "identity") ? Text() : encoding;
}

}  // namespace

std::string describeRefusedPage(const SiteAnswer& answer) {
  if (const Text encoding = unaskedEncoding(answer); !encoding.empty()) {
    return "收到 " + textToUtf8(encoding) + " 压缩的内容, 不是图片";
  }
  if (answer.body.empty()) return "收到空内容, 不是图片";
  if (recognisePageImage(asView(answer.body)) == PageImageKind::truncated) {
    return "收到不完整的图片";
  }
  const std::string type = mediaTypeOf(headerValue(answer.headers, "Content-Type"));
  if (type.empty()) return "收到无类型的内容, 不是图片";
  return "收到 " + textToUtf8(type) + ", 不是图片";
}

PageVerdict judgePageAnswer(const SiteAnswer& answer) {
  if (!answer.received()) {
    // A body over the cap stays over it; a certificate stays untrusted.
    const bool hopeless = answer.failure.kind == WebFailureKind::tooLarge ||
                          answer.failure.kind == WebFailureKind::certificate ||
                          answer.failure.kind == WebFailureKind::invalidUrl ||
                          answer.failure.kind == WebFailureKind::tooManyRedirects ||
                          answer.failure.kind == WebFailureKind::unsupportedRedirect ||
                          answer.failure.kind == WebFailureKind::aborted;
    return hopeless ? PageVerdict::failed : PageVerdict::retry;
  }
  if (answer.status >= 200 && answer.status <= 299) {
    // A body we did not ask to be encoded cannot be written as the page.
    return unaskedEncoding(answer).empty() &&
                   isCompleteImage(recognisePageImage(asView(answer.body)))
               ? PageVerdict::accepted
               : PageVerdict::retry;
  }
  return isRetryableStatus(answer.status) ? PageVerdict::retry : PageVerdict::failed;
}

int retryDelayMs(int attempt, const Text& retryAfter, double jitter01) {
  const Text seconds = trimSpaces(retryAfter);
  int value = 0;
  const auto [end, error] = std::from_chars(seconds.data(), seconds.data() + seconds.size(), value);
  if (!seconds.empty() && error == std::errc() && end == seconds.data() + seconds.size() &&
      value >= 0) {
    return std::min(value, kMaxRetryAfterSeconds) * 1000;
  }
  constexpr int kPlanned = static_cast<int>(std::size(kRetryDelaysMs));
  const int planned = kRetryDelaysMs[std::clamp(attempt - 1, 0, kPlanned - 1)];
  const double scale = 1.0 + kRetryJitter * (2.0 * std::clamp(jitter01, 0.0, 1.0) - 1.0);
  return static_cast<int>(planned * scale);
}

PageFetch fetchPageImage(const Text& url, bool verifyCertificates,
                         const std::function<bool()>& cancelled) {
  PageFetch fetch;
  while (fetch.attempts < kPageAttempts) {
    if (cancelled && cancelled()) break;
    const auto started = std::chrono::steady_clock::now();
    SiteAnswer answer = fetchFromSite(url, verifyCertificates, SiteContent::pageImage);
    ++fetch.attempts;
    fetch.status = answer.status;
    reportRequest(
        {.url = url,
         .status = answer.status,
         .attempt = fetch.attempts,
         .milliseconds = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - started)
                                              .count())});
    const PageVerdict verdict = judgePageAnswer(answer);
    if (verdict != PageVerdict::accepted && answer.status >= 200 && answer.status <= 299) {
      fetch.refusal = describeRefusedPage(answer);
    }
    if (verdict == PageVerdict::accepted) {
      fetch.image = std::move(answer.body);
      break;
    }
    if (verdict == PageVerdict::failed || fetch.attempts == kPageAttempts) break;
    waitUnlessCancelled(
        retryDelayMs(fetch.attempts, headerValue(answer.headers, "Retry-After"), randomUnit()),
        cancelled);
  }
  return fetch;
}

}  // namespace varnel
