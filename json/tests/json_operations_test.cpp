// The general operations: paths, editing, typed access, copies, merging,
// and how handles share and keep nodes alive.
#include <gtest/gtest.h>
#include <pthread.h>  // a thread with a small stack

#include <random>

#include "json/json_node.h"
#include "json/json_value.h"

namespace varnel {
namespace {

JsonValue load(std::string_view text) {
  JsonValue doc;
  EXPECT_TRUE(doc.Load(text)) << text;
  return doc;
}

TEST(JsonPaths, ResolutionWithCreationTable) {
  struct Case {
    const char* start;
    const char* path;
    const char* after;
    const char* why;
  } cases[] = {
      {"{}", "a.b", R"({"a":{"b":null}})", "names create nulls"},
      {"{}", "a[2]", R"({"a":[null,null,null]})", "indexes pad with nulls"},
      {"{}", "[1]", "[null,null]", "an index alone converts the root"},
      {R"({"a":[1,2]})", "a[0]", R"({"a":[1,2]})", "present: nothing changes"},
      {R"({"a":[1,2]})", "a.x", R"({"a":{"x":null}})", "a name turns an array into an object"},
      {R"({"a":{"x":1}})", "a[0]", R"({"a":[null]})", "an index turns an object into an array"},
      {"{}", "a\\.b", R"({"a.b":null})", "escaped dot"},
      {"{}", "a\\[1\\]", R"({"a[1]":null})", "escaped brackets"},
      {"{}", "a\\\\b", R"({"a\\b":null})", "escaped backslash"},
      {"{}", "a\\xb", R"({"a\\xb":null})", "other backslashes stay"},
      {"{}", "a]", R"({"a]":null})", "a ] without [ is part of the name"},
      {"{}", "a..b", R"({"a":{"":{"b":null}}})", "an empty segment is the empty key"},
      {"{}", ".", R"({"":{"":null}})", "leading and trailing empty segments"},
      {"{}", "a[1]junk.b", R"({"a":[null,{"b":null}]})", "text after the bracket ignored"},
      {"{}", "a[1][5]", R"({"a":[null,null]})", "only the first bracket pair counts"},
      {"{}", "a[1", R"({"a":[null,null]})", "an unclosed bracket runs to the segment end"},
      {"{}", "a[x]", R"({"a":[null]})", "no digits read as 0"},
      {"{}", "a[+1z]", R"({"a":[null,null]})", "reading stops at the first non-digit"},
      {"{}", "a[-1].b", R"({"a":[]})", "negative: no value, the rest is not created"},
      {"{}", "a[99999999999]", R"({"a":[]})", "an index too large to pad yields no value"},
  };
  for (const auto& c : cases) {
    JsonValue doc = load(c.start);
    doc.TypeOf(c.path);
    EXPECT_EQ(doc.ToText(), c.after) << c.why;
  }
  JsonValue doc = load(R"({"a":[1]})");
  EXPECT_EQ(doc.TypeOf("a[-1]"), JsonType::kRaw) << "no value reads as -1";
}

TEST(JsonPaths, ExistsCreatesNothing) {
  JsonValue doc = load(R"({"a":{"b":[1,{"c":true}]},"":{"d":1}})");
  struct Case {
    const char* path;
    bool exists;
  } cases[] = {
      {"a", true},      {"a.b[1].c", true}, {"a.b[2]", false}, {"a.b[-1]", false}, {"a.x", false},
      {"a.b.c", false}, {"a[0]", false},    {".d", true},      {"", false},        {"zz.y", false},
  };
  const Text before = doc.ToText();
  for (const auto& c : cases) EXPECT_EQ(doc.Exists(c.path), c.exists) << c.path;
  EXPECT_EQ(doc.ToText(), before);
  JsonValue empty;
  EXPECT_FALSE(empty.Exists("a"));
  JsonValue fresh = load("{}");
  EXPECT_FALSE(fresh.Exists("a"));
  EXPECT_EQ(fresh.ToText(), "{}");
}

TEST(JsonOperations, SettersAndGetters) {
  JsonValue doc = load("{}");
  EXPECT_TRUE(doc.SetInteger("i", -42));
  EXPECT_TRUE(doc.SetFloat("f", 2.75));
  EXPECT_TRUE(doc.SetFloat("big", 1e20));
  EXPECT_TRUE(doc.SetBool("b", true));
  EXPECT_TRUE(doc.SetNull("n"));
  EXPECT_TRUE(doc.SetString("s", "text"));
  EXPECT_EQ(doc.ToText(), R"({"i":-42,"f":2.75,"big":1e+20,"b":true,"n":null,"s":"text"})");

  struct Case {
    const char* path;
    JsonType type;
    const char* literal;
    bool boolean;
    double number;
    std::int64_t integer;
  } cases[] = {
      {"i", JsonType::kInteger, "-42", false, -42, -42},
      {"f", JsonType::kFloat, "2.75", false, 2.75, 2},
      {"big", JsonType::kFloat, "1e+20", false, 1e20, INT64_MAX},  // saturates
      {"b", JsonType::kBoolean, "true", true, 0, 0},
      {"n", JsonType::kNull, "null", false, 0, 0},
      {"s", JsonType::kString, "", false, 0, 0},  // strings have no literal
  };
  for (const auto& c : cases) {
    EXPECT_EQ(doc.TypeOf(c.path), c.type) << c.path;
    EXPECT_EQ(doc.GetLiteral(c.path), c.literal) << c.path;
    EXPECT_EQ(doc.GetBool(c.path), c.boolean) << c.path;
    EXPECT_DOUBLE_EQ(doc.GetFloat(c.path), c.number) << c.path;
    EXPECT_EQ(doc.GetInteger(c.path), c.integer) << c.path;
    EXPECT_EQ(doc.GetString(c.path), c.type == JsonType::kString ? "text" : "") << c.path;
  }
  doc.SetFloat("neg", -2.9);
  EXPECT_EQ(doc.GetInteger("neg"), -2) << "truncated toward zero";

  JsonValue strings = load(R"({"t":"true","one":"1"})");
  EXPECT_FALSE(strings.GetBool("t")) << "no conversion between types";
  EXPECT_EQ(strings.GetInteger("one"), 0);

  // A setter keeps the node's key, position and parent, dropping its children.
  JsonValue tree = load(R"({"a":{"x":1},"b":2})");
  EXPECT_TRUE(tree.SetString("a", "flat"));
  EXPECT_EQ(tree.ToText(), R"({"a":"flat","b":2})");
}

TEST(JsonOperations, EmptyKeepsTheType) {
  JsonValue doc = load(R"({"o":{"x":1},"a":[1,2],"s":"t","i":5,"f":1.5,"b":true,"n":null})");
  for (const char* path : {"o", "a", "s", "i", "f", "b", "n"}) doc.Empty(path);
  EXPECT_EQ(doc.ToText(), R"({"o":{},"a":[],"s":"","i":0,"f":0,"b":false,"n":null})");
  EXPECT_EQ(doc.TypeOf("b"), JsonType::kBoolean);
  EXPECT_EQ(doc.GetLiteral("i"), "") << "the literal is dropped";
  EXPECT_EQ(doc.GetLiteral("n"), "");
}

TEST(JsonOperations, MembersAndItems) {
  JsonValue doc = load(R"({"o":{"a":1,"b":2,"c":3},"arr":[1,2,3],"s":"x"})");
  EXPECT_TRUE(doc.RemoveMember("o", "a"));
  EXPECT_FALSE(doc.RemoveMember("o", "a")) << "already gone";
  EXPECT_FALSE(doc.RemoveMember("s", "a"));
  EXPECT_EQ(doc.TypeOf("s"), JsonType::kString) << "RemoveMember never converts";
  EXPECT_TRUE(doc.RemoveItem("arr", 0));
  EXPECT_FALSE(doc.RemoveItem("arr", 2)) << "index equal to the count";
  EXPECT_FALSE(doc.RemoveItem("arr", -1));
  EXPECT_FALSE(doc.RemoveItem("s", 0));
  EXPECT_EQ(doc.ToText(), R"({"o":{"b":2,"c":3},"arr":[2,3],"s":"x"})");

  JsonValue member = doc.Member("o", "new");
  EXPECT_EQ(member.TypeOf(), JsonType::kNull) << "missing members are created as null";
  member.SetInteger("", 7);
  EXPECT_EQ(doc.GetInteger("o.new"), 7) << "the handle shares the node";
  EXPECT_EQ(doc.CountOf("o"), 3);

  JsonValue list = JsonValue::NewArray();
  JsonValue item = list.Item("", 3);
  EXPECT_EQ(item.TypeOf(), JsonType::kNull);
  EXPECT_EQ(list.ToText(), "[null,null,null,null]");
  EXPECT_EQ(list.Item("", -1).GetNode(), nullptr);

  JsonValue three = JsonValue::NewInteger(3);
  EXPECT_TRUE(list.PutItemCopy("", 1, three)) << "below the count: replaces";
  EXPECT_TRUE(list.PutItemCopy("", 6, JsonValue::NewString("s"))) << "above: pads then appends";
  EXPECT_FALSE(list.PutItemCopy("", -1, three));
  EXPECT_FALSE(list.PutItemCopy("", 0, JsonValue()));
  EXPECT_FALSE(list.PutItemCopy("", std::int64_t{1} << 40, three)) << "refuses to pad that far";
  EXPECT_EQ(list.ToText(), R"([null,3,null,null,null,null,"s"])");
  EXPECT_TRUE(list.AppendCopy("", load(R"({"k":[1]})")));
  EXPECT_FALSE(list.AppendCopy("", JsonValue()));
  EXPECT_EQ(list.ToText(), R"([null,3,null,null,null,null,"s",{"k":[1]}])");
  three.SetInteger("", 4);
  EXPECT_EQ(list.GetInteger("[1]"), 3) << "PutItemCopy stored a copy";
}

TEST(JsonOperations, PutMemberSharesAndRefusesCycles) {
  JsonValue doc = load(R"({"a":{"b":{"c":1}},"x":1})");
  JsonValue value = load(R"({"v":true})");
  EXPECT_TRUE(doc.PutMember("", "x", value)) << "replaces x in place";
  EXPECT_EQ(doc.ToText(), R"({"a":{"b":{"c":1}},"x":{"v":true}})");
  value.SetInteger("v", 2);
  EXPECT_EQ(doc.GetInteger("x.v"), 2) << "shared, not copied";

  EXPECT_FALSE(doc.PutMember("a.b", "loop", doc.Get("a"))) << "an ancestor under itself";
  EXPECT_FALSE(doc.PutMember("a", "self", doc.Get("a"))) << "a node under itself";
  EXPECT_FALSE(doc.PutMember("", "root", doc)) << "the root under itself";
  EXPECT_FALSE(doc.PutMember("", "none", JsonValue())) << "an empty handle";
  EXPECT_EQ(doc.ToText(), R"({"a":{"b":{"c":1}},"x":{"v":2}})") << "refusals change nothing";

  // A node already in a container moves out of it.
  EXPECT_TRUE(doc.PutMember("", "moved", doc.Get("a.b")));
  EXPECT_EQ(doc.ToText(), R"({"a":{},"x":{"v":2},"moved":{"c":1}})");
  EXPECT_EQ(doc.ParentOf("moved").GetNode(), doc.GetNode());
}

TEST(JsonOperations, KeysChildrenSortCopy) {
  JsonValue doc = load(R"({"b":1,"a":[1,2],"c":{"z":1,"y":2}})");
  std::vector<std::u16string> keysW{u"old"};
  EXPECT_EQ(doc.KeysW(u"", keysW), 3);
  EXPECT_EQ(keysW, (std::vector<std::u16string>{u"b", u"a", u"c"}));

  std::vector<JsonValue> children(2);
  EXPECT_EQ(doc.Children("a", children), 2);
  EXPECT_EQ(children[1].GetInteger(), 2);
  children[1].SetInteger("", 9);
  EXPECT_EQ(doc.GetInteger("a[1]"), 9) << "children share the nodes";
  std::vector<JsonValue> kept(1, JsonValue::NewNull());
  EXPECT_EQ(doc.Children("b", kept), 0);
  EXPECT_EQ(kept.size(), 1u) << "unchanged when there are no children";
  doc.Empty("c");
  EXPECT_EQ(doc.Children("c", kept), 0);
  EXPECT_EQ(kept.size(), 1u);

  JsonValue sorted = load(R"({"b":1,"a":2,"c":3})");
  EXPECT_TRUE(sorted.SortKeys());
  EXPECT_EQ(sorted.ToText(), R"({"a":2,"b":1,"c":3})");
  EXPECT_TRUE(sorted.SortKeys("", true));
  EXPECT_EQ(sorted.ToText(), R"({"c":3,"b":1,"a":2})");
  EXPECT_EQ(sorted.GetInteger("a"), 2) << "lookups still work";
  EXPECT_FALSE(sorted.SortKeys("a"));

  JsonValue original = load(R"({"n":1.50,"r":abc,"s":"x","l":[true,null,{"k":1}]})");
  JsonValue copy = original.Copy();
  EXPECT_NE(copy.GetNode(), original.GetNode());
  EXPECT_EQ(copy.ParentOf().GetNode(), nullptr) << "a copy is unattached";
  EXPECT_EQ(copy.ToText(), original.ToText());
  EXPECT_EQ(copy.GetLiteral("n"), "1.5") << "numbers get the text of their value";
  EXPECT_EQ(copy.GetLiteral("r"), "abc");
  copy.SetInteger("l[2].k", 5);
  EXPECT_EQ(original.GetInteger("l[2].k"), 1) << "deep";
  EXPECT_EQ(original.Copy("l[2]").ToText(), R"({"k":1})");
}

TEST(JsonOperations, MergeTable) {
  struct Case {
    const char* target;
    const char* path;
    const char* text;
    bool addMissing;
    bool result;
    const char* after;
    const char* why;
  } cases[] = {
      {R"({"a":1,"b":2})", "", R"({"a":5,"c":6})", false, true, R"({"a":5,"b":2})",
       "existing members replaced, missing ones skipped"},
      {R"({"a":1,"b":2})", "", R"({"a":5,"c":6})", true, true, R"({"a":5,"b":2,"c":6})",
       "addMissing appends"},
      {R"({"a":{"x":1,"y":2}})", "", R"({"a":{"y":3}})", false, true, R"({"a":{"x":1,"y":3}})",
       "objects merge recursively"},
      {R"({"a":1})", "", R"({"c":6})", false, false, R"({"a":1})", "nothing merged"},
      {R"({"a":1})", "", "{", false, false, R"({"a":1})", "unparsable text"},
      {R"({"a":{"x":1}})", "a", "[1,2]", false, true, R"({"a":[1,2]})",
       "a member is replaced by a non-object"},
      {R"([1])", "", R"({"a":1})", false, false, "[1]", "a non-object root"},
      {R"({"l":[{"a":1}]})", "l[0]", R"({"a":2,"b":3})", true, true, R"({"l":[{"a":2,"b":3}]})",
       "objects still merge inside an array"},
      {R"({"l":[1]})", "l[0]", R"({"a":1})", false, false, R"({"l":[1]})",
       "an array element cannot be replaced"},
  };
  for (const auto& c : cases) {
    JsonValue doc = load(c.target);
    EXPECT_EQ(doc.Merge(c.path, c.text, false, c.addMissing), c.result) << c.why;
    EXPECT_EQ(doc.ToText(), c.after) << c.why;
  }
}

TEST(JsonHandles, SharingDetachAndLifetime) {
  JsonValue doc = load(R"({"a":{"b":[1,2]},"c":3})");
  JsonValue copy = doc;
  EXPECT_EQ(copy.GetNode(), doc.GetNode());
  EXPECT_EQ(doc.GetNode()->refs.load(), 2);
  copy.SetInteger("c", 4);
  EXPECT_EQ(doc.GetInteger("c"), 4);

  JsonValue moved = std::move(copy);
  EXPECT_EQ(copy.GetNode(), nullptr);
  EXPECT_EQ(doc.GetNode()->refs.load(), 2);
  moved.Clear();
  EXPECT_EQ(doc.GetNode()->refs.load(), 1);

  // A child outlives its container's release.
  JsonValue child = doc.Get("a");
  doc.Clear();
  EXPECT_EQ(child.ParentOf().GetNode(), nullptr) << "unlinked when the container went";
  EXPECT_EQ(child.ToText(), R"({"b":[1,2]})");
  EXPECT_EQ(child.GetNode()->refs.load(), 1);

  // Load replaces the tree; an element held elsewhere survives.
  JsonValue other = load("[[1],[2]]");
  JsonValue element = other.Get("[1]");
  EXPECT_TRUE(other.Load("{}"));
  EXPECT_EQ(element.ToText(), "[2]");

  // Detach takes a member out of its object, keeping the node.
  JsonValue tree = load(R"({"x":{"y":1},"z":2})");
  JsonValue x = tree.Get("x");
  x.Detach();
  EXPECT_EQ(tree.ToText(), R"({"z":2})");
  EXPECT_EQ(x.ToText(), R"({"y":1})");
  EXPECT_EQ(x.GetNode()->refs.load(), 1) << "the container's reference went with it";
  x.Detach();  // a root: nothing happens
  EXPECT_TRUE(tree.PutMember("", "x", x)) << "and can be stored again";
  EXPECT_EQ(tree.ToText(), R"({"z":2,"x":{"y":1}})");

  // Clearing a container in place unlinks held children too.
  JsonValue held = tree.Get("x");
  tree.Empty();
  EXPECT_EQ(held.ParentOf().GetNode(), nullptr);
  held.Detach();

  JsonValue root;
  EXPECT_FALSE(root.SetNode(nullptr));
  EXPECT_TRUE(root.SetNode(held.GetNode()));
  EXPECT_EQ(held.GetNode()->refs.load(), 3) << "x, held and root";
  EXPECT_EQ(JsonValue::NewBool(false).ToText(), "false");
  EXPECT_EQ(JsonValue::NewStringW(u"\u4e2d").ToText(), "\"\xD6\xD0\"");
  EXPECT_EQ(JsonValue::NewFloat(3.0).GetLiteral(), "3");
}

// Runs `body` on a thread with a small stack, so that any walk recursing once
// per level of a deep tree overflows instead of passing by luck.
void onSmallStack(void (*body)()) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void* run) -> void* {
                  reinterpret_cast<void (*)()>(run)();
                  return nullptr;
                },
                reinterpret_cast<void*>(body)),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST(JsonHandles, DeepTreesCostNoStack) {
  onSmallStack([] {
    // Built through paths, far deeper than the parser would accept.
    constexpr int kDepth = 30000;
    std::string path = "k";
    for (int i = 1; i < kDepth; ++i) path += ".k";
    JsonValue doc = load("{}");
    ASSERT_TRUE(doc.SetInteger(path, 1));
    JsonValue copy = doc.Copy();
    EXPECT_EQ(copy.ToText().size(), kDepth * std::string_view(R"({"k":})").size() + 1);
    EXPECT_TRUE(doc.Merge("", R"({"k":{"k":{"x":1}}})", false, true));
    EXPECT_EQ(doc.GetInteger("k.k.x"), 1);
    JsonValue nested = load("[]");
    JsonValue at = nested;
    for (int i = 0; i < kDepth; ++i) at = at.Item("", 0);
    EXPECT_EQ(nested.ToText().size(), 2u * kDepth + 4);
    doc.Clear();  // release walks the whole tree
    copy.Clear();
    nested.Clear();
  });
}

