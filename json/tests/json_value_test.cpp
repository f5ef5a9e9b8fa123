// The handle and the path rules, as the application and general callers use them.
#include "json/json_value.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

std::vector<Text> keysOf(JsonValue& doc, std::string_view path) {
  std::vector<Text> keys;
  doc.Keys(path, keys);
  return keys;
}

TEST(JsonStoreOperations, LoadSetGetKeysAsTheCatalogueUsesThem) {
  JsonValue doc;
  ASSERT_TRUE(doc.Load("{}"));
  std::vector<Text> keys{"stale"};
  EXPECT_EQ(doc.Keys("", keys), 0);
  EXPECT_TRUE(keys.empty()) << "an empty object empties the caller's list";

  EXPECT_TRUE(doc.SetString("b.x", "1"));
  EXPECT_TRUE(doc.SetString("a.y", "2"));
  EXPECT_TRUE(doc.SetString("b.z", "3"));
  EXPECT_EQ(keysOf(doc, ""), (std::vector<Text>{"b", "a"}));
  EXPECT_EQ(keysOf(doc, "b"), (std::vector<Text>{"x", "z"}));
  EXPECT_EQ(doc.GetString("b.z"), "3");

  EXPECT_TRUE(doc.SetString("b.x", "again"));
  EXPECT_EQ(keysOf(doc, "b"), (std::vector<Text>{"x", "z"})) << "replacement keeps the position";
  EXPECT_EQ(doc.GetString("b.x"), "again");

  // A fresh Load discards the previous tree.
  EXPECT_TRUE(doc.Load("{}"));
  EXPECT_EQ(doc.CountOf(), 0);
}

TEST(JsonStoreOperations, GbkTextsRoundTripThroughUtf16) {
  JsonValue doc;
  doc.Load();
  const Text edition = "\xD6\xD0\xCE\xC4";  // 中文
  const Text subject = "\xCA\xFD\xD1\xA7";  // 数学
  const Text url = "http://127.0.0.1/list?id=7&name=\xCA\xFD";
  ASSERT_TRUE(doc.SetString(concatTexts(edition, ".", subject), url));
  EXPECT_EQ(keysOf(doc, ""), std::vector<Text>{edition});
  EXPECT_EQ(keysOf(doc, edition), std::vector<Text>{subject});
  EXPECT_EQ(doc.GetString(concatTexts(edition, ".", subject)), url);
  EXPECT_EQ(doc.GetStringW(ansiToWide(concatTexts(edition, ".", subject))), ansiToWide(url));
}

TEST(JsonStoreOperations, ReadsCreateWhatTheyAddress) {
  JsonValue doc;
  doc.Load(R"({"a":{"y":"s"}})");
  EXPECT_EQ(doc.GetString("a.q"), "");
  EXPECT_EQ(doc.TypeOf("a.q"), JsonType::kNull) << "the read left a null member";
  EXPECT_EQ(keysOf(doc, "a"), (std::vector<Text>{"y", "q"}));

  std::vector<Text> untouched{"keep"};
  EXPECT_EQ(doc.Keys("a.y", untouched), 0) << "a string has no keys";
  EXPECT_EQ(untouched, std::vector<Text>{"keep"});

  EXPECT_EQ(doc.GetString("a.y.k"), "") << "passing through a string converts it";
  EXPECT_EQ(doc.ToText("a.y"), R"({"k":null})");

  JsonValue empty;
  EXPECT_EQ(empty.GetString("a"), "");
  EXPECT_FALSE(empty.SetString("a", "x"));
  EXPECT_EQ(empty.TypeOf(), JsonType::kRaw);
  EXPECT_EQ(empty.ToText(), "");
}

TEST(JsonStoreOperations, LoadResults) {
  struct Case {
    const char* text;
    bool ok;
    const char* after;
    const char* why;
  } cases[] = {
      {"{}", true, "{}", "the synchronisation's reset"},
      {"", true, "{}", "omitted text leaves an empty object"},
      {"[1,2]", true, "[1,2]", "an array root"},
      {R"({"a":})", true, "{}", "a member without a value is dropped"},
      {"{", false, "{}", "unclosed object"},
      {"[1,", false, "[]", "a failed text opened with [ leaves an empty array"},
  };
  for (const Case& c : cases) {
    JsonValue doc;
    EXPECT_EQ(doc.Load(c.text), c.ok) << c.why;
    EXPECT_EQ(doc.ToText(), c.after) << c.why;
  }
}

}  // namespace
}  // namespace varnel
