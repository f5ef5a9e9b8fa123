#include "web/transfer_callbacks.h"

#include <string_view>

namespace varnel::transfer {
namespace {

// A larger announced length is the server's word, not yet the data.
constexpr curl_off_t kMaxReservedBodyBytes = 64 << 20;
constexpr std::string_view kStatusLinePrefix = "HTTP/";
constexpr std::size_t npos = std::string_view::npos;

std::string_view trimHttpWhitespace(std::string_view text) { return trimAsciiSet(text, " \t\r\n"); }

}  // namespace

size_t onBody(char* data, size_t size, size_t count, void* user) {
  try {
    auto& response = *static_cast<Response*>(user);
    Bytes& body = response.body;
    if (body.empty()) {
      // One allocation for a body of announced length, within reason: the
      // length is the server's word, not yet the data.
      curl_off_t announced = -1;
      curl_easy_getinfo(response.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
      if (announced > 0 && announced <= kMaxReservedBodyBytes)
        body.reserve(static_cast<std::size_t>(announced));
    }
    // A body without Content-Length escapes libcurl's own size check.
    if (response.maxBody > 0 &&
        body.size() + size * count > static_cast<std::uint64_t>(response.maxBody)) {
      response.tooLarge = true;
      return 0;
    }
    body.insert(body.end(), data, data + size * count);
    return size * count;
  } catch (...) {
    return 0;  // out of memory: libcurl ends the transfer as failed
  }
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  try {
    auto& lines = static_cast<Response*>(user)->headerLines;
    std::string_view raw(data, size * count);
    if (raw.substr(0, kStatusLinePrefix.size()) == kStatusLinePrefix) {
      lines.clear();  // a new response (redirect, 1xx, proxy tunnel) begins
      return size * count;
    }
    if (!raw.empty() && (raw.front() == ' ' || raw.front() == '\t') && !lines.empty()) {
      std::string_view continued = trimHttpWhitespace(raw);
      if (!continued.empty()) lines.back().append(" ").append(continued);
      return size * count;
    }
    std::string_view line = trimHttpWhitespace(raw);
    std::size_t colon = line.find(':');
    if (colon == npos) return size * count;  // the blank end of the head, or junk
    // One shape for every line, "Name: value", whatever spacing the server used.
    Text normalised(trimHttpWhitespace(line.substr(0, colon)));
    normalised.append(": ").append(trimHttpWhitespace(line.substr(colon + 1)));
    lines.push_back(std::move(normalised));
    return size * count;
  } catch (...) {
    return 0;
  }
}

int onProgress(void* user, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow) {
  auto& watch = *static_cast<StallWatch*>(user);
  auto now = std::chrono::steady_clock::now();
  if (downNow != watch.lastDown || upNow != watch.lastUp) {
    watch.lastDown = downNow;
    watch.lastUp = upNow;
    watch.lastMove = now;
    return 0;
  }
  return now - watch.lastMove > watch.limit ? 1 : 0;  // non-zero aborts the transfer
}

}  // namespace varnel::transfer