// Random documents: write, read back, write again gives the same text.
JsonValue randomDocument(std::mt19937& random, int budget) {
  JsonValue doc = JsonValue::NewObject();
  std::vector<std::string> containers{""};
  for (int i = 0; i < budget; ++i) {
    const std::string& at = containers[random() % containers.size()];
    std::string key = "k" + std::to_string(random() % 20);
    std::string path = at.empty() ? key : at + "." + key;
    switch (random() % 8) {
      case 0:
        doc.SetInteger(path, static_cast<std::int64_t>(random()) - 2000000000);
        break;
      case 1:
        doc.SetFloat(path, std::ldexp(static_cast<double>(random()), -20));
        break;
      case 2:
        doc.SetBool(path, random() % 2);
        break;
      case 3:
        doc.SetNull(path);
        break;
      case 4:
        doc.SetStringW(ansiToWide(path),
                       u"q\"\\\t\n/\u4e2d\u6587 " + std::u16string(1, u'a' + random() % 26));
        break;
      case 5:
        doc.PutMember(at, key, JsonValue::NewObject());
        containers.push_back(path);
        break;
      case 6:
        doc.PutMember(at, key, JsonValue::NewArray());
        doc.AppendCopy(path, JsonValue::NewInteger(i));
        doc.AppendCopy(path, load(R"({"x":[1,"y"]})"));
        break;
      default:
        doc.SetString(path, "");
        break;
    }
  }
  return doc;
}

TEST(JsonRoundTrip, GeneratedDocumentsAreStable) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 50; ++round) {
    JsonValue doc = randomDocument(random, 60);
    for (bool indent : {false, true}) {
      std::u16string first = doc.ToTextW(u"", indent);
      JsonValue back;
      ASSERT_TRUE(back.LoadW(first)) << round;
      EXPECT_EQ(back.ToTextW(u"", indent), first) << round;
      Text ansi = doc.ToText("", indent);
      JsonValue backAnsi;
      ASSERT_TRUE(backAnsi.Load(ansi));
      EXPECT_EQ(backAnsi.ToText("", indent), ansi) << round;
    }
  }
}

}  // namespace
}  // namespace varnel
