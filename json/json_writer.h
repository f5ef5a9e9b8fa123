// JsonWriter: a node and everything below it as JSON text (UTF-16).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnel {

class JsonNode;

// Grows geometrically (2 x capacity + the request) so writing stays linear.
class JsonTextBuilder {
 public:
  JsonTextBuilder();
  void append(std::u16string_view text);
  void append(char16_t unit);
  void appendAnsi(std::string_view text);  // code page 936, converted first
  std::size_t length() const { return text_.size(); }
  std::size_t capacityBytes() const { return capacityBytes_; }
  std::u16string take() { return std::move(text_); }

 private:
  void reserveFor(std::size_t units);

  std::u16string text_;
  std::size_t capacityBytes_;
};

// The text of `node`; nullptr gives the empty text. indent: CR LF and TABs
// inside objects, arrays on one line. escape: \" \\ \b \t \n \r \f.
std::u16string writeJson(const JsonNode* node, bool indent, bool escape);

}  // namespace varnel
