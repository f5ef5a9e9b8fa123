#include "json/json_value.h"

#include <cmath>  // isnan, trunc

#include "json/json_constants.h"
#include "json/json_copy.h"
#include "json/json_member_table.h"
#include "json/json_node.h"
#include "json/json_node_list.h"
#include "json/json_parser.h"
#include "json/json_path.h"
#include "json/json_writer.h"

namespace varnel {
namespace {

// Texts end at their first zero, as the program's texts always have.
std::string_view untilZero(std::string_view text) {
  std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}
std::u16string_view untilZero(std::u16string_view text) {
  std::size_t zero = text.find(u'\0');
  return zero == std::u16string_view::npos ? text : text.substr(0, zero);
}

// Paths and keys are nearly always ASCII: widen those directly and leave
// everything else to the code page conversion.
std::u16string toWide(std::string_view text) {
  text = untilZero(text);
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return ansiToWide(text);
  }
  return std::u16string(text.begin(), text.end());
}

Text toAnsi(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return wideToAnsi(text);
  }
  return Text(text.begin(), text.end());
}

JsonValue shareNode(JsonNode* node);

bool isObject(const JsonNode* node) {
  return node && node->type == JsonType::kObject && node->content.table;
}
bool isArray(const JsonNode* node) {
  return node && node->type == JsonType::kArray && node->content.list;
}

// Pads the array with nulls until it has `count` elements; false past the limit.
bool padTo(JsonNode* array, std::int64_t count) {
  if (count > json::kMaxPaddedElements) return false;
  while (array->content.list->count() < count) appendChild(array, newNullNode());
  return true;
}

}  // namespace

// --- handle -------------------------------------------------------------------

JsonValue::~JsonValue() { release(root_); }

JsonValue::JsonValue(const JsonValue& other) noexcept : root_(other.root_) {
  if (root_) addRef(root_);
}

JsonValue& JsonValue::operator=(const JsonValue& other) noexcept {
  if (other.root_) addRef(other.root_);
  release(root_);
  root_ = other.root_;
  return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
  if (this != &other) {
    release(root_);
    root_ = other.root_;
    other.root_ = nullptr;
  }
  return *this;
}

namespace {
JsonValue shareNode(JsonNode* node) {
  JsonValue value;
  if (node) value.SetNode(node);
  return value;
}
}  // namespace

JsonNode* JsonValue::resolve(std::u16string_view pathW) {
  return resolvePath(root_, untilZero(pathW));
}

// --- documents ------------------------------------------------------------------

bool JsonValue::LoadW(std::u16string_view text, bool decodeUnicode) {
  JsonNode* fresh = newObjectNode();
  release(root_);
  root_ = fresh;
  return parseJson(root_, text, {.decodeUnicode = decodeUnicode}) == kJsonParsed;
}

bool JsonValue::Load(std::string_view text, bool decodeUnicode) {
  text = untilZero(text);
  // A document that is all ASCII is widened into a buffer this thread keeps:
  // a fresh multi-megabyte string per call costs a page fault per 4 KiB.
  unsigned char high = 0;
  for (char c : text) high |= static_cast<unsigned char>(c);
  if (high >= 0x80) return LoadW(ansiToWide(text), decodeUnicode);
  thread_local std::u16string scratch;
  scratch.resize(text.size());
  char16_t* wide = scratch.data();
  for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
  const bool loaded = LoadW(scratch, decodeUnicode);
  if (scratch.capacity() > json::kKeptLoadUnits) std::u16string().swap(scratch);
  return loaded;
}

void JsonValue::Clear() {
  release(root_);
  root_ = nullptr;
}

bool JsonValue::SetNode(JsonNode* node) {
  if (!node) return false;
  addRef(node);
  release(root_);
  root_ = node;
  return true;
}

JsonValue JsonValue::NewObject() { return JsonValue(newObjectNode()); }
JsonValue JsonValue::NewArray() { return JsonValue(newArrayNode()); }
JsonValue JsonValue::NewNull() { return JsonValue(newNullNode()); }
JsonValue JsonValue::NewBool(bool value) { return JsonValue(newBoolNode(value)); }
JsonValue JsonValue::NewStringW(std::u16string_view text) {
  return JsonValue(newStringNode(untilZero(text)));
}
JsonValue JsonValue::NewString(std::string_view text) { return NewStringW(toWide(text)); }
JsonValue JsonValue::NewFloat(double value) { return JsonValue(newFloatNode(value)); }
JsonValue JsonValue::NewInteger(std::int64_t value) { return JsonValue(newIntegerNode(value)); }

