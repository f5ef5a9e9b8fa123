#include "pool/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "pool/stack_size.h"
#include "pool/tests/pool_test_support.h"

namespace varnel {
namespace {

using testing::Blocker;
using testing::eventually;
using testing::ScopedPump;

std::intptr_t argOf(void* p) { return reinterpret_cast<std::intptr_t>(p); }
template <typename T>
T& fromArg(std::intptr_t arg) {
  return *reinterpret_cast<T*>(arg);
}

void countJob(std::intptr_t counter, std::intptr_t) { ++fromArg<std::atomic<int>>(counter); }

TEST(WorkerPool, StartAppliesDefaultsAndLimits) {
  struct Case {
    const char* reason;
    std::function<bool(WorkerPool&)> start;
    int live;
    int max;
  };
  const Case cases[] = {
      {"every argument omitted: 5 core workers, max 5", [](WorkerPool& p) { return p.start(); }, 5,
       5},
      {"fewer than one core worker becomes one", [](WorkerPool& p) { return p.start(0); }, 1, 1},
      {"a maximum below the core count becomes the core count",
       [](WorkerPool& p) { return p.start(4, 2); }, 4, 4},
      {"a short idle time-out is raised, the maximum kept",
       [](WorkerPool& p) { return p.start(2, 6, 50); }, 2, 6},
      {"a tiny stack is raised to what the platform accepts",
       [](WorkerPool& p) { return p.start(1, 1, 100, true, true, 1); }, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    WorkerPool pool;
    ASSERT_TRUE(c.start(pool));
    EXPECT_EQ(pool.state(), PoolState::running);
    EXPECT_EQ(pool.liveThreads(), c.live) << "start returns once every worker has begun";
    EXPECT_EQ(pool.maxThreads(), c.max);
    EXPECT_EQ(pool.idleThreads(), c.live);
    EXPECT_TRUE(pool.isIdle());
    std::atomic<int> ran{0};
    ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
    EXPECT_TRUE(pool.stop(kFinishQueuedAndWait));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(pool.liveThreads(), 0);
  }
}

TEST(WorkerPool, StackSizesAreNormalised) {
  const std::size_t floor = detail::normaliseStackSize(1);
  EXPECT_GE(floor, kMinStackBytes);
  EXPECT_EQ(floor % kStackSizeGranule, 0u);
  EXPECT_EQ(detail::normaliseStackSize(0), 0u) << "0 keeps the platform default";
  EXPECT_EQ(detail::normaliseStackSize(floor - 1), floor);
  EXPECT_EQ(detail::normaliseStackSize(floor * 4 + 1), floor * 4) << "rounded down";
  EXPECT_EQ(detail::normaliseStackSize(floor * 4 + kStackSizeGranule),
            floor * 4 + kStackSizeGranule)
      << "start and setStackSize round to one granule";

  WorkerPool pool;
  EXPECT_FALSE(pool.setStackSize(65536)) << "only while running";
  ASSERT_TRUE(pool.start(1));
  EXPECT_TRUE(pool.setStackSize(3));
}

TEST(WorkerPool, StateRulesOfStartAndStop) {
  WorkerPool pool;
  EXPECT_TRUE(pool.stop()) << "stopping a stopped pool succeeds";
  EXPECT_TRUE(pool.stop(521573)) << "also with the start-veto value, which skips no check";
  EXPECT_EQ(pool.state(), PoolState::stopped);
  EXPECT_FALSE(pool.submit(countJob, 0, 0)) << "nothing is queued on a stopped pool";
  ASSERT_TRUE(pool.start(2));
  EXPECT_FALSE(pool.start(3)) << "a second start fails";
  EXPECT_EQ(pool.liveThreads(), 2) << "and changes nothing";
  EXPECT_FALSE(pool.submit(nullptr, 0, 0)) << "a null job would crash a worker";

  Blocker blocker;
  ASSERT_TRUE(pool.submit(Blocker::job, blocker.arg(), 0));
  ASSERT_TRUE(eventually([&] { return pool.busyThreads() == 1; }));
  std::thread stopper([&] { EXPECT_TRUE(pool.stop()); });
  ASSERT_TRUE(eventually([&] { return pool.state() == PoolState::stopping; }));
  EXPECT_FALSE(pool.stop()) << "another stop is in progress";
  EXPECT_FALSE(pool.start()) << "no start during a stop";
  blocker.open();
  stopper.join();
  EXPECT_EQ(pool.state(), PoolState::stopped);
  EXPECT_TRUE(pool.start(1)) << "a stopped pool can be started again";
}

// Four jobs hold both workers' attention: two run, blocked; three more wait in
// the queue while the pool is stopped in each mode.
TEST(WorkerPool, StopModesRunOrDropQueuedJobs) {
  struct Case {
    const char* reason;
    int mode;
    int queuedRun;
    bool waits;
  };
  const Case cases[] = {
      {"0: stop now and wait drops the queue", kStopNowAndWait, 0, true},
      {"1: finish the queue, then wait", kFinishQueuedAndWait, 3, true},
      {"2: stop now without waiting drops the queue", kStopNowNoWait, 0, false},
      {"3: finish the queue without waiting", kFinishQueuedNoWait, 3, false},
      {"a mode out of range acts as 0", 7, 0, true},
      {"the start-veto value is no back door: it acts as 0", 521573, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    WorkerPool pool;
    static std::atomic<int> stoppedCalls;
    stoppedCalls = 0;
    pool.setPoolHooks(std::nullopt, [](std::intptr_t) { ++stoppedCalls; });
    ASSERT_TRUE(pool.start(2));
    Blocker blocker;
    std::atomic<int> ran{0};
    ASSERT_TRUE(pool.submit(Blocker::job, blocker.arg(), 0));
    ASSERT_TRUE(pool.submit(Blocker::job, blocker.arg(), 0));
    ASSERT_TRUE(eventually([&] { return pool.busyThreads() == 2; }));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
    EXPECT_EQ(pool.queuedJobs(), 3);

    if (c.waits) {
      // The stop's own wait pumps messages; the pump opens the blocker, which
      // is only reached after the stop decided what to do with the queue.
      std::thread stopper([&] {
        ScopedPump pump([&] { blocker.open(); });
        EXPECT_TRUE(pool.stop(c.mode, true));
        EXPECT_EQ(pool.state(), PoolState::stopped) << "a waiting stop returns stopped";
      });
      stopper.join();
    } else {
      EXPECT_TRUE(pool.stop(c.mode));
      EXPECT_EQ(pool.state(), PoolState::stopping) << "the blocked workers are still there";
      EXPECT_FALSE(pool.submit(countJob, argOf(&ran), 0));
      blocker.open();
      ASSERT_TRUE(eventually([&] { return pool.state() == PoolState::stopped; }));
    }
    EXPECT_EQ(ran, c.queuedRun);
    EXPECT_EQ(stoppedCalls, 1);
    EXPECT_EQ(pool.liveThreads(), 0);
    EXPECT_TRUE(pool.isIdle()) << "counters are back to 0";
  }
}

TEST(WorkerPool, PauseQueuesButRunsNothingUntilResume) {
  WorkerPool pool;
  EXPECT_FALSE(pool.pause()) << "only while running";
  EXPECT_FALSE(pool.resume());
  EXPECT_FALSE(pool.waitResumed(0));
  ASSERT_TRUE(pool.start(2));
  ASSERT_TRUE(pool.pause());
  EXPECT_FALSE(pool.waitResumed(30)) << "the gate is closed";
  std::atomic<int> ran{0};
  ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  EXPECT_EQ(pool.queuedJobs(), 2);
  EXPECT_EQ(ran, 0);
  ASSERT_TRUE(pool.resume());
  EXPECT_TRUE(pool.waitResumed());
  ASSERT_TRUE(eventually([&] { return ran == 2; }));

  ASSERT_TRUE(pool.pause());
  ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  EXPECT_TRUE(pool.stop(kFinishQueuedAndWait)) << "a paused pool still stops";
  EXPECT_EQ(ran, 3) << "and finishes its queue when asked";

  ASSERT_TRUE(pool.start(1, 1, 100, true, false));
  EXPECT_FALSE(pool.pause()) << "pausing was disabled at start";
  EXPECT_TRUE(pool.waitResumed()) << "a pool without a gate is never paused";
}

TEST(WorkerPool, SpareAndIdleCounts) {
  WorkerPool pool;
  ASSERT_TRUE(pool.start(8, 10));
  Blocker blocker;
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(pool.submit(Blocker::job, blocker.arg(), 0));
  ASSERT_TRUE(eventually([&] { return pool.busyThreads() == 6; }));
  ASSERT_TRUE(pool.pause());  // queued jobs stay queued
  std::atomic<int> ran{0};
  ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));

  int n = -1;
  EXPECT_TRUE(pool.spareThreads(n));
  EXPECT_EQ(n, 1) << "8 live - 6 busy - 1 queued";
  EXPECT_TRUE(pool.spareCapacity(n));
  EXPECT_EQ(n, 3) << "10 allowed - 6 busy - 1 queued";
  ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  EXPECT_FALSE(pool.spareThreads(n));
  EXPECT_EQ(n, 0) << "8 - 6 - 2 leaves nothing spare";
  EXPECT_EQ(pool.idleThreads(), 2);
  EXPECT_FALSE(pool.isIdle());

  blocker.open();
  pool.resume();
  ASSERT_TRUE(eventually([&] { return pool.isIdle(); }));
  EXPECT_EQ(ran, 2);
}

TEST(WorkerPool, ExtraWorkersComeOnDemandAndRetire) {
  WorkerPool pool;
  EXPECT_FALSE(pool.setMaxThreads(4)) << "only while running";
  EXPECT_FALSE(pool.setIdleTimeout(100));
  ASSERT_TRUE(pool.start(1, 3, 100));
  Blocker first;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pool.submit(Blocker::job, first.arg(), 0));
  ASSERT_TRUE(eventually([&] { return pool.busyThreads() == 3; })) << "the manager adds two";
  EXPECT_EQ(pool.liveThreads(), 3);
  first.open();
  ASSERT_TRUE(eventually([&] { return pool.liveThreads() == 1; }))
      << "idle extra workers retire after the time-out";

