#include "web/tests/test_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>  // strncasecmp
#include <chrono>
#include <cstdlib>

namespace varnel::testing {

namespace {

constexpr int kPollMs = 50;
constexpr int kReadPatienceMs = 5000;  // a client that stops sending mid-request

int listenOnLoopback(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

bool readMore(int fd, std::string& buffer) {
  pollfd waiter{fd, POLLIN, 0};
  if (::poll(&waiter, 1, kReadPatienceMs) <= 0) return false;
  char chunk[4096];
  ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
  if (got <= 0) return false;
  buffer.append(chunk, static_cast<std::size_t>(got));
  return true;
}

}  // namespace

RawCaptureServer::RawCaptureServer(std::string response) : response_(std::move(response)) {
  listenFd_ = listenOnLoopback(&port_);
  if (listenFd_ >= 0) thread_ = std::thread([this] { run(); });
}

RawCaptureServer::~RawCaptureServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

std::string RawCaptureServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<CapturedRequest> RawCaptureServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

CapturedRequest RawCaptureServer::last() const {
  std::lock_guard lock(mutex_);
  return requests_.empty() ? CapturedRequest{} : requests_.back();
}

void RawCaptureServer::run() {
  while (!stopping_) {
    pollfd waiter{listenFd_, POLLIN, 0};
    if (::poll(&waiter, 1, kPollMs) <= 0) continue;
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    serve(fd);
    ::close(fd);
  }
}

void RawCaptureServer::serve(int fd) {
  std::string buffer;
  std::size_t headEnd;
  while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (!readMore(fd, buffer)) return;
  }
  CapturedRequest request;
  std::size_t contentLength = 0;
  std::size_t lineStart = 0;
  while (lineStart < headEnd) {
    std::size_t lineEnd = buffer.find("\r\n", lineStart);
    std::string line = buffer.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 2;
    if (request.requestLine.empty()) {
      request.requestLine = line;
      continue;
    }
    constexpr std::string_view kLength = "Content-Length:";
    if (strncasecmp(line.c_str(), kLength.data(), kLength.size()) == 0)
      contentLength = std::strtoul(line.c_str() + kLength.size(), nullptr, 10);
    request.headerLines.push_back(line);
  }
  std::size_t bodyStart = headEnd + 4;
  while (buffer.size() < bodyStart + contentLength) {
    if (!readMore(fd, buffer)) break;
  }
  request.body = buffer.substr(bodyStart, contentLength);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }
  std::size_t sent = 0;
  while (sent < response_.size()) {
    ssize_t n = ::send(fd, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
}

// Stopping waits for idle kept-alive connections to time out; keep that short.
constexpr time_t kKeepAliveSeconds = 1;

LocalHttpServer::LocalHttpServer() {
  server_.set_keep_alive_timeout(kKeepAliveSeconds);
  // Head and body leave in separate writes; without this, Nagle and the
  // client's delayed ACK add 40 ms to every kept-alive exchange.
  server_.set_tcp_nodelay(true);
  port_ = server_.bind_to_any_port("127.0.0.1");
}

void LocalHttpServer::start() {
  // The socket already listens, so requests queue up until the loop runs.
  thread_ = std::thread([this] { server_.listen_after_bind(); });
}

LocalHttpServer::~LocalHttpServer() {
  // stop() is lost if the loop has not begun yet; give it a moment to begin.
  for (int i = 0; i < 5000 && thread_.joinable() && !server_.is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

std::string LocalHttpServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

int closedPort() {
  int port = 0;
  int fd = listenOnLoopback(&port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace varnel::testing

// ThreadSanitizer reads this when the tests run under it. Debian's cpp-httplib
// is a prebuilt library, so its worker threads' bookkeeping is invisible to the
// sanitizer and shows up as races that are not ours.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
