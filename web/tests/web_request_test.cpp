#include "web/web_request.h"

#include <gtest/gtest.h>
#include <stdlib.h>  // setenv, unsetenv

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "web/tests/test_servers.h"

namespace varnel {
namespace {

using testing::CapturedRequest;
using testing::LocalHttpServer;
using testing::RawCaptureServer;

const std::string kUserAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
const std::string kFormTypeLine = "Content-Type: application/x-www-form-urlencoded";
constexpr std::string_view kUrlPlaceholder = "{url}";

std::string bodyText(const Bytes& body) { return std::string(asView(body)); }

// Header lines after Host, which libcurl always sends first.
std::vector<std::string> headersAfterHost(const CapturedRequest& request) {
  std::vector<std::string> lines = request.headerLines;
  if (!lines.empty() && lines.front().rfind("Host: ", 0) == 0) lines.erase(lines.begin());
  return lines;
}

std::vector<std::string> withUrl(std::vector<std::string> lines, const std::string& url) {
  for (std::string& line : lines) {
    std::size_t at = line.find(kUrlPlaceholder);
    if (at != std::string::npos) line.replace(at, kUrlPlaceholder.size(), url);
  }
  return lines;
}

std::size_t countLinesStartingWith(const std::vector<std::string>& lines, std::string_view start) {
  return std::count_if(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

// Holds stalling handlers until the test is over, so the server can stop.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  void wait() {
    std::unique_lock lock(mutex);
    opened.wait_for(lock, std::chrono::seconds(60), [this] { return open; });
  }
  ~Gate() {
    std::lock_guard lock(mutex);
    open = true;
    opened.notify_all();
  }
};

TEST(WebRequestTraffic, DefaultCallSendsExactlyTheFourDefaultHeaders) {
  RawCaptureServer server;
  const Text url = server.url("/page?x=1");
  int status = -1;
  Text responseHeaders;
  Bytes body = webRequest(url, {.responseHeaders = &responseHeaders, .status = &status});
  EXPECT_EQ(bodyText(body), "ok");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(responseHeaders, "Content-Length: 2\r\nConnection: close");

  CapturedRequest request = server.last();
  EXPECT_EQ(request.requestLine, "GET /page?x=1 HTTP/1.1");
  ASSERT_FALSE(request.headerLines.empty());
  EXPECT_EQ(request.headerLines.front(), "Host: 127.0.0.1:" + std::to_string(server.port()));
  const std::vector<std::string> expected = {"Accept: */*", "Referer: " + url,
                                             "Accept-Language: zh-cn", kUserAgentLine};
  EXPECT_EQ(headersAfterHost(request), expected);
  EXPECT_EQ(request.body, "");
}

TEST(WebRequestTraffic, HeaderBlockRules) {
  struct Case {
    const char* why;
    WebRequestOptions options;
    std::vector<std::string> expected;  // after Host; "{url}" is the request URL
  };
  const std::vector<std::string> defaults = {"Accept: */*", "Referer: {url}",
                                             "Accept-Language: zh-cn", kUserAgentLine};
  const Case cases[] = {
      {"method 8 is GET with the defaults", {.method = 8}, defaults},
      {"method -1 is GET with the defaults", {.method = -1}, defaults},
      {"a lower-case accept line suppresses the default and is renamed",
       {.headers = "accept: text/html"},
       {"Accept: text/html", "Referer: {url}", "Accept-Language: zh-cn", kUserAgentLine}},
      {"the probe is a substring search, so X-Referer hides Referer",
       {.headers = "X-Referer: a"},
       {"X-Referer: a", "Accept: */*", "Accept-Language: zh-cn", kUserAgentLine}},
      {"no defaults and no block: nothing but Host", {.addDefaultHeaders = false}, {}},
      {"Connection: keep-alive is not sent",
       {.headers = "Connection: keep-alive\r\nX-A: 1", .addDefaultHeaders = false},
       {"X-A: 1"}},
      {"Connection: close is sent",
       {.headers = "Connection: close\r\nX-A: 1", .addDefaultHeaders = false},
       {"Connection: close", "X-A: 1"}},
      {"the keep-alive comparison is case-sensitive",
       {.headers = "Connection: Keep-Alive\r\nX-A: 1", .addDefaultHeaders = false},
       {"Connection: Keep-Alive", "X-A: 1"}},
      {"names keep their case without normalisation",
       {.headers = "x-custom: 1\r\nx-other: 2",
        .addDefaultHeaders = false,
        .normaliseHeaders = false},
       {"x-custom: 1", "x-other: 2"}},
      {"names are capitalised with normalisation",
       {.headers = "x-custom: 1\r\nx-other: 2", .addDefaultHeaders = false},
       {"X-Custom: 1", "X-Other: 2"}},
      {"a single line is trimmed around name and value",
       {.headers = " x-one :  v ", .addDefaultHeaders = false, .normaliseHeaders = false},
       {"x-one: v"}},
      {"repeated lines all go, in block order",
       {.headers = "X-A: 2\r\nX-B: 1\r\nX-A: 1", .addDefaultHeaders = false},
       {"X-A: 2", "X-B: 1", "X-A: 1"}},
      {"a line with a stray line feed is dropped, not split into two headers",
       {.headers = "X-A: 1\nX-Evil: 2\r\nX-B: 3", .addDefaultHeaders = false},
       {"X-B: 3"}},
      {"an empty value is still sent",
       {.headers = "X-Empty:", .addDefaultHeaders = false},
       {"X-Empty:"}},
      {"a line without a name sets nothing",
       {.headers = ": v\r\nX-B: 3", .addDefaultHeaders = false, .normaliseHeaders = false},
       {"X-B: 3"}},
  };
  RawCaptureServer server;
  const Text url = server.url("/h");
  for (const Case& c : cases) {
    Bytes body = webRequest(url, c.options);
    EXPECT_EQ(bodyText(body), "ok") << c.why;
    CapturedRequest request = server.last();
    EXPECT_EQ(request.requestLine, "GET /h HTTP/1.1") << c.why;
    EXPECT_EQ(headersAfterHost(request), withUrl(c.expected, url)) << c.why;
  }
}

TEST(WebRequestTraffic, EveryVerbOfTheTable) {
  const char* verbs[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  RawCaptureServer server;
  for (int method = 0; method < 8; ++method) {
    int status = 0;
    webRequest(server.url("/v"), {.method = method, .status = &status});
    EXPECT_EQ(server.last().requestLine, std::string(verbs[method]) + " /v HTTP/1.1");
    EXPECT_EQ(status, 200) << verbs[method];
  }
}

TEST(WebRequestTraffic, BodiesAndTheContentTypeRule) {
  struct Case {
    const char* why;
    WebRequestOptions options;
    std::string verb;
    std::string body;
    std::vector<std::string> contentTypes;  // every Content-Type line sent
  };
  const Case cases[] = {
      {"POST text gets the form type",
       {.method = 1, .postText = "a=1&b=2"},
       "POST",
       "a=1&b=2",
       {kFormTypeLine}},
      {"bytes win over text and go out whole, zero bytes included",
       {.method = 1, .postText = "ignored", .postBytes = {'x', 0, 'y', 0xFF}},
       "POST",
       std::string("x\0y\xFF", 4),
       {kFormTypeLine}},
      {"an empty POST is still a POST", {.method = 1}, "POST", "", {kFormTypeLine}},
      {"the caller's type replaces the default",
       {.method = 1, .postText = "{}", .headers = "content-type: application/json"},
       "POST",
       "{}",
       {"Content-Type: application/json"}},
      {"PUT gets no type of its own", {.method = 3, .postText = "data"}, "PUT", "data", {}},
      {"no defaults: not even POST gets a type",
       {.method = 1, .postText = "d", .addDefaultHeaders = false},
       "POST",
       "d",
       {}},
      {"a GET body goes out too", {.postText = "q"}, "GET", "q", {}},
  };
  RawCaptureServer server;
  for (const Case& c : cases) {
    webRequest(server.url("/b"), c.options);
    CapturedRequest request = server.last();
    EXPECT_EQ(request.requestLine, c.verb + " /b HTTP/1.1") << c.why;
    EXPECT_EQ(request.body, c.body) << c.why;
    std::vector<std::string> types;
    for (const std::string& line : request.headerLines)
      if (line.rfind("Content-Type:", 0) == 0) types.push_back(line);
    EXPECT_EQ(types, c.contentTypes) << c.why;
    EXPECT_EQ(countLinesStartingWith(request.headerLines, "Expect:"), 0u) << c.why;
    if (c.verb == "POST" || !c.body.empty()) {
      EXPECT_EQ(countLinesStartingWith(request.headerLines,
                                       "Content-Length: " + std::to_string(c.body.size())),
                1u)
          << c.why;
    }
  }
}

TEST(WebRequestTraffic, CookieParameter) {
  struct Case {
    const char* why;
    bool given;
    Text cookies;
    std::optional<bool> merge;
    std::vector<std::string> cookieLines;  // Cookie lines on the wire
    Text jarAfter;
  };
  const Case cases[] = {
      {"not given: no Cookie header", false, "", {}, {}, ""},
      {"given empty: sent empty", true, "", {}, {"Cookie:"}, ""},
      {"the Cookie: prefix is removed and the rest sent as it is",
       true,
       "Cookie: a=1",
       false,
       {"Cookie:  a=1"},
       " a=1"},
      {"merging afterwards trims the jar", true, "Cookie: a=1", {}, {"Cookie:  a=1"}, "a=1"},
      {"every prefix goes, in any case",
       true,
       "cookie: x=1; COOKIE:y=2",
       false,
       {"Cookie:  x=1; y=2"},
       " x=1; y=2"},
      {"a plain jar is sent unchanged", true, "a=1; b=2", {}, {"Cookie: a=1; b=2"}, "a=1; b=2"},
  };
  RawCaptureServer server;
  for (const Case& c : cases) {
    Text jar = c.cookies;
    Text received = "stale";
    webRequest(server.url("/c"), {.cookies = c.given ? &jar : nullptr,
                                  .receivedCookies = &received,
                                  .mergeCookies = c.merge});
    std::vector<std::string> lines;
    for (const std::string& line : server.last().headerLines)
      if (line.rfind("Cookie", 0) == 0) lines.push_back(line);
    EXPECT_EQ(lines, c.cookieLines) << c.why;
    EXPECT_EQ(jar, c.given ? c.jarAfter : c.cookies) << c.why;
    // The response set no cookie, so only a merged jar shows up here.
    EXPECT_EQ(received, c.given && c.merge.value_or(true) ? c.jarAfter : "") << c.why;
  }
}

TEST(WebRequestTraffic, ProxyAndItsCredentials) {
  struct Case {
    const char* why;
    Text user;
    Text password;
    std::optional<int> target;
    std::vector<std::string> authorization;
  };
  const Case cases[] = {
      {"credentials for the proxy", "user", "pw", {}, {"Proxy-Authorization: Basic dXNlcjpwdw=="}},
      {"an empty password still counts", "user", "", 1, {"Proxy-Authorization: Basic dXNlcjo="}},
      {"no user: no credentials", "", "pw", {}, {}},
      {"server credentials only answer a challenge", "user", "pw", 0, {}},
  };
  RawCaptureServer proxy;
  // Nothing listens here: the request can only succeed through the proxy.
  const std::string target = "http://127.0.0.1:" + std::to_string(testing::closedPort()) + "/x";
  for (const Case& c : cases) {
    Bytes body = webRequest(target, {.proxy = "127.0.0.1:" + std::to_string(proxy.port()),
                                     .proxyUser = c.user,
                                     .proxyPassword = c.password,
                                     .credentialTarget = c.target});
    EXPECT_EQ(bodyText(body), "ok") << c.why;
    CapturedRequest request = proxy.last();
    EXPECT_EQ(request.requestLine, "GET " + target + " HTTP/1.1") << c.why;
    std::vector<std::string> lines;
    for (const std::string& line : request.headerLines)
      if (line.rfind("Proxy-Authorization", 0) == 0) lines.push_back(line);
    EXPECT_EQ(lines, c.authorization) << c.why;
    EXPECT_EQ(countLinesStartingWith(request.headerLines, "Authorization"), 0u) << c.why;
  }
}

TEST(WebRequestTraffic, NoProxyMeansDirectWhateverTheEnvironmentSays) {
  RawCaptureServer server;
  const std::string deadProxy = "http://127.0.0.1:" + std::to_string(testing::closedPort());
  setenv("http_proxy", deadProxy.c_str(), 1);
  setenv("HTTP_PROXY", deadProxy.c_str(), 1);
  Bytes body = webRequest(server.url("/direct"));
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  EXPECT_EQ(bodyText(body), "ok");
  EXPECT_EQ(server.last().requestLine, "GET /direct HTTP/1.1");
}

TEST(WebRequestTraffic, NonAsciiUrlGoesOutAsPercentEncodedUtf8) {
  RawCaptureServer server;
  struct Case {
    const char* why;
    std::string path;  // code page 936
    std::string expected;
  };
  const Case cases[] = {
      {"Chinese as UTF-8, the space encoded", "/\xCA\xE9/\xD2\xB3 1", "/%E4%B9%A6/%E9%A1%B5%201"},
      {"a byte that is no character stays in the path", "/anything/x\xFFz", "/anything/x%FFz"},
      {"a lone lead byte at the end", "/a\x81", "/a%81"},
      {"code page 936's euro sign",
       "/b\x80"
       "c",
       "/b%E2%82%ACc"},
      {"a question mark of the caller's still starts the query", "/p?q=\xCA\xE9", "/p?q=%E4%B9%A6"},
  };
  for (const Case& c : cases) {
    Bytes body = webRequest(server.url(c.path));
    EXPECT_EQ(bodyText(body), "ok") << c.why;
    CapturedRequest request = server.last();
    EXPECT_EQ(request.requestLine, "GET " + c.expected + " HTTP/1.1") << c.why;
    EXPECT_EQ(countLinesStartingWith(request.headerLines, "Referer: " + server.url(c.expected)), 1u)
        << c.why;
  }
}

// Every value is a limit: 0 and anything below -1 mean the 15-second default,
// never "wait for ever", and 1 means one second. A server that says nothing
// shows which limit each value set; the three run side by side.
TEST(WebRequestTraffic, AnyTimeoutValueStillFetches) {
  RawCaptureServer server;
  for (int seconds : {-1, 0, 1, 20, INT_MAX, INT_MIN}) {
    EXPECT_EQ(bodyText(webRequest(server.url("/t"), {.timeoutSeconds = seconds})), "ok") << seconds;
  }

  LocalHttpServer silent;
  Gate gate;
  silent.server().Get("/silent", [&](const httplib::Request&, httplib::Response& res) {
    gate.wait();
    res.set_content("too late", "text/plain");
  });
  silent.start();
  struct Case {
    int seconds;
    double limit;
    double elapsed = 0;
    WebFailureKind kind = WebFailureKind::none;
  };
  Case cases[] = {{1, 1.0}, {0, 15.0}, {INT_MIN, 15.0}};
  std::vector<std::thread> threads;
  for (Case& c : cases) {
    threads.emplace_back([&c, &silent] {
      WebFailure failure;
      const auto start = std::chrono::steady_clock::now();
      webRequest(silent.url("/silent"), {.timeoutSeconds = c.seconds, .failure = &failure});
      c.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      c.kind = failure.kind;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const Case& c : cases) {
    EXPECT_EQ(c.kind, WebFailureKind::timedOut) << c.seconds;
    EXPECT_GE(c.elapsed, c.limit) << c.seconds;
    EXPECT_LT(c.elapsed, c.limit + 0.3) << c.seconds;
  }
}

TEST(WebRequestResponse, StatusHeadersAndBody) {
  LocalHttpServer local;
  local.server().Get(R"(/s/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    res.status = std::stoi(req.matches[1]);
    res.set_header("X-Answer", "42");
    res.set_content("body-" + std::string(req.matches[1]), "text/plain");
  });
  local.start();
  for (int code : {200, 201, 404, 500}) {
    int status = 0;
    Text headers;
    Bytes body = webRequest(local.url("/s/" + std::to_string(code)),
                            {.responseHeaders = &headers, .status = &status});
    EXPECT_EQ(status, code);
    EXPECT_EQ(bodyText(body), "body-" + std::to_string(code)) << "error pages have bodies too";
    std::vector<Text> lines = splitNonEmpty(headers, "\r\n");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "X-Answer: 42"), lines.end()) << headers;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Content-Type: text/plain"), lines.end());
    for (const Text& line : lines) {
      EXPECT_NE(line.find(": "), Text::npos) << "every line is Name: value: " << line;
      EXPECT_NE(line.rfind("HTTP/", 0), 0u) << "no status line: " << line;
    }
    EXPECT_EQ(headers.find("\r\n\r\n"), Text::npos);
    EXPECT_FALSE(headers.ends_with("\r\n"));
  }
}

TEST(WebRequestResponse, RedirectsFollowedOrReturned) {
  LocalHttpServer local;
  local.server().Get(
      "/from", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/to"); });
  local.server().Get("/to", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Final", "yes");
    res.set_content("arrived", "text/plain");
  });
  local.start();

  int status = 0;
  Text headers;
  Bytes body = webRequest(local.url("/from"), {.responseHeaders = &headers, .status = &status});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(bodyText(body), "arrived");
  EXPECT_NE(headers.find("X-Final: yes"), Text::npos);
  EXPECT_EQ(headers.find("Location:"), Text::npos) << "only the final response's headers";

  body = webRequest(local.url("/from"),
                    {.responseHeaders = &headers, .status = &status, .noRedirect = true});
  EXPECT_EQ(status, 302);
  EXPECT_NE(headers.find("Location: /to"), Text::npos);
  EXPECT_EQ(headers.find("X-Final"), Text::npos);
}

// A redirect changes the method as browsers and curl do: 303 makes every
// method but HEAD a GET, 301 and 302 only POST; a dropped body takes its
// Content-Type along, a kept one arrives whole.
TEST(WebRequestResponse, RedirectKeepsOrChangesTheMethodByItsStatus) {
  struct Arrival {
    std::string method;
    std::string body;
    std::string contentType;
  };
  std::mutex mutex;
  Arrival arrived;
  LocalHttpServer local;
  const std::string redirect = R"(/r/(\d+))";
  auto bounce = [](const httplib::Request& req, httplib::Response& res) {
    res.set_redirect("/to", std::stoi(req.matches[1]));
  };
  auto record = [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(mutex);
    arrived = {req.method, req.body, req.get_header_value("Content-Type")};
    res.set_content("arrived", "text/plain");
  };
  local.server().Get(redirect, bounce).Post(redirect, bounce).Put(redirect, bounce);
  local.server().Delete(redirect, bounce);
  local.server().Get("/to", record).Post("/to", record).Put("/to", record).Delete("/to", record);
  local.start();

  struct Case {
    int status;
    int method;
    const char* arrivesAs;
    bool keepsBody;
  };
  const Case cases[] = {
      {301, kWebGet, "GET", false},   {301, kWebPost, "GET", false},
      {301, kWebPut, "PUT", true},    {301, kWebDelete, "DELETE", false},
      {301, kWebHead, "HEAD", false}, {302, kWebPost, "GET", false},
      {302, kWebPut, "PUT", true},    {302, kWebDelete, "DELETE", false},
      {303, kWebGet, "GET", false},   {303, kWebPost, "GET", false},
      {303, kWebPut, "GET", false},   {303, kWebDelete, "GET", false},
      {303, kWebHead, "HEAD", false}, {307, kWebPost, "POST", true},
      {307, kWebPut, "PUT", true},    {307, kWebDelete, "DELETE", false},
      {308, kWebPost, "POST", true},  {308, kWebPut, "PUT", true},
  };
  const std::string payload = "a=1&b=2";
  for (const Case& c : cases) {
    const bool sendsBody = c.method == kWebPost || c.method == kWebPut;
    const std::string why = std::to_string(c.status) + " after " + std::string(c.arrivesAs) +
                            " (method " + std::to_string(c.method) + ")";
    {
      std::lock_guard lock(mutex);
      arrived = {};
    }
    int status = 0;
    // PUT names its type itself; POST gets the form type by default.
    Bytes body = webRequest(local.url("/r/" + std::to_string(c.status)),
                            {.method = c.method,
                             .postText = sendsBody ? payload : "",
                             .headers = c.method == kWebPut ? "Content-Type: text/plain" : "",
                             .status = &status});
    EXPECT_EQ(status, 200) << why;
    EXPECT_EQ(bodyText(body), c.method == kWebHead ? "" : "arrived") << why;
    std::lock_guard lock(mutex);
    EXPECT_EQ(arrived.method, c.arrivesAs) << why;
    EXPECT_EQ(arrived.body, c.keepsBody ? payload : "") << why;
    EXPECT_EQ(!arrived.contentType.empty(), c.keepsBody) << why << ": " << arrived.contentType;
  }
}

// Every way an exchange can fail ends the same: no body, status 0, no headers.
TEST(WebRequestResponse, FailuresGiveNothingAtAll) {
  LocalHttpServer local;
  Gate gate;
  local.server().Get("/stall-head", [&](const httplib::Request&, httplib::Response& res) {
    gate.wait();
    res.set_content("too late", "text/plain");
  });
  local.server().Get("/stall-body", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(100, "text/plain",
                             [&](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset == 0) return sink.write("first ten.", 10);
                               gate.wait();
                               return false;
                             });
  });
  local.server().Get("/short", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "text/plain",
                             [](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset >= 500) return false;  // the connection drops half-way
                               std::string half(500, 'x');
                               return sink.write(half.data(), half.size());
                             });
  });
  local.server().Get("/short-chunked", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
      if (offset > 0) return false;  // no final chunk
      return sink.write("partial", 7);
    });
  });
  local.start();

  struct Case {
    const char* why;
    std::string url;
    int timeoutSeconds;
  };
  const Case cases[] = {
      {"server never answers (stall limit)", local.url("/stall-head"), 1},
      {"server stops sending mid-body", local.url("/stall-body"), 1},
      {"body shorter than its Content-Length", local.url("/short"), 0},
      {"chunked body without its last chunk", local.url("/short-chunked"), 0},
      {"connection refused", "http://127.0.0.1:" + std::to_string(testing::closedPort()) + "/", 0},
      {"not a URL at all", "::nonsense::", 0},
      {"a scheme that is not HTTP", "file:///etc/hostname", 0},
  };
  for (const Case& c : cases) {
    int status = -1;
    Text headers = "stale";
    Text received = "stale";
    Bytes body = webRequest(c.url, {.receivedCookies = &received,
                                    .responseHeaders = &headers,
                                    .status = &status,
                                    .timeoutSeconds = c.timeoutSeconds});
    EXPECT_TRUE(body.empty()) << c.why << ": " << bodyText(body);
    EXPECT_EQ(status, 0) << c.why;
    EXPECT_EQ(headers, "") << c.why;
    EXPECT_EQ(received, "") << c.why;
  }
}