bool JsonValue::ParseW(std::u16string_view text, bool decodeUnicode) {
  if (!root_) root_ = newObjectNode();
  return parseJson(root_, text, {.decodeUnicode = decodeUnicode}) == kJsonParsed;
}

bool JsonValue::ParseLoose(std::string_view text, bool decodeUnicode) {
  if (!root_) root_ = newObjectNode();
  return parseJson(root_, toWide(text), {.decodeUnicode = decodeUnicode, .unquotedKeys = true}) ==
         kJsonParsed;
}

std::u16string JsonValue::ToTextW(std::u16string_view pathW, bool indent, bool escape) {
  return writeJson(resolve(pathW), indent, escape);
}

Text JsonValue::ToText(std::string_view path, bool indent, bool escape) {
  return toAnsi(ToTextW(toWide(path), indent, escape));
}

// --- inspection -------------------------------------------------------------------

JsonType JsonValue::TypeOfW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  return node ? node->type : JsonType::kRaw;
}
JsonType JsonValue::TypeOf(std::string_view path) { return TypeOfW(toWide(path)); }

JsonValue JsonValue::ParentOfW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  return shareNode(node ? node->parent : nullptr);
}
JsonValue JsonValue::ParentOf(std::string_view path) { return ParentOfW(toWide(path)); }

int JsonValue::CountOfW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  return node ? childCount(node) : 0;
}
int JsonValue::CountOf(std::string_view path) { return CountOfW(toWide(path)); }

bool JsonValue::ExistsW(std::u16string_view pathW) { return pathExists(root_, untilZero(pathW)); }
bool JsonValue::Exists(std::string_view path) { return ExistsW(toWide(path)); }

// --- editing ----------------------------------------------------------------------

void JsonValue::Detach() {
  if (!root_ || !root_->parent) return;
  detachFromParent(root_);
  release(root_);  // the container's reference; ours keeps the node alive
}

bool JsonValue::RemoveMemberW(std::u16string_view pathW, std::u16string_view key) {
  JsonNode* node = resolve(pathW);
  if (!isObject(node)) return false;
  JsonNode* member = node->content.table->find(untilZero(key));
  if (!member) return false;
  node->content.table->removeNode(member);
  member->parent = nullptr;
  release(member);
  return true;
}
bool JsonValue::RemoveMember(std::string_view path, std::string_view key) {
  return RemoveMemberW(toWide(path), toWide(key));
}

bool JsonValue::RemoveItemW(std::u16string_view pathW, std::int64_t index) {
  JsonNode* node = resolve(pathW);
  if (!isArray(node)) return false;
  JsonNode* item = node->content.list->get(index);
  if (!item) return false;
  node->content.list->removeAt(index);
  item->parent = nullptr;
  release(item);
  return true;
}
bool JsonValue::RemoveItem(std::string_view path, std::int64_t index) {
  return RemoveItemW(toWide(path), index);
}

void JsonValue::EmptyW(std::u16string_view pathW) {
  if (JsonNode* node = resolve(pathW)) emptyInPlace(node);
}
void JsonValue::Empty(std::string_view path) { EmptyW(toWide(path)); }

bool JsonValue::PutMemberW(std::u16string_view pathW, std::u16string_view key,
                           const JsonValue& value) {
  JsonNode* member = value.root_;
  if (!member) return false;
  JsonNode* node = resolve(pathW);
  if (!node || isSelfOrAncestor(member, node)) return false;
  ensureObject(node);
  addRef(member);  // the reference the object will hold
  if (member->parent) {
    // A node lives in one container at a time: it moves out of the old one.
    detachFromParent(member);
    release(member);
  }
  storeMember(node, untilZero(key), member);
  return true;
}
bool JsonValue::PutMember(std::string_view path, std::string_view key, const JsonValue& value) {
  return PutMemberW(toWide(path), toWide(key), value);
}

