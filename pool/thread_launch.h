// Thread creation with a chosen stack reservation (internal to the pool).
// std::thread cannot set a stack size, so POSIX threads are used directly.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include <pthread.h>

namespace varnel::detail {

struct ThreadId {
  pthread_t id;
};

// The stack size a thread really gets for a requested one: 0 stays 0 (platform
// default); anything else is at least the larger of kMinStackBytes and the
// platform minimum, rounded down to a multiple of kStackSizeGranule.
std::size_t normaliseStackSize(std::size_t bytes);

// Runs `body` on a new thread; detached threads give no id back. Empty when
// the thread could not be created (body is then dropped unrun).
std::optional<ThreadId> launchThread(std::size_t stackBytes, bool joinable,
                                     std::function<void()> body);
void joinThread(ThreadId thread);

}  // namespace varnel::detail
