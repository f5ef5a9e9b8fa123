// Job throughput (empty jobs and 10 us jobs on 2, 4 and 8 workers) and
// submit-to-run latency of an idle 8-worker pool: WorkerPool against
// tbb::task_group in a task_arena of the same size, with one std::thread per
// job as a baseline.
//
// Each case runs in rounds, ours and then the peer back to back, and reports
// the median of the per-round ratios: a load spike on the shared machine
// slows one round of both rather than all of one side, so it cannot fake a
// result either way. The ratio is ours / peer for throughput (above 1: ours
// is faster) and peer / ours for latency (above 1: ours reacts sooner).
//
// Usage: pool_bench [ROUNDS] [FILTER]; FILTER picks cases whose name contains it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "pool/worker_pool.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultRounds = 15;
constexpr int kEmptyBatch = 20000;
constexpr int kWorkBatch = 2000;
constexpr int kThreadPerJobBatch = 500;  // creating threads is slow; keep the batch small
constexpr auto kJobWork = std::chrono::microseconds(10);
constexpr int kLatencySamplesPerRound = 400;
constexpr int kLatencyWorkers = 8;

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

void spinFor(std::chrono::nanoseconds work) {
  const auto end = Clock::now() + work;
  while (Clock::now() < end) {
  }
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
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

// Seconds for one batch.
template <typename F>
double timed(F&& body) {
  const auto begin = Clock::now();
  body();
  return std::chrono::duration<double>(Clock::now() - begin).count();
}

double oursBatch(varnel::WorkerPool& pool, bool work, int jobs) {
  return timed([&] {
    Batch batch(jobs);
    for (int i = 0; i < jobs; ++i) {
      pool.submit(work ? workJob : emptyJob, reinterpret_cast<std::intptr_t>(&batch), 0);
    }
    batch.wait();
  });
}

double tbbBatch(tbb::task_arena& arena, bool work, int jobs) {
  return timed([&] {
    arena.execute([&] {
      tbb::task_group group;
      for (int i = 0; i < jobs; ++i) {
        group.run([work] {
          if (work) spinFor(kJobWork);
        });
      }
      group.wait();
    });
  });
}

double threadPerJobBatch(bool work) {
  return timed([&] {
    std::vector<std::thread> threads;
    threads.reserve(kThreadPerJobBatch);
    for (int i = 0; i < kThreadPerJobBatch; ++i) {
      threads.emplace_back([work] {
        if (work) spinFor(kJobWork);
      });
    }
    for (auto& thread : threads) thread.join();
  });
}

void throughputCase(bool work, int workers, int rounds) {
  const int jobs = work ? kWorkBatch : kEmptyBatch;
  varnel::WorkerPool pool;
  pool.start(workers, workers);
  tbb::task_arena arena(workers);
  oursBatch(pool, work, jobs);  // warm both up: thread start-up is not throughput
  tbbBatch(arena, work, jobs);
  std::vector<double> ours, peer, ratios;
  for (int r = 0; r < rounds; ++r) {
    const double o = jobs / oursBatch(pool, work, jobs);
    const double t = jobs / tbbBatch(arena, work, jobs);
    ours.push_back(o);
    peer.push_back(t);
    ratios.push_back(o / t);
  }
  pool.stop();
  const double naive = kThreadPerJobBatch / threadPerJobBatch(work);
  const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  std::printf(
      "%-22s ours %10.0f jobs/s | tbb %10.0f jobs/s | ours/tbb x%.2f (rounds x%.2f..x%.2f) | "
      "thread-per-job %7.0f jobs/s\n",
      (std::string(work ? "work10us/" : "empty/") + std::to_string(workers)).c_str(), median(ours),
      median(peer), median(ratios), *low, *high, naive);
}

// --- latency: one job at a time on an idle pool --------------------------------

struct LatencySample {
  std::int64_t submittedNs = 0;
  std::atomic<std::int64_t> ranNs{0};
};

void waitRan(const LatencySample& sample) {
  while (sample.ranNs.load(std::memory_order_acquire) == 0) std::this_thread::yield();
}

struct Percentiles {
  double median = 0;
  double p99 = 0;
};

Percentiles percentiles(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

// Microseconds from submit to the job's first instruction, one sample per call.
std::vector<double> sampleLatency(const std::function<void(LatencySample&)>& submit, int samples) {
  std::vector<double> us;
  us.reserve(samples);
  for (int i = 0; i < samples; ++i) {
    LatencySample sample;
    sample.submittedNs = nowNs();
    submit(sample);
    waitRan(sample);
    us.push_back((sample.ranNs - sample.submittedNs) / 1000.0);
  }
  return us;
}

void latencyCase(int rounds) {
  varnel::WorkerPool pool;
  pool.start(kLatencyWorkers, kLatencyWorkers);
  tbb::task_arena arena(kLatencyWorkers);
  const auto ours = [&](LatencySample& sample) {
    pool.submit(
        [](std::intptr_t s, std::intptr_t) {
          reinterpret_cast<LatencySample*>(s)->ranNs.store(nowNs(), std::memory_order_release);
        },
        reinterpret_cast<std::intptr_t>(&sample), 0);
  };
  // enqueue: the submitting thread is not in the arena, a worker must pick it up
  const auto tbb = [&](LatencySample& sample) {
    arena.enqueue([&sample] { sample.ranNs.store(nowNs(), std::memory_order_release); });
  };
  sampleLatency(ours, kLatencySamplesPerRound);
  sampleLatency(tbb, kLatencySamplesPerRound);
  std::vector<double> oursAll, tbbAll, ratios;
  for (int r = 0; r < rounds; ++r) {
    const auto o = sampleLatency(ours, kLatencySamplesPerRound);
    const auto t = sampleLatency(tbb, kLatencySamplesPerRound);
    ratios.push_back(percentiles(t).median / percentiles(o).median);
    oursAll.insert(oursAll.end(), o.begin(), o.end());
    tbbAll.insert(tbbAll.end(), t.begin(), t.end());
  }
  pool.stop();
  const auto naive = percentiles(sampleLatency(
      [](LatencySample& sample) {
        std::thread([&sample] { sample.ranNs.store(nowNs(), std::memory_order_release); }).join();
      },
      kLatencySamplesPerRound));
  const Percentiles o = percentiles(oursAll);
  const Percentiles t = percentiles(tbbAll);
  std::printf(
      "latency/%-14d ours median %5.1f us p99 %6.1f us | tbb median %5.1f us p99 %6.1f us | "
      "tbb/ours x%.2f | thread-per-job median %5.1f us\n",
      kLatencyWorkers, o.median, o.p99, t.median, t.p99, median(ratios), naive.median);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRounds;
  const std::string filter = argc > 2 ? argv[2] : "";
  const auto wanted = [&](const std::string& name) {
    return filter.empty() || name.find(filter) != std::string::npos;
  };
  std::printf("pool_bench: %d rounds per case, median of back-to-back ratios\n", rounds);
  for (const bool work : {false, true}) {
    for (const int workers : {2, 4, 8}) {
      const std::string name = std::string(work ? "work10us/" : "empty/") + std::to_string(workers);
      if (wanted(name)) throughputCase(work, workers, rounds);
      std::fflush(stdout);
    }
  }
  if (wanted("latency")) latencyCase(rounds);
  return 0;
}
