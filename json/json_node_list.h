// JsonNodeList: a growable list of node pointers (array elements, an object's
// member order, the parser's stack). It counts no references; its owner does.
//
// `capacity` follows the list's growth rule (8, 17, 35, ...); the item array
// itself is only as large as the items need (doubling), because most arrays
// and objects in real documents hold a handful of values.
#pragma once

#include <cstdint>
#include <vector>

#include "json/json_arena.h"
#include "json/json_constants.h"

namespace varnel {

class JsonNode;

class JsonNodeList {
 public:
  // A negative capacity is treated as the default.
  explicit JsonNodeList(std::int32_t capacity = json::kDefaultListCapacity);
  ~JsonNodeList();
  JsonNodeList(const JsonNodeList&) = delete;
  JsonNodeList& operator=(const JsonNodeList&) = delete;

  std::int32_t count() const { return count_; }
  std::int32_t capacity() const { return capacity_; }
  // nullptr outside 0..count-1.
  JsonNode* get(std::int64_t index) const {
    return index >= 0 && index < count_ ? items_[index] : nullptr;
  }
  JsonNode* const* begin() const { return items_; }
  JsonNode* const* end() const { return items_ + count_; }

  std::int32_t append(JsonNode* node);
  // 0 <= index <= count, else -1 and nothing changes.
  std::int32_t insert(std::int64_t index, JsonNode* node);
  // 0 <= index < count, else false.
  bool set(std::int64_t index, JsonNode* node);
  bool removeAt(std::int64_t index);
  // The first occurrence; false when absent.
  bool removeNode(const JsonNode* node);
  std::int32_t indexOf(const JsonNode* node) const;
  std::vector<JsonNode*> snapshot() const { return {begin(), end()}; }
  void clear();
  // Moves the items into an array of exactly their number from `arena` (a
  // parser's finished container will not grow again).
  void compact(json::Arena& arena);
  // Gives an empty list room for `items` from `arena` (a parser's new
  // container: most stay this small, and need no heap array at all).
  void reserveFrom(json::Arena& arena, std::int32_t items);
  // Frees the item array (through `batch` when it is in an arena) and
  // forgets every item; the capacity stays.
  void dropItems(json::FreeBatch& batch);

  // Quicksort of the items by key (member order only), never recursing deeper
  // than log2(count).
  void sortByKey(bool descending);

 private:
  void growFor(std::int64_t needed);
  void freeItems();

  JsonNode** items_ = nullptr;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;   // by the growth rule
  std::int32_t allocated_ = 0;  // entries items_ really has
  bool itemsInArena_ = false;
};

}  // namespace varnel
