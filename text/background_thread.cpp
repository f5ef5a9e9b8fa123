#include "text/background_thread.h"

#include <system_error>
#include <thread>

namespace varnel {

void startBackgroundThread(std::function<void()> routine) {
  if (!routine) return;
  try {
    std::thread(std::move(routine)).detach();
  } catch (const std::system_error&) {
    // Out of threads: the caller's work simply does not run.
  }
}

}  // namespace varnel
