#include "pool/job_queue.h"

#include <algorithm>  // max
#include <chrono>

namespace varnel::detail {
namespace {

// About 10 us on current hardware: long enough to catch the next job of a
// burst or of a submit-and-wait loop, short enough not to matter when idle.
constexpr int kSpinChecks = 256;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

void RecordRing::push_back(const JobRecord& record) {
  if (count_ == slots_.size()) {
    std::vector<JobRecord> grown(std::max<std::size_t>(slots_.size() * 2, 64));
    for (std::size_t i = 0; i < count_; ++i) grown[i] = slots_[(head_ + i) & (slots_.size() - 1)];
    slots_.swap(grown);
    head_ = 0;
  }
  slots_[(head_ + count_) & (slots_.size() - 1)] = record;
  ++count_;
}

void JobQueue::open(std::uint64_t run) {
  std::lock_guard lock(mutex_);
  records_.clear();
  available_.store(0, std::memory_order_relaxed);
  run_ = run;
  closed_ = false;
  closedFlag_.store(false, std::memory_order_relaxed);
}

void JobQueue::close() {
  RecordRing dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    closedFlag_.store(true, std::memory_order_relaxed);
    dropped.swap(records_);
    available_.store(0, std::memory_order_relaxed);
  }
  posted_.notify_all();
}

bool JobQueue::post(const JobRecord& record, std::uint64_t run, std::atomic<int>* counter) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || run != run_) return false;
    records_.push_back(record);
    available_.store(records_.size(), std::memory_order_relaxed);
    if (counter) counter->fetch_add(1);
    // A searching taker will find the record; otherwise wake one sleeper (one
    // that has not been handed a wake-up already).
    wake = searching_ == 0 && sleeping_ > wakeUps_;
    if (wake) {
      ++wakeUps_;
      ++searching_;
    }
  }
  if (wake) posted_.notify_one();
  return true;
}

void JobQueue::spinBeforeSleeping() {
  for (int i = 0; i < kSpinChecks; ++i) {
    if (available_.load(std::memory_order_relaxed) != 0 ||
        closedFlag_.load(std::memory_order_relaxed)) {
      return;
    }
    cpuRelax();
  }
}

std::optional<JobRecord> JobQueue::take(std::optional<int> timeoutMs) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs.value_or(0));
  std::unique_lock lock(mutex_);
  ++searching_;
  bool spun = false;
  bool timedOut = false;
  for (;;) {
    if (closed_) {
      --searching_;
      return std::nullopt;
    }
    if (!records_.empty()) {
      const JobRecord record = records_.pop_front();
      available_.store(records_.size(), std::memory_order_relaxed);
      --searching_;
      // More records behind this one and nobody else looking: pass the wake-up on.
      const bool wake = !records_.empty() && searching_ == 0 && sleeping_ > wakeUps_;
      if (wake) {
        ++wakeUps_;
        ++searching_;
      }
      lock.unlock();
      if (wake) posted_.notify_one();
      return record;
    }
    if (timedOut) {
      --searching_;
      return std::nullopt;
    }
    if (!spun && !spinning_.exchange(true, std::memory_order_acquire)) {
      spun = true;
      lock.unlock();
      spinBeforeSleeping();
      spinning_.store(false, std::memory_order_release);
      lock.lock();
      continue;
    }

    --searching_;
    ++sleeping_;
    const auto woken = [this] { return closed_ || wakeUps_ > 0; };
    if (timeoutMs) {
      timedOut = !posted_.wait_until(lock, deadline, woken);
    } else {
      posted_.wait(lock, woken);
    }
    --sleeping_;
    if (wakeUps_ > 0) {
      --wakeUps_;  // the poster counted this taker as searching already
    } else {
      ++searching_;
    }
  }
}

}  // namespace varnel::detail
