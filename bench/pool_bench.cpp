// Job throughput (empty jobs and 10 us jobs on 2, 4 and 8 workers) and
// submit-to-run latency of an idle pool: WorkerPool against tbb::task_group in
// a task_arena of the same size and against one std::thread per job. The
// summary at the end puts each peer beside ours; the ratio is ours / peer for
// throughput (above 1: ours is faster) and peer / ours for latency (above 1:
// ours reacts sooner).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "pool/worker_pool.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kEmptyBatch = 20000;
constexpr int kWorkBatch = 2000;
constexpr int kThreadPerJobBatch = 500;  // creating threads is slow; keep the batch small
constexpr auto kJobWork = std::chrono::microseconds(10);
constexpr int kLatencySamples = 2000;

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

void spinFor(std::chrono::nanoseconds work) {
  const auto end = Clock::now() + work;
  while (Clock::now() < end) {
  }
}

// Counts a batch down; the thread that finishes it last wakes the submitter.
class Batch {
 public:
  explicit Batch(int jobs) : remaining_(jobs) {}
  void finishOne() {
    if (remaining_.fetch_sub(1) != 1) return;
    std::lock_guard lock(mutex_);
    done_ = true;
    finished_.notify_one();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return done_; });
  }

 private:
  std::atomic<int> remaining_;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
};

void emptyJob(std::intptr_t batch, std::intptr_t) { reinterpret_cast<Batch*>(batch)->finishOne(); }
void workJob(std::intptr_t batch, std::intptr_t) {
  spinFor(kJobWork);
  reinterpret_cast<Batch*>(batch)->finishOne();
}

int batchSize(bool work) { return work ? kWorkBatch : kEmptyBatch; }

void ours_Throughput(benchmark::State& state, bool work) {
  const int workers = static_cast<int>(state.range(0));
  const int jobs = batchSize(work);
  varnel::WorkerPool pool;
  pool.start(workers, workers);
  for (auto _ : state) {
    Batch batch(jobs);
    for (int i = 0; i < jobs; ++i) {
      pool.submit(work ? workJob : emptyJob, reinterpret_cast<std::intptr_t>(&batch), 0);
    }
    batch.wait();
  }
  pool.stop();
  state.SetItemsProcessed(state.iterations() * jobs);
}

void tbb_Throughput(benchmark::State& state, bool work) {
  const int workers = static_cast<int>(state.range(0));
  const int jobs = batchSize(work);
  tbb::task_arena arena(workers);
  for (auto _ : state) {
    arena.execute([&] {
      tbb::task_group group;
      for (int i = 0; i < jobs; ++i) {
        group.run([work] {
          if (work) spinFor(kJobWork);
        });
      }
      group.wait();
    });
  }
  state.SetItemsProcessed(state.iterations() * jobs);
}

void threadPerJob_Throughput(benchmark::State& state, bool work) {
  for (auto _ : state) {
    std::vector<std::thread> threads;
    threads.reserve(kThreadPerJobBatch);
    for (int i = 0; i < kThreadPerJobBatch; ++i) {
      threads.emplace_back([work] {
        if (work) spinFor(kJobWork);
      });
    }
    for (auto& thread : threads) thread.join();
  }
  state.SetItemsProcessed(state.iterations() * kThreadPerJobBatch);
}

// --- latency: one job at a time on an idle pool --------------------------------

struct LatencySample {
  std::int64_t submittedNs = 0;
  std::atomic<std::int64_t> ranNs{0};
};

void reportLatency(benchmark::State& state, std::vector<double>& samplesUs) {
  std::sort(samplesUs.begin(), samplesUs.end());
  if (samplesUs.empty()) return;
  state.counters["median_us"] = samplesUs[samplesUs.size() / 2];
  state.counters["p99_us"] = samplesUs[samplesUs.size() * 99 / 100];
}

void waitRan(const LatencySample& sample) {
  while (sample.ranNs.load(std::memory_order_acquire) == 0) std::this_thread::yield();
}

void ours_Latency(benchmark::State& state) {
  varnel::WorkerPool pool;
  pool.start(static_cast<int>(state.range(0)));
  std::vector<double> samplesUs;
  for (auto _ : state) {
    for (int i = 0; i < kLatencySamples; ++i) {
      LatencySample sample;
      sample.submittedNs = nowNs();
      pool.submit(
          [](std::intptr_t s, std::intptr_t) {
            reinterpret_cast<LatencySample*>(s)->ranNs.store(nowNs(), std::memory_order_release);
          },
          reinterpret_cast<std::intptr_t>(&sample), 0);
      waitRan(sample);
      samplesUs.push_back((sample.ranNs - sample.submittedNs) / 1000.0);
    }
  }
  pool.stop();
  reportLatency(state, samplesUs);
}

