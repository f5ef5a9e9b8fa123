// JsonValue: a handle on a reference-counted JSON tree held as UTF-16.
//
// Copying a handle shares the tree (no deep copy); moving is cheap. Each
// operation comes as an ANSI form (code page 936 `Text`) and a UTF-16 form
// (`...W`, `std::u16string`).
//
// Paths: "a.b[2]" addresses member b of member a, then element 2. The empty
// path (the default) is the root. "\." "\[" "\]" "\\" stand for the character
// itself inside a name; an empty segment names the member with the empty key.
// Resolving a path CREATES what it addresses (a read of "a.b" on {} leaves
// {"a":{"b":null}}) and turns scalars and arrays on the way into objects (or,
// for an index, into arrays). Only Exists/ExistsW look without creating.
// Indexes above 2^24 that would need padding yield no value.
//
// Edges: on an empty handle every path operation yields no value. "No value"
// means false, 0, empty text, JsonType::kRaw (-1) or an empty handle. Nothing
// throws except on memory exhaustion. A tree must not be used from two
// threads at once; only the reference counts are atomic.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace varnel {

class JsonNode;

enum class JsonType : std::int32_t {
  kRaw = -1,  // a bare token kept as read; also "no value" from TypeOf
  kNull = 0,
  kFloat = 1,
  kInteger = 2,
  kBoolean = 3,
  kString = 4,
  kArray = 5,
  kObject = 6,
};

class JsonValue {
 public:
  JsonValue() noexcept = default;  // empty handle
  ~JsonValue();
  JsonValue(const JsonValue& other) noexcept;
  JsonValue& operator=(const JsonValue& other) noexcept;
  JsonValue(JsonValue&& other) noexcept : root_(other.root_) { other.root_ = nullptr; }
  JsonValue& operator=(JsonValue&& other) noexcept;

  // --- documents --------------------------------------------------------------
  // Replaces the root with a new empty object and parses `text` into it
  // (strict, tolerant scan). Empty text: true, root {}. On a parse failure the
  // root is left empty ({} or [] when the text opened with "[") and false.
  // decodeUnicode: decode \uXXXX escapes (otherwise they stay as six characters).
  bool Load(std::string_view text = {}, bool decodeUnicode = false);
  bool LoadW(std::u16string_view text = {}, bool decodeUnicode = false);
  // Releases the root; the handle becomes empty.
  void Clear();
  // Identity of the root node (no reference taken), nullptr when empty.
  JsonNode* GetNode() const { return root_; }
  // Holds `node` (one more reference) instead of the old root. nullptr is
  // ignored and gives false.
  bool SetNode(JsonNode* node);

  // --- free values (new, unattached) ------------------------------------------
  static JsonValue NewObject();
  static JsonValue NewArray();
  static JsonValue NewNull();
  static JsonValue NewBool(bool value);
  static JsonValue NewStringW(std::u16string_view text);
  static JsonValue NewString(std::string_view text);
  static JsonValue NewFloat(double value);
  static JsonValue NewInteger(std::int64_t value);

  // Parse into the existing root (an empty object is made when there is
  // none), emptying it first; empty text changes nothing and succeeds.
  // ParseLoose also accepts unquoted keys.
  bool ParseW(std::u16string_view text, bool decodeUnicode = false);
  bool ParseLoose(std::string_view text, bool decodeUnicode = false);

  // JSON text of the value. indent: CR LF and TABs inside objects (arrays stay
  // on one line). escape: \" \\ \b \t \n \r \f in strings and keys. No value:
  // empty text.
  std::u16string ToTextW(std::u16string_view pathW = {}, bool indent = false, bool escape = true);
  Text ToText(std::string_view path = {}, bool indent = false, bool escape = true);

  // --- inspection -------------------------------------------------------------
  JsonType TypeOf(std::string_view path = {});
  JsonType TypeOfW(std::u16string_view pathW = {});
  // The value's container; an empty handle for a root.
  JsonValue ParentOf(std::string_view path = {});
  JsonValue ParentOfW(std::u16string_view pathW = {});
  // Members of an object, elements of an array, else 0.
  int CountOf(std::string_view path = {});
  int CountOfW(std::u16string_view pathW = {});
  // True when every segment exists; creates nothing; false for the empty path.
  bool Exists(std::string_view path);
  bool ExistsW(std::u16string_view pathW);

