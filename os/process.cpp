#include "os/process.h"

#include <fcntl.h>     // O_WRONLY
#include <signal.h>    // sigaction
#include <spawn.h>     // posix_spawnp
#include <sys/wait.h>  // waitpid
#include <unistd.h>    // readlink, write, _exit

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace varnel {
namespace {

// Read by the signal handler: plain values set before it is installed.
std::atomic<bool> catching{false};
std::atomic<bool> interrupted{false};
int interruptExitStatus = 130;
char interruptNotice[256] = {};
std::size_t interruptNoticeLength = 0;
void (*firstInterrupt)() = nullptr;

extern "C" void onInterruptSignal(int) {
  if (interrupted.exchange(true) || !catching.load()) ::_exit(interruptExitStatus);
  if (interruptNoticeLength > 0) {
    [[maybe_unused]] const ssize_t ignored =
        ::write(STDERR_FILENO, interruptNotice, interruptNoticeLength);
  }
  if (firstInterrupt) firstInterrupt();
}

}  // namespace

std::string programDirectory() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0) return ".";
  path.resize(static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string temporaryDirectory() {
  const char* value = std::getenv("TMPDIR");
  std::string folder = value && *value ? value : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

void installInterruptHandler(int exitStatus, std::string_view notice, void (*onFirst)()) {
  interruptExitStatus = exitStatus;
  interruptNoticeLength = std::min(notice.size(), sizeof interruptNotice);
  std::memcpy(interruptNotice, notice.data(), interruptNoticeLength);
  firstInterrupt = onFirst;
  struct sigaction action {};
  action.sa_handler = onInterruptSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void setInterruptCatching(bool on) { catching = on; }
bool interruptRequested() { return interrupted; }

bool startDetachedProgram(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int failed = posix_spawnp(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return false;
  std::thread([child] { ::waitpid(child, nullptr, 0); }).detach();
  return true;
}

}  // namespace varnel
