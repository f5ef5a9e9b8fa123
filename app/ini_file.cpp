#include "app/ini_file.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "os/files.h"
#include "text/text.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";

bool isQuote(char c) { return c == '"' || c == '\''; }

bool hasSurroundingQuotes(std::string_view s) {
  return s.size() >= 2 && isQuote(s.front()) && s.front() == s.back();
}

struct Line {
  enum class Kind { Other, Section, Key } kind = Kind::Other;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // raw text after '=' (keys only)
};

Line classify(std::string_view raw) {
  std::string_view line = trimSpacesAndTabs(raw);
  if (line.empty() || line.front() == ';') return {};
  if (line.front() == '[') {
    std::size_t close = line.find(']');
    std::string_view inner =
        line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    return {Line::Kind::Section, trimSpacesAndTabs(inner), {}};
  }
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return {};
  return {Line::Kind::Key, trimSpacesAndTabs(line.substr(0, eq)), line.substr(eq + 1)};
}

std::string_view readValue(std::string_view raw) {
  std::string_view v = trimSpacesAndTabs(raw);
  if (hasSurroundingQuotes(v)) v = v.substr(1, v.size() - 2);
  return v;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Looks for one key, fed one line at a time: shared by the document and by the
// readers, which scan the file's text without building a document.
class ValueFinder {
 public:
  ValueFinder(std::string_view section, std::string_view key)
      : section_(trimSpacesAndTabs(section)), key_(trimSpacesAndTabs(key)) {}

  // True once the search is over (found, or the section has ended).
  bool done(std::string_view raw) {
    Line line = classify(raw);
    if (line.kind == Line::Kind::Section) {
      if (inSection_) return true;  // only the first section of that name counts
      inSection_ = equalsIgnoringAsciiCase(line.name, section_);
    } else if (inSection_ && line.kind == Line::Kind::Key &&
               equalsIgnoringAsciiCase(line.name, key_)) {
      found = std::string(readValue(line.value));
      return true;
    }
    return false;
  }

  std::optional<std::string> found;

 private:
  std::string_view section_, key_;
  bool inSection_ = false;
};

// The file's text as UTF-8. Each line is judged on its own: one stray byte in a
// comment must not turn a UTF-8 path on another line into GBK mojibake. Code
// page 936 never uses '\n' inside a character, so splitting first is safe.
std::string asUtf8(std::string bytes) {
  if (isValidUtf8(bytes)) return bytes;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  std::string_view rest(bytes);
  while (!rest.empty()) {
    std::size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    if (isValidUtf8(line)) {
      out += line;
    } else {
      out += textToUtf8(line);
    }
    if (nl == std::string_view::npos) break;
    out += '\n';
    rest.remove_prefix(nl + 1);
  }
  return out;
}

}  // namespace

IniDocument IniDocument::parse(std::string_view text) {
  IniDocument doc;
  if (text.substr(0, kBom.size()) == kBom) {
    doc.bom_ = true;
    text.remove_prefix(kBom.size());
  }
  doc.crlf_ = text.find("\r\n") != std::string_view::npos;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    doc.lines_.emplace_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return doc;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
  ValueFinder finder(section, key);
  for (const std::string& raw : lines_) {
    if (finder.done(raw)) break;
  }
  return finder.found;
}

bool IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
  section = trimSpacesAndTabs(section);
  key = trimSpacesAndTabs(key);
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return false;
  if (section.find(']') != std::string_view::npos || key.empty() ||
      key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[') {
    return false;
  }

  std::string entry = std::string(key) + "=";
  bool quote = !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                                  kBlanks.find(value.back()) != std::string_view::npos ||
                                  hasSurroundingQuotes(value));
  if (quote) {
    entry += '"';
    entry += value;
    entry += '"';
  } else {
    entry += value;
  }

  std::size_t header = lines_.size();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Line line = classify(lines_[i]);
    if (line.kind == Line::Kind::Section && equalsIgnoringAsciiCase(line.name, section)) {
      header = i;
      break;
    }
  }
  if (header == lines_.size()) {
    std::string headerLine;  // built piecewise: GCC 12 misreports "[" + s + "]" at -O3
    headerLine.reserve(section.size() + 2);
    headerLine += '[';
    headerLine += section;
    headerLine += ']';
    lines_.push_back(std::move(headerLine));
    lines_.push_back(std::move(entry));
    return true;
  }

  std::size_t insertAt = header + 1;  // after the last non-blank line of the section
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    Line line = classify(lines_[i]);
    if (line.kind == Line::Kind::Section) break;
    if (line.kind == Line::Kind::Key && equalsIgnoringAsciiCase(line.name, key)) {
      lines_[i] = std::move(entry);
      return true;
    }
    if (!trimSpacesAndTabs(lines_[i]).empty()) insertAt = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
  return true;
}

std::string IniDocument::serialize() const {
  std::string out;
  if (bom_) out += kBom;
  const char* eol = crlf_ ? "\r\n" : "\n";
  for (const std::string& line : lines_) {
    out += line;
    out += eol;
  }
  return out;
}

std::optional<std::string> readIniValue(const std::string& path, std::string_view section,
                                        std::string_view key) {
  std::string bytes;
  if (readRegularFile(path, bytes) != ReadState::read) return std::nullopt;
  std::string text = asUtf8(std::move(bytes));
  std::string_view rest(text);
  if (rest.substr(0, kBom.size()) == kBom) rest.remove_prefix(kBom.size());
  ValueFinder finder(section, key);
  while (!rest.empty()) {
    std::size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (finder.done(line) || nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  return finder.found;
}

std::string readIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
  std::optional<std::string> v = readIniValue(path, section, key);
  return v ? *v : std::string(fallback);
}

bool writeIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value) {
  std::error_code ec;
  fs::path target(path);
  // Write through a symbolic link rather than replacing the link with a file.
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::weakly_canonical(target, ec);
    if (ec) return false;
    target = resolved;
  }

  std::string bytes;
  const ReadState state = readRegularFile(target.string(), bytes);
  if (state == ReadState::unreadable) return false;  // never overwrite what we cannot read
  IniDocument doc = IniDocument::parse(asUtf8(std::move(bytes)));
  if (!doc.setValue(section, key, value)) return false;

  // The file keeps its permission bits; a new one gets 0644.
  std::optional<unsigned> mode;
  if (state == ReadState::read) mode = filePermissions(target.string());
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  return replaceFileAtomically(target.string(), doc.serialize(), mode.value_or(0644)) ==
         FileError::none;
}

}  // namespace varnel
