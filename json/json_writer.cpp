#include "json/json_writer.h"

#include <algorithm>  // min
#include <cstring>    // memcpy
#include <memory>     // unique_ptr
#include <utility>    // pair
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

// The text is gathered in 64 KiB blocks that each thread keeps for its next
// text, and copied once into a string of exactly its length at the end.
// Growing a multi-megabyte string step by step copies it at every step, and
// each new allocation faults fresh pages in; a pass that measured the tree
// first would read every node twice.
class Out {
 public:
  Out() : blocks_(scratchBlocks()) {}
  ~Out() {
    if (blocks_.size() > json::kWriterKeptBlocks) blocks_.resize(json::kWriterKeptBlocks);
  }
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  void push_back(char16_t unit) {
    if (used_ == kBlockUnits) nextBlock();
    block_[used_++] = unit;
  }
  void append(std::u16string_view text) {
    while (!text.empty()) {
      if (used_ == kBlockUnits) nextBlock();
      const std::size_t n = std::min(text.size(), kBlockUnits - used_);
      std::memcpy(block_ + used_, text.data(), n * sizeof(char16_t));
      used_ += n;
      text.remove_prefix(n);
    }
  }
  void append(std::size_t count, char16_t unit) {
    for (std::size_t i = 0; i < count; ++i) push_back(unit);
  }
  // Room for `units` (at most 64) to be written in place; commit what was used.
  char16_t* room(std::size_t units) {
    if (units > kBlockUnits - used_) nextBlock();
    return block_ + used_;
  }
  void commit(char16_t* end) { used_ = static_cast<std::size_t>(end - block_); }

  std::u16string take() {
    if (block_) filled_.push_back(used_);
    std::size_t total = 0;
    for (std::size_t length : filled_) total += length;
    std::u16string text;
    text.reserve(total);
    for (std::size_t i = 0; i < filled_.size(); ++i) text.append(blocks_[i].get(), filled_[i]);
    return text;
  }

 private:
  static constexpr std::size_t kBlockUnits = 32 * 1024;
  using Blocks = std::vector<std::unique_ptr<char16_t[]>>;
  static Blocks& scratchBlocks() {
    thread_local Blocks blocks;
    return blocks;
  }
  void nextBlock() {
    if (block_) filled_.push_back(used_);
    if (filled_.size() == blocks_.size()) {
      blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(kBlockUnits));
    }
    block_ = blocks_[filled_.size()].get();
    used_ = 0;
  }

  Blocks& blocks_;
  std::vector<std::size_t> filled_;  // lengths of the blocks before block_
  char16_t* block_ = nullptr;
  std::size_t used_ = kBlockUnits;  // the first write starts a block
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
      const bool isObject = frame.node->type == JsonType::kObject;
      const std::size_t depth = stack_.size();  // depth inside this container
      const std::int32_t count = frame.items->count();
      JsonNode* const* items = frame.items->begin();
      // Scalars are written in this loop; a container child is opened and
      // continues the outer loop (`frame` is not used after the push).
      bool opened = false;
      while (frame.next < count) {
        const JsonNode* child = items[frame.next];
        if (frame.next++ > 0) {
          out_.push_back(u',');
          if (isObject && indent_) out_.append(json::kLineBreak);
        }
        if (isObject) {
          if (indent_) appendTabs(out_, depth);
          appendQuoted(out_, child->key.view(), escape_);
          out_.push_back(u':');
        }
        if (child->type == JsonType::kArray || child->type == JsonType::kObject) {
          writeValue(child);
          opened = true;
          break;
        }
        writeValue(child);
      }
      if (opened) continue;
      if (isObject && indent_ && count > 0) out_.append(json::kLineBreak);
      stack_.pop_back();
      if (isObject) {
        if (indent_ && depth - 1 > 0) appendTabs(out_, depth - 1);
        out_.push_back(u'}');
      } else {
        out_.push_back(u']');
      }
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
        if (node->literalIsWritten) {
          out_.append(node->text.view());
        } else {
          appendFloat(out_, node->content.number);
        }
        break;
      case JsonType::kInteger:
        if (node->literalIsWritten) {
          out_.append(node->text.view());
        } else {
          appendInteger(out_, node->content.integer);
        }
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
