#include "pool/thread_launch.h"

#include <algorithm>
#include <memory>
#include <utility>

#include <unistd.h>  // sysconf

#include "pool/worker_pool.h"  // kMinStackBytes, kStackSizeGranule

namespace varnel::detail {
namespace {

std::size_t platformMinimumStack() {
  const long minimum = sysconf(_SC_THREAD_STACK_MIN);
  return minimum > 0 ? static_cast<std::size_t>(minimum) : PTHREAD_STACK_MIN;
}

void* threadEntry(void* raw) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(raw));
  (*body)();
  return nullptr;
}

}  // namespace

std::size_t normaliseStackSize(std::size_t bytes) {
  if (bytes == 0) return 0;
  const std::size_t floorBytes = std::max(kMinStackBytes, platformMinimumStack());
  const std::size_t minimum =
      (floorBytes + kStackSizeGranule - 1) / kStackSizeGranule * kStackSizeGranule;
  return std::max(minimum, bytes / kStackSizeGranule * kStackSizeGranule);
}

std::optional<ThreadId> launchThread(std::size_t stackBytes, bool joinable,
                                     std::function<void()> body) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return std::nullopt;
  bool ok = pthread_attr_setdetachstate(
                &attributes, joinable ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED) == 0;
  if (ok && stackBytes != 0) {
    ok = pthread_attr_setstacksize(&attributes, normaliseStackSize(stackBytes)) == 0;
  }
  std::optional<ThreadId> started;
  if (ok) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_t id;
    if (pthread_create(&id, &attributes, threadEntry, owned.get()) == 0) {
      owned.release();  // the thread owns it now
      started = ThreadId{id};
    }
  }
  pthread_attr_destroy(&attributes);
  return started;
}

void joinThread(ThreadId thread) { pthread_join(thread.id, nullptr); }

}  // namespace varnel::detail
