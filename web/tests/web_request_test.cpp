#include "web/web_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/tests/test_servers.h"

namespace varnel {
namespace {

using testing::CapturedRequest;
using testing::LocalHttpServer;
using testing::RawCaptureServer;

const std::string kUserAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string bodyText(const Bytes& body) { return std::string(asView(body)); }

// Header lines after Host, which libcurl always sends first.
std::vector<std::string> headersAfterHost(const CapturedRequest& request) {
  std::vector<std::string> lines = request.headerLines;
  if (!lines.empty() && lines.front().rfind("Host: ", 0) == 0) lines.erase(lines.begin());
  return lines;
}

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

}  // namespace
}  // namespace varnel
