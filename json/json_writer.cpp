#include "json/json_writer.h"

#include <charconv>  // to_chars
#include <vector>

#include "json/json_constants.h"
#include "json/json_member_table.h"
#include "json/json_node.h"
#include "json/json_node_list.h"
#include "text/text.h"  // ansiToWide

namespace varnel {

JsonTextBuilder::JsonTextBuilder() : capacityBytes_(json::kBuilderInitialBytes) {
  text_.reserve(capacityBytes_ / 2);
}

void JsonTextBuilder::reserveFor(std::size_t units) {
  std::size_t needed = 2 * (text_.size() + units) + 2;
  if (capacityBytes_ >= needed) return;
  capacityBytes_ = 2 * capacityBytes_ + 2 * units + 2;
  if (capacityBytes_ < needed) capacityBytes_ = needed;
  text_.reserve(capacityBytes_ / 2);
}

void JsonTextBuilder::append(std::u16string_view text) {
  reserveFor(text.size());
  text_.append(text);
}

void JsonTextBuilder::append(char16_t unit) {
  reserveFor(2);
  text_.push_back(unit);
}

void JsonTextBuilder::appendAnsi(std::string_view text) { append(ansiToWide(text)); }

namespace {

void appendAscii(JsonTextBuilder& out, const char* text, int length) {
  char16_t wide[64];
  if (length < 0) length = 0;
  if (length > 64) length = 64;
  for (int i = 0; i < length; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  out.append(std::u16string_view(wide, static_cast<std::size_t>(length)));
}

void appendFloat(JsonTextBuilder& out, double value) {
  char buffer[64];
  // The digits of printf "%.13g".
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                           json::kFloatSignificantDigits)
                 .ptr;
  appendAscii(out, buffer, static_cast<int>(end - buffer));
}

void appendInteger(JsonTextBuilder& out, std::int64_t value) {
  char16_t digits[24];
  int n = 24;
  // Work on the magnitude as unsigned so INT64_MIN needs no special case.
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    digits[--n] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) digits[--n] = u'-';
  out.append(std::u16string_view(digits + n, static_cast<std::size_t>(24 - n)));
}

void appendQuoted(JsonTextBuilder& out, std::u16string_view text, bool escape) {
  out.append(u'"');
  if (!escape) {
    out.append(text);
  } else {
    std::size_t plain = 0;  // start of the run not yet written
    for (std::size_t i = 0; i < text.size(); ++i) {
      char16_t c = text[i];
      // Most units need no escape; skip them before the switch.
      if (c > 13 && c != u'"' && c != u'\\') continue;
      const char16_t* replacement = nullptr;
      switch (c) {
        case u'"':
          replacement = u"\\\"";
          break;
        case u'\\':
          replacement = u"\\\\";
          break;
        case 8:
          replacement = u"\\b";
          break;
        case 9:
          replacement = u"\\t";
          break;
        case 10:
          replacement = u"\\n";
          break;
        case 13:
          replacement = u"\\r";
          break;
        case 12:
          replacement = u"\\f";
          break;
        default:
          continue;
      }
      out.append(text.substr(plain, i - plain));
      out.append(std::u16string_view(replacement, 2));
      plain = i + 1;
    }
    out.append(text.substr(plain));
  }
  out.append(u'"');
}

void appendTabs(JsonTextBuilder& out, std::size_t depth) {
  for (std::size_t i = 0; i < depth; ++i) out.append(json::kIndentUnit);
}

struct Frame {
  const JsonNode* node;
  const JsonNodeList* items;
  std::int32_t next;
};

class JsonWriter {
 public:
  JsonWriter(bool indent, bool escape) : indent_(indent), escape_(escape) {}

  std::u16string run(const JsonNode* node) {
    if (!node) return {};
    writeValue(node);
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      bool isObject = frame.node->type == JsonType::kObject;
      std::size_t depth = stack_.size();  // depth inside this container
      if (frame.next >= frame.items->count()) {
        if (isObject && indent_ && frame.items->count() > 0) out_.append(json::kLineBreak);
        stack_.pop_back();
        if (isObject) {
          if (indent_ && depth - 1 > 0) appendTabs(out_, depth - 1);
          out_.append(u'}');
        } else {
          out_.append(u']');
        }
        continue;
      }
      const JsonNode* child = frame.items->get(frame.next);
      if (frame.next++ > 0) {
        out_.append(u',');
        if (isObject && indent_) out_.append(json::kLineBreak);
      }
      if (isObject) {
        if (indent_) appendTabs(out_, depth);
        appendQuoted(out_, child->key.view(), escape_);
        out_.append(u':');
      }
      writeValue(child);  // may push: `frame` is not used after this
    }
    return out_.take();
  }

 private:
  void writeValue(const JsonNode* node) {
    switch (node->type) {
      case JsonType::kNull:
        out_.append(json::kNullText);
        break;
      case JsonType::kBoolean:
        out_.append(node->content.integer != 0 ? json::kTrueText : json::kFalseText);
        break;
      case JsonType::kFloat:
        appendFloat(out_, node->content.number);
        break;
      case JsonType::kInteger:
        appendInteger(out_, node->content.integer);
        break;
      case JsonType::kRaw:
        out_.append(node->text.view());
        break;
      case JsonType::kString:
        appendQuoted(out_, node->text.view(), escape_);
        break;
      case JsonType::kArray:
        if (!node->content.list) break;
        out_.append(u'[');
        stack_.push_back({node, node->content.list, 0});
        break;
      case JsonType::kObject:
        if (!node->content.table) break;
        out_.append(u'{');
        if (indent_) out_.append(json::kLineBreak);
        stack_.push_back({node, &node->content.table->order(), 0});
        break;
    }
  }

  bool indent_;
  bool escape_;
  JsonTextBuilder out_;
  std::vector<Frame> stack_;
};

}  // namespace

std::u16string writeJson(const JsonNode* node, bool indent, bool escape) {
  return JsonWriter(indent, escape).run(node);
}

}  // namespace varnel
