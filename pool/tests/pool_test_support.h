// Helpers shared by the pool tests: bounded waits for asynchronous effects,
// a job that blocks until released, and a scoped message-pump hook.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "pool/message_pump.h"

namespace varnel::testing {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Polls until `condition` holds. The limit is only there so a broken pool
// fails the test instead of hanging it; no correct run comes near it.
inline bool eventually(const std::function<bool()>& condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Jobs that hold their worker until the test opens the blocker.
class Blocker {
 public:
  static void job(std::intptr_t self, std::intptr_t) { reinterpret_cast<Blocker*>(self)->hold(); }
  std::intptr_t arg() { return reinterpret_cast<std::intptr_t>(this); }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  void hold() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Installs a hook that treats the constructing thread as the user-interface
// thread; removed again on destruction.
class ScopedPump {
 public:
  explicit ScopedPump(std::function<void()> onPump,
                      std::thread::id uiThread = std::this_thread::get_id()) {
    installMessagePump(
        {.isUserInterfaceThread = [uiThread] { return std::this_thread::get_id() == uiThread; },
         .processPendingMessages = std::move(onPump)});
  }
  ~ScopedPump() { installMessagePump({}); }
  ScopedPump(const ScopedPump&) = delete;
  ScopedPump& operator=(const ScopedPump&) = delete;
};

}  // namespace varnel::testing
