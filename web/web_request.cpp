#include "web/web_request.h"

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <climits>  // LONG_MAX
#include <cstdint>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "web/cookies.h"
#include "web/header_block.h"
#include "web/transfer_callbacks.h"

namespace varnel {

namespace {

using transfer::Response;
using transfer::StallWatch;

constexpr std::array<std::string_view, 8> kVerbs = {"GET",     "POST",   "HEAD",  "PUT",
                                                    "OPTIONS", "DELETE", "TRACE", "CONNECT"};

struct DefaultHeader {
  std::string_view probe;
  std::string_view line;  // the URL follows when `withUrl`
  bool withUrl = false;
  bool postOnly = false;
};
// Table order is the order the lines are appended in.
constexpr std::array<DefaultHeader, 5> kDefaultHeaders = {{
    {"Accept:", "Accept: */*"},
    {"Referer:", "Referer: ", true},
    {"Accept-Language:", "Accept-Language: zh-cn"},
    {"User-Agent:", "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded", false, true},
}};

constexpr int kDefaultTimeoutSeconds = 15;
constexpr int kKeepBuiltInTimeouts = -1;
// With -1: the limits of the HTTP component this program was first built on,
// so a dead server still cannot hold a thread for ever.
constexpr std::int64_t kBuiltInConnectTimeoutMs = 60000;
constexpr std::int64_t kBuiltInStallSeconds = 30;
constexpr long kMaxRedirects = 10;
// Larger reads than libcurl's 16 KB default: fewer callbacks per page image.
constexpr long kReceiveBufferBytes = 128 * 1024;
constexpr int kProxyTarget = 1;
constexpr int kServerTarget = 0;

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kCookieMark = "Cookie:";
constexpr std::string_view kCookieHeader = "Cookie";
constexpr std::string_view kProxyAuthHeader = "Proxy-Authorization";
constexpr std::string_view kBasicAuthPrefix = "Basic ";
constexpr std::string_view kSkippedName = "Connection";
constexpr std::string_view kSkippedValue = "keep-alive";
constexpr const char* kAllowedProtocols = "http,https";
// libcurl adds these on its own unless told not to; only Host and
// Content-Length may go out beyond what the caller's block says.
constexpr std::array<std::string_view, 2> kSuppressedUnlessSet = {"Accept", "Content-Type"};
constexpr std::string_view kSuppressExpect = "Expect:";

constexpr std::size_t npos = std::string_view::npos;

std::once_flag globalInitOnce;

struct EasyHandle {
  CURL* curl = nullptr;
  ~EasyHandle() {
    if (curl) curl_easy_cleanup(curl);
  }
};

// Each thread keeps one handle, so its connections are reused across calls.
CURL* threadHandle() {
  thread_local EasyHandle handle;
  if (!handle.curl) handle.curl = curl_easy_init();
  return handle.curl;
}

struct HeaderList {
  curl_slist* list = nullptr;
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { curl_slist_free_all(list); }
  bool append(const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (!grown) return false;
    list = grown;
    return true;
  }
};

struct RequestHeader {
  Text name;
  Text value;
};

// libcurl wants a UTF-8 URL with nothing outside printable ASCII.
std::string wireUrl(std::string_view url) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string utf8 = textToUtf8(url);
  std::string out;
  out.reserve(utf8.size());
  for (unsigned char c : utf8) {
    if (c > 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

long clampToLong(std::int64_t value) {
  return value > LONG_MAX ? LONG_MAX : static_cast<long>(value);
}

// The opt-in limits of the page jobs; each default leaves libcurl's own.
void setTransferLimits(CURL* curl, const WebRequestOptions& options) {
  if (options.maxBodyBytes > 0) {
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(options.maxBodyBytes));
  }
  if (options.lowSpeedBytesPerSecond > 0 && options.lowSpeedSeconds > 0) {
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT,
                     static_cast<long>(options.lowSpeedBytesPerSecond));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.lowSpeedSeconds));
  }
  if (options.totalTimeoutSeconds > 0) {
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(options.totalTimeoutSeconds));
  }
  const long verify = options.verifyCertificates ? 1L : 0L;
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, options.verifyCertificates ? 2L : 0L);
}

Text hostOf(const char* url) {
  Text host;
  if (!url) return host;
  CURLU* handle = curl_url();
  if (!handle) return host;
  char* part = nullptr;
  if (curl_url_set(handle, CURLUPART_URL, url, 0) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_HOST, &part, 0) == CURLUE_OK && part) {
    host = utf8BytesToText(part);
  }
  curl_free(part);
  curl_url_cleanup(handle);
  return host;
}

WebFailure describeFailure(CURL* curl, CURLcode result, const Response& response) {
  WebFailure failure;
  switch (result) {
    case CURLE_OK:
      return failure;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:  // the stall watch
      failure.kind = WebFailureKind::timedOut;
      break;
    case CURLE_FILESIZE_EXCEEDED:
      failure.kind = WebFailureKind::tooLarge;
      break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      failure.kind = WebFailureKind::certificate;
      break;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      failure.kind = WebFailureKind::invalidUrl;
      break;
    default:
      failure.kind = response.tooLarge ? WebFailureKind::tooLarge : WebFailureKind::transport;
  }
  if (failure.kind == WebFailureKind::certificate) {
    char* effective = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
    failure.host = hostOf(effective);
  }
  return failure;
}

