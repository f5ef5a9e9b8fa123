// Threads of our own: the pool's workers and manager (with a chosen stack
// reservation, which std::thread cannot set) and the routines that run in the
// background of the window or the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace varnel {

// A joinable thread's handle.
struct ThreadId {
  std::uint64_t id;
};

// The smallest stack reservation the platform accepts.
std::size_t minimumThreadStackBytes();

// Runs `body` on a new thread with `stackBytes` of stack (0: the platform's
// default; other values are passed as they are, so callers round them first).
// A detached thread gives no id back. Empty when the thread could not be
// created; `body` is then dropped unrun.
std::optional<ThreadId> launchThread(std::size_t stackBytes, bool joinable,
                                     std::function<void()> body);
// Waits for a joinable thread to end.
void joinThread(ThreadId thread);

// Runs `routine` on a new detached thread. Nothing waits for it. False when no
// thread could be started (the work does not happen) or `routine` is empty.
bool startBackgroundThread(std::function<void()> routine);

}  // namespace varnel