TEST(WebRequestResponse, CookieJarKeptAcrossRequests) {
  LocalHttpServer local;
  std::mutex mutex;
  std::vector<std::string> cookiesSeen;
  auto record = [&](const httplib::Request& req) {
    std::lock_guard lock(mutex);
    cookiesSeen.push_back(req.get_header_value("Cookie"));
  };
  local.server().Get("/login", [&](const httplib::Request& req, httplib::Response& res) {
    record(req);
    res.set_header("Set-Cookie", "a=1; Path=/");
    res.set_header("Set-Cookie", "b=2");
    res.set_content("in", "text/plain");
  });
  local.server().Get("/next", [&](const httplib::Request& req, httplib::Response& res) {
    record(req);
    res.set_header("Set-Cookie", "b=3; HttpOnly");
    res.set_content("next", "text/plain");
  });
  local.server().Get("/logout", [&](const httplib::Request& req, httplib::Response& res) {
    record(req);
    res.set_header("Set-Cookie", "a=deleted; Path=/");
    res.set_content("out", "text/plain");
  });
  local.start();

  Text jar;
  Text received;
  webRequest(local.url("/login"), {.cookies = &jar, .receivedCookies = &received});
  EXPECT_EQ(jar, "a=1; b=2");
  webRequest(local.url("/next"), {.cookies = &jar, .receivedCookies = &received});
  EXPECT_EQ(jar, "b=3; a=1") << "the new b first, the old a kept";
  webRequest(local.url("/logout"), {.cookies = &jar, .receivedCookies = &received});
  EXPECT_EQ(jar, "b=3") << "the server deleted a";
  EXPECT_EQ(received, jar);

  Text unmerged;
  webRequest(local.url("/next"), {.receivedCookies = &unmerged});
  EXPECT_EQ(unmerged, "b=3") << "without a jar only the response's cookies";

  std::lock_guard lock(mutex);
  const std::vector<std::string> expected = {"", "a=1; b=2", "b=3; a=1", ""};
  EXPECT_EQ(cookiesSeen, expected);
}