  // Lowering the maximum retires the surplus extra workers as their jobs end,
  // never the core worker.
  ASSERT_TRUE(pool.setIdleTimeout(600000));
  ASSERT_TRUE(pool.setMaxThreads(4));
  Blocker second;
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(pool.submit(Blocker::job, second.arg(), 0));
  ASSERT_TRUE(eventually([&] { return pool.busyThreads() == 4; }));
  ASSERT_TRUE(pool.setMaxThreads(0));
  EXPECT_EQ(pool.maxThreads(), 1) << "below the core count gives the core count";
  ASSERT_TRUE(pool.setMaxThreads(2));
  second.open();
  ASSERT_TRUE(eventually([&] { return pool.isIdle() && pool.liveThreads() == 2; }));
  EXPECT_TRUE(pool.stop());
}

// An extra worker is started only while busy + queued exceeds the live count:
// a job that blocks its worker is no reason for another thread. The idle
// time-out is long, so a worker started by mistake is still there when the
// count is read after the settling pause.
TEST(WorkerPool, ExtraWorkersOnlyWhenJobsOutnumberLiveWorkers) {
  struct Case {
    const char* why;
    int core;
    int max;
    int blockedJobs;
    int expectedLive;
  };
  const Case cases[] = {
      {"one job on the one core worker", 1, 3, 1, 1},
      {"two jobs need exactly one extra", 1, 3, 2, 2},
      {"as many jobs as core workers", 2, 4, 2, 2},
      {"one job more than the core", 2, 4, 3, 3},
      {"never beyond the maximum", 1, 3, 5, 3},
  };
  constexpr auto kSettle = std::chrono::milliseconds(testing::kSanitized ? 400 : 150);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    WorkerPool pool;
    ASSERT_TRUE(pool.start(c.core, c.max, 600000));
    Blocker blocker;
    for (int i = 0; i < c.blockedJobs; ++i)
      ASSERT_TRUE(pool.submit(Blocker::job, blocker.arg(), 0));
    const int running = std::min(c.blockedJobs, c.max);
    ASSERT_TRUE(eventually([&] { return pool.busyThreads() == running; }));
    std::this_thread::sleep_for(kSettle);  // time for a wrongly woken manager to act
    EXPECT_EQ(pool.liveThreads(), c.expectedLive);
    EXPECT_EQ(pool.busyThreads(), running);
    blocker.open();
    ASSERT_TRUE(eventually([&] { return pool.isIdle(); }));
    EXPECT_EQ(pool.liveThreads(), c.expectedLive) << "finishing jobs starts nobody";
    EXPECT_TRUE(pool.stop());
  }
}

