#include "pool/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "os/threads.h"
#include "pool/job_queue.h"
#include "pool/message_pump.h"
#include "pool/named_event.h"
#include "pool/stack_size.h"

namespace varnel {
namespace {

// The manager only creates threads; it needs little stack.
constexpr std::size_t kManagerStackBytes = 128 * 1024;
constexpr std::size_t kCacheLineBytes = 64;
// A stop that posts many quit records keeps the windows alive meanwhile.
constexpr int kQuitPostsPerPump = 128;

constexpr int kStopped = static_cast<int>(PoolState::stopped);
constexpr int kRunning = static_cast<int>(PoolState::running);
constexpr int kStarting = static_cast<int>(PoolState::starting);
constexpr int kStopping = static_cast<int>(PoolState::stopping);

EventHandle makeEvent(bool manualReset) {
  NamedEvent event;
  event.create(manualReset, false);
  return event.handle(nullptr);  // the pool owns the object from here on
}

// Waits on `event`; with `pump`, in slices with window messages processed in
// between. A time-out is counted in whole slices.
bool waitEvent(EventObject& event, std::optional<int> timeoutMs, bool pump) {
  if (!pump) return event.wait(timeoutMs);
  const bool limited = timeoutMs && *timeoutMs >= 0;
  int waited = 0;
  for (;;) {
    const int slice =
        limited ? std::min(kMessagePumpSliceMs, *timeoutMs - waited) : kMessagePumpSliceMs;
    if (event.wait(std::max(slice, 0))) return true;
    if (event.isClosed()) return false;
    processPendingMessages();
    waited += kMessagePumpSliceMs;
    if (limited && waited >= *timeoutMs) return false;
  }
}

}  // namespace

std::size_t detail::normaliseStackSize(std::size_t bytes) {
  if (bytes == 0) return 0;
  const std::size_t floorBytes = std::max(kMinStackBytes, minimumThreadStackBytes());
  const std::size_t minimum =
      (floorBytes + kStackSizeGranule - 1) / kStackSizeGranule * kStackSizeGranule;
  return std::max(minimum, bytes / kStackSizeGranule * kStackSizeGranule);
}

struct WorkerPool::Shared {
  Shared()
      : jobDone(makeEvent(false)),
        gate(makeEvent(true)),
        started(makeEvent(false)),
        managerWake(makeEvent(false)) {
    jobDone->close();
    gate->close();
    started->close();
    managerWake->close();
  }

  // busy and queued change with every job; the fields read with every job
  // must not share their cache line, or each change costs every reader a miss.
  alignas(kCacheLineBytes) std::atomic<int> busy{0};
  std::atomic<int> queued{0};
  alignas(kCacheLineBytes) std::atomic<int> state{kStopped};
  std::atomic<int> liveThreads{0};
  std::atomic<int> maxThreads{0};
  std::atomic<int> coreThreads{0};
  std::atomic<int> idleTimeoutMs{kDefaultIdleTimeoutMs};
  std::atomic<std::size_t> stackSize{0};
  std::atomic<bool> running{false};
  // Extra workers that decided to retire but have not yet left the live count.
  std::atomic<int> retiring{0};
  // Numbers the runs, so that late posts from an earlier run are refused.
  std::atomic<std::uint64_t> run{0};

  // The events live as long as the shared state and are reopened by every
  // start; "absent" (disabled, or after the last worker's teardown) is closed.
  std::atomic<bool> jobDoneEnabled{false};
  std::atomic<bool> gateEnabled{false};
  const EventHandle jobDone;      // auto-reset: some job finished
  const EventHandle gate;         // manual-reset: set = not paused
  const EventHandle started;      // auto-reset: a worker began / the last one left
  const EventHandle managerWake;  // auto-reset
  detail::JobQueue queue;
  std::optional<ThreadId> manager;  // touched only by start and stop

  std::atomic<ThreadHook> onThreadStart{nullptr};
  std::atomic<ThreadHook> onThreadExit{nullptr};
  std::atomic<JobRunner> jobRunner{nullptr};
  std::atomic<StartedHook> onStarted{nullptr};
  std::atomic<StoppedHook> onStopped{nullptr};
  std::atomic<std::intptr_t> threadStartParam{0};
  std::atomic<std::intptr_t> threadExitParam{0};
  std::atomic<std::intptr_t> startedParam{0};
  std::atomic<std::intptr_t> stoppedParam{0};

