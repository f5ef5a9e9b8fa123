#include "json/json_member_table.h"

#include "json/json_node.h"

namespace varnel {

std::int32_t jsonKeyHash(std::u16string_view key) {
  std::uint32_t h = 0;
  for (char16_t c : key) h = h * json::kKeyHashMultiplier + c;
  h = h * json::kKeyHashMultiplier;  // the terminating zero
  return static_cast<std::int32_t>(h);
}

JsonMemberTable::JsonMemberTable(std::int32_t bucketCount, float loadFactor) {
  if (bucketCount <= 0) bucketCount = json::kDefaultBucketCount;
  if (!(loadFactor > json::kMinLoadFactor)) loadFactor = json::kDefaultLoadFactor;
  bucketCount_ = bucketCount;
  loadFactor_ = loadFactor;
  threshold_ = static_cast<std::int32_t>(static_cast<float>(bucketCount_) * loadFactor_);
}

JsonMemberTable::~JsonMemberTable() {
  // Only the members need undoing; zeroing arrays that go away is wasted.
  for (JsonNode* node : order_) node->key.reset();
  delete[] index_;
}

void JsonMemberTable::buildIndex() {
  delete[] index_;
  std::uint32_t bits = 4;
  while ((std::uint64_t{1} << bits) < std::uint64_t(order_.count()) * 2) ++bits;
  indexBits_ = bits;
  index_ = new JsonNode* [std::size_t{1} << bits] {};
  for (JsonNode* node : order_) insertIntoIndex(node);
}

void JsonMemberTable::dropIndex() {
  delete[] index_;
  index_ = nullptr;
  indexBits_ = 0;
}

void JsonMemberTable::insertIntoIndex(JsonNode* node) {
  const std::uint32_t mask = (1u << indexBits_) - 1;
  std::uint32_t slot = slotOf(node->keyHash);
  while (index_[slot]) slot = (slot + 1) & mask;
  index_[slot] = node;
}

std::uint32_t JsonMemberTable::findSlot(std::int32_t hash, std::u16string_view key) const {
  const std::uint32_t mask = (1u << indexBits_) - 1;
  std::uint32_t slot = slotOf(hash);
  for (JsonNode* node; (node = index_[slot]) != nullptr; slot = (slot + 1) & mask) {
    if (node->keyHash == hash && node->key.view() == key) break;
  }
  return slot;
}

// Linear probing without tombstones: later entries of the run move back into
// the gap when they may.
void JsonMemberTable::eraseSlot(std::uint32_t slot) {
  const std::uint32_t mask = (1u << indexBits_) - 1;
  std::uint32_t gap = slot;
  for (std::uint32_t at = (slot + 1) & mask; index_[at]; at = (at + 1) & mask) {
    const std::uint32_t home = slotOf(index_[at]->keyHash);
    // Movable when its home is not inside (gap, at] going round the table.
    if (((at - home) & mask) >= ((at - gap) & mask)) {
      index_[gap] = index_[at];
      gap = at;
    }
  }
  index_[gap] = nullptr;
}

JsonNode* JsonMemberTable::find(std::u16string_view key) const {
  const std::int32_t hash = jsonKeyHash(key);
  if (!index_) {
    for (JsonNode* node : order_) {
      if (node->keyHash == hash && node->key.view() == key) return node;
    }
    return nullptr;
  }
  return index_[findSlot(hash, key)];
}

int JsonMemberTable::store(std::u16string_view key, JsonNode* node, JsonNode** replaced) {
  return store(NodeText(key), node, replaced);
}

int JsonMemberTable::store(NodeText&& key, JsonNode* node, JsonNode** replaced) {
  if (replaced) *replaced = nullptr;
  const std::int32_t hash = jsonKeyHash(key.view());
  JsonNode* old = nullptr;
  std::uint32_t slot = 0;
  if (index_) {
    slot = findSlot(hash, key.view());
    old = index_[slot];
  } else {
    old = find(key.view());
  }
  if (old) {
    // The new node takes the old member's place in the index and the order.
    if (index_) index_[slot] = node;
    node->keyHash = hash;
    node->key = std::move(old->key);
    order_.set(order_.indexOf(old), node);
    if (replaced) *replaced = old;
    return 1;
  }
  if (order_.count() >= threshold_) grow();
  node->keyHash = hash;
  node->key = std::move(key);
  order_.append(node);
  if (index_) {
    if (std::uint64_t(order_.count()) * 2 > (std::uint64_t{1} << indexBits_)) {
      buildIndex();
    } else {
      index_[slot] = node;  // the empty slot the search ended on
    }
  } else if (order_.count() >= kIndexedFrom) {
    buildIndex();
  }
  return 0;
}

void JsonMemberTable::grow() {
  std::int64_t grown = std::int64_t{bucketCount_} * 2 + 1;
  if (grown > INT32_MAX) return;  // counted as full from here on; lookups are unaffected
  bucketCount_ = static_cast<std::int32_t>(grown);
  threshold_ = static_cast<std::int32_t>(static_cast<float>(bucketCount_) * loadFactor_);
}

bool JsonMemberTable::unlink(JsonNode* node) {
  if (index_) {
    const std::uint32_t slot = findSlot(node->keyHash, node->key.view());
    if (index_[slot] != node) return false;
    eraseSlot(slot);
    order_.removeNode(node);
  } else if (!order_.removeNode(node)) {
    return false;
  }
  node->key.reset();
  return true;
}

bool JsonMemberTable::removeKey(std::u16string_view key) {
  JsonNode* node = find(key);
  return node && unlink(node);
}

bool JsonMemberTable::removeNode(JsonNode* node) { return node && unlink(node); }

std::vector<std::u16string_view> JsonMemberTable::keys() const {
  std::vector<std::u16string_view> out;
  out.reserve(order_.count());
  for (JsonNode* node : order_) out.push_back(node->key.view());
  return out;
}

void JsonMemberTable::clear() {
  for (JsonNode* node : order_) node->key.reset();
  order_.clear();
  dropIndex();
}

void JsonMemberTable::forgetMembers() {
  order_.clear();
  dropIndex();
}

}  // namespace varnel