// Distinct client ports the server has seen: one per connection.
struct PortLog {
  std::mutex mutex;
  std::vector<int> ports;
  void add(int port) {
    std::lock_guard lock(mutex);
    ports.push_back(port);
  }
  std::size_t distinct() {
    std::lock_guard lock(mutex);
    return std::set<int>(ports.begin(), ports.end()).size();
  }
};

TEST(WebRequestConnections, KeptAliveByThreadAndByRequestObject) {
  LocalHttpServer local;
  PortLog log;
  local.server().Get("/k", [&](const httplib::Request& req, httplib::Response& res) {
    log.add(req.remote_port);
    res.set_content("k", "text/plain");
  });
  local.server().set_keep_alive_max_count(100);
  local.start();

  for (int i = 0; i < 3; ++i) EXPECT_EQ(bodyText(webRequest(local.url("/k"))), "k");
  EXPECT_EQ(log.distinct(), 1u) << "this thread's own handle reuses its connection";

  RequestObject handle;
  ASSERT_TRUE(handle);
  RequestObject copy = handle;  // copies share the handle and its connection
  EXPECT_EQ(bodyText(webRequest(local.url("/k"), {.requestObject = &handle})), "k");
  EXPECT_EQ(bodyText(webRequest(local.url("/k"), {.requestObject = &copy})), "k");
  EXPECT_EQ(log.distinct(), 2u) << "one more connection for the caller's handle";
}

TEST(WebRequestConnections, EightThreadsShareNothingAndReuseConnections) {
  constexpr int kThreads = 8;
  constexpr int kRequestsPerThread = 200;
  LocalHttpServer local;
  PortLog log;
  local.server().new_task_queue = [] { return new httplib::ThreadPool(2 * kThreads); };
  local.server().set_keep_alive_max_count(kRequestsPerThread * 2);
  local.server().Get(R"(/n/(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
    log.add(req.remote_port);
    res.set_content("page-" + std::string(req.matches[1]), "text/plain");
  });
  local.start();

  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequestsPerThread; ++i) {
        std::string n = std::to_string(t * kRequestsPerThread + i);
        int status = 0;
        Bytes body = webRequest(local.url("/n/" + n), {.status = &status});
        if (bodyText(body) != "page-" + n || status != 200) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(log.distinct(), static_cast<std::size_t>(kThreads * kRequestsPerThread / 10))
      << "connections are kept alive between requests";
}

}  // namespace
}  // namespace varnel
