// File names that fit the file system's limit of 255 bytes per name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

inline constexpr std::size_t kMaxFileNameBytes = 255;

// `name` unchanged when it and `reserve` more bytes (a suffix the caller adds,
// such as ".pdf") fit in 255 bytes. Otherwise the name is cut on a UTF-8
// character boundary and "~" plus 8 hex digits of a hash of the whole name are
// appended, so that with the reserve it fits exactly or just under, and two
// long names sharing a prefix stay apart. A reserve too large to leave room
// for the hash gives "" (no name can fit).
std::string fitFileName(std::string_view name, std::size_t reserve = 0);

// 32-bit FNV-1a of the bytes: the hash fitFileName appends, stable across
// runs and builds so a cut name is the same every time.
std::uint32_t fileNameHash(std::string_view name);

}  // namespace varnel
