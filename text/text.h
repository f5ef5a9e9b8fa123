// Text helpers shared by every subsystem.
//
// Inside the program, text is `Text`: code page 936 (GBK) bytes in a std::string.
// Conversions never fail outright: a character that is invalid in the source
// or has no form in the target becomes one '?' and the rest converts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

using Text = std::string;                 // code page 936 bytes
using Bytes = std::vector<std::uint8_t>;  // HTTP bodies, image data

// GBK lead bytes (0x81..0xFE) start a two-byte character.
constexpr bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Length in bytes of the character starting at `pos` (1 or 2; 1 for a lead byte
// at the very end). 0 when pos is at or past the end.
std::size_t charLengthAt(std::string_view text, std::size_t pos);

// Pieces in order with no separator.
template <typename... Pieces>
Text concatTexts(const Pieces&... pieces) {
  Text out;
  out.reserve((std::string_view(pieces).size() + ... + 0));
  (out.append(std::string_view(pieces)), ...);
  return out;
}
inline std::size_t textLength(std::string_view text) { return text.size(); }
// Unsigned byte order: <0, 0, >0.
int compareTexts(std::string_view a, std::string_view b);
Bytes concatBuffers(const Bytes& a, const Bytes& b);

inline std::string_view asView(const Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}
inline Bytes toBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// --- conversions -------------------------------------------------------------
// UTF-8 bytes (up to the first zero byte) to code page 936.
Text utf8BytesToText(std::string_view utf8);
Text utf8BytesToText(const Bytes& utf8);
// Code page 936 to UTF-8: for file names, the GUI and the console.
std::string textToUtf8(std::string_view text);

std::u16string ansiToWide(std::string_view text);
Text wideToAnsi(std::u16string_view wide);
std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view wide);

bool isValidUtf8(std::string_view bytes);

// --- searching, splitting, trimming (double-byte aware) ---------------------
// Position of `needle` in `haystack` at or after `from`, matching only where a
// character starts (never inside a two-byte character). `ignoreAsciiCase` folds
// A-Z/a-z only. npos when absent; an empty needle is found at `from`.
std::size_t findText(std::string_view haystack, std::string_view needle, std::size_t from = 0,
                     bool ignoreAsciiCase = false);

// `text` with every occurrence of `needle` (found only where a character
// starts) replaced by `replacement`, scanning left to right without rescanning
// inserted text. An empty needle leaves the text unchanged.
Text replaceAllText(std::string_view text, std::string_view needle, std::string_view replacement,
                    bool ignoreAsciiCase = false);
// The first character start at or after byte `pos` (text.size() at most).
std::size_t alignToCharStart(std::string_view text, std::size_t pos);
// ASCII letters of single-byte characters changed case; two-byte characters
// (whose trail bytes may look like letters) are left as they are.
Text asciiUpper(std::string_view text);
Text asciiLower(std::string_view text);

// `text` without the leading and trailing bytes that are in `set` (ASCII
// characters only: a GBK trail byte is never taken for one of them unless the
// set holds it). A view into `text`.
std::string_view trimAsciiSet(std::string_view text, std::string_view set);

// Without leading and trailing ASCII spaces (0x20 only; tabs stay): names on
// the site's pages, the query language's words.
std::string_view trimAsciiSpaces(std::string_view text);
// Without leading and trailing spaces and tabs: lines of a settings file.
std::string_view trimSpacesAndTabs(std::string_view text);

// Leading white space, an optional sign and decimal digits, as C's atoi reads
// them; saturates instead of overflowing. 0 when there is no number.
long long leadingInteger(std::string_view text);

// Equal, or `text` starts with `prefix`, folding A-Z/a-z only (header names,
// media types, INI keys).
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// Pieces between occurrences of `delimiter`, empty pieces dropped. An empty
// delimiter yields the whole text (when not empty).
std::vector<Text> splitNonEmpty(std::string_view text, std::string_view delimiter);

// Removes leading and trailing ASCII spaces and full-width spaces (A1 A1).
// Tabs and line breaks stay.
Text trimSpaces(std::string_view text);

}  // namespace varnel
