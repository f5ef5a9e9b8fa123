// Fetches the same 2,000 URLs (100 KB each) from a local server with 8 at a
// time: by 8 threads calling webRequest, by `curl --parallel --parallel-max 8`
// and by `aria2c -j 8`, with 0 ms and 10 ms of added server latency. Prints
// pages/s per tool and the ratio of ours to the faster peer.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>      // unsetenv
#include <sys/socket.h>  // listen, SOMAXCONN

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "web/web_request.h"

namespace {

constexpr int kPages = 2000;
constexpr std::size_t kPageBytes = 100 * 1024;
constexpr int kParallel = 8;
constexpr int kServerThreads = 4 * kParallel;
constexpr int kLatenciesMs[] = {0, 10};

std::atomic<int> latencyMs{0};
int serverPort = 0;

std::string pageUrl(int n) {
  return "http://127.0.0.1:" + std::to_string(serverPort) + "/p/" + std::to_string(n);
}

std::filesystem::path workDir() {
  static const std::filesystem::path dir = [] {
    auto path = std::filesystem::temp_directory_path() /
                ("web_bench_" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::create_directories(path);
    return path;
  }();
  return dir;
}

// Seconds of wall time for one run, or a negative number when it failed.
using Runner = double (*)();

double timeIt(const std::function<bool()>& run) {
  auto begin = std::chrono::steady_clock::now();
  bool ok = run();
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
  return ok ? took.count() : -1;
}

double runOurs() {
  return timeIt([] {
    std::atomic<int> next{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kParallel; ++t) {
      threads.emplace_back([&] {
        for (int n; (n = next++) < kPages;) {
          if (varnel::webRequest(pageUrl(n)).size() != kPageBytes) ++wrong;
        }
      });
    }
    for (auto& thread : threads) thread.join();
    return wrong == 0;
  });
}

double runCurl() {
  std::filesystem::path config = workDir() / "curl.cfg";
  {
    std::ofstream out(config);
    for (int n = 0; n < kPages; ++n) out << "url = \"" << pageUrl(n) << "\"\noutput = /dev/null\n";
  }
  std::string command =
      std::string(WEB_BENCH_CURL) + " --silent --fail --noproxy '*' --parallel --parallel-max " +
      std::to_string(kParallel) + " --config " + config.string() + " >/dev/null 2>&1";
  return timeIt([&] { return std::system(command.c_str()) == 0; });
}

double runAria2c() {
  std::filesystem::path list = workDir() / "aria2.txt";
  std::filesystem::path out = workDir() / "aria2-out";
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  {
    std::ofstream file(list);
    for (int n = 0; n < kPages; ++n) file << pageUrl(n) << "\n";
  }
  std::string command = std::string(WEB_BENCH_ARIA2C) + " --no-conf --quiet -j " +
                        std::to_string(kParallel) +
                        " --max-connection-per-server=1 --file-allocation=none"
                        " --allow-overwrite=true --auto-file-renaming=false -d " +
                        out.string() + " -i " + list.string();
  double seconds = timeIt([&] { return std::system(command.c_str()) == 0; });
  std::filesystem::remove_all(out);
  return seconds;
}

// Best pages/s per (tool, latency) across repetitions.
std::map<std::pair<std::string, int>, double> best;

void fetchBenchmark(benchmark::State& state, std::string tool, Runner runner) {
  const int latency = static_cast<int>(state.range(0));
  latencyMs = latency;
  double pagesPerSecond = 0;
  for (auto _ : state) {
    double seconds = runner();
    if (seconds <= 0) {
      state.SkipWithError((tool + " failed").c_str());
      return;
    }
    state.SetIterationTime(seconds);
    pagesPerSecond = kPages / seconds;
  }
  state.counters["pages/s"] = pagesPerSecond;
  double& record = best[{tool, latency}];
  if (pagesPerSecond > record) record = pagesPerSecond;
}

}  // namespace

int main(int argc, char** argv) {
  // Every fetch stays on this machine, whatever proxy the shell has set.
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(name);
  varnel::initialiseWebAccess();

  const std::string page(kPageBytes, 'p');
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server.set_keep_alive_max_count(kPages * 2);
  server.set_tcp_nodelay(true);
  server.Get(R"(/p/(\d+))", [&](const httplib::Request&, httplib::Response& res) {
    if (int ms = latencyMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    res.set_content(page, "application/octet-stream");
  });
  int listenSocket = -1;
  server.set_socket_options([&listenSocket](socket_t sock) {
    httplib::default_socket_options(sock);
    listenSocket = static_cast<int>(sock);
  });
  serverPort = server.bind_to_any_port("127.0.0.1");
  // The library listens with a backlog of 5: eight clients connecting at once
  // overflowed it, and a run then waited a second for the kernel's retry.
  if (listenSocket >= 0) ::listen(listenSocket, SOMAXCONN);
  std::thread serverThread([&] { server.listen_after_bind(); });

  const std::pair<const char*, Runner> tools[] = {
      {"webRequest", runOurs}, {"curl", runCurl}, {"aria2c", runAria2c}};
  for (int latency : kLatenciesMs) {
    for (const auto& [name, runner] : tools) {
      benchmark::RegisterBenchmark(("fetch_2000x100KB/" + std::string(name)).c_str(),
                                   fetchBenchmark, std::string(name), runner)
          ->Arg(latency)
          ->ArgName("latency_ms")
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  for (int latency : kLatenciesMs) {
    double ours = best[{"webRequest", latency}];
    double curl = best[{"curl", latency}];
    double aria = best[{"aria2c", latency}];
    double peer = curl > aria ? curl : aria;
    std::printf(
        "latency %2d ms: webRequest %7.0f pages/s | curl %7.0f | aria2c %7.0f | "
        "ours/faster peer %.2f",
        latency, ours, curl, aria, peer > 0 ? ours / peer : 0.0);
    if (latency > 0) {
      double limit = kParallel * 1000.0 / latency;
      std::printf(" | limit %.0f, ours at %.0f%%", limit, 100 * ours / limit);
    }
    std::printf("\n");
  }

  server.stop();
  serverThread.join();
  std::filesystem::remove_all(workDir());
  return 0;
}
