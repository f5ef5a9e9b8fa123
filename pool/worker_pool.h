// WorkerPool: a thread pool fed through one FIFO job queue.
//
// A fixed set of core workers lives from `start` to `stop`; extra workers are
// added on demand up to `maxThreads` and retire after an idle time-out (or when
// `setMaxThreads` lowered the bound below the live count). The pool can be
// paused, lets a thread wait until some job has finished, and stops in one of
// four modes. Every call is safe from any thread; counters are momentary.
//
// Waits on the user-interface thread keep window messages flowing through the
// hook of pool/message_pump.h when `pumpMessages` is on (by default: when the
// caller is that thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace varnel {

// A job gets the two values given to `submit`; they are pointer-sized so a job
// may receive a heap pointer. A job that throws counts as finished.
using Job = void (*)(std::intptr_t first, std::intptr_t second);
// Runs a job instead of the worker calling it directly; must call job(first, second).
using JobRunner = void (*)(Job job, std::intptr_t first, std::intptr_t second);
using ThreadHook = void (*)(std::intptr_t param);
// Called once after a successful start; a non-zero result vetoes the start.
using StartedHook = int (*)(std::intptr_t param);
using StoppedHook = void (*)(std::intptr_t param);

inline constexpr int kDefaultCoreThreads = 5;
inline constexpr int kDefaultIdleTimeoutMs = 10000;
inline constexpr int kMinIdleTimeoutMs = 100;
// A non-zero stack size is at least this (and at least the platform minimum)
// and is rounded down to a multiple of kStackSizeGranule.
inline constexpr std::size_t kMinStackBytes = 8192;
inline constexpr std::size_t kStackSizeGranule = 4096;
// Thread creation gives up after this many failures in a row.
inline constexpr int kMaxCreateFailures = 5;

enum class PoolState : int { stopped = 0, running = 1, starting = 2, stopping = 3 };

// Modes of `stop`. Any other value acts as stopNowAndWait.
inline constexpr int kStopNowAndWait = 0;       // drop queued jobs, wait for the workers
inline constexpr int kFinishQueuedAndWait = 1;  // run every queued job first, then wait
inline constexpr int kStopNowNoWait = 2;        // drop queued jobs, return at once
inline constexpr int kFinishQueuedNoWait = 3;   // run every queued job, return at once

class WorkerPool {
 public:
  // Stopped; no thread exists until `start`.
  WorkerPool();
  // stop(kStopNowNoWait): running jobs finish on their own; the workers keep
  // the shared state alive until the last has left, so destroying a running
  // pool is safe.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts `coreThreads` (below 1: 1) workers; `maxThreads` below coreThreads
  // becomes coreThreads; `idleTimeoutMs` below 100 becomes 100; `stackSize`
  // 0 = platform default. The job-done event and the pause gate exist only when
  // enabled. Waits until each worker has begun. False when the pool was not
  // stopped (nothing changes), no worker could be started, or onStarted vetoed
  // (then the pool is stopped again and onStopped runs).
  bool start(int coreThreads = kDefaultCoreThreads, int maxThreads = 0,
             int idleTimeoutMs = kDefaultIdleTimeoutMs, bool enableJobDone = true,
             bool enablePause = true, std::size_t stackSize = 0,
             std::optional<bool> pumpMessages = std::nullopt);

  // See the kStop* modes. True when the pool is stopped or being stopped (also
  // on a stopped pool); false while a start or another stop is in progress.
  // Called from one of this pool's own jobs, the waiting modes do not wait
  // (the caller is one of the workers being waited for).
  bool stop(int mode = kStopNowAndWait, std::optional<bool> pumpMessages = std::nullopt);

  // Close or open the gate: a paused pool still queues jobs but starts none
  // (running jobs finish). False when not running or pausing was disabled.
  bool pause();
  bool resume();
  // True once the gate is open (at once when pausing was disabled); no limit
  // when the time-out is omitted or negative. False when not running.
  bool waitResumed(std::optional<int> timeoutMs = std::nullopt);

  // Queues the job; only while running and for a non-null job.
  bool submit(Job job, std::intptr_t first, std::intptr_t second);

  // Waits until some job finishes (or signalJobDone, or a stop, releases the
  // wait); no limit when the time-out is omitted or negative. False at once
  // when not running or the job-done event was disabled; false on time-out.
  bool waitJobDone(std::optional<int> timeoutMs = std::nullopt, bool pumpMessages = false);
  // Wakes one job-done waiter without a job having finished; false when not running.
  bool signalJobDone();

  PoolState state() const;
  int liveThreads() const;
  int maxThreads() const;
  int busyThreads() const;
  int queuedJobs() const;
  int idleThreads() const;  // live - busy, never below 0
  // n = live - busy - queued: true when n > 0, else n = 0 and false.
  bool spareThreads(int& n) const;
  // The same with maxThreads in place of live.
  bool spareCapacity(int& n) const;
  // No job queued and none running.
  bool isIdle() const;

  // Only while running; all three return whether the value was applied.
  // n below the core count gives the core count; more room wakes the manager.
  bool setMaxThreads(int n);
  // Below 100 gives 100; applies to the next wait of each extra worker.
  bool setIdleTimeout(int ms);
  // Applies to workers created later; 0 = platform default.
  bool setStackSize(std::size_t bytes);

  // Each given value replaces the stored one, omitted ones stay; any state.
  // A given nullptr removes that hook.
  void setThreadHooks(std::optional<ThreadHook> onThreadStart = std::nullopt,
                      std::optional<ThreadHook> onThreadExit = std::nullopt,
                      std::optional<JobRunner> jobRunner = std::nullopt,
                      std::optional<std::intptr_t> threadStartParam = std::nullopt,
                      std::optional<std::intptr_t> threadExitParam = std::nullopt);
  void setPoolHooks(std::optional<StartedHook> onStarted = std::nullopt,
                    std::optional<StoppedHook> onStopped = std::nullopt,
                    std::optional<std::intptr_t> startedParam = std::nullopt,
                    std::optional<std::intptr_t> stoppedParam = std::nullopt);

  struct Shared;  // the state the workers share with the pool handle

 private:
  bool stopPool(int mode, std::optional<bool> pumpMessages, bool vetoedStart);

  std::shared_ptr<Shared> shared_;
};

}  // namespace varnel