StallWatch setTimeouts(CURL* curl, int timeoutSeconds) {
  std::int64_t connectMs = kBuiltInConnectTimeoutMs;
  std::int64_t stallSeconds = kBuiltInStallSeconds;
  if (timeoutSeconds != kKeepBuiltInTimeouts) {
    std::int64_t seconds = timeoutSeconds >= 1 ? timeoutSeconds : kDefaultTimeoutSeconds;
    connectMs = seconds * 1000;  // 64-bit: no overflow for any int
    stallSeconds = seconds;
  }
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, clampToLong(connectMs));
  return StallWatch{std::chrono::seconds(stallSeconds)};
}

Text buildHeaderBlock(const WebRequestOptions& options, int method, std::string_view url,
                      bool addDefaults, bool normalise) {
  Text block = options.headers;
  if (addDefaults) {
    for (const DefaultHeader& header : kDefaultHeaders) {
      if (header.postOnly && method != kWebPost) continue;
      if (findText(block, header.probe, 0, true) != npos) continue;
      block.append(kLineBreak).append(header.line);
      if (header.withUrl) block.append(url);
    }
  }
  return normalise ? normaliseHeaderBlock(block) : block;
}

void appendBlockHeaders(std::string_view block, std::vector<RequestHeader>& headers) {
  // A block without CR LF is one line; either way empty lines set nothing.
  std::vector<Text> lines = splitNonEmpty(block, kLineBreak);
  for (const Text& line : lines) {
    Text name = headerLineName(line);
    Text value = headerLineValue(line);
    if (name == kSkippedName && value == kSkippedValue) continue;
    headers.push_back({std::move(name), std::move(value)});
  }
}

bool containsLineBreakOrZero(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != npos;
}

// The libcurl header list, in the order the headers were set.
bool fillHeaderList(const std::vector<RequestHeader>& headers, HeaderList& list) {
  for (const RequestHeader& header : headers) {
    // No name, or a stray line break that would smuggle in another header: not sent.
    if (header.name.empty() || containsLineBreakOrZero(header.name) ||
        containsLineBreakOrZero(header.value))
      continue;
    // "Name;" is libcurl's way to send a header with an empty value.
    std::string line = header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
    if (!list.append(line)) return false;
  }
  for (std::string_view own : kSuppressedUnlessSet) {
    bool set = false;
    for (const RequestHeader& header : headers)
      set = set || equalsIgnoringAsciiCase(header.name, own);
    if (!set && !list.append(std::string(own) + ":")) return false;
  }
  return list.append(std::string(kSuppressExpect));
}

// What the handle points at during one exchange: alive until the reset.
struct Exchange {
  int method = kWebGet;
  std::string target;  // the URL as it goes out
  std::string proxy;
  StallWatch stallWatch;
  HeaderList proxyHeaders;
  HeaderList requestHeaders;
  Response response;
};

int methodOf(const WebRequestOptions& options) {
  const bool known = options.method >= 0 && options.method < static_cast<int>(kVerbs.size());
  return known ? options.method : kWebGet;
}

// Where and how to connect: URL, protocols, time-outs, proxy, redirects, limits.
void setTransport(CURL* curl, const WebRequestOptions& options, Exchange& exchange) {
  curl_easy_setopt(curl, CURLOPT_URL, exchange.target.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // several threads fetch at once
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  exchange.stallWatch = setTimeouts(curl, options.timeoutSeconds);
  // An empty proxy means a direct connection, whatever the environment says.
  exchange.proxy = textToUtf8(options.proxy);
  curl_easy_setopt(curl, CURLOPT_PROXY, exchange.proxy.c_str());
  if (!exchange.proxy.empty()) curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, options.noRedirect ? 0L : 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Unless asked to verify, certificate errors are ignored: untrusted issuer,
  // wrong usage, wrong name, expired.
  setTransferLimits(curl, options);
}

// Proxy or server credentials; false when the proxy header cannot be made.
bool setCredentials(CURL* curl, const WebRequestOptions& options, Exchange& exchange) {
  if (options.proxy.empty() || options.proxyUser.empty()) return true;
  if (options.credentialTarget.value_or(kProxyTarget) == kServerTarget) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, options.proxyUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, options.proxyPassword.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    return true;
  }
  if (options.credentialTarget.value_or(kProxyTarget) != kProxyTarget) return true;
  curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, options.proxyUser.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, options.proxyPassword.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
  const Text userPassword = concatTexts(options.proxyUser, ":", options.proxyPassword);
  const Text authorization = concatTexts(kBasicAuthPrefix, base64Encode(userPassword));
  // The proxy-only list reaches the proxy both for plain requests and for an
  // https tunnel's CONNECT, and never the origin server behind the tunnel.
  return exchange.proxyHeaders.append(concatTexts(kProxyAuthHeader, ": ", authorization));
}

