#include "json/json_node.h"

#include <charconv>  // to_chars
#include <vector>

#include "json/json_constants.h"
#include "json/json_member_table.h"
#include "json/json_node_list.h"

namespace varnel {
namespace {

// Drops the container's reference on every child; containers that reach zero
// are queued on `dying` instead of being freed recursively, scalars are freed.
void releaseChildren(JsonNode* node, std::vector<JsonNode*>& dying) {
  const JsonNodeList* items = nullptr;
  if (node->type == JsonType::kObject && node->content.table) {
    items = &node->content.table->order();
  } else if (node->type == JsonType::kArray && node->content.list) {
    items = node->content.list;
  }
  if (!items) return;
  for (JsonNode* child : *items) {
    child->parent = nullptr;
    if (node->type == JsonType::kObject) {
      child->key.reset();
      child->nextInBucket = nullptr;
    }
    if (child->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) continue;
    // A scalar owns nothing but its texts: free it now rather than queueing
    // most of a tree's nodes on `dying`.
    if (child->type == JsonType::kObject || child->type == JsonType::kArray) {
      dying.push_back(child);
    } else {
      delete child;
    }
  }
}

void clearContentInto(JsonNode* node, std::vector<JsonNode*>& dying) {
  releaseChildren(node, dying);
  if (node->type == JsonType::kObject) {
    // Some members may already be freed: the table must not visit them.
    if (node->content.table) node->content.table->forgetMembers();
    delete node->content.table;
  } else if (node->type == JsonType::kArray) {
    delete node->content.list;
  }
  node->content.integer = 0;
  node->text.reset();
}

void freeAll(std::vector<JsonNode*>& dying) {
  while (!dying.empty()) {
    JsonNode* node = dying.back();
    dying.pop_back();
    clearContentInto(node, dying);
    delete node;
  }
}

}  // namespace

JsonNode* newNode(JsonType type) {
  auto* node = new JsonNode;
  node->type = type;
  return node;
}

void release(JsonNode* node) {
  if (!node || node->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (node->parent) detachFromParent(node);
  if (node->type != JsonType::kObject && node->type != JsonType::kArray) {
    delete node;
    return;
  }
  std::vector<JsonNode*> dying{node};
  freeAll(dying);
}

std::u16string floatText(double value) {
  char buffer[64];
  // Same digits as printf "%.13g" (to_chars with a precision is defined so),
  // without the locale and at a fraction of the cost.
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                           json::kFloatSignificantDigits)
                 .ptr;
  return std::u16string(buffer, end);
}

std::u16string integerText(std::int64_t value) {
  char buffer[24];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::u16string(buffer, end);
}

JsonNode* newNullNode() {
  JsonNode* node = newNode(JsonType::kNull);
  node->text.borrow(json::kNullText);
  return node;
}

JsonNode* newBoolNode(bool value) {
  JsonNode* node = newNode(JsonType::kBoolean);
  node->content.integer = value ? 1 : 0;
  node->text.borrow(value ? json::kTrueText : json::kFalseText);
  return node;
}

JsonNode* newFloatNode(double value) {
  JsonNode* node = newNode(JsonType::kFloat);
  node->content.number = value;
  node->text.assign(floatText(value));
  return node;
}

JsonNode* newIntegerNode(std::int64_t value) {
  JsonNode* node = newNode(JsonType::kInteger);
  node->content.integer = value;
  node->text.assign(integerText(value));
  return node;
}

JsonNode* newStringNode(std::u16string_view text) {
  JsonNode* node = newNode(JsonType::kString);
  node->text.assign(text);
  return node;
}

JsonNode* newRawNode(std::u16string_view literal) {
  JsonNode* node = newNode(JsonType::kRaw);
  node->text.assign(literal);
  return node;
}

JsonNode* newArrayNode() {
  JsonNode* node = newNode(JsonType::kArray);
  node->content.list = new JsonNodeList;
  return node;
}

JsonNode* newObjectNode() {
  JsonNode* node = newNode(JsonType::kObject);
  node->content.table = new JsonMemberTable;
  return node;
}

void clearContent(JsonNode* node) {
  std::vector<JsonNode*> dying;
  clearContentInto(node, dying);
  freeAll(dying);
}

void emptyInPlace(JsonNode* node) {
  std::vector<JsonNode*> dying;
  releaseChildren(node, dying);
  switch (node->type) {
    case JsonType::kObject:
      if (node->content.table) node->content.table->forgetMembers();
      break;
    case JsonType::kArray:
      if (node->content.list) node->content.list->clear();
      break;
    case JsonType::kFloat:
      node->content.number = 0;
      break;
    default:
      node->content.integer = 0;
      break;
  }
  node->text.reset();
  freeAll(dying);
}

void ensureObject(JsonNode* node) {
  if (node->type == JsonType::kObject && node->content.table) return;
  clearContent(node);
  node->type = JsonType::kObject;
  node->content.table = new JsonMemberTable;
}

void ensureArray(JsonNode* node) {
  if (node->type == JsonType::kArray && node->content.list) return;
  clearContent(node);
  node->type = JsonType::kArray;
  node->content.list = new JsonNodeList;
}

void becomeNull(JsonNode* node) {
  clearContent(node);
  node->type = JsonType::kNull;
  node->text.borrow(json::kNullText);
}

void becomeBool(JsonNode* node, bool value) {
  clearContent(node);
  node->type = JsonType::kBoolean;
  node->content.integer = value ? 1 : 0;
  node->text.borrow(value ? json::kTrueText : json::kFalseText);
}

void becomeFloat(JsonNode* node, double value) {
  clearContent(node);
  node->type = JsonType::kFloat;
  node->content.number = value;
  node->text.assign(floatText(value));
}

void becomeInteger(JsonNode* node, std::int64_t value) {
  clearContent(node);
  node->type = JsonType::kInteger;
  node->content.integer = value;
  node->text.assign(integerText(value));
}

void becomeString(JsonNode* node, std::u16string_view text) {
  clearContent(node);
  node->type = JsonType::kString;
  node->text.assign(text);
}

void appendChild(JsonNode* array, JsonNode* child) {
  ensureArray(array);
  child->parent = array;
  array->content.list->append(child);
}

void storeMember(JsonNode* object, NodeText&& key, JsonNode* child) {
  ensureObject(object);
  child->parent = object;
  JsonNode* replaced = nullptr;
  object->content.table->store(std::move(key), child, &replaced);
  if (replaced) {
    replaced->parent = nullptr;
    release(replaced);
  }
}

void storeMember(JsonNode* object, std::u16string_view key, JsonNode* child) {
  storeMember(object, NodeText(key), child);
}

bool detachFromParent(JsonNode* node) {
  JsonNode* parent = node->parent;
  if (!parent) return false;
  if (parent->type == JsonType::kObject && parent->content.table) {
    parent->content.table->removeNode(node);
  } else if (parent->type == JsonType::kArray && parent->content.list) {
    parent->content.list->removeNode(node);
  }
  node->key.reset();
  node->nextInBucket = nullptr;
  node->parent = nullptr;
  return true;
}

bool isSelfOrAncestor(const JsonNode* node, const JsonNode* of) {
  for (const JsonNode* at = of; at; at = at->parent) {
    if (at == node) return true;
  }
  return false;
}

std::int32_t childCount(const JsonNode* node) {
  if (node->type == JsonType::kObject && node->content.table) return node->content.table->count();
  if (node->type == JsonType::kArray && node->content.list) return node->content.list->count();
  return 0;
}

}  // namespace varnel
