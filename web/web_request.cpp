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

namespace varnel {

namespace {

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
constexpr curl_off_t kMaxReservedBodyBytes = 64 << 20;
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
constexpr std::string_view kStatusLinePrefix = "HTTP/";
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

// What the callbacks collect during one transfer.
struct Response {
  CURL* curl = nullptr;  // to read the announced length on the first chunk
  Bytes body;
  std::int64_t maxBody = 0;  // 0: no cap
  bool tooLarge = false;
  std::vector<Text> headerLines;  // of the latest response only
};

std::string_view trimHttpWhitespace(std::string_view text) { return trimAsciiSet(text, " \t\r\n"); }

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

// A transfer stalls when no byte moves either way for the time-out. Unlike
// libcurl's low-speed check, which averages over a window of seconds, this
// fires on the silence itself, and unlike a total limit it never cuts off a
// large image that keeps arriving.
struct StallWatch {
  std::chrono::steady_clock::duration limit;
  std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
  curl_off_t lastDown = 0;
  curl_off_t lastUp = 0;
};

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

// Runs one exchange on `curl` (already reset). Output parameters are written
// only once the exchange is over.
Bytes exchange(CURL* curl, std::string_view url, const WebRequestOptions& options) {
  const bool mergeCookies = options.mergeCookies.value_or(true);
  const bool addDefaults = options.addDefaultHeaders.value_or(true);
  const bool normalise = options.normaliseHeaders.value_or(true);
  const int credentialTarget = options.credentialTarget.value_or(kProxyTarget);
  const int method = options.method >= 0 && options.method < static_cast<int>(kVerbs.size())
                         ? options.method
                         : kWebGet;

  const std::string target = wireUrl(url);
  curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // several threads fetch at once
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  StallWatch stallWatch = setTimeouts(curl, options.timeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stallWatch);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

  // An empty proxy means a direct connection, whatever the environment says.
  const std::string proxy = textToUtf8(options.proxy);
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
  if (!proxy.empty()) curl_easy_setopt(curl, CURLOPT_NOPROXY, "");

  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, options.noRedirect ? 0L : 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Unless asked to verify, certificate errors are ignored: untrusted issuer,
  // wrong usage, wrong name, expired.
  setTransferLimits(curl, options);

  const Text block = buildHeaderBlock(options, method, target, addDefaults, normalise);
  std::vector<RequestHeader> headers;
  HeaderList proxyHeaders;

  const bool credentials = !options.proxy.empty() && !options.proxyUser.empty();
  const Text userPassword = concatTexts(options.proxyUser, ":", options.proxyPassword);
  if (credentials && credentialTarget == kProxyTarget) {
    curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, options.proxyUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, options.proxyPassword.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    Text authorization = concatTexts(kBasicAuthPrefix, base64Encode(userPassword));
    // The proxy-only list reaches the proxy both for plain requests and for an
    // https tunnel's CONNECT, and never the origin server behind the tunnel.
    if (!proxyHeaders.append(concatTexts(kProxyAuthHeader, ": ", authorization))) return {};
  } else if (credentials && credentialTarget == kServerTarget) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, options.proxyUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, options.proxyPassword.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }

  if (options.cookies) {
    Text& jar = *options.cookies;
    if (!jar.empty() && findText(jar, kCookieMark, 0, true) != npos)
      jar = replaceAllText(jar, kCookieMark, "", true);
    headers.push_back({Text(kCookieHeader), jar});  // sent even when empty
  }
  appendBlockHeaders(block, headers);

  HeaderList requestHeaders;
  if (!fillHeaderList(headers, requestHeaders)) return {};
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, requestHeaders.list);
  curl_easy_setopt(curl, CURLOPT_PROXYHEADER, proxyHeaders.list);
  curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

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

  Response response;
  response.curl = curl;
  response.maxBody = options.maxBodyBytes;
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);

  const CURLcode result = curl_easy_perform(curl);
  const WebFailure failure = describeFailure(curl, result, response);

  Text responseHeaders;
  int status = 0;
  if (result == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    status = static_cast<int>(code);
    for (const Text& line : response.headerLines) {
      if (!responseHeaders.empty()) responseHeaders.append(kLineBreak);
      responseHeaders.append(line);
    }
  } else {
    // Cut short, timed out, refused: whatever arrived is not the response.
    response.body.clear();
  }
  // The handle keeps pointers to this call's lists and buffers until reset.
  curl_easy_reset(curl);

  if (options.responseHeaders) *options.responseHeaders = responseHeaders;
  if (options.status) *options.status = status;
  if (options.failure) *options.failure = failure;
  Text received = collectSetCookies(responseHeaders);
  if (mergeCookies && options.cookies) received = mergeCookieText(*options.cookies, received);
  if (options.receivedCookies) *options.receivedCookies = std::move(received);
  return std::move(response.body);
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
