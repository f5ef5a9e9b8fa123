#include "app/page_fetch.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "app/catalogue_site.h"

namespace varnel {
namespace {

constexpr std::string_view kTextContentType = "text/";
constexpr std::string_view kBlanks = " \t\r\n\f\v";
constexpr unsigned char kJpegStart[] = {0xFF, 0xD8, 0xFF};
constexpr unsigned char kJpegEnd[] = {0xFF, 0xD9};
constexpr unsigned char kPngStart[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The IEND chunk's type and CRC: the last 8 bytes of every whole PNG.
constexpr unsigned char kPngEnd[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
// Waits in steps this short, so a cancelled download is not held up by a retry.
constexpr int kWaitStepMs = 50;

template <std::size_t N>
bool startsWith(const Bytes& body, const unsigned char (&prefix)[N]) {
  return body.size() >= N && std::equal(prefix, prefix + N, body.begin());
}

template <std::size_t N>
bool endsWith(const Bytes& body, std::size_t end, const unsigned char (&suffix)[N]) {
  return end >= N && std::equal(suffix, suffix + N, body.begin() + static_cast<long>(end - N));
}

bool isTextContentType(const Text& contentType) {
  return startsWithIgnoringAsciiCase(trimSpaces(contentType), kTextContentType);
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

bool looksLikeCompleteImage(const Bytes& body, const Text& contentType) {
  if (body.empty() || isTextContentType(contentType)) return false;
  const auto firstVisible = std::find_if(body.begin(), body.end(), [](std::uint8_t c) {
    return kBlanks.find(static_cast<char>(c)) == std::string_view::npos;
  });
  if (firstVisible == body.end() || *firstVisible == '<') return false;
  if (startsWith(body, kJpegStart)) {
    std::size_t end = body.size();
    while (end > 0 && body[end - 1] == 0) --end;
    return endsWith(body, end, kJpegEnd);
  }
  if (startsWith(body, kPngStart)) return endsWith(body, body.size(), kPngEnd);
  return true;
}

PageVerdict judgePageAnswer(const SiteAnswer& answer) {
  if (!answer.received()) {
    // A body over the cap stays over it; a certificate stays untrusted.
    const bool hopeless = answer.failure.kind == WebFailureKind::tooLarge ||
                          answer.failure.kind == WebFailureKind::certificate ||
                          answer.failure.kind == WebFailureKind::invalidUrl;
    return hopeless ? PageVerdict::failed : PageVerdict::retry;
  }
  if (answer.status >= 200 && answer.status <= 299) {
    return looksLikeCompleteImage(answer.body, responseHeader(answer.headers, "Content-Type"))
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
    SiteAnswer answer = fetchFromSite(url, true, verifyCertificates);
    ++fetch.attempts;
    reportRequest(
        {.url = url,
         .status = answer.status,
         .attempt = fetch.attempts,
         .milliseconds = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - started)
                                              .count())});
    const PageVerdict verdict = judgePageAnswer(answer);
    if (verdict == PageVerdict::accepted) {
      fetch.image = std::move(answer.body);
      break;
    }
    if (verdict == PageVerdict::failed || fetch.attempts == kPageAttempts) break;
    waitUnlessCancelled(
        retryDelayMs(fetch.attempts, responseHeader(answer.headers, "Retry-After"), randomUnit()),
        cancelled);
  }
  return fetch;
}

}  // namespace varnel
