// The main window's events bound to the program's routines, as the program
// and its tools open the window.
#pragma once

#include "app/controls.h"
#include "app/windows.h"

namespace varnel {

MainWindowHandlers routineHandlers(Controls& controls);

}  // namespace varnel
