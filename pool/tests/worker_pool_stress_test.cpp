// Volume and lifecycle stress: many jobs from several threads, many
// start/stop cycles with jobs in flight. Counts are smaller under sanitizers,
// which slow every lock and thread creation down by an order of magnitude.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pool/tests/pool_test_support.h"
#include "pool/worker_pool.h"

namespace varnel {
namespace {

using testing::eventually;
using testing::kSanitized;

constexpr int kJobs = kSanitized ? 500'000 : 1'000'000;
constexpr int kSubmitters = 4;
constexpr int kCycles = kSanitized ? 500 : 1000;

std::vector<std::atomic<std::uint8_t>>* gRuns = nullptr;

void markRun(std::intptr_t index, std::intptr_t) { gRuns->at(index).fetch_add(1); }

TEST(WorkerPoolStress, EveryJobFromFourSubmittersRunsExactlyOnce) {
  std::vector<std::atomic<std::uint8_t>> runs(kJobs);
  gRuns = &runs;
  WorkerPool pool;
  ASSERT_TRUE(pool.start(4, 8));
  std::atomic<int> refused{0};
  std::vector<std::thread> submitters;
  for (int t = 0; t < kSubmitters; ++t) {
    submitters.emplace_back([&, t] {
      for (int i = t; i < kJobs; i += kSubmitters) {
        if (!pool.submit(markRun, i, 0)) ++refused;
      }
    });
  }
  for (auto& submitter : submitters) submitter.join();
  ASSERT_TRUE(eventually([&] { return pool.isIdle(); }));
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(pool.busyThreads(), 0);
  EXPECT_EQ(pool.queuedJobs(), 0);
  int wrong = 0;
  for (const auto& count : runs) wrong += count.load() != 1;
  EXPECT_EQ(wrong, 0) << "jobs lost or run twice";
  EXPECT_TRUE(pool.stop());
  gRuns = nullptr;
}

void countRun(std::intptr_t counter, std::intptr_t) {
  reinterpret_cast<std::atomic<int>*>(counter)->fetch_add(1);
}

TEST(WorkerPoolStress, StartStopCyclesWithJobsInFlight) {
  constexpr int kJobsPerCycle = 16;
  std::atomic<int> ran{0};
  int mustRun = 0;
  int submitted = 0;
  auto pool = std::make_unique<WorkerPool>();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    // A no-wait stop finishes in the background: start succeeds once it has.
    ASSERT_TRUE(eventually([&] { return pool->start(2, 4, 100); })) << "cycle " << cycle;
    for (int i = 0; i < kJobsPerCycle; ++i) {
      ASSERT_TRUE(pool->submit(countRun, reinterpret_cast<std::intptr_t>(&ran), 0));
    }
    submitted += kJobsPerCycle;
    const int mode = cycle % 4;
    if (mode == kFinishQueuedAndWait || mode == kFinishQueuedNoWait) mustRun += kJobsPerCycle;
    ASSERT_TRUE(pool->stop(mode));
  }
  ASSERT_TRUE(eventually([&] { return pool->state() == PoolState::stopped; }));
  EXPECT_EQ(pool->liveThreads(), 0);
  EXPECT_GE(ran, mustRun) << "a finishing stop lost queued jobs";
  EXPECT_LE(ran, submitted);

  // The last cycle leaves a running pool to the destructor.
  ASSERT_TRUE(pool->start(2));
  for (int i = 0; i < kJobsPerCycle; ++i) {
    pool->submit(countRun, reinterpret_cast<std::intptr_t>(&ran), 0);
  }
  pool.reset();
}

}  // namespace
}  // namespace varnel
