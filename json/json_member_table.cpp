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
  for (JsonNode* node : order_) {
    node->key.reset();
    node->nextInBucket = nullptr;
  }
  delete[] buckets_;
}

void JsonMemberTable::index() {
  delete[] buckets_;
  buckets_ = new JsonNode* [bucketCount_] {};
  for (JsonNode* node : order_) {
    const std::int32_t bucket = bucketOf(node->keyHash);
    node->nextInBucket = buckets_[bucket];
    buckets_[bucket] = node;
  }
}

JsonNode* JsonMemberTable::find(std::u16string_view key) const {
  const std::int32_t hash = jsonKeyHash(key);
  if (!buckets_) {
    for (JsonNode* node : order_) {
      if (node->keyHash == hash && node->key.view() == key) return node;
    }
    return nullptr;
  }
  for (JsonNode* node = buckets_[bucketOf(hash)]; node; node = node->nextInBucket) {
    if (node->keyHash == hash && node->key.view() == key) return node;
  }
  return nullptr;
}

int JsonMemberTable::store(std::u16string_view key, JsonNode* node, JsonNode** replaced) {
  return store(NodeText(key), node, replaced);
}

int JsonMemberTable::store(NodeText&& key, JsonNode* node, JsonNode** replaced) {
  if (replaced) *replaced = nullptr;
  const std::int32_t hash = jsonKeyHash(key.view());
  if (JsonNode* old = find(key.view())) {
    // The new node takes the old member's place in the chain and the order.
    if (buckets_) {
      const std::int32_t bucket = bucketOf(hash);
      JsonNode** link = &buckets_[bucket];
      while (*link != old) link = &(*link)->nextInBucket;
      *link = node;
    }
    node->nextInBucket = old->nextInBucket;
    node->keyHash = hash;
    node->key = std::move(old->key);
    old->nextInBucket = nullptr;
    order_.set(order_.indexOf(old), node);
    if (replaced) *replaced = old;
    return 1;
  }
  if (order_.count() >= threshold_) grow();
  node->keyHash = hash;
  node->key = std::move(key);
  node->nextInBucket = nullptr;
  order_.append(node);
  if (buckets_) {
    const std::int32_t bucket = bucketOf(hash);
    node->nextInBucket = buckets_[bucket];
    buckets_[bucket] = node;
  } else if (order_.count() >= kIndexedFrom) {
    index();
  }
  return 0;
}

void JsonMemberTable::grow() {
  std::int64_t grown = std::int64_t{bucketCount_} * 2 + 1;
  if (grown > INT32_MAX) return;  // a full table still works, only slower
  bucketCount_ = static_cast<std::int32_t>(grown);
  threshold_ = static_cast<std::int32_t>(static_cast<float>(bucketCount_) * loadFactor_);
  if (buckets_) index();
}

bool JsonMemberTable::unlink(JsonNode* node) {
  if (buckets_) {
    JsonNode** link = &buckets_[bucketOf(node->keyHash)];
    while (*link && *link != node) link = &(*link)->nextInBucket;
    if (!*link) return false;
    *link = node->nextInBucket;
    node->nextInBucket = nullptr;
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
  for (JsonNode* node : order_) {
    node->key.reset();
    node->nextInBucket = nullptr;
  }
  order_.clear();
  delete[] buckets_;
  buckets_ = nullptr;
}

void JsonMemberTable::forgetMembers() {
  order_.clear();
  delete[] buckets_;
  buckets_ = nullptr;
}

}  // namespace varnel
