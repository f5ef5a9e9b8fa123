#include "app/user_action.h"

#include <vector>

#include "app/process_state.h"
#include "os/threads.h"

namespace varnel {

bool startUserAction(Controls& controls, std::initializer_list<std::string_view> disable,
                     std::function<void()> routine) {
  const int claim = tryBeginAction();
  if (claim == 0) return false;
  const std::vector<std::string_view> names(disable);
  for (std::string_view name : names) controls.setEnabled(name, false);
  const bool started = startBackgroundThread([claim, routine = std::move(routine)] {
    routine();
    endAction(claim);
  });
  if (!started) {
    for (std::string_view name : names) controls.setEnabled(name, true);
    endAction(claim);
  }
  return started;
}

}  // namespace varnel
