#include "json/json_copy.h"

#include <utility>  // pair
#include <vector>

#include "json/json_member_table.h"
#include "json/json_node.h"
#include "json/json_node_list.h"

namespace varnel {
namespace {

JsonNode* copyShallow(const JsonNode* source) {
  switch (source->type) {
    case JsonType::kRaw:
      return newRawNode(source->text.view());
    case JsonType::kBoolean:
      return newBoolNode(source->content.integer != 0);
    case JsonType::kFloat:
      return newFloatNode(source->content.number);
    case JsonType::kInteger:
      return newIntegerNode(source->content.integer);
    case JsonType::kString: {
      JsonNode* node = newStringNode(source->text.view());
      if (!source->text.present()) node->text.reset();
      return node;
    }
    case JsonType::kArray:
      return newArrayNode();
    case JsonType::kObject:
      return newObjectNode();
    case JsonType::kNull:
      break;
  }
  return newNullNode();
}

const JsonNodeList* childrenOf(const JsonNode* node) {
  if (node->type == JsonType::kObject && node->content.table) return &node->content.table->order();
  if (node->type == JsonType::kArray && node->content.list) return node->content.list;
  return nullptr;
}

// Both objects: walk the source members. Recursion depth is bounded by the
// source, which comes from the parser and so nests at most its limit.
bool mergeMembers(JsonNode* target, const JsonNode* source, bool addMissing) {
  bool result = false;
  for (JsonNode* member : source->content.table->order()) {
    JsonNode* existing = target->content.table->find(member->key.view());
    if (existing) {
      if (existing->type == JsonType::kObject && member->type == JsonType::kObject) {
        result = mergeMembers(existing, member, addMissing);
      } else {
        storeMember(target, member->key.view(), deepCopy(member));
        result = true;
      }
    } else if (addMissing) {
      storeMember(target, member->key.view(), deepCopy(member));
      result = true;
    } else {
      continue;
    }
    if (!result) return false;
  }
  return result;
}

}  // namespace

JsonNode* deepCopy(const JsonNode* source) {
  JsonNode* copy = copyShallow(source);
  std::vector<std::pair<const JsonNode*, JsonNode*>> pending;
  if (childrenOf(source)) pending.emplace_back(source, copy);
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    bool object = from->type == JsonType::kObject;
    for (const JsonNode* child : *childrenOf(from)) {
      JsonNode* childCopy = copyShallow(child);
      if (object) {
        storeMember(to, child->key.view(), childCopy);
      } else {
        appendChild(to, childCopy);
      }
      if (childrenOf(child)) pending.emplace_back(child, childCopy);
    }
  }
  return copy;
}

bool mergeInto(JsonNode* target, JsonNode* source, bool addMissing) {
  bool result = false;
  if (target->type == JsonType::kObject && target->content.table &&
      source->type == JsonType::kObject && source->content.table) {
    result = mergeMembers(target, source, addMissing);
    release(source);
  } else if (target->parent && target->parent->type == JsonType::kObject) {
    // Replaces (and releases) the target under its own key.
    storeMember(target->parent, NodeText(target->key.view()), source);
    result = true;
  } else {
    release(source);
  }
  return result;
}

}  // namespace varnel
