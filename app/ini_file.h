// A small INI reader/writer with the semantics of the classic profile functions:
// section and key names match without regard to ASCII case and surrounding
// blanks; the first matching section and key win; a line starting with ';' is a
// comment; a value is the text after the first '=', blanks trimmed, one pair of
// matching surrounding quotes removed, read in full (no length limit).
//
// Files are UTF-8 (a leading BOM is kept). The encoding is decided per line: a
// line that is not valid UTF-8 is read as code page 936; the file is written
// back as UTF-8. Writing replaces the file through an exclusively created
// temporary file beside it (synced, then renamed), so a failed write leaves it
// as it was and a link planted in the directory is never written through.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

class IniDocument {
 public:
  // Never fails: lines that are neither sections, keys nor comments are kept
  // as they are and ignored.
  static IniDocument parse(std::string_view utf8);

  // nullopt when the section or the key is absent; "" for a key with an empty value.
  std::optional<std::string> value(std::string_view section, std::string_view key) const;

  // Replaces the first matching key in place, else adds the key after the last
  // entry of the section, else adds the section at the end. Other lines are
  // kept. A value that would change when read back (leading or trailing blanks,
  // surrounding quotes) is written quoted. Returns false, changing nothing, for
  // a value or name holding a line break, or a section name holding ']' or a
  // key name holding '=' or starting with ';' or '['.
  bool setValue(std::string_view section, std::string_view key, std::string_view value);

  std::string serialize() const;

 private:
  std::vector<std::string> lines_;
  bool bom_ = false;
  bool crlf_ = false;
};

// Reads `key` of `section` from the file at `path` (a native path); nullopt
// when the file, the section or the key is absent.
std::optional<std::string> readIniValue(const std::string& path, std::string_view section,
                                        std::string_view key);

// The value, or `fallback` when the file, the section or the key is absent.
std::string readIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback);

// Writes one key, creating the file (and its directory) when missing. A file
// that is a symbolic link is written through (the link stays). The file keeps
// its permission bits; a new one gets 0644. False when the value cannot be
// stored or the file cannot be replaced; the file is then unchanged.
bool writeIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value);

}  // namespace varnel
