#pragma once

#include <functional>

namespace varnel {

// Runs `routine` on a new detached thread. Nothing waits for it. False when no
// thread could be started (the work does not happen) or `routine` is empty.
bool startBackgroundThread(std::function<void()> routine);

}  // namespace varnel