void tbb_Latency(benchmark::State& state) {
  tbb::task_arena arena(static_cast<int>(state.range(0)));
  std::vector<double> samplesUs;
  for (auto _ : state) {
    for (int i = 0; i < kLatencySamples; ++i) {
      LatencySample sample;
      sample.submittedNs = nowNs();
      // enqueue: the submitting thread is not in the arena, a worker must pick it up
      arena.enqueue([&sample] { sample.ranNs.store(nowNs(), std::memory_order_release); });
      waitRan(sample);
      samplesUs.push_back((sample.ranNs - sample.submittedNs) / 1000.0);
    }
  }
  reportLatency(state, samplesUs);
}

void threadPerJob_Latency(benchmark::State& state) {
  std::vector<double> samplesUs;
  for (auto _ : state) {
    for (int i = 0; i < kLatencySamples / 4; ++i) {
      LatencySample sample;
      sample.submittedNs = nowNs();
      std::thread([&sample] { sample.ranNs.store(nowNs(), std::memory_order_release); }).join();
      samplesUs.push_back((sample.ranNs - sample.submittedNs) / 1000.0);
    }
  }
  reportLatency(state, samplesUs);
}

BENCHMARK_CAPTURE(ours_Throughput, empty, false)->Arg(2)->Arg(4)->Arg(8)->UseRealTime();
BENCHMARK_CAPTURE(tbb_Throughput, empty, false)->Arg(2)->Arg(4)->Arg(8)->UseRealTime();
BENCHMARK_CAPTURE(threadPerJob_Throughput, empty, false)->UseRealTime();
BENCHMARK_CAPTURE(ours_Throughput, work10us, true)->Arg(2)->Arg(4)->Arg(8)->UseRealTime();
BENCHMARK_CAPTURE(tbb_Throughput, work10us, true)->Arg(2)->Arg(4)->Arg(8)->UseRealTime();
BENCHMARK_CAPTURE(threadPerJob_Throughput, work10us, true)->UseRealTime();
BENCHMARK(ours_Latency)->Arg(8)->Iterations(1)->UseRealTime();
BENCHMARK(tbb_Latency)->Arg(8)->Iterations(1)->UseRealTime();
BENCHMARK(threadPerJob_Latency)->Iterations(1)->UseRealTime();

// Prints the usual table, then one line per case with every peer beside ours.
class SideBySideReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // "impl_Kind/case/workers"; the thread-per-job baseline has no worker count
      const std::string name = run.benchmark_name();
      const auto cut = name.find('_');
      const std::string impl = name.substr(0, cut);
      std::string caseName = name.substr(cut + 1);
      if (const auto slash = caseName.find("/real_time"); slash != std::string::npos) {
        caseName.erase(slash);
      }
      if (const auto slash = caseName.find("/iterations"); slash != std::string::npos) {
        caseName.erase(slash);
      }
      Figures& f = figures_[caseName][impl];
      if (auto it = run.counters.find("items_per_second"); it != run.counters.end()) {
        f.perSecond = it->second;
      }
      if (auto it = run.counters.find("median_us"); it != run.counters.end())
        f.medianUs = it->second;
      if (auto it = run.counters.find("p99_us"); it != run.counters.end()) f.p99Us = it->second;
      if (impl == "threadPerJob") baseline_[caseName] = f;  // one figure per workload
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n");
    for (const auto& [caseName, byImpl] : figures_) {
      const auto ours = byImpl.find("ours");
      const auto tbb = byImpl.find("tbb");
      if (ours == byImpl.end() || tbb == byImpl.end()) continue;
      const auto naive = baseline_.find(caseName.substr(0, caseName.rfind('/')));
      if (ours->second.perSecond > 0) {
        std::printf("%-28s ours %9.0f jobs/s | tbb %9.0f jobs/s (ours/tbb x%.2f)", caseName.c_str(),
                    ours->second.perSecond, tbb->second.perSecond,
                    ours->second.perSecond / tbb->second.perSecond);
        if (naive != baseline_.end()) {
          std::printf(" | thread-per-job %8.0f jobs/s (ours/that x%.1f)", naive->second.perSecond,
                      ours->second.perSecond / naive->second.perSecond);
        }
      } else {
        std::printf("%-28s ours median %6.1f us p99 %6.1f us | tbb median %6.1f us p99 %6.1f us",
                    caseName.c_str(), ours->second.medianUs, ours->second.p99Us,
                    tbb->second.medianUs, tbb->second.p99Us);
        if (const auto it = byImplBaselineLatency(); it.medianUs > 0) {
          std::printf(" | thread-per-job median %6.1f us p99 %6.1f us", it.medianUs, it.p99Us);
        }
      }
      std::printf("\n");
    }
  }

 private:
  struct Figures {
    double perSecond = 0;
    double medianUs = 0;
    double p99Us = 0;
  };
  Figures byImplBaselineLatency() const {
    for (const auto& [name, f] : baseline_) {
      if (f.medianUs > 0) return f;
    }
    return {};
  }
  std::map<std::string, std::map<std::string, Figures>> figures_;
  std::map<std::string, Figures> baseline_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SideBySideReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
