#include "os/terminal.h"

#include <sys/ioctl.h>  // TIOCGWINSZ
#include <unistd.h>     // isatty

#include <cstdlib>

namespace varnel {
namespace {

constexpr int kDefaultColumns = 80;

int descriptorOf(StandardStream stream) {
  return stream == StandardStream::output ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

bool isTerminal(StandardStream stream) { return ::isatty(descriptorOf(stream)) == 1; }

int terminalColumns(StandardStream stream) {
  winsize size{};
  if (::ioctl(descriptorOf(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    const int value = std::atoi(columns);
    if (value > 0) return value;
  }
  return kDefaultColumns;
}

}  // namespace varnel
