// The pool's job queue (internal): a mutex-guarded FIFO with a timed take,
// opened per run and closed by the run's last worker.
//
// Waking a sleeping taker costs far more than a job, so a post wakes one only
// when no taker is awake and looking already; a taker that finds more records
// behind the one it took passes the wake-up on. A taker that finds the queue
// empty spins briefly (one at a time) before it sleeps, so a steady stream of
// small jobs and an idle pool's next job mostly need no wake-up at all.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "pool/worker_pool.h"

namespace varnel::detail {

struct JobRecord {
  Job job = nullptr;
  std::intptr_t first = 0;
  std::intptr_t second = 0;
  bool quit = false;  // tells the worker that takes it to leave; never run
};

// A FIFO of records in one growing ring: a deque allocates and frees a block
// every few records, under the queue's lock.
class RecordRing {
 public:
  bool empty() const { return count_ == 0; }
  std::size_t size() const { return count_; }
  void push_back(const JobRecord& record);
  JobRecord pop_front() {
    const JobRecord record = slots_[head_];
    head_ = (head_ + 1) & (slots_.size() - 1);
    --count_;
    return record;
  }
  void clear() {
    head_ = 0;
    count_ = 0;
  }
  void swap(RecordRing& other) noexcept {
    slots_.swap(other.slots_);
    std::swap(head_, other.head_);
    std::swap(count_, other.count_);
  }

 private:
  std::vector<JobRecord> slots_;  // a power of two long
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

class JobQueue {
 public:
  // Drops anything left from an earlier run. Only posts carrying this run's
  // number are accepted, so a submit that raced a restart cannot slip a job
  // into the next run.
  void open(std::uint64_t run);
  // Drops every record and makes current and later takes fail.
  void close();

  // False when closed or for another run. `counter`, when given, is
  // incremented while the record is added, so no taker can see the record
  // before the count includes it.
  bool post(const JobRecord& record, std::uint64_t run, std::atomic<int>* counter = nullptr);
  // The oldest record; empty when the time-out passes or the queue is closed.
  // Omitted time-out: no limit.
  std::optional<JobRecord> take(std::optional<int> timeoutMs);

 private:
  // Waits a little, without the lock, for a record or a close.
  void spinBeforeSleeping();

  std::mutex mutex_;
  std::condition_variable posted_;
  RecordRing records_;
  std::uint64_t run_ = 0;
  bool closed_ = true;
  // Takers in `take` that are not asleep and have no record yet, counting
  // those a wake-up was handed to: while there is one, a post needs no wake-up.
  int searching_ = 0;
  int sleeping_ = 0;  // takers blocked on posted_
  int wakeUps_ = 0;   // handed to sleepers and not yet taken up by one
  // Mirrors of records_.size() and closed_ for the spinning taker, which
  // reads them without the lock.
  std::atomic<std::size_t> available_{0};
  std::atomic<bool> closedFlag_{true};
  std::atomic<bool> spinning_{false};
};

}  // namespace varnel::detail
