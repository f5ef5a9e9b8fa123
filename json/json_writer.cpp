#include "json/json_writer.h"

#include <cstring>  // memcpy
#include <utility>  // pair
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

// The output is reserved once at an upper bound of its length (see
// lengthBound): the pages past the real end are never touched, while growing
// a multi-megabyte text step by step copies it and faults fresh pages in at
// every step.
//
// Writes go to a small buffer first: most pieces are one to a few units, and
// appending each to the string costs a capacity check and a terminator.
class Out {
 public:
  void reserve(std::size_t units) { text_.reserve(units); }
  void push_back(char16_t unit) {
    if (used_ == kBufferUnits) flush();
    buffer_[used_++] = unit;
  }
  void append(std::u16string_view text) {
    if (text.size() > kBufferUnits - used_) {
      flush();
      if (text.size() > kBufferUnits) {
        text_.append(text);
        return;
      }
    }
    std::memcpy(buffer_ + used_, text.data(), text.size() * sizeof(char16_t));
    used_ += text.size();
  }
  void append(std::size_t count, char16_t unit) {
    for (std::size_t i = 0; i < count; ++i) push_back(unit);
  }
  // Room for `units` (at most 64) to be written in place; commit what was used.
  char16_t* room(std::size_t units) {
    if (units > kBufferUnits - used_) flush();
    return buffer_ + used_;
  }
  void commit(char16_t* end) { used_ = static_cast<std::size_t>(end - buffer_); }
  std::u16string take() {
    flush();
    return std::move(text_);
  }

 private:
  static constexpr std::size_t kBufferUnits = 2048;
  void flush() {
    text_.append(buffer_, used_);
    used_ = 0;
  }
  std::u16string text_;
  char16_t buffer_[kBufferUnits];
  std::size_t used_ = 0;
};

void appendFloat(Out& out, double value) {
  char digits[32];
  const char* end = formatFloat13(digits, value);
  char16_t* o = out.room(sizeof digits);
  for (const char* at = digits; at < end; ++at) *o++ = static_cast<unsigned char>(*at);
  out.commit(o);
}

void appendInteger(Out& out, std::int64_t value) {
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

void appendQuoted(Out& out, std::u16string_view text, bool escape) {
  out.push_back(u'"');
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
  out.push_back(u'"');
}

void appendTabs(Out& out, std::size_t depth) { out.append(depth, json::kIndentUnit); }

// At least the length of the text of `root`: every escape doubles a unit at
// most, a number needs at most 24 units.
std::size_t lengthBound(const JsonNode* root, bool indent) {
  constexpr std::size_t kNumberUnits = 24;
  std::size_t units = 0;
  std::vector<std::pair<const JsonNode*, std::size_t>> pending{{root, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (node->parent && node->parent->type == JsonType::kObject) {
      units += 2 * std::size_t{node->key.size()} + 4;  // quotes, colon, comma
      if (indent) units += json::kLineBreak.size() + depth;
    } else {
      units += 1;  // comma
    }
    const JsonNodeList* items = nullptr;
    switch (node->type) {
      case JsonType::kString:
        units += 2 * std::size_t{node->text.size()} + 2;
        break;
      case JsonType::kRaw:
        units += node->text.size();
        break;
      case JsonType::kArray:
        items = node->content.list;
        units += 2;
        break;
      case JsonType::kObject:
        if (node->content.table) items = &node->content.table->order();
        units += 2;
        if (indent) units += 2 * json::kLineBreak.size() + depth;
        break;
      default:
        units += kNumberUnits;
        break;
    }
    if (items) {
      for (const JsonNode* child : *items) pending.emplace_back(child, depth + 1);
    }
  }
  return units;
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
    out_.reserve(lengthBound(node, indent_));
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
          out_.push_back(u'}');
        } else {
          out_.push_back(u']');
        }
        continue;
      }
      const JsonNode* child = frame.items->get(frame.next);
      if (frame.next++ > 0) {
        out_.push_back(u',');
        if (isObject && indent_) out_.append(json::kLineBreak);
      }
      if (isObject) {
        if (indent_) appendTabs(out_, depth);
        appendQuoted(out_, child->key.view(), escape_);
        out_.push_back(u':');
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
        out_.push_back(u'[');
        stack_.push_back({node, node->content.list, 0});
        break;
      case JsonType::kObject:
        if (!node->content.table) break;
        out_.push_back(u'{');
        if (indent_) out_.append(json::kLineBreak);
        stack_.push_back({node, &node->content.table->order(), 0});
        break;
    }
  }

  bool indent_;
  bool escape_;
  Out out_;
  std::vector<Frame> stack_;
};

}  // namespace

std::u16string writeJson(const JsonNode* node, bool indent, bool escape) {
  return JsonWriter(indent, escape).run(node);
}

}  // namespace varnel
