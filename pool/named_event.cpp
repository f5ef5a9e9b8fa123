#include "pool/named_event.h"

#include <chrono>
#include <string>
#include <unordered_map>
#include <utility>

namespace varnel {

// --- EventObject --------------------------------------------------------------

EventObject::EventObject(bool manualReset, bool initiallySet)
    : manualReset_(manualReset), signaled_(initiallySet) {}

bool EventObject::set() {
  // Setting an auto-reset event that is already set changes nothing; skipping
  // the lock keeps a pool's per-job signal cheap when nobody is waiting.
  if (!manualReset_ && signaled_.load(std::memory_order_acquire)) return true;
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  if (manualReset_) {
    signaled_.store(true, std::memory_order_release);
    if (waiters_ > 0) changed_.notify_all();
  } else if (waiters_ > releases_) {
    ++releases_;
    changed_.notify_one();
  } else {
    signaled_.store(true, std::memory_order_release);
  }
  return true;
}

bool EventObject::reset() {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  signaled_.store(false, std::memory_order_release);
  return true;
}

bool EventObject::pulse() {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  signaled_.store(false, std::memory_order_release);
  if (manualReset_) {
    if (waiters_ > 0) {
      ++generation_;
      changed_.notify_all();
    }
  } else if (waiters_ > releases_) {
    ++releases_;
    changed_.notify_one();
  }
  return true;
}

bool EventObject::wait(std::optional<int> timeoutMs) {
  // An open gate is passed by every job a pool runs; a set manual-reset event
  // needs no lock to be seen as set (a closed event is never left set).
  if (manualReset_ && signaled_.load(std::memory_order_acquire)) return true;
  std::unique_lock lock(mutex_);
  if (closed_) return false;
  const auto takeSignal = [this] {
    if (!signaled_.load(std::memory_order_relaxed)) return false;
    if (!manualReset_) signaled_.store(false, std::memory_order_release);
    return true;
  };
  if (takeSignal()) return true;
  const bool limited = timeoutMs && *timeoutMs >= 0;
  if (limited && *timeoutMs == 0) return false;

  ++waiters_;
  const std::uint64_t generation = generation_;
  const std::uint64_t closures = closures_;
  const auto ready = [&] {
    return closures_ != closures || signaled_.load(std::memory_order_relaxed) ||
           (manualReset_ ? generation_ != generation : releases_ > 0);
  };
  if (limited) {
    changed_.wait_until(
        lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(*timeoutMs), ready);
  } else {
    changed_.wait(lock, ready);
  }

  bool released = false;
  if (closures_ == closures) {
    if (!manualReset_ && releases_ > 0) {
      --releases_;  // a release handed out while this thread waited (even if its time ran out)
      released = true;
    } else if (takeSignal()) {
      released = true;
    } else {
      released = manualReset_ && generation_ != generation;
    }
  }
  if (--waiters_ < releases_) {
    // Only a waiter woken by a close that was reopened meanwhile gets here: keep
    // the release that was meant for it as a signal rather than lose it.
    releases_ = waiters_;
    signaled_.store(true, std::memory_order_release);
  }
  return released;
}

void EventObject::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  ++closures_;
  signaled_.store(false, std::memory_order_release);
  releases_ = 0;
  changed_.notify_all();
}

void EventObject::reopen(bool initiallySet) {
  std::lock_guard lock(mutex_);
  closed_ = false;
  signaled_.store(initiallySet, std::memory_order_release);
  releases_ = 0;
}

bool EventObject::isClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

int EventObject::waiterCount() const {
  std::lock_guard lock(mutex_);
  return waiters_;
}

// --- NamedEvent ----------------------------------------------------------------
namespace {

// Names are shared inside this process only. The table holds weak references,
// so a name is free again once its last handle is gone.
struct NameTable {
  std::mutex mutex;
  std::unordered_map<std::string, std::weak_ptr<EventObject>> events;
};
NameTable& nameTable() {
  static NameTable* table = new NameTable;  // never destroyed: handles may outlive statics
  return *table;
}

}  // namespace

NamedEvent::~NamedEvent() { close(); }

bool NamedEvent::close() {
  // The field is cleared before the reference goes, as an owner closing a handle expects.
  EventHandle held = std::exchange(handle_, nullptr);
  return true;
}

EventHandle NamedEvent::handle(std::optional<EventHandle> newHandle) {
  EventHandle held = handle_;
  if (newHandle) handle_ = std::move(*newHandle);
  return held;
}

bool NamedEvent::isValid() const { return handle_ != nullptr; }

bool NamedEvent::create(bool manualReset, bool initiallySet, std::string_view name,
                        const void* /*security*/) {
  if (handle_) return true;
  if (name.empty()) {
    handle_ = std::make_shared<EventObject>(manualReset, initiallySet);
    return true;
  }
  NameTable& table = nameTable();
  std::lock_guard lock(table.mutex);
  std::erase_if(table.events, [](const auto& entry) { return entry.second.expired(); });
  auto& slot = table.events[std::string(name)];
  handle_ = slot.lock();
  if (!handle_) {
    handle_ = std::make_shared<EventObject>(manualReset, initiallySet);
    slot = handle_;
  }
  return true;
}

bool NamedEvent::open(std::string_view name, bool /*inheritable*/, std::uint32_t /*access*/) {
  if (handle_) return true;
  if (name.empty()) return false;
  NameTable& table = nameTable();
  std::lock_guard lock(table.mutex);
  const auto found = table.events.find(std::string(name));
  if (found != table.events.end()) handle_ = found->second.lock();
  return handle_ != nullptr;
}

bool NamedEvent::set() { return handle_ && handle_->set(); }
bool NamedEvent::reset() { return handle_ && handle_->reset(); }
bool NamedEvent::pulse() { return handle_ && handle_->pulse(); }

bool NamedEvent::wait(std::optional<int> timeoutMs) {
  const EventHandle held = handle_;  // keeps the object alive through the wait
  return held && held->wait(timeoutMs);
}

}  // namespace varnel
