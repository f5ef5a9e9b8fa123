// One input of the JSON fuzz target: the strict and the lenient scan over
// UTF-16 or ANSI text (chosen by the first byte), then the round trip of
// whatever was accepted. Shared by the fuzzer and the regression test.
#pragma once

#include <cmath>  // signbit
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "json/json_value.h"

namespace varnel::fuzz {

// Documents that cannot come back exactly, by design, are not held to the
// round trip: a raw token is written verbatim, and one that swallowed a quoted
// part ({"a":1,"b"x,...} keeps "b"x) reads back differently, and one made of
// control characters only reads as an empty element ([1,\f] fails); a float -0 is
// written "-0", which reads back as the integer 0.
inline bool comesBackExactly(const JsonValue& root) {
  std::vector<JsonValue> pending{root};
  while (!pending.empty()) {
    JsonValue value = std::move(pending.back());
    pending.pop_back();
    if (value.TypeOf() == JsonType::kRaw) {
      std::u16string literal = value.GetLiteralW();
      bool blank = true;
      for (char16_t c : literal) blank = blank && c <= 32;
      if (blank || literal.find_first_of(u"\"'") != std::u16string::npos) return false;
    }
    if (value.TypeOf() == JsonType::kFloat && value.GetFloat() == 0 &&
        std::signbit(value.GetFloat())) {
      return false;
    }
    std::vector<JsonValue> children;
    value.Children("", children);
    for (auto& child : children) pending.push_back(std::move(child));
  }
  return true;
}

inline bool checkRoundTrip(JsonValue& doc, bool indent) {
  std::u16string first = doc.ToTextW(u"", indent);
  // A decoded \u0000 puts a zero into a string; text ends at a zero, so such
  // a document cannot come back whole.
  if (first.find(u'\0') != std::u16string::npos || !comesBackExactly(doc)) return true;
  JsonValue back;
  if (!back.LoadW(first)) return false;
  return back.ToTextW(u"", indent) == first;
}

// One fuzz input: false when a check failed.
inline bool runJsonFuzzInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return true;
  const std::uint8_t flags = data[0];
  ++data;
  --size;
  const bool decodeUnicode = flags & 1;
  const bool indent = flags & 2;

  JsonValue doc;
  if (flags & 4) {
    std::string ansi(reinterpret_cast<const char*>(data), size);
    if (flags & 8) {
      doc.ParseLoose(ansi, decodeUnicode);
    } else {
      doc.Load(ansi, decodeUnicode);
    }
  } else {
    std::u16string wide(size / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    if (flags & 8) {
      doc.ParseW(wide, decodeUnicode);
    } else {
      doc.LoadW(wide, decodeUnicode);
    }
  }
  if (!checkRoundTrip(doc, indent)) return false;
  // Exercise the operations that walk whole trees.
  JsonValue copy = doc.Copy();
  if (copy.ToTextW() != doc.ToTextW()) return false;
  copy.SortKeys();
  doc.Merge("", doc.ToText(), decodeUnicode, true);
  return true;
}

}  // namespace varnel::fuzz
