#include "text/background_thread.h"

#include <system_error>
#include <thread>

namespace varnel {

bool startBackgroundThread(std::function<void()> routine) {
  if (!routine) return false;
  try {
    std::thread(std::move(routine)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;  // out of threads: the caller's work does not run
  }
}

}  // namespace varnel
