// One user action at a time (book list, download, PDF export), started from a
// handler on the user-interface thread.
#pragma once

#include <functional>
#include <initializer_list>
#include <string_view>

#include "app/controls.h"

namespace varnel {

// Claims the one running action and runs `routine` on a thread of its own,
// which releases the claim at its end. The controls named in `disable` are
// disabled here first, on the user-interface thread, so a second click (or a
// mouse-wheel notch over a combo box) cannot start a second run meanwhile.
// Nothing happens while another action runs; when no thread can be started,
// the controls are enabled again. True when the routine's thread started.
bool startUserAction(Controls& controls, std::initializer_list<std::string_view> disable,
                     std::function<void()> routine);

}  // namespace varnel