// The cookie jar and the header block, in that order; false when the list
// cannot be made.
bool setRequestHeaders(CURL* curl, const WebRequestOptions& options, Exchange& exchange) {
  std::vector<RequestHeader> headers;
  if (options.cookies) {
    Text& jar = *options.cookies;
    if (!jar.empty() && findText(jar, kCookieMark, 0, true) != npos)
      jar = replaceAllText(jar, kCookieMark, "", true);
    headers.push_back({Text(kCookieHeader), jar});  // sent even when empty
  }
  appendBlockHeaders(buildHeaderBlock(options, exchange.method, exchange.target,
                                      options.addDefaultHeaders.value_or(true),
                                      options.normaliseHeaders.value_or(true)),
                     headers);
  if (!fillHeaderList(headers, exchange.requestHeaders)) return false;
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, exchange.requestHeaders.list);
  curl_easy_setopt(curl, CURLOPT_PROXYHEADER, exchange.proxyHeaders.list);
  curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  return true;
}

void setMethodAndBody(CURL* curl, const WebRequestOptions& options, int method) {
  // A text body goes out as its bytes, unconverted.
  const std::string_view body =
      options.postBytes.empty() ? std::string_view(options.postText) : asView(options.postBytes);
  if (method == kWebHead) {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (method == kWebPost || !body.empty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    if (method != kWebPost) curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, kVerbs[method].data());
  } else if (method == kWebGet) {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, kVerbs[method].data());
  }
}

void setCallbacks(CURL* curl, const WebRequestOptions& options, Exchange& exchange) {
  exchange.response.curl = curl;
  exchange.response.maxBody = options.maxBodyBytes;
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, transfer::onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange.response);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, transfer::onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange.response);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, transfer::onProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &exchange.stallWatch);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

// After the transfer: the out parameters, written only now, and the body.
Bytes collectResult(CURL* curl, CURLcode result, const WebRequestOptions& options,
                    Exchange& exchange) {
  const WebFailure failure = describeFailure(curl, result, exchange.response);
  Text responseHeaders;
  int status = 0;
  if (result == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    status = static_cast<int>(code);
    for (const Text& line : exchange.response.headerLines) {
      if (!responseHeaders.empty()) responseHeaders.append(kLineBreak);
      responseHeaders.append(line);
    }
  } else {
    // Cut short, timed out, refused: whatever arrived is not the response.
    exchange.response.body.clear();
  }
  if (options.responseHeaders) *options.responseHeaders = responseHeaders;
  if (options.status) *options.status = status;
  if (options.failure) *options.failure = failure;
  Text received = collectSetCookies(responseHeaders);
  if (options.mergeCookies.value_or(true) && options.cookies)
    received = mergeCookieText(*options.cookies, received);
  if (options.receivedCookies) *options.receivedCookies = std::move(received);
  return std::move(exchange.response.body);
}

// Runs one exchange on `curl` (already reset). Output parameters are written
// only once the exchange is over.
Bytes exchange(CURL* curl, std::string_view url, const WebRequestOptions& options) {
  Exchange state;
  state.method = methodOf(options);
  state.target = wireUrl(url);
  setTransport(curl, options, state);
  if (!setCredentials(curl, options, state)) return {};
  if (!setRequestHeaders(curl, options, state)) return {};
  setMethodAndBody(curl, options, state.method);
  setCallbacks(curl, options, state);
  const CURLcode result = curl_easy_perform(curl);
  Bytes body = collectResult(curl, result, options, state);
  // The handle keeps pointers to this exchange's lists and buffers until reset.
  curl_easy_reset(curl);
  return body;
}

}  // namespace

struct RequestObject::Impl {
  std::mutex mutex;  // one exchange at a time on one handle
  CURL* curl = nullptr;
  ~Impl() {
    if (curl) curl_easy_cleanup(curl);
  }
};

RequestObject::RequestObject() {
  initialiseWebAccess();
  auto impl = std::make_shared<Impl>();
  impl->curl = curl_easy_init();
  if (impl->curl) impl_ = std::move(impl);
}

void initialiseWebAccess() {
  std::call_once(globalInitOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Bytes webRequest(std::string_view url, const WebRequestOptions& options) {
  try {
    // Until the exchange says otherwise, nothing came back.
    if (options.failure) *options.failure = {.kind = WebFailureKind::transport};
    initialiseWebAccess();
    if (options.requestObject) {
      RequestObject::Impl* impl = options.requestObject->impl();
      if (!impl) return {};
      std::lock_guard lock(impl->mutex);
      curl_easy_reset(impl->curl);
      return exchange(impl->curl, url, options);
    }
    CURL* curl = threadHandle();
    if (!curl) return {};
    curl_easy_reset(curl);
    return exchange(curl, url, options);
  } catch (...) {
    return {};  // nothing raises out of a fetch; the empty body is the failure
  }
}

}  // namespace varnel
