// The command line's progress on standard error. On a terminal: one line
// redrawn in place, at most 10 times a second, never wider than the terminal:
//   [37/212] 17%  4.1 MiB/s  ETA 0:42  retries 2  failed 1  <title>
// Elsewhere (a log, a pipe): a plain line when a book starts, every 5 s, and
// when it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace varnel {

// Columns a UTF-8 text takes on a terminal: 2 for East Asian wide characters
// (Chinese among them), 1 for the others.
int displayWidth(std::string_view utf8);
// The longest prefix of `utf8` that takes at most `columns` columns, cut on a
// character boundary.
std::string cutToWidth(std::string_view utf8, int columns);

// `utf8` with every control character (C0 including tab and line feed, DEL,
// and C1 such as U+009B) shown as '?': text from the site must not be able to
// move the cursor, set the terminal's title or recolour what follows. Every
// print of site text to a terminal or a log goes through here.
std::string printableText(std::string_view utf8);

// "4.1 MiB/s" or "512 KiB/s".
std::string formatRate(double bytesPerSecond);
// "0:42", "12:05" or "1:02:03", rounded to the second.
std::string formatDuration(double seconds);

struct ProgressFigures {
  int finished = 0;  // pages ended: written, failed, or kept from disk
  int kept = 0;      // of those, kept from disk: they took no time
  int total = 0;
  int failed = 0;
  int retries = 0;
  std::int64_t bytes = 0;
  double seconds = 0;  // since the book started
};

// The line itself, `columns` wide at most (the title is cut to fit).
std::string formatProgress(const ProgressFigures& figures, std::string_view titleUtf8, int columns);

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  // `terminal`: redraw in place; `columns`: the terminal's width.
  ProgressLine(std::FILE* out, bool terminal, int columns);

  void bookStarted(std::string_view titleUtf8, int pageCount);
  // Draws when due (10 Hz on a terminal, every 5 s otherwise).
  void update(const ProgressFigures& figures, Clock::time_point now = Clock::now());
  // Clears the line on a terminal; `summary` follows on a line of its own.
  void bookEnded(std::string_view summaryUtf8);
  // A line of its own between two drawings of the progress line (-v's requests).
  void note(std::string_view lineUtf8);

 private:
  std::FILE* out_;
  bool terminal_;
  int columns_;
  std::string title_;
  bool drawn_ = false;
  Clock::time_point lastDraw_{};
};

}  // namespace varnel
