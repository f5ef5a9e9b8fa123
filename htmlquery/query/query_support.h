// Constants and small text routines shared by the query sources. Not part of
// the public interface.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "text/text.h"

namespace varnel::query {

// --- fixed tables (1-based positions are what ConditionSpec carries) --------
inline constexpr std::array<std::string_view, 7> kKeywords = {"and",  "or",  "rev", "odd",
                                                              "even", "max", "min"};
enum Keyword { kNoKeyword = 0, kAnd, kOr, kRev, kOdd, kEven, kMax, kMin };

// "!=" before "=" and "!<>" before "<>": the first one found wins.
inline constexpr std::array<std::string_view, 8> kOperators = {"!=", ">=", "<=", "!<>",
                                                               "<>", ">",  "<",  "="};
enum Operator {
  kNoOperator = 0,
  kNotEqual,
  kAtLeast,
  kAtMost,
  kNotContains,
  kContains,
  kGreater,
  kLess,
  kEqual
};

inline constexpr std::array<std::string_view, 4> kOpeningQuotes = {"\"", "'", "\xA1\xB0",
                                                                   "\xA1\xAE"};  // " ' “ ‘
inline constexpr std::array<std::string_view, 4> kClosingQuotes = {"\"", "'", "\xA1\xB1",
                                                                   "\xA1\xAF"};  // " ' ” ’

// Filter kinds in protection order, with their four markers.
struct FilterMarkers {
  std::string_view open, close, protectedOpen, protectedClose;
};
inline constexpr std::array<FilterMarkers, 8> kFilterKinds = {{
    {"%t[", "]t%", "%t_", "_t%"},
    {"%re[", "]re%", "%re_", "_re%"},
    {"%del[", "]del%", "%del_", "_del%"},
    {"%th[", "]th%", "%th_", "_th%"},
    {"%mid[", "]mid%", "%mid_", "_mid%"},
    {"%add[", "]add%", "%add_", "_add%"},
    {"%f[", "]f%", "%f_", "_f%"},
    {"%path[", "]path%", "%path_", "_path%"},
}};
inline constexpr std::size_t kLiteralKind = 0;  // %t[ ]t%: plain text, not a filter

inline constexpr std::string_view kLineBreakMarker = "%hhf%";  // any letter case
inline constexpr std::string_view kLineBreak = "\r\n";
inline constexpr std::string_view kDefaultJoiner = "\t";
inline constexpr std::string_view kTrimMarker = "%sswk%";
inline constexpr std::string_view kNumMarker = "%num%";
inline constexpr std::string_view kFormatPlaceholder = "%text%";
inline constexpr std::string_view kAboutPrefix = "about:";

// Step messages, code page 936.
const Text& messageParseError();       // 表达式结构解析错误
const Text& messageNoParent();         // 父级未找到
const Text& messageCssNoResult();      // CSS表达式未找到结果
const Text& messageConditionPrefix();  // 当前条件未解析成功，标签名为
const Text& messageConditionMiddle();  // ,表达式条件为：

// A step never collects more nodes than this: an expression such as
// "//*//*//*" on a deep page would otherwise grow without bound.
inline constexpr std::size_t kMaxNodeSetSize = 200000;
// %path[ ]path% may nest queries this deep.
inline constexpr int kMaxPathDepth = 16;

// Filter bodies written as %kind[ ... ]kind% made safe to cut (only "%", hex
// digits and "+" inside), and back; restoring also turns %hhf% into CR LF.
Text protectFilters(std::string_view text);
Text restoreFilters(std::string_view text);

// --- text routines (character-aware on code page 936) ------------------------
// kQueryTrue or kQueryFalse, for the public methods' flags.
Text flagText(bool value);

// Last character-aligned occurrence of `needle`, or npos.
std::size_t findLastText(std::string_view text, std::string_view needle);
// Whether the last character of `text` is exactly `suffix`.
bool endsWithChar(std::string_view text, std::string_view suffix);
// Number of characters (a two-byte character and "\r\n" count one each).
std::size_t characterCount(std::string_view text);
inline Text removeAll(std::string_view text, std::string_view piece) {
  return replaceAllText(text, piece, "");
}
// One or more decimal digits and nothing else.
bool isAllDigits(std::string_view text);
// Compares two digit strings as integers of any length: <0, 0, >0.
int compareDigitStrings(std::string_view a, std::string_view b);
// An optional sign and digits with nothing else (spaces around allowed).
bool readWholeInteger(std::string_view text, long long& out);

}  // namespace varnel::query