JsonValue JsonValue::MemberW(std::u16string_view pathW, std::u16string_view key) {
  JsonNode* node = resolve(pathW);
  if (!node) return {};
  ensureObject(node);
  key = untilZero(key);
  JsonNode* member = node->content.table->find(key);
  if (!member) {
    member = newNullNode();
    storeMember(node, key, member);
  }
  return shareNode(member);
}
JsonValue JsonValue::Member(std::string_view path, std::string_view key) {
  return MemberW(toWide(path), toWide(key));
}

bool JsonValue::AppendCopyW(std::u16string_view pathW, const JsonValue& value) {
  if (!value.root_) return false;
  JsonNode* node = resolve(pathW);
  if (!node) return false;
  ensureArray(node);
  if (node->content.list->count() >= json::kMaxPaddedElements) return false;
  appendChild(node, deepCopy(value.root_));
  return true;
}
bool JsonValue::AppendCopy(std::string_view path, const JsonValue& value) {
  return AppendCopyW(toWide(path), value);
}

JsonValue JsonValue::ItemW(std::u16string_view pathW, std::int64_t index) {
  JsonNode* node = resolve(pathW);
  if (!node) return {};
  ensureArray(node);
  if (index < 0 || !padTo(node, index + 1)) return {};
  return shareNode(node->content.list->get(index));
}
JsonValue JsonValue::Item(std::string_view path, std::int64_t index) {
  return ItemW(toWide(path), index);
}

bool JsonValue::PutItemCopyW(std::u16string_view pathW, std::int64_t index,
                             const JsonValue& value) {
  if (!value.root_ || index < 0) return false;
  JsonNode* node = resolve(pathW);
  if (!node) return false;
  ensureArray(node);
  JsonNodeList* list = node->content.list;
  if (index >= list->count() && !padTo(node, index)) return false;
  JsonNode* copy = deepCopy(value.root_);
  if (index < list->count()) {
    JsonNode* old = list->get(index);
    list->set(index, copy);
    copy->parent = node;
    old->parent = nullptr;
    release(old);
  } else {
    appendChild(node, copy);
  }
  return true;
}
bool JsonValue::PutItemCopy(std::string_view path, std::int64_t index, const JsonValue& value) {
  return PutItemCopyW(toWide(path), index, value);
}

// --- typed access -------------------------------------------------------------------

JsonValue JsonValue::GetW(std::u16string_view pathW) { return shareNode(resolve(pathW)); }
JsonValue JsonValue::Get(std::string_view path) { return GetW(toWide(path)); }

// Every Set*W: the node at the path (created if missing) takes the new value.
template <typename Become>
bool JsonValue::setAt(std::u16string_view pathW, Become become) {
  JsonNode* node = resolve(pathW);
  if (!node) return false;
  become(node);
  return true;
}

bool JsonValue::SetStringW(std::u16string_view pathW, std::u16string_view text) {
  return setAt(pathW, [&](JsonNode* node) { becomeString(node, untilZero(text)); });
}
bool JsonValue::SetString(std::string_view path, std::string_view text) {
  return SetStringW(toWide(path), toWide(text));
}

bool JsonValue::SetNullW(std::u16string_view pathW) {
  return setAt(pathW, [](JsonNode* node) { becomeNull(node); });
}
bool JsonValue::SetNull(std::string_view path) { return SetNullW(toWide(path)); }

bool JsonValue::SetBoolW(std::u16string_view pathW, bool value) {
  return setAt(pathW, [&](JsonNode* node) { becomeBool(node, value); });
}
bool JsonValue::SetBool(std::string_view path, bool value) { return SetBoolW(toWide(path), value); }

bool JsonValue::SetFloatW(std::u16string_view pathW, double value) {
  return setAt(pathW, [&](JsonNode* node) { becomeFloat(node, value); });
}
bool JsonValue::SetFloat(std::string_view path, double value) {
  return SetFloatW(toWide(path), value);
}

bool JsonValue::SetIntegerW(std::u16string_view pathW, std::int64_t value) {
  return setAt(pathW, [&](JsonNode* node) { becomeInteger(node, value); });
}
bool JsonValue::SetInteger(std::string_view path, std::int64_t value) {
  return SetIntegerW(toWide(path), value);
}

std::u16string JsonValue::GetLiteralW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  return node ? std::u16string(node->literal()) : std::u16string();
}
Text JsonValue::GetLiteral(std::string_view path) { return toAnsi(GetLiteralW(toWide(path))); }

