// Deep copy and merge of JSON trees.
#pragma once

namespace varnel {

class JsonNode;

// A new unattached tree equal to `source` (numbers get the text of their
// value as literal). Iterative, so depth costs no stack.
JsonNode* deepCopy(const JsonNode* source);

// Merges `source` (a parsed, unattached tree; this call takes its reference)
// into `target`: objects member by member, members absent from the target
// only with addMissing; otherwise a target that is an object member is
// replaced by the source. See JsonValue::Merge for the result.
bool mergeInto(JsonNode* target, JsonNode* source, bool addMissing);

}  // namespace varnel