  // --- editing ----------------------------------------------------------------
  // Unlinks the held node from its container (a member loses its key); the
  // handle keeps the node. Nothing happens for a root or an empty handle.
  void Detach();
  // False unless the value is an object holding `key` (never converts it).
  bool RemoveMember(std::string_view path, std::string_view key);
  bool RemoveMemberW(std::u16string_view pathW, std::u16string_view key);
  // False unless the value is an array and 0 <= index < count.
  bool RemoveItem(std::string_view path, std::int64_t index);
  bool RemoveItemW(std::u16string_view pathW, std::int64_t index);
  // Empties in place keeping the type: no children, no string text, numbers
  // and booleans 0, no literal.
  void Empty(std::string_view path = {});
  void EmptyW(std::u16string_view pathW = {});
  // Stores `value`'s node itself (shared) under `key` of the object at the
  // path, replacing a member of that key. A node that sits in another
  // container moves out of it. False for an empty `value`, or when the node is
  // the target or one of its ancestors (that would make a cycle).
  bool PutMember(std::string_view path, std::string_view key, const JsonValue& value);
  bool PutMemberW(std::u16string_view pathW, std::u16string_view key, const JsonValue& value);
  // The member `key` of the object at the path, created as null if missing.
  JsonValue Member(std::string_view path, std::string_view key);
  JsonValue MemberW(std::u16string_view pathW, std::u16string_view key);
  // Appends a deep copy of `value`; false for an empty `value`.
  bool AppendCopy(std::string_view path, const JsonValue& value);
  bool AppendCopyW(std::u16string_view pathW, const JsonValue& value);
  // Element `index`, padding with nulls; negative: empty handle.
  JsonValue Item(std::string_view path, std::int64_t index);
  JsonValue ItemW(std::u16string_view pathW, std::int64_t index);
  // Stores a deep copy at `index` (replacing, or padding with nulls and
  // appending); false for an empty `value` or a negative index.
  bool PutItemCopy(std::string_view path, std::int64_t index, const JsonValue& value);
  bool PutItemCopyW(std::u16string_view pathW, std::int64_t index, const JsonValue& value);

  // --- typed access -----------------------------------------------------------
  JsonValue Get(std::string_view path = {});
  JsonValue GetW(std::u16string_view pathW = {});
  // The node keeps its key, position and parent; previous content is dropped.
  bool SetString(std::string_view path, std::string_view text);
  bool SetStringW(std::u16string_view pathW, std::u16string_view text);
  bool SetNull(std::string_view path = {});
  bool SetNullW(std::u16string_view pathW = {});
  bool SetBool(std::string_view path, bool value);
  bool SetBoolW(std::u16string_view pathW, bool value);
  bool SetFloat(std::string_view path, double value);
  bool SetFloatW(std::u16string_view pathW, double value);
  bool SetInteger(std::string_view path, std::int64_t value);
  bool SetIntegerW(std::u16string_view pathW, std::int64_t value);
  // The textual form of a scalar as read or as set (a parsed 1.50 keeps
  // "1.50"); empty for strings and containers.
  Text GetLiteral(std::string_view path = {});
  std::u16string GetLiteralW(std::u16string_view pathW = {});
  // Empty unless the value is a string.
  Text GetString(std::string_view path = {});
  std::u16string GetStringW(std::u16string_view pathW = {});
  // True only for a boolean true.
  bool GetBool(std::string_view path = {});
  bool GetBoolW(std::u16string_view pathW = {});
  // Both number types are accepted; anything else is 0. GetInteger truncates
  // a float toward zero (saturating at the 64-bit range).
  double GetFloat(std::string_view path = {});
  double GetFloatW(std::u16string_view pathW = {});
  std::int64_t GetInteger(std::string_view path = {});
  std::int64_t GetIntegerW(std::u16string_view pathW = {});

  // --- listing, copying, sorting, merging ---------------------------------------
  // For an object: `list` is replaced by its keys in member order and the
  // count returned (0 empties the list). Otherwise 0 and `list` is unchanged.
  int Keys(std::string_view path, std::vector<Text>& list);
  int KeysW(std::u16string_view pathW, std::vector<std::u16string>& list);
  // Members or elements as handles sharing the nodes. `list` is replaced only
  // when the count is not 0.
  int Children(std::string_view path, std::vector<JsonValue>& list);
  int ChildrenW(std::u16string_view pathW, std::vector<JsonValue>& list);
  // A handle on a deep copy (unattached).
  JsonValue Copy(std::string_view path = {});
  JsonValue CopyW(std::u16string_view pathW = {});
  // Sorts an object's member order by key (code-unit order); false otherwise.
  bool SortKeys(std::string_view path = {}, bool descending = false);
  bool SortKeysW(std::u16string_view pathW = {}, bool descending = false);
  // Parses `text` (strict) and merges it into the value: objects merge member
  // by member (members missing from the target are added only with
  // addMissing); otherwise a member of an object is replaced by the parsed
  // value. False when the text fails to parse, when nothing was merged, or
  // when a non-object target is a root or an array element.
  bool Merge(std::string_view path, std::string_view text, bool decodeUnicode = false,
             bool addMissing = false);
  bool MergeW(std::u16string_view pathW, std::u16string_view text, bool decodeUnicode = false,
              bool addMissing = false);

 private:
  explicit JsonValue(JsonNode* adopted) noexcept : root_(adopted) {}
  JsonNode* resolve(std::u16string_view pathW);
  template <typename Become>
  bool setAt(std::u16string_view pathW, Become become);
  template <typename Key, typename Convert>
  int keysAt(std::u16string_view pathW, std::vector<Key>& list, Convert convert);

  JsonNode* root_ = nullptr;
};

}  // namespace varnel
