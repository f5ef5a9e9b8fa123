#include "app/progress_line.h"

#include <cstdlib>
#include <string>

#include "text/text.h"  // utf8ToUtf16, utf16ToUtf8

namespace varnel {
namespace {

constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr auto kLogInterval = std::chrono::seconds(5);
constexpr std::string_view kClearToEnd = "\x1b[K";
constexpr int kDefaultColumns = 80;  // a width nobody told us

// The code point starting at `i` of a UTF-16 text; advances `i` past it.
char32_t nextCodePoint(std::u16string_view text, std::size_t& i) {
  const char32_t unit = text[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 &&
      text[i] <= 0xDFFF) {
    return 0x10000 + ((unit - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  return unit;
}

bool isWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

int charWidth(char32_t c) {
  if (c < 0x20 || c == 0x7F) return 0;
  return isWide(c) ? 2 : 1;
}

}  // namespace

std::string formatRate(double bytesPerSecond) {
  char buffer[32];
  if (bytesPerSecond >= 1024.0 * 1024.0) {
    std::snprintf(buffer, sizeof buffer, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.0f KiB/s", bytesPerSecond / 1024.0);
  }
  return buffer;
}

std::string formatDuration(double seconds) {
  const long total = static_cast<long>(seconds + 0.5);
  char buffer[32];
  if (total >= 3600) {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld", total / 60, total % 60);
  }
  return buffer;
}

int displayWidth(std::string_view utf8) {
  const std::u16string wide = utf8ToUtf16(utf8);
  int width = 0;
  for (std::size_t i = 0; i < wide.size();) width += charWidth(nextCodePoint(wide, i));
  return width;
}

std::string cutToWidth(std::string_view utf8, int columns) {
  const std::u16string wide = utf8ToUtf16(utf8);
  int width = 0;
  std::size_t i = 0;
  while (i < wide.size()) {
    std::size_t next = i;
    const int w = charWidth(nextCodePoint(wide, next));
    if (width + w > columns) break;
    width += w;
    i = next;
  }
  return utf16ToUtf8(std::u16string_view(wide).substr(0, i));
}

std::string printableText(std::string_view utf8) {
  std::string shown;
  shown.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    // C1 controls are U+0080..U+009F: 0xC2 then 0x80..0x9F in UTF-8.
    const bool c1 = byte == 0xC2 && i + 1 < utf8.size() &&
                    (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80;
    if (c1) ++i;
    shown += (byte < 0x20 || byte == 0x7F || c1) ? '?' : utf8[i];
  }
  return shown;
}

std::string formatProgress(const ProgressFigures& f, std::string_view titleUtf8, int columns) {
  const int percent = f.total > 0 ? f.finished * 100 / f.total : 0;
  std::string line = "[" + std::to_string(f.finished) + "/" + std::to_string(f.total) + "] " +
                     std::to_string(percent) + "%";
  if (f.seconds > 0) line += "  " + formatRate(static_cast<double>(f.bytes) / f.seconds);
  const int fetched = f.finished - f.kept;
  if (fetched > 0 && f.finished < f.total) {
    line += "  ETA " + formatDuration(f.seconds / fetched * (f.total - f.finished));
  }
  if (f.retries > 0) line += "  retries " + std::to_string(f.retries);
  if (f.failed > 0) line += "  failed " + std::to_string(f.failed);
  line += "  ";
  // One column stays free: a line that fills the last column wraps on some terminals.
  const int room = columns - 1 - displayWidth(line);
  if (room <= 0) return cutToWidth(line, columns - 1);
  return line + cutToWidth(titleUtf8, room);
}

ProgressLine::ProgressLine(std::FILE* out, bool terminal, int columns)
    : out_(out), terminal_(terminal), columns_(columns > 1 ? columns : kDefaultColumns) {}

void ProgressLine::bookStarted(std::string_view titleUtf8, int pageCount) {
  title_ = std::string(titleUtf8);
  drawn_ = false;
  lastDraw_ = Clock::now();
  if (!terminal_) {
    std::fprintf(out_, "开始下载 / downloading: %s (%d 页 pages)\n", title_.c_str(), pageCount);
    std::fflush(out_);
  }
}

void ProgressLine::update(const ProgressFigures& figures, Clock::time_point now) {
  const auto interval = terminal_ ? std::chrono::duration_cast<Clock::duration>(kTerminalInterval)
                                  : std::chrono::duration_cast<Clock::duration>(kLogInterval);
  // A terminal shows the first figures at once; a log waits a whole interval
  // after the line that announced the book.
  if (now - lastDraw_ < interval && (drawn_ || !terminal_)) return;
  lastDraw_ = now;
  drawn_ = true;
  const std::string line = formatProgress(figures, title_, columns_);
  if (terminal_) {
    std::fprintf(out_, "\r%s%s", line.c_str(), kClearToEnd.data());
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

void ProgressLine::bookEnded(std::string_view summaryUtf8) { note(summaryUtf8); }

void ProgressLine::note(std::string_view lineUtf8) {
  if (terminal_ && drawn_) std::fprintf(out_, "\r%s", kClearToEnd.data());
  std::fprintf(out_, "%.*s\n", static_cast<int>(lineUtf8.size()), lineUtf8.data());
  std::fflush(out_);
  drawn_ = false;  // the next update draws the line again at once
}

}  // namespace varnel
