// The writer's exact output: numbers, escapes, indentation.
#include "json/json_writer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "json/json_node.h"
#include "json/json_value.h"

namespace varnel {
namespace {

std::string printed(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.13g", value);
  return buffer;
}

std::string formatted(double value) {
  char buffer[32];
  return std::string(buffer, formatFloat13(buffer, value));
}

double fromBits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Floats are written through a shortcut for values whose shortest digits are
// few; every kind of value must still come out as printf's "%.13g".
// VARNEL_FLOAT_CHECKS raises the number of random values per kind.
TEST(JsonWriter, FloatsMatchPrintf) {
  const double edges[] = {0.0,
                          -0.0,
                          1.0,
                          -1.0,
                          0.1,
                          1e-4,
                          9.9999999999999e-5,
                          1e-5,
                          123456789012.0,
                          1234567890123.0,
                          9999999999999.0,
                          99999999999994.0,
                          99999999999995.0,
                          1e13,
                          1e15,
                          1e16,
                          0.30000000000000004,
                          2.5,
                          -123.456789,
                          DBL_MAX,
                          -DBL_MAX,
                          DBL_MIN,
                          DBL_MIN / 2,
                          std::numeric_limits<double>::denorm_min(),
                          4.9406564584124654e-324,
                          2.2250738585072009e-308,
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN()};
  for (double value : edges) EXPECT_EQ(formatted(value), printed(value)) << printed(value);

  const char* env = std::getenv("VARNEL_FLOAT_CHECKS");
  const long perKind = env ? std::atol(env) : 100000;
  std::mt19937_64 random(13);
  std::uniform_real_distribution<double> coordinate(-180, 180);
  std::uniform_int_distribution<int> decimals(0, 15);
  long failures = 0;
  const auto check = [&](double value) {
    if (failures < 10 && formatted(value) != printed(value)) {
      ++failures;
      ADD_FAILURE() << "ours " << formatted(value) << " printf " << printed(value);
    }
  };
  for (long i = 0; i < perKind; ++i) {
    check(fromBits(random()));  // every magnitude, subnormals, NaNs
    // Short decimals as documents hold them, rounded to 0-15 places.
    const double scale = std::pow(10.0, decimals(random));
    const double decimal = std::round(coordinate(random) * scale) / scale;
    check(decimal);
    // Neighbours of a short decimal: 16-17 significant digits.
    check(std::nextafter(decimal, HUGE_VAL));
    check(std::nextafter(decimal, -HUGE_VAL));
    // Integers of every size, exact and beyond 2^53.
    check(static_cast<double>(static_cast<std::int64_t>(random()) >> (random() % 64)));
  }
}

// Parsed numbers whose literal already is the printed form are copied, the
// rest formatted from the value: random tokens of every shape must come out
// exactly as their value printed.
TEST(JsonWriter, ParsedNumbersAreWrittenFromTheirValue) {
  std::mt19937 random(5);
  const auto digits = [&](int most) {
    std::string out;
    for (int n = static_cast<int>(random() % most) + 1; n > 0; --n) {
      out += static_cast<char>('0' + (random() % 4 == 0 ? 0 : random() % 10));
    }
    return out;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string token;
    if (random() % 3 == 0) token += '-';
    if (random() % 6 == 0) token += '+';
    token += random() % 4 == 0 ? "0" : digits(16);
    if (random() % 2) token += "." + (random() % 8 == 0 ? std::string() : digits(16));
    if (random() % 5 == 0) token += (random() % 2 ? "e" : "E") + digits(3);
    JsonValue doc;
    ASSERT_TRUE(doc.Load("[" + token + "]"));
    std::string expected;
    if (doc.TypeOf("[0]") == JsonType::kFloat) {
      expected = printed(doc.GetFloat("[0]"));
    } else if (doc.TypeOf("[0]") == JsonType::kInteger) {
      expected = std::to_string(doc.GetInteger("[0]"));
    } else {
      continue;  // a raw token is written as read
    }
    ASSERT_EQ(doc.ToText(), "[" + expected + "]") << token;
  }
}

TEST(JsonWriter, CompactOutputTable) {
  struct Case {
    const char* in;
    const char* out;
    const char* why;
  } cases[] = {
      {R"({"a":1,"b":[1,2],"c":{"d":"x"}})", R"({"a":1,"b":[1,2],"c":{"d":"x"}})", "exact"},
      {R"({"n":1.50,"e":1e3,"t":true,"x":abc})", R"({"n":1.5,"e":1000,"t":true,"x":abc})",
       "numbers from their value, raw tokens as read"},
      {R"([2.5,3.0,0.1,1e300,-0.0000001])", "[2.5,3,0.1,1e+300,-1e-07]", "%.13g"},
      {R"([0.1234567890123456])", "[0.1234567890123]", "13 significant digits"},
      {R"([-9223372036854775808,9223372036854775807])",
       "[-9223372036854775808,9223372036854775807]", "the 64-bit extremes"},
      {"[ ]", "[]", "empty array"},
      {R"({"s":"a/b"})", R"({"s":"a/b"})", "a slash stays"},
  };
  for (const auto& c : cases) {
    JsonValue doc;
    ASSERT_TRUE(doc.Load(c.in)) << c.why;
    EXPECT_EQ(doc.ToText(), c.out) << c.why;
  }
}

TEST(JsonWriter, Escaping) {
  JsonValue doc;
  doc.Load();
  doc.SetStringW(u"q\"k", u"\"\\\t\n\r\b\f/\x01\u4e2d");
  EXPECT_EQ(doc.ToTextW(), u"{\"q\\\"k\":\"\\\"\\\\\\t\\n\\r\\b\\f/\x01\u4e2d\"}")
      << "short escapes only; control and non-ASCII characters raw";
  EXPECT_EQ(doc.ToTextW(u"", false, false), u"{\"q\"k\":\"\"\\\t\n\r\b\f/\x01\u4e2d\"}")
      << "escape off writes everything raw";
  EXPECT_EQ(doc.ToText(), "{\"q\\\"k\":\"\\\"\\\\\\t\\n\\r\\b\\f/\x01\xD6\xD0\"}")
      << "the ANSI form is GBK";

  // Unescaped output can read back differently: the quote ends the string.
  JsonValue raw;
  raw.Load();
  raw.SetString("s", "a\"b");
  JsonValue back;
  back.Load(raw.ToText("", false, false));
  EXPECT_NE(back.GetString("s"), "a\"b");
}

TEST(JsonWriter, Indentation) {
  struct Case {
    const char* in;
    const char* out;
    const char* why;
  } cases[] = {
      {R"({"a":1,"b":[1,2],"c":{"d":"x"}})",
       "{\r\n\t\"a\":1,\r\n\t\"b\":[1,2],\r\n\t\"c\":{\r\n\t\t\"d\":\"x\"\r\n\t}\r\n}",
       "objects break lines, arrays do not"},
      {R"([{"a":1}])", "[{\r\n\t\t\"a\":1\r\n\t}]", "an object in an array takes its depth"},
      {"{}", "{\r\n}", "empty object"},
      {"[]", "[]", "empty array"},
      {R"({"a":{}})", "{\r\n\t\"a\":{\r\n\t}\r\n}", "nested empty object"},
  };
  for (const auto& c : cases) {
    JsonValue doc;
    ASSERT_TRUE(doc.Load(c.in)) << c.why;
    EXPECT_EQ(doc.ToText("", true), c.out) << c.why;
  }
}

TEST(JsonWriter, AbsentValuesAndBuilderGrowth) {
  JsonValue empty;
  EXPECT_EQ(empty.ToText(), "");
  EXPECT_EQ(empty.ToTextW(), u"");
  EXPECT_EQ(writeJson(nullptr, true, true), u"");

  JsonTextBuilder builder;
  EXPECT_EQ(builder.capacityBytes(), 12u);
  builder.append(u"abcd");  // needs 2*(0+4)+2 = 10: fits
  EXPECT_EQ(builder.capacityBytes(), 12u);
  builder.append(u'e');  // needs 2*(4+2)+2 = 14: grows to 2*12+2*2+2
  EXPECT_EQ(builder.capacityBytes(), 30u);
  builder.appendAnsi("\xD6\xD0");
  EXPECT_EQ(builder.take(), u"abcde\u4e2d");
}

}  // namespace
}  // namespace varnel
