#include "web/web_request.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>  // LONG_MAX
#include <cstdint>
#include <mutex>
#include <optional>
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
constexpr int kMaxRedirects = 10;
// How often a running transfer is looked at: the silence limit holds to this.
constexpr int kWatchIntervalMs = 100;
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
constexpr std::string_view kContentTypeHeader = "Content-Type";
// Headers that never follow a redirect to another scheme, host or port.
constexpr std::array<std::string_view, 2> kSameOriginHeaders = {"Cookie", "Authorization"};
constexpr std::array<std::string_view, 2> kHttpSchemes = {"http", "https"};
constexpr const char* kAllowedProtocols = "http,https";
// libcurl adds these on its own unless told not to; only Host and
// Content-Length may go out beyond what the caller's block says.
constexpr std::array<std::string_view, 2> kSuppressedUnlessSet = {"Accept", "Content-Type"};
constexpr std::string_view kSuppressExpect = "Expect:";

constexpr std::size_t npos = std::string_view::npos;

std::once_flag globalInitOnce;

// An easy handle and the multi handle that drives it: the multi handle holds
// the connection and DNS caches, and lets the transfer be looked at more often
// than curl_easy_perform would (about once a second when nothing arrives).
struct Handles {
  CURL* curl = nullptr;
  CURLM* multi = nullptr;
  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() {
    if (curl) curl_easy_cleanup(curl);
    if (multi) curl_multi_cleanup(multi);
  }
  bool create() {
    if (!curl) curl = curl_easy_init();
    if (!multi) multi = curl_multi_init();
    return curl && multi;
  }
};

// Each thread keeps one pair, so its connections are reused across calls.
Handles* threadHandles() {
  thread_local Handles handles;
  return handles.create() ? &handles : nullptr;
}

