// The command line: the program's own routines (catalogue sync, book list,
// book download) run headless through HeadlessControls, without a window.
//
//   varnel [OPTIONS] editions
//   varnel [OPTIONS] subjects EDITION
//   varnel [OPTIONS] books EDITION SUBJECT
//   varnel [OPTIONS] download EDITION [SUBJECT] (BOOK... | --all)
//   varnel [OPTIONS] pdf FOLDER
//   varnel [OPTIONS] doctor
//   varnel site-profile
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

// Exit statuses; a run ends with the first that applies, in this order:
// usage, interrupted, site unreadable, site not understood, failed, ok.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a book is incomplete
inline constexpr int kExitUsage = 2;   // unknown command/option/name, missing argument
// No connection, name not found, certificate, time or size limit, redirect loop.
inline constexpr int kExitSiteUnreadable = 3;
// Read, but an expression found nothing or a book page had no image path.
inline constexpr int kExitSiteNotUnderstood = 4;
inline constexpr int kExitInterrupted = 130;

enum class CliCommand {
  window,
  help,
  version,
  editions,
  subjects,
  books,
  download,
  pdf,
  doctor,
  siteProfile,
};

struct CommandLine {
  CliCommand command = CliCommand::window;
  std::vector<std::string> operands;     // after the command word, UTF-8
  std::optional<std::string> directory;  // -d/--dir; never empty when set
  std::optional<std::string> baseUrl;    // --base-url, as given
  std::optional<std::string> siteFile;   // --site: the site profile instead of site.json
  bool open = false;
  bool all = false;
  bool insecure = false;
  bool pdf = false;
  bool quiet = false;    // no progress line: results and errors only
  bool verbose = false;  // each page request on standard error
  bool refetch = false;  // download: fetch every page again
  bool partial = false;  // pdf: export although pages are missing
  std::string error;     // a usage error (UTF-8); the run then ends with kExitUsage
};

// Parsed once, here. Options may stand before or after the command word; "--"
// ends them, so every later argument is an operand. Any option not listed in
// helpText() is a usage error when a command is given. Without a command word
// the window opens, and single-dash arguments with their values are left to Qt
// ("-platform offscreen"); an unknown "--option" or word is still an error.
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
