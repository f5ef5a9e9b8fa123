// The three libcurl callbacks of one exchange and what they collect; internal
// to web/.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "text/text.h"

namespace varnel::transfer {

// What the body and header callbacks collect during one transfer.
struct Response {
  CURL* curl = nullptr;  // to read the announced length on the first chunk
  Bytes body;
  std::int64_t maxBody = 0;  // 0: no cap
  bool tooLarge = false;
  std::vector<Text> headerLines;  // of the latest response only, "Name: value"
};

// A transfer stalls when no byte moves either way for the time-out. Unlike
// libcurl's low-speed check, which averages over a window of seconds, this
// fires on the silence itself, and unlike a total limit it never cuts off a
// large image that keeps arriving.
struct StallWatch {
  std::chrono::steady_clock::duration limit{};
  std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
  curl_off_t lastDown = 0;
  curl_off_t lastUp = 0;
};

// CURLOPT_WRITEFUNCTION with a Response: appends the body, within its cap.
size_t onBody(char* data, size_t size, size_t count, void* response);
// CURLOPT_HEADERFUNCTION with a Response: keeps the latest response's header lines.
size_t onHeader(char* data, size_t size, size_t count, void* response);
// CURLOPT_XFERINFOFUNCTION with a StallWatch: aborts after a silence of its limit.
int onProgress(void* watch, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow);

}  // namespace varnel::transfer
