// varnel-demo-site [--host 127.0.0.1] [--port 8080]: serves the demo catalogue
// so the program has a site to read on a machine that cannot reach the real one.
// Each request is logged on standard output.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/demo_site/demo_site.h"

namespace {

void printUsage() {
  std::fputs("usage: varnel-demo-site [--host ADDRESS] [--port PORT]\n", stderr);
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = varnel::demo::kDefaultDemoHost;
  int port = varnel::demo::kDefaultDemoPort;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if ((arg == "--port" || arg == "--host") && i + 1 < argc) {
      std::string value = argv[++i];
      if (arg == "--host") {
        host = value;
        continue;
      }
      char* end = nullptr;
      long parsed = std::strtol(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || parsed < 1 || parsed > 65535) {
        printUsage();
        return 2;
      }
      port = static_cast<int>(parsed);
    } else {
      printUsage();
      return 2;
    }
  }
  varnel::demo::DemoSite site;
  site.logRequests();
  std::printf("varnel-demo-site: serving http://%s:%d/\n", host.c_str(), port);
  std::fflush(stdout);
  if (!site.serveForever(host, port)) {
    std::fprintf(stderr, "varnel-demo-site: cannot listen on %s:%d\n", host.c_str(), port);
    return 1;
  }
  return 0;
}