  bool moreWorkersWanted() const {
    const int live = liveThreads.load();
    return live < maxThreads.load() && busy.load() + queued.load() > live;
  }
};

namespace {

using Shared = WorkerPool::Shared;

// Which pool's worker the current thread is, so a job that stops its own pool
// is not left waiting for itself.
thread_local const Shared* tWorkerOf = nullptr;

void runJob(const Shared& shared, const detail::JobRecord& record) {
  try {
    if (const JobRunner runner = shared.jobRunner.load()) {
      runner(record.job, record.first, record.second);
    } else {
      record.job(record.first, record.second);
    }
  } catch (...) {
    // A failing job is still a finished job; the worker goes on.
  }
}

// Closes what the run's last worker leaves behind and finishes a stop that
// nobody waits for.
void tearDown(Shared& shared) {
  shared.queue.close();
  shared.running = false;
  shared.liveThreads = 0;
  shared.busy = 0;
  shared.queued = 0;
  shared.jobDone->close();
  shared.gate->close();
  shared.managerWake->close();
  if (shared.started->set()) return;  // a stop is waiting and finishes the job
  if (const StoppedHook hook = shared.onStopped.load()) hook(shared.stoppedParam.load());
  shared.state = kStopped;
}

// An extra worker beyond a lowered maximum leaves; counting the ones already
// leaving keeps several from retiring for the same surplus.
bool shouldRetire(Shared& shared) {
  const int alreadyLeaving = shared.retiring.fetch_add(1);
  if (shared.liveThreads.load() - alreadyLeaving > shared.maxThreads.load()) return true;
  shared.retiring.fetch_sub(1);
  return false;
}

void workerMain(const std::shared_ptr<Shared>& owner, bool extra) {
  Shared& shared = *owner;
  tWorkerOf = &shared;
  shared.liveThreads.fetch_add(1);
  shared.started->set();
  if (const ThreadHook hook = shared.onThreadStart.load()) hook(shared.threadStartParam.load());

  const auto next = [&] {
    std::optional<int> timeout;
    if (extra) timeout = shared.idleTimeoutMs.load();
    auto record = shared.queue.take(timeout);
    if (shared.gateEnabled.load(std::memory_order_relaxed)) shared.gate->wait();
    return record;
  };
  bool retired = false;
  for (auto record = next(); shared.running.load() && record && !record->quit; record = next()) {
    shared.busy.fetch_add(1);
    shared.queued.fetch_sub(1);
    runJob(shared, *record);
    shared.busy.fetch_sub(1);
    if (shared.jobDoneEnabled.load(std::memory_order_relaxed)) shared.jobDone->set();
    if (extra && shouldRetire(shared)) {
      retired = true;
      break;
    }
  }

  if (const ThreadHook hook = shared.onThreadExit.load()) hook(shared.threadExitParam.load());
  tWorkerOf = nullptr;
  const int left = shared.liveThreads.fetch_sub(1) - 1;
  if (retired) shared.retiring.fetch_sub(1);
  if (left == 0) tearDown(shared);
}

bool launchWorker(const std::shared_ptr<Shared>& owner, bool extra) {
  return launchThread(owner->stackSize.load(), false, [owner, extra] { workerMain(owner, extra); })
      .has_value();
}

void managerMain(const std::shared_ptr<Shared>& owner) {
  Shared& shared = *owner;
  shared.managerWake->wait();
  int failures = 0;
  while (shared.state.load() == kRunning) {
    if (shared.moreWorkersWanted()) {
      if (launchWorker(owner, true)) {
        failures = 0;
        shared.started->wait();
      } else if (++failures >= kMaxCreateFailures) {
        shared.maxThreads = shared.liveThreads.load();
        failures = 0;
      }
    } else {
      shared.managerWake->wait();
    }
    if (shared.gateEnabled.load()) shared.gate->wait();  // no workers are added while paused
  }
}

void closeRunEvents(Shared& shared) {
  shared.jobDone->close();
  shared.gate->close();
  shared.started->close();
  shared.managerWake->close();
}

}  // namespace

WorkerPool::WorkerPool() : shared_(std::make_shared<Shared>()) {}

WorkerPool::~WorkerPool() { stop(kStopNowNoWait); }

bool WorkerPool::start(int coreThreads, int maxThreads, int idleTimeoutMs, bool enableJobDone,
                       bool enablePause, std::size_t stackSize, std::optional<bool> pumpMessages) {
  Shared& s = *shared_;
  int expected = kStopped;
  if (!s.state.compare_exchange_strong(expected, kStarting)) return false;

  coreThreads = std::max(coreThreads, 1);
  maxThreads = std::max(maxThreads, coreThreads);
  idleTimeoutMs = std::max(idleTimeoutMs, kMinIdleTimeoutMs);
  const bool pump = pumpMessages.value_or(isUserInterfaceThread());

  const std::uint64_t run = s.run.fetch_add(1) + 1;
  s.jobDoneEnabled = enableJobDone;
  s.gateEnabled = enablePause;
  if (enableJobDone) s.jobDone->reopen(false);
  if (enablePause) s.gate->reopen(true);
  s.started->reopen(false);
  s.managerWake->reopen(false);
  s.queue.open(run);

  s.coreThreads = coreThreads;
  s.maxThreads = maxThreads;
  s.idleTimeoutMs = idleTimeoutMs;
  s.stackSize = detail::normaliseStackSize(stackSize);
  s.liveThreads = 0;
  s.busy = 0;
  s.queued = 0;
  s.running = true;

  s.manager = launchThread(kManagerStackBytes, true, [owner = shared_] { managerMain(owner); });
  if (!s.manager) {
    s.running = false;
    s.queue.close();
    closeRunEvents(s);
    s.state = kStopped;
    return false;
  }

  int failures = 0;
  for (int i = 0; i < coreThreads; ++i) {
    if (launchWorker(shared_, false)) {
      failures = 0;
      waitEvent(*s.started, std::nullopt, pump);
    } else if (++failures >= kMaxCreateFailures) {
      break;
    }
  }

  if (s.liveThreads.load() == 0) {
    s.queue.close();
    s.managerWake->set();  // it leaves: the state is not running
    joinThread(*s.manager);
    s.manager.reset();
    s.running = false;
    closeRunEvents(s);
    s.liveThreads = 0;
    s.state = kStopped;
    return false;
  }

  s.coreThreads = s.liveThreads.load();
  if (const StartedHook hook = s.onStarted.load(); hook && hook(s.startedParam.load()) != 0) {
    s.state = kStopping;
    stopPool(kStopNowAndWait, pump, true);
    return false;
  }
  s.state = kRunning;
  return true;
}

bool WorkerPool::stop(int mode, std::optional<bool> pumpMessages) {
  return stopPool(mode, pumpMessages, false);
}

bool WorkerPool::stopPool(int mode, std::optional<bool> pumpMessages, bool vetoedStart) {
  Shared& s = *shared_;
  if (!vetoedStart) {
    int expected = kRunning;
    if (!s.state.compare_exchange_strong(expected, kStopping)) return expected == kStopped;
  }
  if (mode < kStopNowAndWait || mode > kFinishQueuedNoWait) mode = kStopNowAndWait;
  const bool pump = pumpMessages.value_or(isUserInterfaceThread());
  if (tWorkerOf == &s) {
    // Waiting here would wait for this very thread to leave.
    if (mode == kStopNowAndWait) mode = kStopNowNoWait;
    if (mode == kFinishQueuedAndWait) mode = kFinishQueuedNoWait;
  }
  const bool waits = mode == kStopNowAndWait || mode == kFinishQueuedAndWait;
  const bool dropQueued = mode == kStopNowAndWait || mode == kStopNowNoWait;

  s.managerWake->set();
  if (s.gateEnabled.load()) s.gate->set();  // paused workers must run to their exit
  if (s.manager) {
    joinThread(*s.manager);
    s.manager.reset();
  }

  if (waits) {
    s.started->wait(0);  // a stale signal must not pass for the last worker's
  } else {
    s.started->close();  // nobody waits: the last worker finishes the stop
  }
  if (s.jobDoneEnabled.load()) s.jobDone->set();  // releases a waiter
  if (dropQueued) s.running = false;

  const std::uint64_t run = s.run.load();
  const int workers = s.liveThreads.load();
  for (int i = 1; i <= workers; ++i) {
    s.queue.post(detail::JobRecord{.quit = true}, run);
    if (pump && i % kQuitPostsPerPump == 0) processPendingMessages();
  }
  if (!waits) return true;

  waitEvent(*s.started, std::nullopt, pump);
  s.started->close();
  if (const StoppedHook hook = s.onStopped.load()) hook(s.stoppedParam.load());
  s.state = kStopped;
  return true;
}

bool WorkerPool::pause() {
  Shared& s = *shared_;
  const std::uint64_t run = s.run.load();
  if (s.state.load() != kRunning || !s.gateEnabled.load()) return false;
  s.gate->reset();
  // A stop (or a restart) that slipped in after the check must not find the gate closed.
  if (s.state.load() != kRunning || s.run.load() != run) {
    s.gate->set();
    return false;
  }
  return true;
}

bool WorkerPool::resume() {
  Shared& s = *shared_;
  if (s.state.load() != kRunning || !s.gateEnabled.load()) return false;
  return s.gate->set();
}

bool WorkerPool::waitResumed(std::optional<int> timeoutMs) {
  Shared& s = *shared_;
  if (s.state.load() != kRunning) return false;
  if (!s.gateEnabled.load()) return true;  // a pool without a gate is never paused
  return s.gate->wait(timeoutMs);
}

bool WorkerPool::submit(Job job, std::intptr_t first, std::intptr_t second) {
  Shared& s = *shared_;
  const std::uint64_t run = s.run.load();
  if (s.state.load() != kRunning || job == nullptr) return false;
  if (!s.queue.post(detail::JobRecord{job, first, second}, run, &s.queued)) return false;
  if (s.moreWorkersWanted()) s.managerWake->set();
  return true;
}

bool WorkerPool::waitJobDone(std::optional<int> timeoutMs, bool pumpMessages) {
  Shared& s = *shared_;
  if (s.state.load() != kRunning || !s.jobDoneEnabled.load()) return false;
  return waitEvent(*s.jobDone, timeoutMs, pumpMessages);
}

bool WorkerPool::signalJobDone() {
  Shared& s = *shared_;
  if (s.state.load() != kRunning || !s.jobDoneEnabled.load()) return false;
  return s.jobDone->set();
}

PoolState WorkerPool::state() const { return static_cast<PoolState>(shared_->state.load()); }
int WorkerPool::liveThreads() const { return shared_->liveThreads.load(); }
int WorkerPool::maxThreads() const { return shared_->maxThreads.load(); }
int WorkerPool::busyThreads() const { return shared_->busy.load(); }
int WorkerPool::queuedJobs() const { return shared_->queued.load(); }

int WorkerPool::idleThreads() const {
  return std::max(shared_->liveThreads.load() - shared_->busy.load(), 0);
}

bool WorkerPool::spareThreads(int& n) const {
  n = shared_->liveThreads.load() - shared_->busy.load() - shared_->queued.load();
  if (n > 0) return true;
  n = 0;
  return false;
}

bool WorkerPool::spareCapacity(int& n) const {
  n = shared_->maxThreads.load() - shared_->busy.load() - shared_->queued.load();
  if (n > 0) return true;
  n = 0;
  return false;
}

bool WorkerPool::isIdle() const { return shared_->queued.load() == 0 && shared_->busy.load() == 0; }

bool WorkerPool::setMaxThreads(int n) {
  Shared& s = *shared_;
  if (s.state.load() != kRunning) return false;
  const int core = s.coreThreads.load();
  if (n < core) {
    s.maxThreads = core;
    return true;
  }
  const int before = s.maxThreads.exchange(n);
  if (n > before && s.moreWorkersWanted()) s.managerWake->set();
  return true;
}

bool WorkerPool::setIdleTimeout(int ms) {
  if (shared_->state.load() != kRunning) return false;
  shared_->idleTimeoutMs = std::max(ms, kMinIdleTimeoutMs);
  return true;
}

bool WorkerPool::setStackSize(std::size_t bytes) {
  if (shared_->state.load() != kRunning) return false;
  shared_->stackSize = detail::normaliseStackSize(bytes);
  return true;
}

void WorkerPool::setThreadHooks(std::optional<ThreadHook> onThreadStart,
                                std::optional<ThreadHook> onThreadExit,
                                std::optional<JobRunner> jobRunner,
                                std::optional<std::intptr_t> threadStartParam,
                                std::optional<std::intptr_t> threadExitParam) {
  Shared& s = *shared_;
  if (onThreadStart) s.onThreadStart = *onThreadStart;
  if (onThreadExit) s.onThreadExit = *onThreadExit;
  if (jobRunner) s.jobRunner = *jobRunner;
  if (threadStartParam) s.threadStartParam = *threadStartParam;
  if (threadExitParam) s.threadExitParam = *threadExitParam;
}

void WorkerPool::setPoolHooks(std::optional<StartedHook> onStarted,
                              std::optional<StoppedHook> onStopped,
                              std::optional<std::intptr_t> startedParam,
                              std::optional<std::intptr_t> stoppedParam) {
  Shared& s = *shared_;
  if (onStarted) s.onStarted = *onStarted;
  if (onStopped) s.onStopped = *onStopped;
  if (startedParam) s.startedParam = *startedParam;
  if (stoppedParam) s.stoppedParam = *stoppedParam;
}

}  // namespace varnel
