#include "json/json_member_table.h"

#include <cstring>  // memset

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
  if (bucketCount_ > json::kDefaultBucketCount) buckets_ = new JsonNode* [bucketCount_] {};
}

JsonMemberTable::~JsonMemberTable() {
  // Only the members need undoing; zeroing arrays that go away is wasted.
  for (JsonNode* node : order_) {
    node->key.reset();
    node->nextInBucket = nullptr;
  }
  if (buckets_ != inlineBuckets_) delete[] buckets_;
}

JsonNode* JsonMemberTable::find(std::u16string_view key) const {
  std::int32_t hash = jsonKeyHash(key);
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
  std::int32_t hash = jsonKeyHash(key.view());
  std::int32_t bucket = bucketOf(hash);
  JsonNode* previous = nullptr;
  for (JsonNode* old = buckets_[bucket]; old; previous = old, old = old->nextInBucket) {
    if (old->keyHash != hash || old->key.view() != key.view()) continue;
    // The new node takes the old member's place in the chain and the order.
    (previous ? previous->nextInBucket : buckets_[bucket]) = node;
    node->nextInBucket = old->nextInBucket;
    node->keyHash = hash;
    node->key = std::move(old->key);
    old->nextInBucket = nullptr;
    order_.set(order_.indexOf(old), node);
    if (replaced) *replaced = old;
    return 1;
  }
  if (order_.count() >= threshold_) {
    grow();
    bucket = bucketOf(hash);
  }
  node->keyHash = hash;
  node->key = std::move(key);
  node->nextInBucket = buckets_[bucket];
  buckets_[bucket] = node;
  order_.append(node);
  return 0;
}

void JsonMemberTable::grow() {
  std::int64_t grown = std::int64_t{bucketCount_} * 2 + 1;
  if (grown > INT32_MAX) return;  // a full table still works, only slower
  auto* buckets = new JsonNode* [grown] {};
  JsonNode** old = buckets_;
  std::int32_t oldCount = bucketCount_;
  buckets_ = buckets;
  bucketCount_ = static_cast<std::int32_t>(grown);
  threshold_ = static_cast<std::int32_t>(static_cast<float>(bucketCount_) * loadFactor_);
  for (std::int32_t b = 0; b < oldCount; ++b) {
    JsonNode* node = old[b];
    while (node) {
      JsonNode* next = node->nextInBucket;
      std::int32_t target = bucketOf(node->keyHash);
      node->nextInBucket = buckets_[target];
      buckets_[target] = node;
      node = next;
    }
  }
  if (old != inlineBuckets_) delete[] old;
}

bool JsonMemberTable::unlink(JsonNode* node) {
  std::int32_t bucket = bucketOf(node->keyHash);
  JsonNode* previous = nullptr;
  for (JsonNode* at = buckets_[bucket]; at; previous = at, at = at->nextInBucket) {
    if (at != node) continue;
    (previous ? previous->nextInBucket : buckets_[bucket]) = node->nextInBucket;
    node->nextInBucket = nullptr;
    order_.removeNode(node);
    node->key.reset();
    return true;
  }
  return false;
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
  std::memset(buckets_, 0, sizeof(JsonNode*) * bucketCount_);
}

void JsonMemberTable::forgetMembers() {
  order_.clear();
  std::memset(buckets_, 0, sizeof(JsonNode*) * bucketCount_);
}

}  // namespace varnel
