#include "os/threads.h"

#include <limits.h>   // PTHREAD_STACK_MIN
#include <pthread.h>  // pthread_create, pthread_attr_setstacksize
#include <unistd.h>   // sysconf

#include <memory>
#include <utility>

namespace varnel {
namespace {

static_assert(sizeof(pthread_t) <= sizeof(ThreadId::id), "a thread id fits the handle");

void* threadEntry(void* raw) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(raw));
  (*body)();
  return nullptr;
}

}  // namespace

std::size_t minimumThreadStackBytes() {
  const long minimum = sysconf(_SC_THREAD_STACK_MIN);
  return minimum > 0 ? static_cast<std::size_t>(minimum) : PTHREAD_STACK_MIN;
}

std::optional<ThreadId> launchThread(std::size_t stackBytes, bool joinable,
                                     std::function<void()> body) {
  if (!body) return std::nullopt;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return std::nullopt;
  bool ok = pthread_attr_setdetachstate(
                &attributes, joinable ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED) == 0;
  if (ok && stackBytes != 0) ok = pthread_attr_setstacksize(&attributes, stackBytes) == 0;
  std::optional<ThreadId> started;
  if (ok) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_t id;
    if (pthread_create(&id, &attributes, threadEntry, owned.get()) == 0) {
      owned.release();  // the thread owns it now
      started = ThreadId{static_cast<std::uint64_t>(id)};
    }
  }
  pthread_attr_destroy(&attributes);
  return started;
}

void joinThread(ThreadId thread) { pthread_join(static_cast<pthread_t>(thread.id), nullptr); }

bool startBackgroundThread(std::function<void()> routine) {
  return launchThread(0, false, std::move(routine)).has_value();
}

}  // namespace varnel