struct HeaderList {
  curl_slist* list = nullptr;
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { curl_slist_free_all(list); }
  void clear() {
    curl_slist_free_all(list);
    list = nullptr;
  }
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

void appendPercentEncoded(std::string& out, std::string_view bytes) {
  constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : bytes) {
    if (c > 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

// libcurl wants a UTF-8 URL with nothing outside printable ASCII. A byte or
// pair with no character behind it goes out as itself, percent-encoded: the
// converter's '?' would cut the path into path and query.
std::string wireUrl(std::string_view url) {
  std::string out;
  out.reserve(url.size() * 3);
  for (std::size_t pos = 0; pos < url.size();) {
    const std::size_t length = std::max<std::size_t>(1, charLengthAt(url, pos));
    const std::string_view character = url.substr(pos, length);
    const std::string utf8 = textToUtf8(character);
    const bool unmapped = utf8.empty() || (utf8 == "?" && character != "?");
    appendPercentEncoded(out, unmapped ? character : std::string_view(utf8));
    pos += length;
  }
  return out;
}

// "scheme://host:port" of an absolute URL, lower case; empty when it is none.
std::string originOf(const std::string& url) {
  std::string origin;
  CURLU* handle = curl_url();
  if (!handle) return origin;
  char* scheme = nullptr;
  char* host = nullptr;
  char* port = nullptr;
  if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
    origin = asciiLower(concatTexts(scheme, "://", host, ":", port));
  }
  curl_free(scheme);
  curl_free(host);
  curl_free(port);
  curl_url_cleanup(handle);
  return origin;
}

bool isHttpUrl(const std::string& url) {
  const std::string origin = originOf(url);
  for (std::string_view scheme : kHttpSchemes) {
    if (origin.starts_with(concatTexts(scheme, "://"))) return true;
  }
  return false;
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
}

// Unless asked to verify, certificate errors are ignored: untrusted issuer,
// wrong usage, wrong name, expired.
void setCertificateChecks(CURL* curl, const WebRequestOptions& options) {
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, options.verifyCertificates ? 1L : 0L);
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
    case CURLE_COULDNT_CONNECT:
      failure.kind = WebFailureKind::refused;
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
      failure.kind = WebFailureKind::unknownHost;
      break;
    case CURLE_TOO_MANY_REDIRECTS:
      failure.kind = WebFailureKind::tooManyRedirects;
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

// What one request of an exchange sends: the first goes to the caller's URL,
// each redirect makes the next.
struct Hop {
  std::string url;
  int method = kWebGet;
  bool withBody = false;     // the caller's body goes out
  bool bodyDropped = false;  // a redirect dropped it (and its Content-Type)
  bool sameOrigin = true;    // scheme, host and port of the caller's URL
};

bool isSameOriginOnly(std::string_view name) {
  for (std::string_view header : kSameOriginHeaders)
    if (equalsIgnoringAsciiCase(name, header)) return true;
  return false;
}

void appendBlockHeaders(std::string_view block, const Hop& hop,
                        std::vector<RequestHeader>& headers) {
  // A block without CR LF is one line; either way empty lines set nothing.
  std::vector<Text> lines = splitNonEmpty(block, kLineBreak);
  for (const Text& line : lines) {
    Text name = headerLineName(line);
    Text value = headerLineValue(line);
    if (name == kSkippedName && value == kSkippedValue) continue;
    if (hop.bodyDropped && equalsIgnoringAsciiCase(name, kContentTypeHeader)) continue;
    if (!hop.sameOrigin && isSameOriginOnly(name)) continue;
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

using Clock = std::chrono::steady_clock;

// What the handle points at during one exchange: alive until the reset.
struct Exchange {
  std::string target;  // the URL as it goes out first; the Referer names it
  std::string_view body;
  std::string proxy;
  StallWatch stallWatch;
  std::optional<Clock::time_point> deadline;  // of the total limit
  HeaderList proxyHeaders;
  HeaderList requestHeaders;
  Response response;
  WebFailureKind redirectFailure = WebFailureKind::none;
  bool aborted = false;  // by the caller's flag, not by a limit
};

int methodOf(const WebRequestOptions& options) {
  const bool known = options.method >= 0 && options.method < static_cast<int>(kVerbs.size());
  return known ? options.method : kWebGet;
}

// Where and how to connect: URL, protocols, time-outs, proxy, limits.
void setTransport(CURL* curl, const WebRequestOptions& options, Exchange& exchange) {
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // several threads fetch at once
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  exchange.stallWatch = setTimeouts(curl, options.timeoutSeconds);
  // An empty proxy means a direct connection, whatever the environment says.
  exchange.proxy = textToUtf8(options.proxy);
  curl_easy_setopt(curl, CURLOPT_PROXY, exchange.proxy.c_str());
  if (!exchange.proxy.empty()) curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  // Redirects are followed here, hop by hop, so each hop's method is ours to choose.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  setTransferLimits(curl, options);
  if (options.totalTimeoutSeconds > 0)
    exchange.deadline = Clock::now() + std::chrono::seconds(options.totalTimeoutSeconds);
}

// Proxy credentials for the whole exchange; false when the header cannot be made.
bool setProxyCredentials(CURL* curl, const WebRequestOptions& options, Exchange& exchange) {
  if (options.proxy.empty() || options.proxyUser.empty()) return true;
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

// Server credentials go to the caller's own scheme, host and port only.
void setServerCredentials(CURL* curl, const WebRequestOptions& options, const Hop& hop) {
  const bool wanted = !options.proxy.empty() && !options.proxyUser.empty() &&
                      options.credentialTarget.value_or(kProxyTarget) == kServerTarget;
  if (wanted && hop.sameOrigin) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, options.proxyUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, options.proxyPassword.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  } else {
    curl_easy_setopt(curl, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, nullptr);
  }
}

// The cookie jar and the header block, in that order; false when the list
// cannot be made.
bool setRequestHeaders(CURL* curl, const WebRequestOptions& options, const Hop& hop,
                       Exchange& exchange) {
  std::vector<RequestHeader> headers;
  if (options.cookies && hop.sameOrigin) {
    Text& jar = *options.cookies;
    if (!jar.empty() && findText(jar, kCookieMark, 0, true) != npos)
      jar = replaceAllText(jar, kCookieMark, "", true);
    headers.push_back({Text(kCookieHeader), jar});  // sent even when empty
  }
  appendBlockHeaders(buildHeaderBlock(options, hop.method, exchange.target,
                                      options.addDefaultHeaders.value_or(true),
                                      options.normaliseHeaders.value_or(true)),
                     hop, headers);
  exchange.requestHeaders.clear();  // the previous hop's
  if (!fillHeaderList(headers, exchange.requestHeaders)) return false;
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, exchange.requestHeaders.list);
  curl_easy_setopt(curl, CURLOPT_PROXYHEADER, exchange.proxyHeaders.list);
  curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  return true;
}

// Every option a previous hop may have set is set again.
void setMethodAndBody(CURL* curl, const Hop& hop, std::string_view body) {
  curl_easy_setopt(curl, CURLOPT_URL, hop.url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);  // no body, and NOBODY off
  if (hop.method == kWebHead) {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (hop.withBody) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    if (hop.method != kWebPost)
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, kVerbs[hop.method].data());
  } else if (hop.method != kWebGet) {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, kVerbs[hop.method].data());
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

// The rest of the total limit for the next hop; false when nothing is left.
bool setRemainingTime(CURL* curl, const Exchange& exchange) {
  if (!exchange.deadline) return true;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(*exchange.deadline - Clock::now());
  if (left.count() <= 0) return false;
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, clampToLong(left.count()));
  return true;
}

// curl_easy_perform over our own multi handle: the progress callback (and so
// the stall watch) runs at every look, not only once a second, and the
// caller's abort flag is looked at as often.
CURLcode perform(const Handles& handles, Exchange& exchange, const std::atomic<bool>* abort) {
  if (curl_multi_add_handle(handles.multi, handles.curl) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_RECV_ERROR;  // should the transfer vanish without a word
  for (bool done = false; !done;) {
    if (abort && abort->load()) {
      exchange.aborted = true;
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    int running = 0;
    if (curl_multi_perform(handles.multi, &running) != CURLM_OK) break;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(handles.multi, &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == handles.curl) {
        result = message->data.result;
        done = true;
      }
    }
    if (done || running == 0) break;
    if (curl_multi_poll(handles.multi, nullptr, 0, kWatchIntervalMs, nullptr) != CURLM_OK) break;
  }
  curl_multi_remove_handle(handles.multi, handles.curl);
  return result;
}

// The hop a redirect answer asks for, by the rules browsers follow.
Hop nextHop(const Hop& hop, long status, std::string url, const std::string& firstOrigin) {
  Hop next = hop;
  next.url = std::move(url);
  next.sameOrigin = originOf(next.url) == firstOrigin;
  const bool toGet = (status == 303 && hop.method != kWebHead) ||
                     ((status == 301 || status == 302) && hop.method == kWebPost);
  if (toGet) {
    next.method = kWebGet;
    next.bodyDropped = next.bodyDropped || hop.withBody || hop.method == kWebPost;
    next.withBody = false;
  }
  return next;
}

// After a finished hop: the URL to go on to, if the answer is a redirect.
// A Location the next hop cannot be made from ends the exchange as failed.
std::optional<std::string> redirectTarget(CURL* curl, const Response& response,
                                          WebFailureKind& failure) {
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status < 300 || status > 399 || status == 304) return std::nullopt;
  const char* location = nullptr;
  curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
  bool announced = false;
  for (const Text& line : response.headerLines)
    announced = announced || equalsIgnoringAsciiCase(headerLineName(line), "Location");
  if (!location) {
    if (announced) failure = WebFailureKind::unsupportedRedirect;
    return std::nullopt;
  }
  std::string next(location);
  if (!isHttpUrl(next)) {
    failure = WebFailureKind::unsupportedRedirect;
    return std::nullopt;
  }
  return next;
}

// After the transfer: the out parameters, written only now, and the body.
Bytes collectResult(CURL* curl, CURLcode result, const WebRequestOptions& options,
                    Exchange& exchange) {
  WebFailure failure = describeFailure(curl, result, exchange.response);
  if (result == CURLE_OK) failure.kind = exchange.redirectFailure;
  if (exchange.aborted) failure.kind = WebFailureKind::aborted;
  Text responseHeaders;
  int status = 0;
  if (failure.kind == WebFailureKind::none) {
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

// Sends the hops of one exchange until an answer that is no redirect (or a
// failure); the result of the last transfer.
CURLcode followHops(const Handles& handles, const WebRequestOptions& options, Exchange& state) {
  CURL* curl = handles.curl;
  const std::string firstOrigin = originOf(state.target);
  const int method = methodOf(options);
  Hop hop{.url = state.target,
          .method = method,
          .withBody = method != kWebHead && (method == kWebPost || !state.body.empty())};
  for (int redirects = 0;; ++redirects) {
    setServerCredentials(curl, options, hop);
    if (!setRequestHeaders(curl, options, hop, state)) return CURLE_OUT_OF_MEMORY;
    setMethodAndBody(curl, hop, state.body);
    if (!setRemainingTime(curl, state)) return CURLE_OPERATION_TIMEDOUT;
    const CURLcode result = perform(handles, state, options.abort);
    if (result != CURLE_OK || options.noRedirect) return result;
    std::optional<std::string> next = redirectTarget(curl, state.response, state.redirectFailure);
    if (!next) return result;
    if (redirects == kMaxRedirects) {
      state.redirectFailure = WebFailureKind::tooManyRedirects;
      return result;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    hop = nextHop(hop, status, std::move(*next), firstOrigin);
    // The redirect's own body and headers are not the answer.
    state.response.body.clear();
    state.response.headerLines.clear();
    state.stallWatch.lastMove = Clock::now();
    state.stallWatch.lastDown = 0;
    state.stallWatch.lastUp = 0;
  }
}

// Runs one exchange on the handles (the easy one already reset). Output
// parameters are written only once the exchange is over.
Bytes exchange(const Handles& handles, std::string_view url, const WebRequestOptions& options) {
  CURL* curl = handles.curl;
  Exchange state;
  state.target = wireUrl(url);
  // A text body goes out as its bytes, unconverted.
  state.body =
      options.postBytes.empty() ? std::string_view(options.postText) : asView(options.postBytes);
  setTransport(curl, options, state);
  setCertificateChecks(curl, options);
  if (!setProxyCredentials(curl, options, state)) return {};
  setCallbacks(curl, options, state);
  const CURLcode result = followHops(handles, options, state);
  Bytes body = collectResult(curl, result, options, state);
  // The handle keeps pointers to this exchange's lists and buffers until reset.
  curl_easy_reset(curl);
  return body;
}

}  // namespace

struct RequestObject::Impl {
  std::mutex mutex;  // one exchange at a time on one handle
  Handles handles;
};

RequestObject::RequestObject() {
  initialiseWebAccess();
  auto impl = std::make_shared<Impl>();
  if (impl->handles.create()) impl_ = std::move(impl);
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
      RequestObject::Impl* impl = options.requestObject->impl_.get();
      if (!impl) return {};
      std::lock_guard lock(impl->mutex);
      curl_easy_reset(impl->handles.curl);
      return exchange(impl->handles, url, options);
    }
    const Handles* handles = threadHandles();
    if (!handles) return {};
    curl_easy_reset(handles->curl);
    return exchange(*handles, url, options);
  } catch (...) {
    return {};  // nothing raises out of a fetch; the empty body is the failure
  }
}

}  // namespace varnel
