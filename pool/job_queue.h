// The pool's job queue (internal): a mutex + condition-variable FIFO with a
// timed take, opened per run and closed by the run's last worker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "pool/worker_pool.h"

namespace varnel::detail {

struct JobRecord {
  Job job = nullptr;
  std::intptr_t first = 0;
  std::intptr_t second = 0;
  bool quit = false;  // tells the worker that takes it to leave; never run
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
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<JobRecord> records_;
  std::uint64_t run_ = 0;
  bool closed_ = true;
  int takers_ = 0;  // threads blocked in take: a post wakes one only when there is one
};

}  // namespace varnel::detail
