// JsonParser: one forward scan of UTF-16 JSON text into the nodes below a
// root. Tolerant: text outside brackets is skipped, malformed numbers become
// raw tokens, and only structural faults are errors. The strict and the
// lenient scan are the same scanner with different rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

class JsonNode;

enum JsonParseResult : int {
  kJsonParsed = 0,
  kJsonCannotStore = -1,   // a value or container could not be stored
  kJsonNoInput = -2,       // no root node
  kJsonTooDeep = -3,       // a container could not be created (nesting limit)
  kJsonMissingKey = -4,    // a member without a key
  kJsonNoContainer = -5,   // quote, ':' or ',' outside containers; unclosed container
  kJsonEmptyElement = -7,  // an empty element before ']' that is not the first: [1,]
  kJsonColonInArray = -8,  // ':' directly inside an array
};

struct JsonScanRules {
  bool decodeUnicode = false;
  // Lenient scan: keys may be unquoted and every key is trimmed.
  bool unquotedKeys = false;
};

// Parses `text` (up to its first zero code unit) into `root`, emptied first.
// Empty text: success, root untouched. On error the root is emptied again
// (it keeps the type the text gave it) and the negative code is returned.
int parseJson(JsonNode* root, std::u16string_view text, JsonScanRules rules);

// Decodes \" \\ \/ \b \t \n \r \f (and \uXXXX when decodeUnicode); any other
// escape, and \u without four hex digits, stays as written.
std::u16string decodeJsonString(std::u16string_view text, bool decodeUnicode);

}  // namespace varnel
