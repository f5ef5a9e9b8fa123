#include "json/json_node.h"

#include <cfloat>    // DBL_MIN, DBL_MAX
#include <charconv>  // to_chars, from_chars
#include <cmath>     // fabs
#include <new>       // placement new
#include <vector>

#include "json/json_constants.h"
#include "json/json_member_table.h"
#include "json/json_node_list.h"

namespace varnel {
namespace {

// Frees a node whose children are gone; arena memory goes through `batch`.
void freeNode(JsonNode* node, json::FreeBatch& batch) {
  node->key.reset(&batch);
  node->text.reset(&batch);
  const bool inArena = node->storage & kNodeInArena;
  node->~JsonNode();
  if (inArena) {
    batch.free(node);
  } else {
    ::operator delete(node);
  }
}

template <typename Container>
void freeContainer(const JsonNode* node, Container* container, json::FreeBatch& batch) {
  if (!container) return;
  if (node->storage & kContainerInArena) {
    container->~Container();
    batch.free(container);
  } else {
    delete container;
  }
}

template <typename Container>
Container* newContainer(JsonNode* node, json::Arena* arena) {
  if (arena) {
    if (void* memory = arena->allocate(sizeof(Container))) {
      node->storage |= kContainerInArena;
      return new (memory) Container;
    }
  }
  node->storage &= ~kContainerInArena;
  return new Container;
}

// Drops the container's reference on every child; containers that reach zero
// are queued on `dying` instead of being freed recursively, scalars are freed.
void releaseChildren(JsonNode* node, std::vector<JsonNode*>& dying, json::FreeBatch& batch) {
  const JsonNodeList* items = nullptr;
  if (node->type == JsonType::kObject && node->content.table) {
    items = &node->content.table->order();
  } else if (node->type == JsonType::kArray && node->content.list) {
    items = node->content.list;
  }
  if (!items) return;
  const bool isObject = node->type == JsonType::kObject;
  for (JsonNode* child : *items) {
    // With the container's reference the only one, nobody can take another
    // (a tree is used by one thread at a time): nothing to unlink, and no
    // atomic step for the most common case of a whole tree going.
    if (child->refs.load(std::memory_order_acquire) != 1) {
      child->parent = nullptr;
      if (isObject) child->key.reset(&batch);
      if (child->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) continue;
    }
    // A scalar owns nothing but its texts: free it now rather than queueing
    // most of a tree's nodes on `dying`.
    if (child->type == JsonType::kObject || child->type == JsonType::kArray) {
      dying.push_back(child);
    } else {
      freeNode(child, batch);
    }
  }
}

void clearContentInto(JsonNode* node, std::vector<JsonNode*>& dying, json::FreeBatch& batch) {
  releaseChildren(node, dying, batch);
  if (node->type == JsonType::kObject) {
    // Some members may already be freed: the table must not visit them.
    if (node->content.table) node->content.table->forgetMembers(batch);
    freeContainer(node, node->content.table, batch);
  } else if (node->type == JsonType::kArray) {
    if (node->content.list) node->content.list->dropItems(batch);
    freeContainer(node, node->content.list, batch);
  }
  node->storage &= ~kContainerInArena;
  node->literalIsWritten = false;
  node->content.integer = 0;
  node->text.reset(&batch);
}

void freeAll(std::vector<JsonNode*>& dying, json::FreeBatch& batch) {
  while (!dying.empty()) {
    JsonNode* node = dying.back();
    dying.pop_back();
    clearContentInto(node, dying, batch);
    freeNode(node, batch);
  }
}

}  // namespace

JsonNode* newNode(JsonType type, json::Arena* arena) {
  JsonNode* node = nullptr;
  if (void* memory = arena ? arena->allocate(sizeof(JsonNode)) : nullptr) {
    node = new (memory) JsonNode;
    node->storage = kNodeInArena;
  } else {
    node = new JsonNode;
  }
  node->type = type;
  return node;
}

void release(JsonNode* node) {
  if (!node || node->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (node->parent) detachFromParent(node);
  json::FreeBatch batch;
  if (node->type != JsonType::kObject && node->type != JsonType::kArray) {
    freeNode(node, batch);
    return;
  }
  std::vector<JsonNode*> dying{node};
  freeAll(dying, batch);
}

char* formatFloat13(char* out, double value) {
  char* const end = out + 32;
  // The shortest digits that read back as `value`, when there are at most
  // 13, are exactly what "%.13g" prints: the value lies within half an ulp
  // of them, far closer than half a unit in the 13th digit, so rounding to 13
  // digits lands on them. Subnormals have too few bits for that argument.
  const double magnitude = std::fabs(value);
  if (magnitude == 0 || (magnitude >= DBL_MIN && magnitude <= DBL_MAX)) {
    char shortest[32];
    const char* stop =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific)
            .ptr;
    // "-d.ddde-XX": sign, digits with the point dropped, exponent.
    const char* at = shortest;
    const bool negative = *at == '-';
    if (negative) ++at;
    char digits[20];
    int count = 0;
    for (; at < stop && *at != 'e'; ++at) {
      if (*at != '.') digits[count++] = *at;
    }
    if (count <= json::kFloatSignificantDigits) {
      int exponent = 0;
      std::from_chars(at + 1 + (at[1] == '+'), stop, exponent);
      char* o = out;
      if (negative) *o++ = '-';
      if (exponent < -4 || exponent >= json::kFloatSignificantDigits) {
        *o++ = digits[0];
        if (count > 1) {
          *o++ = '.';
          for (int i = 1; i < count; ++i) *o++ = digits[i];
        }
        *o++ = 'e';
        *o++ = exponent < 0 ? '-' : '+';
        const int absolute = exponent < 0 ? -exponent : exponent;
        if (absolute < 10) *o++ = '0';
        return std::to_chars(o, end, absolute).ptr;
      }
      if (exponent < 0) {
        *o++ = '0';
        *o++ = '.';
        for (int i = -1; i > exponent; --i) *o++ = '0';
        for (int i = 0; i < count; ++i) *o++ = digits[i];
        return o;
      }
      for (int i = 0; i <= exponent; ++i) *o++ = i < count ? digits[i] : '0';
      if (count > exponent + 1) {
        *o++ = '.';
        for (int i = exponent + 1; i < count; ++i) *o++ = digits[i];
      }
      return o;
    }
  }
  // to_chars with a precision is defined to give printf's digits.
  return std::to_chars(out, end, value, std::chars_format::general, json::kFloatSignificantDigits)
      .ptr;
}

std::u16string floatText(double value) {
  char buffer[32];
  return std::u16string(buffer, formatFloat13(buffer, value));
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
  node->literalIsWritten = true;
  return node;
}

JsonNode* newIntegerNode(std::int64_t value) {
  JsonNode* node = newNode(JsonType::kInteger);
  node->content.integer = value;
  node->text.assign(integerText(value));
  node->literalIsWritten = true;
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

JsonNode* newArrayNode(json::Arena* arena) {
  JsonNode* node = newNode(JsonType::kArray, arena);
  node->content.list = newContainer<JsonNodeList>(node, arena);
  return node;
}

JsonNode* newObjectNode(json::Arena* arena) {
  JsonNode* node = newNode(JsonType::kObject, arena);
  node->content.table = newContainer<JsonMemberTable>(node, arena);
  return node;
}

void clearContent(JsonNode* node) {
  json::FreeBatch batch;
  std::vector<JsonNode*> dying;
  clearContentInto(node, dying, batch);
  freeAll(dying, batch);
}

void emptyInPlace(JsonNode* node) {
  json::FreeBatch batch;
  std::vector<JsonNode*> dying;
  releaseChildren(node, dying, batch);
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
  node->literalIsWritten = false;
  node->text.reset(&batch);
  freeAll(dying, batch);
}

void ensureObject(JsonNode* node) {
  if (node->type == JsonType::kObject && node->content.table) return;
  clearContent(node);
  node->type = JsonType::kObject;
  node->content.table = newContainer<JsonMemberTable>(node, nullptr);
}

void ensureArray(JsonNode* node) {
  if (node->type == JsonType::kArray && node->content.list) return;
  clearContent(node);
  node->type = JsonType::kArray;
  node->content.list = newContainer<JsonNodeList>(node, nullptr);
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
  node->literalIsWritten = true;
}

void becomeInteger(JsonNode* node, std::int64_t value) {
  clearContent(node);
  node->type = JsonType::kInteger;
  node->content.integer = value;
  node->text.assign(integerText(value));
  node->literalIsWritten = true;
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
