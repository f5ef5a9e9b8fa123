// JsonNode: one value of a JSON tree, reference counted.
//
// A container holds one reference on each child; the child's parent points
// back without a reference. Only the count is atomic: a tree must not be used
// from two threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "json/json_node_text.h"
#include "json/json_value.h"  // JsonType

namespace varnel {

class JsonNodeList;
class JsonMemberTable;

// Where a node's own memory and its container object came from.
enum JsonNodeStorage : std::uint8_t {
  kNodeInArena = 1,       // the node itself
  kContainerInArena = 2,  // content.list / content.table
};

class JsonNode {
 public:
  std::atomic<std::int32_t> refs{1};
  JsonType type = JsonType::kNull;
  std::int32_t keyHash = 0;  // valid while a member of an object
  std::uint8_t storage = 0;  // JsonNodeStorage bits
  // A number whose literal is exactly what the writer prints for its value,
  // so the writer copies it instead of formatting the value again.
  bool literalIsWritten = false;
  JsonNode* parent = nullptr;  // container, not counted; null for a root
  NodeText key;                // valid while a member of an object
  // The literal of a scalar; for a string node, its text instead (strings
  // have no literal).
  NodeText text;
  union {
    double number;
    std::int64_t integer;  // also a boolean's 0 or 1
    JsonNodeList* list;
    JsonMemberTable* table;
  } content{};

  std::u16string_view literal() const {
    return type == JsonType::kString ? std::u16string_view{} : text.view();
  }
};

// --- lifetime -------------------------------------------------------------
inline void addRef(JsonNode* node) { node->refs.fetch_add(1, std::memory_order_relaxed); }
// Drops one reference; at zero the node leaves its container and its whole
// subtree is freed, without recursion.
void release(JsonNode* node);

// --- construction (count 1, unattached) -------------------------------------
// A bare node of the type: no content, no literal. With an arena (the
// parser's), the node is taken from it.
JsonNode* newNode(JsonType type, json::Arena* arena = nullptr);
JsonNode* newNullNode();
JsonNode* newBoolNode(bool value);
JsonNode* newFloatNode(double value);
JsonNode* newIntegerNode(std::int64_t value);
JsonNode* newStringNode(std::u16string_view text);
JsonNode* newRawNode(std::u16string_view literal);
JsonNode* newArrayNode(json::Arena* arena = nullptr);
JsonNode* newObjectNode(json::Arena* arena = nullptr);

// --- content ----------------------------------------------------------------
// Releases children, frees texts and containers; the type code stays.
void clearContent(JsonNode* node);
// Empties in place keeping the type: containers lose their children, strings
// their text, numbers and booleans become 0, the literal is dropped.
void emptyInPlace(JsonNode* node);
// Turn the node into an empty object/array unless it already is one.
void ensureObject(JsonNode* node);
void ensureArray(JsonNode* node);
// Clear, then become the given scalar (literal as for the constructors).
void becomeNull(JsonNode* node);
void becomeBool(JsonNode* node, bool value);
void becomeFloat(JsonNode* node, double value);
void becomeInteger(JsonNode* node, std::int64_t value);
void becomeString(JsonNode* node, std::u16string_view text);

// Writes `value` as printf "%.13g" does (at most 24 characters; `out` holds
// 32) and returns the end.
char* formatFloat13(char* out, double value);
// The number text of a value: "%.13g" for floats, decimal digits for integers.
std::u16string floatText(double value);
std::u16string integerText(std::int64_t value);

// --- containment ------------------------------------------------------------
// Takes over the caller's reference on `child`. The container becomes an
// array / object first if it is not one. A member replaced under the same key
// is released.
void appendChild(JsonNode* array, JsonNode* child);
void storeMember(JsonNode* object, std::u16string_view key, JsonNode* child);
void storeMember(JsonNode* object, NodeText&& key, JsonNode* child);
// Unlinks the node from its container (the container's reference is handed to
// the caller, who must release it). False for a node without a container.
bool detachFromParent(JsonNode* node);
// True when `node` is `of` or one of its ancestors.
bool isSelfOrAncestor(const JsonNode* node, const JsonNode* of);

// Number of children of a container, else 0.
std::int32_t childCount(const JsonNode* node);

}  // namespace varnel
