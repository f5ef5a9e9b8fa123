#include "pool/message_pump.h"

#include <memory>
#include <mutex>
#include <utility>

namespace varnel {
namespace {

// The hook is read from worker and UI threads while the application may swap
// it; handing out a shared copy lets a call finish on the hook it started with.
std::mutex& hookMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: late threads may still ask
  return *mutex;
}
std::shared_ptr<const MessagePump>& installedHook() {
  static auto* hook = new std::shared_ptr<const MessagePump>;
  return *hook;
}

std::shared_ptr<const MessagePump> currentHook() {
  std::lock_guard lock(hookMutex());
  return installedHook();
}

bool onUserInterfaceThread(const MessagePump* pump) {
  return pump && pump->isUserInterfaceThread && pump->isUserInterfaceThread();
}

}  // namespace

void installMessagePump(MessagePump pump) {
  std::shared_ptr<const MessagePump> hook;
  if (pump.isUserInterfaceThread || pump.processPendingMessages) {
    hook = std::make_shared<const MessagePump>(std::move(pump));
  }
  std::lock_guard lock(hookMutex());
  installedHook() = std::move(hook);
}

bool isUserInterfaceThread() { return onUserInterfaceThread(currentHook().get()); }

void processPendingMessages() {
  const auto hook = currentHook();
  if (onUserInterfaceThread(hook.get()) && hook->processPendingMessages) {
    hook->processPendingMessages();
  }
}

}  // namespace varnel
