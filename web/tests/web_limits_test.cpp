// The opt-in limits of webRequest (body cap, rate and total limits, certificate
// checks), the failure it reports, and link resolution.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "web/resolve_url.h"
#include "web/tests/test_servers.h"
#include "web/web_request.h"

namespace varnel {
namespace {

using testing::LocalHttpServer;
using Clock = std::chrono::steady_clock;

// Holds stalling handlers until opened. Declare it before the server and a
// ReleaseOnExit after it: the handlers are let go first, then the server
// stops and joins them, and only then does the gate itself go.
struct Release {
  std::mutex mutex;
  std::condition_variable cv;
  bool isOpen = false;
  void waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    cv.wait_for(lock, limit, [this] { return isOpen; });
  }
  void open() {
    std::lock_guard lock(mutex);
    isOpen = true;
    cv.notify_all();
  }
};
struct ReleaseOnExit {
  Release& release;
  ~ReleaseOnExit() { release.open(); }
};

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(WebRequestLimits, EachLimitFailsTheExchangeWithItsReason) {
  const std::string big(4000, 'b');  // served by the handlers: outlives the server
  Release release;
  LocalHttpServer local;
  ReleaseOnExit releaseFirst{release};
  local.server().Get("/sized", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(big, "application/octet-stream");
  });
  local.server().Get("/unsized", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream",
                                     [&](size_t offset, httplib::DataSink& sink) {
                                       if (offset >= big.size()) {
                                         sink.done();
                                         return true;
                                       }
                                       return sink.write(big.data() + offset, 1000);
                                     });
  });
  // One byte every 400 ms: never silent long enough for the stall watch.
  local.server().Get("/trickle", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(100, "application/octet-stream",
                             [&](size_t, size_t, httplib::DataSink& sink) {
                               release.waitFor(std::chrono::milliseconds(400));
                               return sink.write("t", 1);
                             });
  });
  local.start();

  struct Case {
    const char* why;
    std::string path;
    WebRequestOptions limits;
    WebFailureKind expected;
    double withinSeconds;
  };
  const Case cases[] = {
      {"announced length over the cap",
       "/sized",
       {.maxBodyBytes = 1000},
       WebFailureKind::tooLarge,
       10},
      {"chunked body growing past the cap",
       "/unsized",
       {.maxBodyBytes = 1000},
       WebFailureKind::tooLarge,
       10},
      {"cap not reached", "/sized", {.maxBodyBytes = 4000}, WebFailureKind::none, 10},
      {"a crawl below the rate limit",
       "/trickle",
       {.lowSpeedBytesPerSecond = 1000, .lowSpeedSeconds = 1},
       WebFailureKind::timedOut,
       5},
      {"a transfer past its total limit",
       "/trickle",
       {.totalTimeoutSeconds = 1},
       WebFailureKind::timedOut,
       5},
  };
  for (const Case& c : cases) {
    WebFailure failure{.kind = WebFailureKind::certificate, .host = "stale"};
    int status = -1;
    WebRequestOptions options = c.limits;
    options.failure = &failure;
    options.status = &status;
    const auto start = Clock::now();
    Bytes body = webRequest(local.url(c.path), options);
    EXPECT_LT(secondsSince(start), c.withinSeconds) << c.why;
    EXPECT_EQ(failure.kind, c.expected) << c.why;
    EXPECT_EQ(failure.host, "") << c.why;
    if (c.expected == WebFailureKind::none) {
      EXPECT_EQ(body.size(), big.size()) << c.why;
      EXPECT_EQ(status, 200) << c.why;
    } else {
      EXPECT_TRUE(body.empty()) << c.why;
      EXPECT_EQ(status, 0) << c.why;
    }
  }
}

// The caller's time-out is the silence limit, and it holds closely: a silence
// before the answer or in the middle of a body ends the exchange no sooner
// than the limit and no later than 0.3 s after it.
TEST(WebRequestLimits, SilenceEndsTheExchangeAtTheCallersTimeout) {
  Release release;
  LocalHttpServer local;
  ReleaseOnExit releaseFirst{release};
  local.server().Get("/silent", [&](const httplib::Request&, httplib::Response& res) {
    release.waitFor(std::chrono::seconds(30));
    res.set_content("late", "text/plain");
  });
  local.server().Get("/silent-mid-body", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(100, "text/plain",
                             [&](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset == 0) return sink.write("first ten.", 10);
                               release.waitFor(std::chrono::seconds(30));
                               return false;
                             });
  });
  local.start();
  constexpr double kLimitSeconds = 1.0;
  for (const char* path : {"/silent", "/silent-mid-body"}) {
    WebFailure failure;
    const auto start = Clock::now();
    Bytes body = webRequest(local.url(path), {.timeoutSeconds = 1, .failure = &failure});
    const double elapsed = secondsSince(start);
    EXPECT_TRUE(body.empty()) << path;
    EXPECT_GE(elapsed, kLimitSeconds) << path;
    EXPECT_LT(elapsed, kLimitSeconds + 0.3) << path;
    EXPECT_EQ(failure.kind, WebFailureKind::timedOut) << path;
  }
}