TEST(WorkerPool, WaitJobDone) {
  WorkerPool pool;
  EXPECT_FALSE(pool.waitJobDone()) << "a stopped pool returns at once";
  EXPECT_FALSE(pool.signalJobDone());
  ASSERT_TRUE(pool.start(1));
  EXPECT_FALSE(pool.waitJobDone(0)) << "nothing has finished";
  std::atomic<int> ran{0};
  ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  EXPECT_TRUE(pool.waitJobDone()) << "no limit: returns when the job has finished";
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(pool.waitJobDone(10)) << "the signal was consumed";
  EXPECT_TRUE(pool.signalJobDone());
  EXPECT_TRUE(pool.waitJobDone(0));

  std::atomic<int> waited{0};
  std::thread waiter([&] {
    pool.waitJobDone();
    ++waited;
  });
  // Either the wait has begun and the stop releases it, or it starts on a
  // stopped pool and returns at once: neither may hang.
  EXPECT_TRUE(pool.stop());
  waiter.join();
  EXPECT_EQ(waited, 1);

  ASSERT_TRUE(pool.start(1, 1, 100, false));
  EXPECT_FALSE(pool.waitJobDone()) << "the job-done event was disabled";
  EXPECT_FALSE(pool.signalJobDone());
}

TEST(WorkerPool, WaitsPumpMessagesOnTheUserInterfaceThread) {
  EXPECT_FALSE(isUserInterfaceThread()) << "with no hook no thread is";
  WorkerPool pool;
  ASSERT_TRUE(pool.start(1));
  std::atomic<int> ran{0};
  int pumped = 0;
  {
    ScopedPump pump([&] {
      if (++pumped == 5) pool.submit(countJob, argOf(&ran), 0);
    });
    EXPECT_TRUE(isUserInterfaceThread());
    EXPECT_TRUE(pool.waitJobDone(std::nullopt, true)) << "ends when the pumped-in job finishes";
    EXPECT_GE(pumped, 5) << "the wait kept processing messages";
    EXPECT_EQ(ran, 1);

    pumped = 0;
    EXPECT_FALSE(pool.waitJobDone(100, true));
    EXPECT_EQ(pumped, 5) << "a 100 ms wait is five 20 ms slices with messages between";

    std::thread other([&] { processPendingMessages(); });
    other.join();
    EXPECT_EQ(pumped, 5) << "messages are only processed on the user-interface thread";
  }
  EXPECT_FALSE(isUserInterfaceThread());
}