std::u16string JsonValue::GetStringW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  if (!node || node->type != JsonType::kString) return {};
  return std::u16string(node->text.view());
}
Text JsonValue::GetString(std::string_view path) { return toAnsi(GetStringW(toWide(path))); }

bool JsonValue::GetBoolW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  return node && node->type == JsonType::kBoolean && node->content.integer == 1;
}
bool JsonValue::GetBool(std::string_view path) { return GetBoolW(toWide(path)); }

double JsonValue::GetFloatW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  if (!node) return 0;
  if (node->type == JsonType::kFloat) return node->content.number;
  if (node->type == JsonType::kInteger) return static_cast<double>(node->content.integer);
  return 0;
}
double JsonValue::GetFloat(std::string_view path) { return GetFloatW(toWide(path)); }

std::int64_t JsonValue::GetIntegerW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  if (!node) return 0;
  if (node->type == JsonType::kInteger) return node->content.integer;
  if (node->type != JsonType::kFloat) return 0;
  // Truncate toward zero; out of range saturates and NaN gives 0 instead of
  // an undefined conversion.
  double value = std::trunc(node->content.number);
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return INT64_MAX;
  if (value < -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(value);
}
std::int64_t JsonValue::GetInteger(std::string_view path) { return GetIntegerW(toWide(path)); }

// --- listing, copying, sorting, merging ---------------------------------------------

// Keys and KeysW differ only in how a key is handed out.
template <typename Key, typename Convert>
int JsonValue::keysAt(std::u16string_view pathW, std::vector<Key>& list, Convert convert) {
  JsonNode* node = resolve(pathW);
  if (!isObject(node)) return 0;
  std::vector<Key> keys;
  keys.reserve(node->content.table->count());
  for (JsonNode* member : node->content.table->order()) keys.push_back(convert(member->key.view()));
  list = std::move(keys);
  return static_cast<int>(list.size());
}

int JsonValue::KeysW(std::u16string_view pathW, std::vector<std::u16string>& list) {
  return keysAt(pathW, list, [](std::u16string_view key) { return std::u16string(key); });
}

int JsonValue::Keys(std::string_view path, std::vector<Text>& list) {
  return keysAt(toWide(path), list, [](std::u16string_view key) { return toAnsi(key); });
}

int JsonValue::ChildrenW(std::u16string_view pathW, std::vector<JsonValue>& list) {
  JsonNode* node = resolve(pathW);
  const JsonNodeList* items = nullptr;
  if (isObject(node)) {
    items = &node->content.table->order();
  } else if (isArray(node)) {
    items = node->content.list;
  }
  if (!items || items->count() == 0) return 0;
  std::vector<JsonValue> children;
  children.reserve(items->count());
  for (JsonNode* child : *items) children.push_back(shareNode(child));
  list = std::move(children);
  return static_cast<int>(list.size());
}
int JsonValue::Children(std::string_view path, std::vector<JsonValue>& list) {
  return ChildrenW(toWide(path), list);
}

JsonValue JsonValue::CopyW(std::u16string_view pathW) {
  JsonNode* node = resolve(pathW);
  return node ? JsonValue(deepCopy(node)) : JsonValue();
}
JsonValue JsonValue::Copy(std::string_view path) { return CopyW(toWide(path)); }

bool JsonValue::SortKeysW(std::u16string_view pathW, bool descending) {
  JsonNode* node = resolve(pathW);
  if (!isObject(node)) return false;
  node->content.table->sort(descending);
  return true;
}
bool JsonValue::SortKeys(std::string_view path, bool descending) {
  return SortKeysW(toWide(path), descending);
}

bool JsonValue::MergeW(std::u16string_view pathW, std::u16string_view text, bool decodeUnicode,
                       bool addMissing) {
  JsonNode* node = resolve(pathW);
  if (!node) return false;
  JsonNode* parsed = newObjectNode();
  if (parseJson(parsed, text, {.decodeUnicode = decodeUnicode}) != kJsonParsed) {
    release(parsed);
    return false;
  }
  return mergeInto(node, parsed, addMissing);
}
bool JsonValue::Merge(std::string_view path, std::string_view text, bool decodeUnicode,
                      bool addMissing) {
  return MergeW(toWide(path), toWide(text), decodeUnicode, addMissing);
}

}  // namespace varnel
