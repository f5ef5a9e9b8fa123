// The demo catalogue served over HTTP (cpp-httplib), for the program to run
// against on a machine that cannot reach the real site, and for end-to-end
// tests, which start it in-process on 127.0.0.1 port 0.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "tools/demo_site/demo_catalogue.h"

namespace httplib {
class Server;
}

namespace varnel::demo {

class DemoSite {
 public:
  DemoSite();
  explicit DemoSite(const DemoOptions& options);
  // Stops the server if it runs.
  ~DemoSite();
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Binds the options' host and port (port 0: a free one) and serves on a
  // thread of its own until stop(). False when the address cannot be bound or
  // the site already runs.
  bool start();
  bool start(const std::string& host, int port = 0);
  // Returns once the serving thread has ended; nothing when not started.
  void stop();

  int port() const { return port_; }
  // "http://host:port", no trailing slash; empty before start.
  std::string origin() const;
  const DemoCatalogue& catalogue() const { return catalogue_; }

  // Every path answers its first-request fault again (see demo_catalogue.h).
  void resetFaults();

  // Prints one line per request ("GET /path 200") on standard output.
  void logRequests();

  // Binds the options' host and port, calls `bound` with the port (the one
  // chosen when the options say 0), then serves on the calling thread until
  // the process ends (the executable). False when the address cannot be bound.
  bool serveForever(const std::function<void(int port)>& bound = {});
  bool serveForever(const std::string& host, int port);

 private:
  void installHandler();
  bool bind(const std::string& host, int port);
  // True the first time a path is asked for since start or resetFaults().
  bool firstRequestOf(const std::string& path);

  DemoCatalogue catalogue_;
  std::unique_ptr<httplib::Server> server_;
  int listenSocket_ = -1;  // to widen the listen backlog after binding
  std::thread thread_;
  std::string host_;
  int port_ = 0;
  std::mutex requestedMutex_;
  std::set<std::string> requested_;
};

}  // namespace varnel::demo
