// The command line: the program's own routines (catalogue sync, book list,
// book download) run headless through HeadlessControls, without a window.
//
//   varnel [--base-url URL] editions
//   varnel [--base-url URL] subjects EDITION
//   varnel [--base-url URL] books EDITION SUBJECT
//   varnel [--base-url URL] [--dir DIR] [--open] [--pdf] download EDITION SUBJECT (BOOK... | --all)
//   varnel pdf FOLDER
//   varnel --help | --version
//
// Without a command the window opens. A command-line run never writes conf.ini.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varnel {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the site, a book or a page failed
inline constexpr int kExitUsage = 2;   // unknown command/option/name, missing argument
inline constexpr int kExitInterrupted = 130;

enum class CliCommand { window, help, version, editions, subjects, books, download, pdf };

struct CommandLine {
  CliCommand command = CliCommand::window;
  std::vector<std::string> operands;  // after the command word, UTF-8
  std::optional<std::string> directory;
  bool open = false;
  bool all = false;
  bool insecure = false;
  bool pdf = false;
  std::string error;  // a usage error (UTF-8); the run then ends with kExitUsage
};

// Options may stand before or after the command; "--" ends them. Without a
// command word every argument is left to the window (Qt's own options such as
// "-platform offscreen" among them). --base-url is read by start-up itself.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText();
std::string versionText();

struct CliEnvironment {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool errIsTerminal = false;
  int columns = 80;
};

// Runs a parsed command (not `window`) and returns the exit status.
int runCommandLine(const CommandLine& commandLine, const CliEnvironment& environment);

}  // namespace varnel
