// The running process: where it lives, interrupts, and programs it starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnel {

// Directory of the running executable, without a trailing slash ("." when it
// cannot be found).
std::string programDirectory();

// Where temporary files go: $TMPDIR when set, else /tmp.
std::string temporaryDirectory();

// --- interrupts (Ctrl-C, SIGINT and SIGTERM) ---------------------------------
// While catching is on, the first interrupt prints `notice` on standard error
// at once, sets the interrupt flag and calls `onFirst` (which must be safe in a
// signal handler: set atomics, nothing more). A second interrupt, or one while
// catching is off, ends the process at once with `exitStatus`.
void installInterruptHandler(int exitStatus, std::string_view notice, void (*onFirst)());
void setInterruptCatching(bool catching);
bool interruptRequested();

// Starts `argv[0]` found on the PATH with the given arguments, its output
// discarded, and reaps it in the background. False when it could not start.
bool startDetachedProgram(const std::vector<std::string>& argv);

}  // namespace varnel
