// The stack a pool thread really gets for a requested one (internal to the pool).
#pragma once

#include <cstddef>

namespace varnel::detail {

// 0 stays 0 (platform default); anything else is at least the larger of
// kMinStackBytes and the platform minimum, rounded down to a multiple of
// kStackSizeGranule.
std::size_t normaliseStackSize(std::size_t bytes);

}  // namespace varnel::detail