// Each way of not reaching a page has a reason of its own, so the program can
// say which.
TEST(WebRequestLimits, FailureKindsOfUnreachableAndMalformedAddresses) {
  LocalHttpServer local;
  local.server().Get(
      "/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
  local.server().Get(R"(/hops/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
    const int left = std::stoi(req.matches[1]);
    if (left == 0) return res.set_content("arrived", "text/plain");
    res.set_redirect("/hops/" + std::to_string(left - 1));
  });
  local.server().Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("file:///etc/hostname");
  });
  local.server().Get("/to-gopher", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("gopher://127.0.0.1/1");
  });
  local.server().Get("/to-nowhere", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("http://[::1");  // no URL at all
  });
  local.start();
  struct Case {
    const char* why;
    std::string url;
    WebFailureKind expected;
  };
  const Case cases[] = {
      {"nothing listens", "http://127.0.0.1:" + std::to_string(testing::closedPort()) + "/",
       WebFailureKind::refused},
      {"a name that never resolves", "http://no-such-host.invalid/", WebFailureKind::unknownHost},
      {"not http", "file:///etc/hostname", WebFailureKind::invalidUrl},
      {"a redirect to itself", local.url("/loop"), WebFailureKind::tooManyRedirects},
      {"eleven redirects are one too many", local.url("/hops/11"),
       WebFailureKind::tooManyRedirects},
      {"ten redirects still arrive", local.url("/hops/10"), WebFailureKind::none},
      {"a redirect to a local file", local.url("/to-file"), WebFailureKind::unsupportedRedirect},
      {"a redirect to gopher", local.url("/to-gopher"), WebFailureKind::unsupportedRedirect},
      {"a redirect to no URL", local.url("/to-nowhere"), WebFailureKind::unsupportedRedirect},
  };
  for (const Case& c : cases) {
    WebFailure failure;
    int status = -1;
    Bytes body = webRequest(c.url, {.status = &status, .failure = &failure});
    EXPECT_EQ(failure.kind, c.expected) << c.why;
    EXPECT_EQ(status, c.expected == WebFailureKind::none ? 200 : 0) << c.why;
    EXPECT_EQ(body.empty(), c.expected != WebFailureKind::none) << c.why;
  }
}

// A self-signed certificate issued for another host than the 127.0.0.1 it is
// served from, written to `directory`: a check of the host name alone fails it.
bool writeSelfSignedCertificate(const std::filesystem::path& directory) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* certificate = X509_new();
  if (!key || !certificate) return false;
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
  X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("other.example"), -1, -1, 0);
  X509_set_issuer_name(certificate, name);
  bool ok = X509_sign(certificate, key, EVP_sha256()) > 0;
  FILE* out = std::fopen((directory / "cert.pem").c_str(), "w");
  ok = ok && out && PEM_write_X509(out, certificate);
  if (out) std::fclose(out);
  out = std::fopen((directory / "key.pem").c_str(), "w");
  ok = ok && out && PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  if (out) std::fclose(out);
  X509_free(certificate);
  EVP_PKEY_free(key);
  return ok;
}

TEST(WebRequestLimits, CertificatesVerifiedOnlyWhenAsked) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("varnel-tls-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  ASSERT_TRUE(writeSelfSignedCertificate(directory));
  httplib::SSLServer server((directory / "cert.pem").c_str(), (directory / "key.pem").c_str());
  ASSERT_TRUE(server.is_valid());
  server.set_keep_alive_timeout(1);  // stop() waits for kept-alive connections
  server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("secret", "text/plain");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/";

  WebFailure failure;
  // Not verified means not verified at all: neither issuer nor host name.
  Bytes trusting = webRequest(url, {.failure = &failure});
  EXPECT_EQ(std::string(asView(trusting)), "secret");
  EXPECT_EQ(failure.kind, WebFailureKind::none);

  Bytes checked = webRequest(url, {.verifyCertificates = true, .failure = &failure});
  EXPECT_TRUE(checked.empty());
  EXPECT_EQ(failure.kind, WebFailureKind::certificate);
  EXPECT_EQ(failure.host, "127.0.0.1");

  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server.stop();
  serving.join();
  std::filesystem::remove_all(directory);
}

TEST(ResolveUrl, LinksResolveAgainstThePageTheyWereOn) {
  struct Case {
    const char* why;
    const char* base;
    const char* reference;
    const char* expected;
  };
  const Case cases[] = {
      {"root-relative, as the site mostly writes", "http://h:8/", "/list/1.html",
       "http://h:8/list/1.html"},
      {"relative to the front page", "http://h:8", "list/1.html", "http://h:8/list/1.html"},
      {"relative to a nested page", "http://h/list/a.html", "b.html", "http://h/list/b.html"},
      {"dot segments", "http://h/list/a.html", "../book/2.html", "http://h/book/2.html"},
      {"dot segments above the root stop there", "http://h/a.html", "../../x.html",
       "http://h/x.html"},
      {"absolute link to another host", "http://h/", "http://other.host/list/1.html",
       "http://other.host/list/1.html"},
      {"scheme-relative", "https://h/a", "//cdn.h/files/", "https://cdn.h/files/"},
      {"query kept", "http://h/list/a.html", "?page=2", "http://h/list/a.html?page=2"},
      {"blanks around a link", "http://h/", "  /x.html ", "http://h/x.html"},
      {"empty link is the page itself", "http://h/a.html", "", "http://h/a.html"},
      {"base that is no URL", "not a url", "/x", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(resolveUrl(c.base, c.reference), c.expected) << c.why;

  // Chinese in a link survives as percent-encoded UTF-8.
  const Text chinese = utf8BytesToText("/列表/1.html");
  EXPECT_EQ(resolveUrl("http://h/", chinese), "http://h/%e5%88%97%e8%a1%a8/1.html");
}

}  // namespace
}  // namespace varnel
