// JsonMemberTable: an object's members. A hash table whose entries are the
// member nodes themselves (each carries its key and key hash), plus a
// JsonNodeList that keeps the member order. It counts no references.
//
// `bucketCount` and `threshold` follow the table's growth rule (11, 23, 47,
// ... buckets, growing at the store that reaches the threshold). Underneath,
// most objects hold a few members, where comparing hashes along the member
// order beats any table and needs no memory of its own: an index (open
// addressing, so nodes need no chain link) is built only from kIndexedFrom
// members on.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "json/json_constants.h"
#include "json/json_node_list.h"
#include "json/json_node_text.h"

namespace varnel {

class JsonNode;

// h = h * 31 + c over the key's code units and its terminating zero, wrapping
// as an unsigned 32-bit value and read back as signed.
std::int32_t jsonKeyHash(std::u16string_view key);

class JsonMemberTable {
 public:
  // An invalid bucket count or load factor falls back to the defaults.
  explicit JsonMemberTable(std::int32_t bucketCount = json::kDefaultBucketCount,
                           float loadFactor = json::kDefaultLoadFactor);
  ~JsonMemberTable();
  JsonMemberTable(const JsonMemberTable&) = delete;
  JsonMemberTable& operator=(const JsonMemberTable&) = delete;

  JsonNode* find(std::u16string_view key) const;
  // Stores `node` under `key`: 1 when it replaced a member (which takes the old
  // member's place in the order and is no longer in the table; the caller
  // releases it via `replaced`), 0 when added.
  int store(std::u16string_view key, JsonNode* node, JsonNode** replaced = nullptr);
  // As store, taking over an already built key text.
  int store(NodeText&& key, JsonNode* node, JsonNode** replaced = nullptr);
  // Unlinks the member; its key text is freed. False when absent.
  bool removeKey(std::u16string_view key);
  bool removeNode(JsonNode* node);

  std::int32_t count() const { return order_.count(); }
  std::int32_t bucketCount() const { return bucketCount_; }
  std::int32_t threshold() const { return threshold_; }
  const JsonNodeList& order() const { return order_; }
  std::vector<std::u16string_view> keys() const;
  // Frees every key text and forgets every member (the nodes are not released).
  void clear();
  // As clear, without touching the members: for an owner that has already
  // reset their keys and may have freed them.
  void forgetMembers();
  // As forgetMembers, also freeing the order's item array through `batch`.
  void forgetMembers(json::FreeBatch& batch) {
    forgetMembers();
    order_.dropItems(batch);
  }
  void sort(bool descending) { order_.sortByKey(descending); }
  // A parser's finished object: its member order moves into the arena.
  void compact(json::Arena& arena) { order_.compact(arena); }
  void reserveFrom(json::Arena& arena, std::int32_t members) { order_.reserveFrom(arena, members); }

  // Members from which on lookups go through the index.
  static constexpr std::int32_t kIndexedFrom = 9;

 private:
  void grow();
  // Builds the index from the member order, at least twice the members large.
  void buildIndex();
  void dropIndex();
  std::uint32_t slotOf(std::int32_t hash) const {
    return (static_cast<std::uint32_t>(hash) * 0x9E3779B1u) >> (32 - indexBits_);
  }
  // The slot holding `node`, or of the member with this key, or the empty
  // slot where the search ended.
  std::uint32_t findSlot(std::int32_t hash, std::u16string_view key) const;
  void insertIntoIndex(JsonNode* node);
  void eraseSlot(std::uint32_t slot);
  bool unlink(JsonNode* node);

  JsonNode** index_ = nullptr;   // none while the members are few
  std::uint32_t indexBits_ = 0;  // index_ has 1 << indexBits_ slots
  std::int32_t bucketCount_ = 0;
  std::int32_t threshold_ = 0;
  float loadFactor_ = json::kDefaultLoadFactor;
  JsonNodeList order_;
};

}  // namespace varnel
