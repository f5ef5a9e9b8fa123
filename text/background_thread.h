#pragma once

#include <functional>

namespace varnel {

// Runs `routine` on a new detached thread. Nothing waits for it; a thread that
// cannot be started is silently skipped (the work does not happen).
void startBackgroundThread(std::function<void()> routine);

}  // namespace varnel