struct HookCounts {
  std::atomic<int> threadStarts{0};
  std::atomic<int> threadExits{0};
  std::atomic<int> started{0};
  std::atomic<int> stopped{0};
  std::atomic<int> runs{0};
  int veto = 0;
};
HookCounts* gHooks = nullptr;  // the job runner has no parameter of its own

TEST(WorkerPool, HooksAreCalledOncePerEvent) {
  HookCounts counts;
  gHooks = &counts;
  WorkerPool pool;
  pool.setThreadHooks([](std::intptr_t p) { ++fromArg<HookCounts>(p).threadStarts; },
                      [](std::intptr_t p) { ++fromArg<HookCounts>(p).threadExits; },
                      [](Job job, std::intptr_t a, std::intptr_t b) {
                        ++gHooks->runs;
                        job(a, b);
                      },
                      argOf(&counts), argOf(&counts));
  pool.setPoolHooks(
      [](std::intptr_t p) {
        auto& c = fromArg<HookCounts>(p);
        ++c.started;
        return c.veto;
      },
      [](std::intptr_t p) { ++fromArg<HookCounts>(p).stopped; }, argOf(&counts), argOf(&counts));

  ASSERT_TRUE(pool.start(3));
  std::atomic<int> ran{0};
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  ASSERT_TRUE(pool.stop(kFinishQueuedAndWait));
  EXPECT_EQ(counts.threadStarts, 3);
  EXPECT_EQ(counts.threadExits, 3);
  EXPECT_EQ(counts.started, 1);
  EXPECT_EQ(counts.stopped, 1);
  EXPECT_EQ(counts.runs, 10) << "every job went through the runner";
  EXPECT_EQ(ran, 10) << "and the runner ran it";

  counts.veto = 1;
  EXPECT_FALSE(pool.start(2)) << "onStarted vetoed";
  EXPECT_EQ(pool.state(), PoolState::stopped);
  EXPECT_EQ(pool.liveThreads(), 0);
  EXPECT_EQ(counts.started, 2);
  EXPECT_EQ(counts.stopped, 2) << "the veto stops the pool it had started";
  EXPECT_EQ(counts.threadExits, counts.threadStarts.load());

  counts.veto = 0;
  pool.setThreadHooks(nullptr);  // the rest stays as it was
  ASSERT_TRUE(pool.start(1));
  ASSERT_TRUE(pool.stop());
  EXPECT_EQ(counts.threadStarts, 5);
  EXPECT_EQ(counts.threadExits, 6);
  gHooks = nullptr;
}

