// The demo catalogue served over HTTP (cpp-httplib), for the program to run
// against on a machine that cannot reach the real site, and for end-to-end
// tests, which start it in-process on 127.0.0.1 port 0.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "tools/demo_site/demo_catalogue.h"

namespace httplib {
class Server;
}

namespace varnel::demo {

inline constexpr int kDefaultDemoPort = 8080;
inline constexpr const char* kDefaultDemoHost = "127.0.0.1";

class DemoSite {
 public:
  DemoSite();
  // Stops the server if it runs.
  ~DemoSite();
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Binds host:port (0: a free port) and serves on a thread of its own until
  // stop(). False when the address cannot be bound or the site already runs.
  bool start(const std::string& host = kDefaultDemoHost, int port = 0);
  // Returns once the serving thread has ended; nothing when not started.
  void stop();

  int port() const { return port_; }
  // "http://host:port", no trailing slash; empty before start.
  std::string origin() const;
  const DemoCatalogue& catalogue() const { return catalogue_; }

  // Prints one line per request ("GET /path 200") on standard output.
  void logRequests();

  // Serves on the calling thread until the process ends (the executable).
  // False when the address cannot be bound.
  bool serveForever(const std::string& host, int port);

 private:
  void installHandler();

  DemoCatalogue catalogue_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::string host_;
  int port_ = 0;
};

}  // namespace varnel::demo
