// Test sources are UTF-8; the class reads and writes GBK.
#pragma once

#include <string_view>

#include "text/text.h"

namespace varnel::testing {

inline Text gbk(std::string_view utf8) { return utf8BytesToText(utf8); }

}  // namespace varnel::testing
