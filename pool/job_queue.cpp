#include "pool/job_queue.h"

#include <chrono>

namespace varnel::detail {

void JobQueue::open(std::uint64_t run) {
  std::lock_guard lock(mutex_);
  records_.clear();
  run_ = run;
  closed_ = false;
}

void JobQueue::close() {
  std::deque<JobRecord> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(records_);
  }
  posted_.notify_all();
}

bool JobQueue::post(const JobRecord& record, std::uint64_t run, std::atomic<int>* counter) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_ || run != run_) return false;
    records_.push_back(record);
    if (counter) counter->fetch_add(1);
    wake = takers_ > 0;
  }
  if (wake) posted_.notify_one();
  return true;
}

std::optional<JobRecord> JobQueue::take(std::optional<int> timeoutMs) {
  std::unique_lock lock(mutex_);
  const auto ready = [this] { return closed_ || !records_.empty(); };
  if (!ready()) {
    ++takers_;
    if (timeoutMs) {
      posted_.wait_for(lock, std::chrono::milliseconds(*timeoutMs), ready);
    } else {
      posted_.wait(lock, ready);
    }
    --takers_;
  }
  if (closed_ || records_.empty()) return std::nullopt;
  JobRecord record = records_.front();
  records_.pop_front();
  return record;
}

}  // namespace varnel::detail
