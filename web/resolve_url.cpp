#include "web/resolve_url.h"

#include <curl/curl.h>

#include <memory>

namespace varnel {
namespace {

struct UrlHandleDeleter {
  void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};

}  // namespace

Text resolveUrl(std::string_view base, std::string_view reference) {
  std::unique_ptr<CURLU, UrlHandleDeleter> handle(curl_url());
  if (!handle) return {};
  // Site text may hold spaces and non-ASCII names: libcurl takes UTF-8 and
  // percent-encodes what a URL cannot carry.
  constexpr unsigned int kFlags = CURLU_URLENCODE | CURLU_ALLOW_SPACE;
  const std::string baseUtf8 = textToUtf8(base);
  if (curl_url_set(handle.get(), CURLUPART_URL, baseUtf8.c_str(), kFlags) != CURLUE_OK) return {};
  const std::string referenceUtf8 = textToUtf8(trimSpaces(reference));
  if (!referenceUtf8.empty() &&
      curl_url_set(handle.get(), CURLUPART_URL, referenceUtf8.c_str(), kFlags) != CURLUE_OK) {
    return {};
  }
  char* resolved = nullptr;
  if (curl_url_get(handle.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK || !resolved) return {};
  Text result = utf8BytesToText(resolved);
  curl_free(resolved);
  return result;
}

}  // namespace varnel