TEST(WorkerPool, JobsGetPointerSizedArgumentsAndMayThrow) {
  WorkerPool pool;
  ASSERT_TRUE(pool.start(1));
  struct Seen {
    std::intptr_t first = 0;
    std::intptr_t second = 0;
  } seen;
  const std::intptr_t wide = static_cast<std::intptr_t>(0x123456789ABCLL);
  ASSERT_TRUE(pool.submit(
      [](std::intptr_t self, std::intptr_t value) {
        fromArg<Seen>(self) = {self, value};
        throw std::runtime_error("a failing job");
      },
      argOf(&seen), wide));
  EXPECT_TRUE(pool.waitJobDone()) << "a job that throws still counts as finished";
  EXPECT_EQ(seen.first, argOf(&seen));
  EXPECT_EQ(seen.second, wide);
  std::atomic<int> ran{0};
  ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  ASSERT_TRUE(eventually([&] { return ran == 1 && pool.isIdle(); })) << "the worker went on";
  EXPECT_EQ(pool.liveThreads(), 1);
}

TEST(WorkerPool, AJobMayStopItsOwnPool) {
  WorkerPool pool;
  ASSERT_TRUE(pool.start(2));
  ASSERT_TRUE(pool.submit([](std::intptr_t p, std::intptr_t) { fromArg<WorkerPool>(p).stop(); },
                          argOf(&pool), 0));
  ASSERT_TRUE(eventually([&] { return pool.state() == PoolState::stopped; }))
      << "waiting for itself would never end";
}

TEST(WorkerPool, DestroyingARunningPoolLeavesJobsSafe) {
  static std::atomic<int> stopped;
  stopped = 0;
  Blocker blocker;
  std::atomic<int> ran{0};
  {
    WorkerPool pool;
    pool.setPoolHooks(std::nullopt, [](std::intptr_t) { ++stopped; });
    ASSERT_TRUE(pool.start(2));
    ASSERT_TRUE(pool.submit(Blocker::job, blocker.arg(), 0));
    ASSERT_TRUE(eventually([&] { return pool.busyThreads() == 1; }));
    ASSERT_TRUE(pool.submit(countJob, argOf(&ran), 0));
  }  // stops without waiting while a job still runs
  blocker.open();
  ASSERT_TRUE(eventually([&] { return stopped == 1; })) << "the last worker finished the stop";
  EXPECT_LE(ran, 1);
}

}  // namespace
}  // namespace varnel
