#include "json/json_node_list.h"

#include <algorithm>  // max
#include <cstring>    // memcpy, memmove
#include <tuple>      // tie
#include <utility>    // swap

#include "json/json_node.h"

namespace varnel {

JsonNodeList::JsonNodeList(std::int32_t capacity) {
  if (capacity < 0) capacity = json::kDefaultListCapacity;
  capacity_ = capacity;
}

JsonNodeList::~JsonNodeList() { freeItems(); }

void JsonNodeList::freeItems() {
  if (itemsInArena_) {
    json::Arena::free(items_);
  } else {
    delete[] items_;
  }
  items_ = nullptr;
  allocated_ = 0;
  itemsInArena_ = false;
}

void JsonNodeList::growFor(std::int64_t needed) {
  if (needed > capacity_) {
    std::int64_t grown = std::int64_t{capacity_} * 2 + 1;
    if (grown < needed) grown = needed;
    capacity_ = static_cast<std::int32_t>(grown);
  }
  if (needed <= allocated_) return;
  std::int64_t size = std::max<std::int64_t>({needed, std::int64_t{allocated_} * 2, 4});
  if (size > capacity_) size = capacity_;
  auto* items = new JsonNode*[size];
  if (count_ > 0) std::memcpy(items, items_, sizeof(JsonNode*) * count_);
  freeItems();
  items_ = items;
  allocated_ = static_cast<std::int32_t>(size);
}

void JsonNodeList::dropItems(json::FreeBatch& batch) {
  if (itemsInArena_) {
    batch.free(items_);
  } else {
    delete[] items_;
  }
  items_ = nullptr;
  allocated_ = 0;
  itemsInArena_ = false;
  count_ = 0;
}

void JsonNodeList::reserveFrom(json::Arena& arena, std::int32_t items) {
  if (items_ || items <= 0) return;
  items = std::min(items, capacity_);
  items_ = static_cast<JsonNode**>(arena.allocate(sizeof(JsonNode*) * items));
  if (!items_) return;
  allocated_ = items;
  itemsInArena_ = true;
}

void JsonNodeList::compact(json::Arena& arena) {
  if (itemsInArena_ || count_ == allocated_) return;
  if (count_ == 0) {
    freeItems();
    return;
  }
  auto* items = static_cast<JsonNode**>(arena.allocate(sizeof(JsonNode*) * count_));
  if (!items) return;  // too large for the arena: stays on the heap
  std::memcpy(items, items_, sizeof(JsonNode*) * count_);
  freeItems();
  items_ = items;
  allocated_ = count_;
  itemsInArena_ = true;
}

std::int32_t JsonNodeList::append(JsonNode* node) {
  growFor(std::int64_t{count_} + 1);
  items_[count_] = node;
  return count_++;
}

std::int32_t JsonNodeList::insert(std::int64_t index, JsonNode* node) {
  if (index < 0 || index > count_) return -1;
  growFor(std::int64_t{count_} + 1);
  std::memmove(items_ + index + 1, items_ + index, sizeof(JsonNode*) * (count_ - index));
  items_[index] = node;
  ++count_;
  return static_cast<std::int32_t>(index);
}

bool JsonNodeList::set(std::int64_t index, JsonNode* node) {
  if (index < 0 || index >= count_) return false;
  items_[index] = node;
  return true;
}

bool JsonNodeList::removeAt(std::int64_t index) {
  if (index < 0 || index >= count_) return false;
  std::memmove(items_ + index, items_ + index + 1, sizeof(JsonNode*) * (count_ - index - 1));
  --count_;
  return true;
}

std::int32_t JsonNodeList::indexOf(const JsonNode* node) const {
  for (std::int32_t i = 0; i < count_; ++i) {
    if (items_[i] == node) return i;
  }
  return -1;
}

bool JsonNodeList::removeNode(const JsonNode* node) { return removeAt(indexOf(node)); }

void JsonNodeList::clear() { count_ = 0; }

namespace {

int compareKeys(const JsonNode* a, const JsonNode* b, bool descending) {
  int order = a->key.view().compare(b->key.view());
  return descending ? -order : order;
}

}  // namespace

void JsonNodeList::sortByKey(bool descending) {
  auto greater = [descending](const JsonNode* a, const JsonNode* b) {
    return compareKeys(a, b, descending) > 0;
  };
  std::int64_t lo = 0;
  std::int64_t hi = std::int64_t{count_} - 1;
  // Explicit stack of pending ranges; the smaller side is always sorted first
  // so the stack never holds more than log2(count) ranges.
  std::vector<std::pair<std::int64_t, std::int64_t>> pending;
  for (;;) {
    if (lo >= hi) {
      if (pending.empty()) return;
      std::tie(lo, hi) = pending.back();
      pending.pop_back();
      continue;
    }
    JsonNode** item = items_;
    std::int64_t mid = lo + (hi - lo) / 2;
    if (greater(item[lo], item[hi])) std::swap(item[lo], item[hi]);
    if (greater(item[mid], item[hi])) std::swap(item[mid], item[hi]);
    if (greater(item[mid], item[lo])) std::swap(item[mid], item[lo]);
    JsonNode* pivot = item[lo];
    std::int64_t i = lo;
    std::int64_t j = hi;
    while (i < j) {
      while (i < j && compareKeys(item[j], pivot, descending) >= 0) --j;
      if (i < j) item[i++] = item[j];
      while (i < j && compareKeys(item[i], pivot, descending) <= 0) ++i;
      if (i < j) item[j--] = item[i];
    }
    item[i] = pivot;
    // Keep the larger side for later, continue with the smaller one.
    if (i - lo < hi - i) {
      pending.emplace_back(i + 1, hi);
      hi = i - 1;
    } else {
      pending.emplace_back(lo, i - 1);
      lo = i + 1;
    }
  }
}

}  // namespace varnel
