#include "tools/demo_site/demo_site.h"

#include <httplib.h>
#include <sys/socket.h>  // listen, SOMAXCONN

#include <chrono>
#include <cstdio>
#include <string_view>
#include <utility>

#include "tools/demo_site/hostile_pages.h"

namespace varnel::demo {
namespace {

constexpr std::size_t kServerThreads = 32;
constexpr time_t kKeepAliveSeconds = 1;
constexpr std::size_t kKeepAliveRequests = 1000;
constexpr std::string_view kFilesPrefix = "/files/";

}  // namespace

DemoSite::DemoSite() : DemoSite(DemoOptions{}) {}

DemoSite::DemoSite(const DemoOptions& options)
    : catalogue_(options), server_(std::make_unique<httplib::Server>()) {
  // Every fetching thread of the program keeps its connection open, and each
  // open connection holds one server thread: the eight page workers and the
  // routines' own threads must all fit, or a request waits for a keep-alive
  // time-out.
  server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  // A whole book over one connection, as a web server would allow; and no
  // Nagle delay on the last segment of a page.
  server_->set_keep_alive_max_count(kKeepAliveRequests);
  server_->set_tcp_nodelay(true);
  server_->set_socket_options([this](socket_t sock) {
    httplib::default_socket_options(sock);
    listenSocket_ = static_cast<int>(sock);
  });
  installHandler();
}

DemoSite::~DemoSite() { stop(); }

void DemoSite::installHandler() {
  if (catalogue_.options().faultCases) installHostilePages(*server_);
  server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    const bool image = request.path.rfind(kFilesPrefix, 0) == 0;
    if (image && catalogue_.options().latencyMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(catalogue_.options().latencyMs));
    }
    std::string authority = request.get_header_value("Host");
    if (authority.empty()) authority = host_ + ":" + std::to_string(port_);
    DemoResponse answer =
        catalogue_.respond({.path = request.path,
                            .authority = authority,
                            .firstRequest = image && firstRequestOf(request.path)});
    response.status = answer.status;
    for (const auto& [name, value] : answer.headers) response.set_header(name, value);
    if (!answer.withoutLength) {
      response.set_content(answer.body, answer.contentType);
      return;
    }
    // No Content-Length and no chunks: the body ends where the connection does.
    response.set_content_provider(
        answer.contentType, [body = std::move(answer.body)](std::size_t, httplib::DataSink& sink) {
          sink.write(body.data(), body.size());
          sink.done();
          return true;
        });
  });
}

bool DemoSite::firstRequestOf(const std::string& path) {
  std::lock_guard lock(requestedMutex_);
  return requested_.insert(path).second;
}

void DemoSite::resetFaults() {
  std::lock_guard lock(requestedMutex_);
  requested_.clear();
}

bool DemoSite::bind(const std::string& host, int port) {
  if (port == 0) {
    port = server_->bind_to_any_port(host);
    if (port <= 0) return false;
  } else if (!server_->bind_to_port(host, port)) {
    return false;
  }
  host_ = host;
  port_ = port;
  // The library listens with a backlog of 5: eight workers connecting at once
  // would overflow it and wait a second for the kernel's retry.
  if (listenSocket_ >= 0) ::listen(listenSocket_, SOMAXCONN);
  return true;
}

bool DemoSite::start() { return start(catalogue_.options().host, catalogue_.options().port); }

bool DemoSite::start(const std::string& host, int port) {
  if (thread_.joinable() || !bind(host, port)) return false;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() is lost if the loop has not begun yet; wait until it has.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void DemoSite::stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

void DemoSite::logRequests() {
  server_->set_logger([](const httplib::Request& request, const httplib::Response& response) {
    std::printf("%s %s %d\n", request.method.c_str(), request.path.c_str(), response.status);
    std::fflush(stdout);
  });
}

std::string DemoSite::origin() const {
  if (port_ == 0) return {};
  return "http://" + host_ + ":" + std::to_string(port_);
}

bool DemoSite::serveForever(const std::function<void(int port)>& bound) {
  if (!bind(catalogue_.options().host, catalogue_.options().port)) return false;
  if (bound) bound(port_);
  return server_->listen_after_bind();
}

bool DemoSite::serveForever(const std::string& host, int port) {
  if (!bind(host, port)) return false;
  return server_->listen_after_bind();
}

}  // namespace varnel::demo
