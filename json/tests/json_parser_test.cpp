// The tolerant scan: what each text becomes and which texts fail with which code.
#include "json/json_parser.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>  // HUGE_VAL
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "json/json_node.h"
#include "json/json_value.h"
#include "json/json_writer.h"

namespace varnel {
namespace {

struct Parsed {
  int code;
  std::string text;  // the tree written back, ASCII cases only
};

Parsed parse(std::u16string_view text, JsonScanRules rules = {}) {
  JsonNode* root = newObjectNode();
  int code = parseJson(root, text, rules);
  std::u16string written = writeJson(root, false, true);
  release(root);
  return {code, std::string(written.begin(), written.end())};
}

struct ParseCase {
  const char16_t* text;
  int code;
  const char* tree;
  const char* why;
};

TEST(JsonParser, StrictScanTable) {
  const ParseCase cases[] = {
      {u"{}", kJsonParsed, "{}", "empty object"},
      {u"[]", kJsonParsed, "[]", "empty array"},
      {u"[ ]", kJsonParsed, "[]", "blank first element is no element"},
      {u"{\"a\":[]}", kJsonParsed, "{\"a\":[]}", "nested empty array"},
      {u"{\"a\":1,\"a\":2}", kJsonParsed, "{\"a\":2}", "duplicate key replaces in place"},
      {u"{\"a\":1,\"b\":2,\"a\":3}", kJsonParsed, "{\"a\":3,\"b\":2}", "replacement keeps order"},
      {u"{'a':'x'}", kJsonParsed, "{\"a\":\"x\"}", "single quotes"},
      {u"{'a':'x\"y'}", kJsonParsed, "{\"a\":\"x\\\"y\"}", "the other quote is text"},
      {u"{\"a\":\"x\\\"y\"}", kJsonParsed, "{\"a\":\"x\\\"y\"}", "escaped quote"},
      {u"{\"a\":\"c:\\\\dir\"}", kJsonParsed, "{\"a\":\"c:\\\\dir\"}", "escaped backslash"},
      {u"[1,,2]", kJsonParsed, "[1,2]", "empty middle element skipped"},
      {u"[,1]", kJsonParsed, "[1]", "empty first element skipped"},
      {u"[1,]", kJsonEmptyElement, "[]", "trailing comma in an array"},
      {u"[[1],]", kJsonEmptyElement, "[]", "trailing comma after a nested array"},
      {u"{\"a\":}", kJsonParsed, "{}", "member without a value"},
      {u"{\"a\":1,}", kJsonParsed, "{\"a\":1}", "trailing comma in an object"},
      {u"{\"a\":1", kJsonNoContainer, "{}", "unclosed object"},
      {u"[1", kJsonNoContainer, "[]", "unclosed array leaves an empty array"},
      {u"{\"a\"}", kJsonParsed, "{}", "key without colon ignored"},
      {u"{\"a\":1,2}", kJsonParsed, "{\"a\":2}", "the last key is used again"},
      {u"[1:2]", kJsonColonInArray, "[]", "colon inside an array"},
      {u"\"x\"", kJsonNoContainer, "{}", "a string at the top level"},
      {u"abc", kJsonParsed, "{}", "bare text outside brackets"},
      {u"junk {\"a\":1} junk", kJsonParsed, "{\"a\":1}", "text around the brackets skipped"},
      {u"{\"a\":1} :", kJsonNoContainer, "{}", "a colon after the last bracket"},
      {u"x, {}", kJsonNoContainer, "{}", "a comma before the first bracket"},
      {u"{\"a\":1}{\"b\":2}", kJsonParsed, "{\"a\":1,\"b\":2}", "top-level objects merge"},
      {u"{1}", kJsonParsed, "{}", "a value without key or colon is never stored"},
      {u"{:1}", kJsonMissingKey, "{}", "a member without a key"},
      {u"{\"a\":[1],}", kJsonMissingKey, "{}", "the array closed the key"},
      {u"{\"a\":{\"b\":1},\"c\":[true,null]}", kJsonParsed, "{\"a\":{\"b\":1},\"c\":[true,null]}",
       "nesting"},
      {u"[{\"a\":1},{\"b\":2}]", kJsonParsed, "[{\"a\":1},{\"b\":2}]", "objects in an array"},
      {u"{\"a\":1]", kJsonParsed, "[1]", "] stores into the object, turning it into an array"},
      {u"[1}", kJsonMissingKey, "[]", "} stores as a member and needs a key"},
      {u"", kJsonParsed, "{}", "empty text changes nothing"},
  };
  for (const ParseCase& c : cases) {
    Parsed got = parse(c.text);
    EXPECT_EQ(got.code, c.code) << c.why;
    EXPECT_EQ(got.text, c.tree) << c.why;
  }
  using namespace std::string_view_literals;
  EXPECT_EQ(parse(u"{\"a\":1}\0,]"sv).code, kJsonParsed) << "the text ends at its first zero";
}

TEST(JsonParser, ScalarsKeepTypeValueAndLiteral) {
  JsonValue doc;
  ASSERT_TRUE(doc.Load(
      R"({"n":1.50,"i":-7,"e":1e3,"t":true,"f":false,"z":null,"x":abc,)"
      R"("big":99999999999999999999,"neg":-99999999999999999999,)"
      R"("dot":.5,"tiny":1e-320,"huge":-1e400,"inner":1-2,"spaced": 12 ,"two":1.2.3,"T":True})"));
  struct Case {
    const char* path;
    JsonType type;
    const char* literal;
    double number;
    const char* why;
  } cases[] = {
      {"n", JsonType::kFloat, "1.50", 1.5, "a fraction keeps its text"},
      {"i", JsonType::kInteger, "-7", -7, "negative integer"},
      {"e", JsonType::kFloat, "1e3", 1000, "an exponent makes a float"},
      {"t", JsonType::kBoolean, "true", 0, "true"},
      {"f", JsonType::kBoolean, "false", 0, "false"},
      {"z", JsonType::kNull, "null", 0, "null"},
      {"x", JsonType::kRaw, "abc", 0, "unknown token kept raw"},
      {"big", JsonType::kInteger, "99999999999999999999", 9223372036854775807.0, "saturates"},
      {"neg", JsonType::kInteger, "-99999999999999999999", -9223372036854775808.0, "saturates"},
      {"dot", JsonType::kFloat, ".5", 0.5, "a leading point"},
      {"tiny", JsonType::kFloat, "1e-320", 1e-320, "no underflow to 0 on the way"},
      {"huge", JsonType::kFloat, "-1e400", -HUGE_VAL, "overflow gives infinity"},
      {"inner", JsonType::kFloat, "1-2", 1, "an inner sign; reading stops at it"},
      {"spaced", JsonType::kInteger, "12", 12, "trimmed"},
      {"two", JsonType::kRaw, "1.2.3", 0, "two points are no number"},
      {"T", JsonType::kRaw, "True", 0, "literals are case-sensitive"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(doc.TypeOf(c.path), c.type) << c.why;
    EXPECT_EQ(doc.GetLiteral(c.path), c.literal) << c.why;
    if (c.type == JsonType::kFloat || c.type == JsonType::kInteger) {
      EXPECT_DOUBLE_EQ(doc.GetFloat(c.path), c.number) << c.why;
    }
  }
  EXPECT_EQ(doc.GetInteger("big"), INT64_MAX);
  JsonValue exact;
  ASSERT_TRUE(exact.Load("[3333333333333332992,-9223372036854775808,9007199254740993]"));
  EXPECT_EQ(exact.GetInteger("[0]"), 3333333333333332992) << "exact above 2^53";
  EXPECT_EQ(exact.GetInteger("[1]"), INT64_MIN);
  EXPECT_EQ(exact.GetInteger("[2]"), 9007199254740993);
  EXPECT_EQ(doc.GetInteger("neg"), INT64_MIN);
  EXPECT_TRUE(doc.GetBool("t"));
  EXPECT_FALSE(doc.GetBool("f"));
}

// Plain decimals take a shortcut to their value; it must agree bit for bit
// with the correctly rounded reading (strtod, strtoll) on every length of
// digits on either side of the point, signs and zeros.
TEST(JsonParser, PlainNumbersReadExactly) {
  std::mt19937 random(11);
  const auto digits = [&](int most) {
    std::string out;
    for (int n = static_cast<int>(random() % most) + 1; n > 0; --n) {
      out += static_cast<char>('0' + (random() % 5 == 0 ? 0 : random() % 10));
    }
    return out;
  };
  for (int i = 0; i < 50000; ++i) {
    std::string token = random() % 2 ? "-" : "";
    token += digits(19);
    const bool isFloat = random() % 3 != 0;
    if (isFloat) token += "." + digits(24);
    JsonValue doc;
    ASSERT_TRUE(doc.Load("[" + token + "]"));
    if (isFloat) {
      ASSERT_EQ(doc.TypeOf("[0]"), JsonType::kFloat) << token;
      const double expected = std::strtod(token.c_str(), nullptr);
      const double read = doc.GetFloat("[0]");
      ASSERT_EQ(std::memcmp(&read, &expected, sizeof read), 0) << token;
    } else {
      ASSERT_EQ(doc.TypeOf("[0]"), JsonType::kInteger) << token;
      errno = 0;
      const long long expected = std::strtoll(token.c_str(), nullptr, 10);
      ASSERT_EQ(doc.GetInteger("[0]"), expected) << token;  // saturates as strtoll does
    }
    ASSERT_EQ(doc.GetLiteral("[0]"), token);
  }
}

TEST(JsonParser, EscapeDecoding) {
  struct Case {
    std::u16string_view in;
    bool unicode;
    std::u16string_view out;
    const char* why;
  } cases[] = {
      {u"a\\nb", false, u"a\nb", "line feed"},
      {u"\\\"\\\\\\/\\b\\t\\n\\r\\f", false, u"\"\\/\b\t\n\r\f", "every short escape"},
      {u"a\\\\nb", false, u"a\\nb", "one escape decoded once"},
      {u"\\u4e2d", true, u"\u4e2d", "unicode escape"},
      {u"\\u4E2D", true, u"\u4e2d", "upper-case hex"},
      {u"\\u4e2d", false, u"\\u4e2d", "unicode left alone unless asked"},
      {u"\\ud83d\\ude00", true, u"\xd83d\xde00", "surrogates stored as they come"},
      {u"\\u4e2", true, u"\\u4e2", "fewer than four digits at the end"},
      {u"\\u4e2x", true, u"\\u4e2x", "a non-hex digit"},
      {u"\\'\\q", false, u"\\'\\q", "unknown escapes stay"},
      {u"end\\", false, u"end\\", "a trailing backslash stays"},
      {u"plain", false, u"plain", "nothing to do"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeJsonString(c.in, c.unicode), c.out) << c.why;
  }

  JsonValue doc;
  ASSERT_TRUE(doc.Load(R"({"s":"\u4e2d","k\tey":1})", true));
  EXPECT_EQ(doc.GetStringW(u"s"), u"\u4e2d");
  EXPECT_TRUE(doc.ExistsW(u"k\tey")) << "keys are decoded too";
}

TEST(JsonParser, LenientScanTable) {
  const JsonScanRules loose{.unquotedKeys = true};
  const ParseCase cases[] = {
      {u"{a:1, b : \"x\"}", kJsonParsed, "{\"a\":1,\"b\":\"x\"}", "unquoted keys, trimmed"},
      {u"{a:{b:[1,2]}}", kJsonParsed, "{\"a\":{\"b\":[1,2]}}", "nested with unquoted keys"},
      {u"{\"a\":1,b:2}", kJsonParsed, "{\"a\":1,\"b\":2}", "quoted and unquoted mixed"},
      {u"{\"a\":1,\"b\"}", kJsonParsed, "{\"a\":1}", "a quoted key without value"},
      {u"{:1}", kJsonParsed, "{\"\":1}", "the empty unquoted key"},
      {u"[:1]", kJsonColonInArray, "[]", "colon in an array"},
      {u"{a:[1],b:2}", kJsonParsed, "{\"a\":[1],\"b\":2}", "a key after an array"},
      {u"{{}}", kJsonMissingKey, "{}", "a nested object needs a key"},
      {u"{a:1", kJsonNoContainer, "{}", "unclosed"},
  };
  for (const ParseCase& c : cases) {
    Parsed got = parse(c.text, loose);
    EXPECT_EQ(got.code, c.code) << c.why;
    EXPECT_EQ(got.text, c.tree) << c.why;
  }
  JsonValue doc;
  EXPECT_TRUE(doc.ParseLoose("{name: \"\xD6\xD0\"}"));
  EXPECT_EQ(doc.GetString("name"), "\xD6\xD0");
}

TEST(JsonParser, NestingIsBounded) {
  auto nested = [](int depth, char16_t open, char16_t close) {
    std::u16string text;
    for (int i = 0; i < depth; ++i) {
      text += open;
      if (open == u'{') text += u"\"k\":";
    }
    text += u"1";
    text.append(depth, close);
    return text;
  };
  EXPECT_EQ(parse(nested(1000, u'[', u']')).code, kJsonParsed) << "1000 levels are accepted";
  EXPECT_EQ(parse(nested(1000, u'{', u'}')).code, kJsonParsed);
  EXPECT_EQ(parse(nested(200000, u'[', u']')).code, kJsonTooDeep) << "far deeper is refused";
  EXPECT_EQ(parse(nested(200000, u'{', u'}')).code, kJsonTooDeep);
  // Unclosed brackets only: refused, not a crash.
  EXPECT_EQ(parse(std::u16string(200000, u'[')).code, kJsonTooDeep);
}

TEST(JsonParser, ParseIntoExistingRoot) {
  JsonValue doc;
  EXPECT_TRUE(doc.ParseW(u"[1]")) << "an empty handle gets a root first";
  EXPECT_EQ(doc.ToText(), "[1]");
  JsonNode* root = doc.GetNode();
  EXPECT_TRUE(doc.ParseW(u"{\"a\":2}"));
  EXPECT_EQ(doc.GetNode(), root) << "parsed into the same node";
  EXPECT_EQ(doc.ToText(), "{\"a\":2}");
  EXPECT_TRUE(doc.ParseW(u"")) << "empty text changes nothing";
  EXPECT_EQ(doc.ToText(), "{\"a\":2}");
  EXPECT_FALSE(doc.ParseW(u"{"));
  EXPECT_EQ(doc.ToText(), "{}");
  EXPECT_EQ(parseJson(nullptr, u"{}", {}), kJsonNoInput);
}

}  // namespace
}  // namespace varnel
