// NamedEvent: the owner of one event object (auto-reset or manual-reset).
//
// There are no kernel events here: an event is a mutex, a condition variable and
// a flag, shared by every handle to it (std::shared_ptr), so an object lives as
// long as any handle does. Names work inside this process only: `create` with a
// name that is already in use, and `open`, share the existing object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace varnel {

// The access right `open` asks for when none is given. Rights are accepted for
// compatibility and not enforced: every handle may set, reset, pulse and wait.
inline constexpr std::uint32_t kEventAllAccess = 0x1F0003;

// The shared event object. Every operation may be called from any thread.
// Time-outs are in milliseconds; an omitted or negative one means no limit.
class EventObject {
 public:
  EventObject(bool manualReset, bool initiallySet);
  EventObject(const EventObject&) = delete;
  EventObject& operator=(const EventObject&) = delete;

  // Auto-reset: releases one waiter, or stays set until one comes.
  // Manual-reset: stays set and releases every waiter until `reset`.
  bool set();
  bool reset();
  // Releases the threads waiting right now (auto-reset: one of them) and leaves
  // the event not set; with nobody waiting it does nothing.
  bool pulse();
  // True when the event was set within the time (auto-reset: and consumes it).
  // False on time-out and, at once, when the object is closed.
  bool wait(std::optional<int> timeoutMs = std::nullopt);

  // Closing ends the object's use for its owner: current waiters return false,
  // and set/reset/pulse/wait fail until `reopen` gives it a fresh state.
  void close();
  void reopen(bool initiallySet);
  bool isClosed() const;
  // Threads blocked in `wait` right now (a momentary count, for tests and diagnostics).
  int waiterCount() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const bool manualReset_;
  // Written only under the mutex; read without it by the fast paths of `set` and `wait`.
  std::atomic<bool> signaled_;
  bool closed_ = false;
  std::uint64_t closures_ = 0;  // a waiter from before a close must not outlive it
  int waiters_ = 0;
  // Auto-reset: releases handed straight to blocked waiters (never more than
  // there are), so a set that meets a waiter leaves the event unset and the
  // next set counts again. Manual-reset: a pulse releases the waiters that
  // saw the generation before it.
  int releases_ = 0;
  std::uint64_t generation_ = 0;
};

using EventHandle = std::shared_ptr<EventObject>;

class NamedEvent {
 public:
  NamedEvent() = default;
  // Closes a held handle.
  ~NamedEvent();
  // Two owners of one handle would both close it.
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Drops the held handle (other handles to the object keep it alive). True
  // also when none was held.
  bool close();
  // Returns the held handle; with `newHandle` given, holds that one instead
  // without closing the old one. handle(nullptr) hands the event over to the
  // caller: this instance no longer holds or closes it.
  EventHandle handle(std::optional<EventHandle> newHandle = std::nullopt);
  bool isValid() const;

  // With a handle already held: true, nothing created. Otherwise a new event,
  // or, for a name in use, the existing one (its own reset mode and state
  // unchanged). `security` is accepted and ignored. True when a handle is held.
  bool create(bool manualReset, bool initiallySet, std::string_view name = {},
              const void* security = nullptr);
  // With a handle already held: true. Otherwise shares the live event of that
  // name; false for an empty or unknown name.
  bool open(std::string_view name, bool inheritable = false,
            std::uint32_t access = kEventAllAccess);

  // False at once when no handle is held.
  bool set();
  bool reset();
  bool pulse();
  // Omitted or negative time-out: no limit. wait(0) only tests.
  bool wait(std::optional<int> timeoutMs = std::nullopt);

  // set/reset/pulse/wait may run on several threads at once; close, handle,
  // create and open change the instance and must not race with them.

 private:
  EventHandle handle_;
};

}  // namespace varnel
