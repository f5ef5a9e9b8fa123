// JsonPath: "a.b[2]" segments, parsed afresh on every call and resolved
// against a tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

class JsonNode;

struct JsonPathSegment {
  bool hasName = false;
  bool hasIndex = false;
  std::u16string name;
  std::int64_t index = 0;
};

// Reads one segment after another; an empty path has no segments.
class JsonPathReader {
 public:
  explicit JsonPathReader(std::u16string_view path) : path_(path), done_(path.empty()) {}
  // False when no segment is left.
  bool next(JsonPathSegment& segment);

 private:
  std::u16string_view path_;
  std::size_t pos_ = 0;
  bool done_;
};

// Walks the path from `root`, creating what is missing and converting what is
// in the way (see json_value.h). nullptr: no value.
JsonNode* resolvePath(JsonNode* root, std::u16string_view path);
// The same walk without creating or converting anything; false for the empty path.
bool pathExists(JsonNode* root, std::u16string_view path);

// Reads the index text as StrToIntW does: optional sign, decimal digits,
// stopping at the first other character; no digits give 0. Saturates.
std::int64_t readPathIndex(std::u16string_view text);

}  // namespace varnel
