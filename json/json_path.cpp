#include "json/json_path.h"

#include "json/json_constants.h"
#include "json/json_member_table.h"
#include "json/json_node.h"
#include "json/json_node_list.h"

namespace varnel {
namespace {

bool isEscapable(char16_t c) { return c == u'.' || c == u'[' || c == u']' || c == u'\\'; }

// An index so large that padding up to it would exhaust memory.
constexpr std::int64_t kIndexCap = json::kMaxPaddedElements * 4;

}  // namespace

std::int64_t readPathIndex(std::u16string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    if (value < kIndexCap) value = value * 10 + (text[i] - u'0');
  }
  return negative ? -value : value;
}

bool JsonPathReader::next(JsonPathSegment& segment) {
  if (done_) return false;
  segment.hasName = false;
  segment.hasIndex = false;
  segment.name.clear();
  segment.index = 0;
  bool bracket = false;
  while (pos_ < path_.size()) {
    char16_t c = path_[pos_];
    if (c == u'.') break;
    if (c == u'\\' && pos_ + 1 < path_.size() && isEscapable(path_[pos_ + 1])) {
      segment.name.push_back(path_[pos_ + 1]);
      pos_ += 2;
      continue;
    }
    if (c == u'[') {
      bracket = true;
      std::size_t start = ++pos_;
      while (pos_ < path_.size() && path_[pos_] != u']' && path_[pos_] != u'.') ++pos_;
      segment.hasIndex = true;
      segment.index = readPathIndex(path_.substr(start, pos_ - start));
      // Only the first bracket pair counts: skip the rest of the segment.
      while (pos_ < path_.size() && path_[pos_] != u'.') ++pos_;
      break;
    }
    segment.name.push_back(c);
    ++pos_;
  }
  segment.hasName = !bracket || !segment.name.empty();
  if (pos_ < path_.size()) {
    ++pos_;  // the '.'; a trailing one still yields an empty segment
  } else {
    done_ = true;
  }
  return true;
}

JsonNode* resolvePath(JsonNode* root, std::u16string_view path) {
  JsonNode* current = root;
  if (!current) return nullptr;
  JsonPathReader reader(path);
  JsonPathSegment segment;
  while (reader.next(segment)) {
    if (segment.hasName) {
      ensureObject(current);
      JsonNode* member = current->content.table->find(segment.name);
      if (!member) {
        member = newNullNode();
        storeMember(current, segment.name, member);
      }
      current = member;
    }
    if (segment.hasIndex) {
      ensureArray(current);
      JsonNodeList* list = current->content.list;
      if (segment.index < 0) return nullptr;
      if (segment.index >= list->count()) {
        if (segment.index >= json::kMaxPaddedElements) return nullptr;
        while (list->count() <= segment.index) appendChild(current, newNullNode());
      }
      current = list->get(segment.index);
    }
  }
  return current;
}

bool pathExists(JsonNode* root, std::u16string_view path) {
  if (!root || path.empty()) return false;
  JsonNode* current = root;
  JsonPathReader reader(path);
  JsonPathSegment segment;
  while (reader.next(segment)) {
    if (segment.hasName) {
      if (current->type != JsonType::kObject || !current->content.table) return false;
      current = current->content.table->find(segment.name);
      if (!current) return false;
    }
    if (segment.hasIndex) {
      if (current->type != JsonType::kArray || !current->content.list) return false;
      current = current->content.list->get(segment.index);
      if (!current) return false;
    }
  }
  return true;
}

}  // namespace varnel
