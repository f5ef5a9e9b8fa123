#include "tools/demo_site/demo_site.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>

namespace varnel::demo {
namespace {

constexpr std::size_t kServerThreads = 32;
constexpr time_t kKeepAliveSeconds = 1;

}  // namespace

DemoSite::DemoSite() : server_(std::make_unique<httplib::Server>()) {
  // Every fetching thread of the program keeps its connection open, and each
  // open connection holds one server thread: the eight page workers and the
  // routines' own threads must all fit, or a request waits for a keep-alive
  // time-out.
  server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  installHandler();
}

DemoSite::~DemoSite() { stop(); }

void DemoSite::installHandler() {
  server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    DemoResponse answer = catalogue_.respond(request.path);
    response.status = answer.status;
    response.set_content(answer.body, answer.contentType);
  });
}

bool DemoSite::start(const std::string& host, int port) {
  if (thread_.joinable()) return false;
  if (port == 0) {
    port = server_->bind_to_any_port(host);
    if (port <= 0) return false;
  } else if (!server_->bind_to_port(host, port)) {
    return false;
  }
  host_ = host;
  port_ = port;
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

bool DemoSite::serveForever(const std::string& host, int port) {
  if (!server_->bind_to_port(host, port)) return false;
  host_ = host;
  port_ = port;
  return server_->listen_after_bind();
}

}  // namespace varnel::demo
