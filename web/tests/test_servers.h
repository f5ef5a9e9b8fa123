// In-process servers on 127.0.0.1 for the web tests: nothing leaves the machine.
#pragma once

#include <httplib.h>

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace varnel::testing {

// One request exactly as it arrived on the wire.
struct CapturedRequest {
  std::string requestLine;               // "GET /x HTTP/1.1"
  std::vector<std::string> headerLines;  // in arrival order, without CR LF
  std::string body;
};

// Answers every request with a fixed response and closes the connection,
// recording the raw request: the only way to see header order and spelling.
class RawCaptureServer {
 public:
  static constexpr std::string_view kOkResponse =
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
  explicit RawCaptureServer(std::string response = std::string(kOkResponse));
  ~RawCaptureServer();
  RawCaptureServer(const RawCaptureServer&) = delete;
  RawCaptureServer& operator=(const RawCaptureServer&) = delete;

  int port() const { return port_; }
  std::string url(std::string_view path) const;
  std::vector<CapturedRequest> requests() const;
  CapturedRequest last() const;  // empty when nothing arrived

 private:
  void run();
  void serve(int fd);

  std::string response_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<CapturedRequest> requests_;
  std::thread thread_;
};

// cpp-httplib on an ephemeral port; register handlers on `server()`, then `start()`.
class LocalHttpServer {
 public:
  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  httplib::Server& server() { return server_; }
  void start();
  int port() const { return port_; }
  std::string url(std::string_view path) const;

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed again).
int closedPort();

}  // namespace varnel::testing
