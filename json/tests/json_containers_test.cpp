// Member tables and node lists: growth, order, removal and sorting.
#include <gtest/gtest.h>

#include <algorithm>  // find_if, sort
#include <random>
#include <utility>

#include "json/json_member_table.h"
#include "json/json_node.h"
#include "json/json_node_list.h"

namespace varnel {
namespace {

// Owns the nodes a test stores so the containers themselves stay simple.
struct Nodes {
  std::vector<JsonNode*> all;
  JsonNode* make() {
    all.push_back(newNullNode());
    return all.back();
  }
  ~Nodes() {
    for (JsonNode* node : all) {
      node->parent = nullptr;
      release(node);
    }
  }
};

std::vector<std::u16string> keysOf(const JsonMemberTable& table) {
  std::vector<std::u16string> out;
  for (auto key : table.keys()) out.emplace_back(key);
  return out;
}

TEST(JsonMemberTable, KeyHashWrapsAsSigned32Bit) {
  EXPECT_EQ(jsonKeyHash(u""), 0);
  EXPECT_EQ(jsonKeyHash(u"a"), 97 * 31);
  EXPECT_EQ(jsonKeyHash(u"ab"), (97 * 31 + 98) * 31);
  // Long keys overflow 32 bits: the result wraps instead of being undefined.
  std::uint32_t h = 0;
  std::u16string longKey(100, u'\xFFFF');
  for (char16_t c : longKey) h = h * 31 + c;
  h *= 31;
  EXPECT_EQ(jsonKeyHash(longKey), static_cast<std::int32_t>(h));
}

TEST(JsonMemberTable, GrowsAtThresholdAndKeepsOrder) {
  Nodes nodes;
  JsonMemberTable table;
  EXPECT_EQ(table.bucketCount(), 11);
  EXPECT_EQ(table.threshold(), 8);
  std::vector<std::u16string> expected;
  for (int i = 0; i < 8; ++i) {
    expected.push_back(u"k" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
    EXPECT_EQ(table.store(expected.back(), nodes.make()), 0);
  }
  EXPECT_EQ(table.bucketCount(), 11) << "8 keys fit";
  expected.push_back(u"ki");
  table.store(expected.back(), nodes.make());
  EXPECT_EQ(table.bucketCount(), 23) << "the 9th store grows";
  EXPECT_EQ(table.threshold(), 17);
  EXPECT_EQ(keysOf(table), expected);
  for (int i = 9; i < 18; ++i) table.store(u"x" + std::u16string(1, u'a' + i), nodes.make());
  EXPECT_EQ(table.bucketCount(), 47);
  EXPECT_EQ(table.threshold(), 35);
  for (const auto& key : expected) EXPECT_NE(table.find(key), nullptr) << "found after growth";
}

TEST(JsonMemberTable, StoreReplaceRemove) {
  Nodes nodes;
  JsonMemberTable table;
  JsonNode* a = nodes.make();
  table.store(u"a", a);
  table.store(u"b", nodes.make());
  table.store(u"c", nodes.make());
  JsonNode* a2 = nodes.make();
  JsonNode* replaced = nullptr;
  EXPECT_EQ(table.store(u"a", a2, &replaced), 1);
  EXPECT_EQ(replaced, a);
  EXPECT_EQ(table.count(), 3) << "replacing does not add";
  EXPECT_EQ(table.order().get(0), a2) << "the new node takes the old position";
  EXPECT_EQ(table.find(u"a"), a2);
  EXPECT_TRUE(a->key.view().empty()) << "the old member gave its key away";

  EXPECT_TRUE(table.removeKey(u"a"));
  EXPECT_EQ(keysOf(table), (std::vector<std::u16string>{u"b", u"c"}));
  EXPECT_FALSE(table.removeKey(u"a")) << "absent key";
  EXPECT_FALSE(table.removeKey(u"zz"));
  EXPECT_TRUE(table.removeNode(table.find(u"c")));
  EXPECT_EQ(keysOf(table), std::vector<std::u16string>{u"b"});

  EXPECT_EQ(table.store(u"", nodes.make()), 0) << "the empty key is a key";
  EXPECT_NE(table.find(u""), nullptr);
  EXPECT_EQ(table.find(u"B"), nullptr) << "case-sensitive";
  table.clear();
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(table.find(u"b"), nullptr);
}

// Small and large tables keep their lookups in different ways; a random mix of
// adds, replacements and removals across both sizes must agree with a plain
// model of keys in member order.
TEST(JsonMemberTable, RandomEditsAgreeWithAModel) {
  Nodes nodes;
  JsonMemberTable table;
  std::vector<std::pair<std::u16string, JsonNode*>> model;  // member order
  std::mt19937 random(7);
  const auto keyOf = [](unsigned n) {
    // Few distinct lengths and shared prefixes, so hashes crowd together.
    return u"key" + std::u16string(1, static_cast<char16_t>(u'a' + n % 26)) +
           std::u16string(1, static_cast<char16_t>(0x4e00 + n / 26));
  };
  for (int step = 0; step < 20000; ++step) {
    // Grow to a few hundred members, shrink to a handful, grow again.
    const unsigned range = (step / 4000) % 2 == 0 ? 400 : 12;
    const std::u16string key = keyOf(random() % range);
    const auto inModel = std::find_if(model.begin(), model.end(),
                                      [&](const auto& member) { return member.first == key; });
    switch (random() % 3) {
      case 0: {
        JsonNode* node = nodes.make();
        JsonNode* replaced = nullptr;
        const int result = table.store(key, node, &replaced);
        if (inModel != model.end()) {
          ASSERT_EQ(result, 1);
          ASSERT_EQ(replaced, inModel->second);
          inModel->second = node;
        } else {
          ASSERT_EQ(result, 0);
          model.emplace_back(key, node);
        }
        break;
      }
      case 1:
        ASSERT_EQ(table.removeKey(key), inModel != model.end());
        if (inModel != model.end()) model.erase(inModel);
        break;
      default:
        if (inModel != model.end()) {
          ASSERT_TRUE(table.removeNode(inModel->second));
          model.erase(inModel);
        }
        break;
    }
    ASSERT_EQ(table.count(), static_cast<std::int32_t>(model.size()));
    if (step % 97 == 0) {
      for (unsigned n = 0; n < range; ++n) {
        const auto it = std::find_if(model.begin(), model.end(),
                                     [&](const auto& member) { return member.first == keyOf(n); });
        ASSERT_EQ(table.find(keyOf(n)), it == model.end() ? nullptr : it->second);
      }
      for (std::size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(table.order().get(static_cast<std::int64_t>(i)), model[i].second);
      }
    }
  }
}

TEST(JsonMemberTable, SortReordersOnlyTheOrder) {
  struct Case {
    std::vector<std::u16string> keys;
    bool descending;
    std::vector<std::u16string> sorted;
    const char* why;
  } cases[] = {
      {{u"b", u"a", u"c"}, false, {u"a", u"b", u"c"}, "ascending"},
      {{u"b", u"a", u"c"}, true, {u"c", u"b", u"a"}, "descending"},
      {{u"a"}, false, {u"a"}, "one key"},
      {{}, false, {}, "no keys"},
      {{u"B", u"a", u"", u"A"}, false, {u"", u"A", u"B", u"a"}, "code-unit order"},
  };
  for (const Case& c : cases) {
    Nodes nodes;
    JsonMemberTable table;
    for (const auto& key : c.keys) table.store(key, nodes.make());
    table.sort(c.descending);
    EXPECT_EQ(keysOf(table), c.sorted) << c.why;
    for (const auto& key : c.keys) EXPECT_NE(table.find(key), nullptr) << c.why;
  }
  // Many keys in adversarial orders: sorted, and the explicit stack stays small.
  for (bool descendingInput : {false, true}) {
    Nodes nodes;
    JsonMemberTable table;
    std::vector<std::u16string> keys;
    for (int i = 0; i < 5000; ++i) {
      int n = descendingInput ? 5000 - i : i;
      keys.push_back(u"k" + std::u16string(1, static_cast<char16_t>(0x4e00 + n)));
      table.store(keys.back(), nodes.make());
    }
    table.sort(false);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keysOf(table), keys);
  }
}

TEST(JsonNodeList, GrowthInsertRemove) {
  Nodes nodes;
  JsonNodeList list;
  EXPECT_EQ(list.capacity(), 8);
  for (int i = 0; i < 8; ++i) list.append(nodes.make());
  EXPECT_EQ(list.capacity(), 8);
  list.append(nodes.make());
  EXPECT_EQ(list.capacity(), 17) << "9th append";
  for (int i = 0; i < 9; ++i) list.append(nodes.make());
  EXPECT_EQ(list.capacity(), 35);

  JsonNodeList small;
  JsonNode* a = nodes.make();
  JsonNode* b = nodes.make();
  JsonNode* c = nodes.make();
  EXPECT_EQ(small.insert(1, a), -1) << "past the end";
  EXPECT_EQ(small.insert(0, b), 0);
  EXPECT_EQ(small.insert(0, a), 0);
  EXPECT_EQ(small.insert(2, c), 2);
  EXPECT_EQ(small.snapshot(), (std::vector<JsonNode*>{a, b, c}));
  EXPECT_FALSE(small.removeAt(3));
  EXPECT_FALSE(small.removeAt(-1));
  EXPECT_TRUE(small.removeNode(b));
  EXPECT_FALSE(small.removeNode(b));
  EXPECT_EQ(small.snapshot(), (std::vector<JsonNode*>{a, c}));
  EXPECT_EQ(small.get(2), nullptr);
  EXPECT_FALSE(small.set(2, b));
  small.clear();
  EXPECT_EQ(small.count(), 0);
}

}  // namespace
}  // namespace varnel
