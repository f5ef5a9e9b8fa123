// One synchronous HTTP exchange over libcurl, with the program's default
// headers, time-outs, proxy, credentials and cookie jar handling.
//
// The whole program fetches with `webRequest(url)`: a "GET" with the four
// default headers, 15-second time-outs, certificate errors ignored, redirects
// followed, no cookies and no proxy. Callers that need more (the page jobs)
// opt in to certificate checks, a body cap and transfer-rate limits.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "text/text.h"

namespace varnel {

// Call once at start-up, before any thread can fetch. Safe to call again and
// from several threads; `webRequest` calls it itself if the program did not.
void initialiseWebAccess();

// A connection handle the caller keeps between requests (a libcurl easy handle:
// connections stay open, DNS answers are cached). Copies share the handle.
// One call at a time uses it; concurrent calls on one handle wait for each other.
// An empty handle (creation failed) makes `webRequest` return empty at once.
struct WebRequestOptions;

class RequestObject {
 public:
  RequestObject();  // creates the handle; check with `operator bool`
  explicit operator bool() const { return static_cast<bool>(impl_); }

 private:
  struct Impl;  // the handle itself, known only to the web library
  std::shared_ptr<Impl> impl_;
  friend Bytes webRequest(std::string_view url, const WebRequestOptions& options);
};

// Verb indices for `WebRequestOptions::method`; values outside 0..7 mean "GET".
enum WebMethod : int {
  kWebGet = 0,
  kWebPost = 1,
  kWebHead = 2,
  kWebPut = 3,
  kWebOptions = 4,
  kWebDelete = 5,
  kWebTrace = 6,
  kWebConnect = 7,
};

// Why an exchange gave nothing. `host` names the server for certificate failures.
enum class WebFailureKind {
  none,
  transport,            // reset, cut short, protocol error, anything not named below
  refused,              // nothing accepted the connection
  unknownHost,          // the host name did not resolve
  timedOut,             // the connect time-out, the silence limit, the rate or total limit
  tooLarge,             // the body passed `maxBodyBytes`
  certificate,          // the server's certificate did not verify
  tooManyRedirects,     // more than ten redirects in a row (a loop, most likely)
  unsupportedRedirect,  // a redirect to something other than an http(s) URL
  invalidUrl,           // the URL asked for is not an http(s) URL
  aborted,              // the caller's `abort` flag was raised
};
struct WebFailure {
  WebFailureKind kind = WebFailureKind::none;
  Text host{};
};

// Everything after the URL; every field is optional. Pointers are the out and
// in/out parameters: null means "not given" (for `cookies` that matters: no
// "Cookie" header is sent and no jar is merged). The four `std::optional`s
// distinguish "omitted" from any given value. Every field has an initialiser
// so designated initialisers build cleanly under -Wextra.
struct WebRequestOptions {
  int method = kWebGet;
  Text postText{};  // body, sent when `postBytes` is empty
  // In/out cookie jar: "Cookie:" prefixes are removed from it, it is sent as
  // the "Cookie" header (also when empty) and afterwards holds the merged jar.
  Text* cookies = nullptr;
  Text* receivedCookies = nullptr;  // out: the cookies the response set
  // Extra request header lines, CR LF between them; a line holding a lone CR,
  // LF or NUL is not sent (it could smuggle in a header of its own).
  Text headers{};
  Text* responseHeaders = nullptr;  // out: final response's headers, "Name: value" lines, CR LF
  int* status = nullptr;            // out: HTTP status, 0 when nothing was received
  bool noRedirect = false;          // true: a redirect response is returned as it is
  Bytes postBytes{};                // body; wins over `postText` when not empty
  Text proxy{};                     // "host:port" or a proxy URL; empty: direct connection
  // Seconds; 0 (or below -1) means 15. -1 keeps the built-in limits (60 s to
  // connect, 30 s of silence). Never "no limit".
  // The limit applies to connecting and to any stretch with no data moving, not
  // to the whole transfer, so a large download that keeps arriving is never cut.
  // A silence ends the exchange within about a tenth of a second of the limit.
  int timeoutSeconds = 0;
  Text proxyUser{};  // credentials, used only when `proxy` and `proxyUser` are set
  Text proxyPassword{};
  std::optional<int> credentialTarget{};  // 1 (default): for the proxy; 0: for the server
  // A caller-kept handle; null: this thread's own handle, reused between calls.
  RequestObject* requestObject = nullptr;
  std::optional<bool> mergeCookies{};       // default true: merge `cookies` into the result
  std::optional<bool> addDefaultHeaders{};  // default true: add the defaults the block lacks
  std::optional<bool> normaliseHeaders{};   // default true: capitalise header names

  // --- opt-in limits; the defaults change nothing -------------------------------
  // true: the server's certificate and host name are checked against the system's
  // CA store; a failed check is a failure like any other (see `failure`).
  bool verifyCertificates = false;
  // A body larger than this many bytes fails the exchange; 0: no cap.
  std::int64_t maxBodyBytes = 0;
  // Fails a transfer that moves fewer than `lowSpeedBytesPerSecond` bytes per second
  // for `lowSpeedSeconds` seconds; either 0: no such check.
  int lowSpeedBytesPerSecond = 0;
  int lowSpeedSeconds = 0;
  // Fails an exchange still running after this many seconds, redirects
  // included; 0: no total limit.
  int totalTimeoutSeconds = 0;
  // out: why the exchange failed (kind none when it did not).
  WebFailure* failure = nullptr;
  // Looked at about every 100 ms while the exchange runs; once true it ends at
  // once with failure kind `aborted` and no body. Null: never.
  const std::atomic<bool>* abort = nullptr;
};

// Performs the exchange and returns the response body (for any status,
// 404 included). `url` is code page 936 text; it goes out as UTF-8 with every
// byte outside printable ASCII percent-encoded (a byte with no character
// behind it as itself, "%FF"). Only http and https are fetched.
// Redirects (at most ten) change the method as browsers do: 303 turns every
// method but HEAD into a GET without body, 301 and 302 turn only POST into
// one; otherwise method and body go on unchanged. A dropped body takes its
// Content-Type with it; cookies and credentials never follow to another host.
// Never throws. Any failure (no connection, time-out, TLS error, a transfer
// cut short) gives the empty body, status 0 and empty response headers; a
// partial body is never returned.
Bytes webRequest(std::string_view url, const WebRequestOptions& options = {});

}  // namespace varnel
