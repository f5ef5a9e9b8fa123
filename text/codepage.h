// Conversions between the three encodings the program meets, one place for
// the platform's converter (iconv here). Internal to text/.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel::detail {

enum class Encoding { Gbk, Utf8, Utf16 };

// `input` converted; a character that is invalid in `from` or has no form in
// `to` becomes one '?' (in `to`'s form) and the rest converts.
std::string convertEncoding(std::string_view input, Encoding from, Encoding to);

// Length of a well-formed UTF-8 sequence at s[0..n), or 0 when it is not one.
std::size_t utf8SequenceLength(const unsigned char* s, std::size_t n);

}  // namespace varnel::detail
