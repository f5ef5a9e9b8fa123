// Names on the file system: most take at most 255 bytes in one name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

inline constexpr std::size_t kMaxNameBytes = 255;

// `utf8Name` unchanged when it and `reserveBytes` (room for an extension the
// caller adds, like ".pdf") fit in `maxBytes`. Otherwise the name is cut on a
// character boundary and "~" plus 8 hex digits of a hash of the whole name are
// appended, so that the result plus the reserve fits and two long names that
// share a prefix still differ.
std::string fitFileName(std::string_view utf8Name, std::size_t reserveBytes = 0,
                        std::size_t maxBytes = kMaxNameBytes);

}  // namespace varnel
