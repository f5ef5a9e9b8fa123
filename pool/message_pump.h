// The hook through which the application keeps its windows responsive while a
// pool call waits on the user-interface thread. The pool never includes the GUI
// toolkit: it only asks these two questions of whatever the application installed.
#pragma once

#include <functional>

namespace varnel {

// Waits that keep the windows responsive wait in slices of this length and
// process pending window messages between slices.
inline constexpr int kMessagePumpSliceMs = 20;

struct MessagePump {
  // True on the thread that runs the window message loop. Empty: no thread is.
  std::function<bool()> isUserInterfaceThread;
  // Handles the window messages that are pending now and returns. Empty: nothing.
  std::function<void()> processPendingMessages;
};

// Replaces the installed hook (any thread may call, typically once at start-up);
// installMessagePump({}) removes it.
void installMessagePump(MessagePump pump);

// False when no hook is installed.
bool isUserInterfaceThread();

// Runs the hook's processPendingMessages, but only on the user-interface thread:
// called anywhere else (or with no hook installed) it does nothing.
void processPendingMessages();

}  // namespace varnel
