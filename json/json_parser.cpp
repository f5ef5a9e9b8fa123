#include "json/json_parser.h"

#include <charconv>  // from_chars
#include <cstring>   // memcpy
#include <iterator>  // size
#include <limits>
#include <string>
#include <vector>

#include "json/json_constants.h"
#include "json/json_member_table.h"
#include "json/json_node.h"
#include "json/json_node_list.h"

namespace varnel {
namespace {

constexpr int kKindBare = -1;
constexpr int kKindString = 4;
constexpr int kKindArray = 5;
constexpr int kKindObject = 6;

// Longer keys are rarely repeated; they get a copy each.
constexpr std::size_t kMaxSharedKeyUnits = 64;
// Room a new container gets in the arena before it needs a heap array.
constexpr std::int32_t kFirstItems = 4;

bool isTrimmed(char16_t c) { return c == u'\r' || c == u'\n' || c == u'\t' || c == u' '; }

std::u16string_view trimToken(std::u16string_view s) {
  while (!s.empty() && isTrimmed(s.front())) s.remove_prefix(1);
  while (!s.empty() && isTrimmed(s.back())) s.remove_suffix(1);
  return s;
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Number test: 0 = not a number, 1 = integer, 2 = float (fraction, exponent
// or a sign after the first character).
int classifyNumber(std::u16string_view token) {
  bool first = true;
  bool point = false;
  bool exponent = false;
  bool innerSign = false;
  for (char16_t c : token) {
    if (c <= 32) continue;
    if (first) {
      first = false;
      if (c == u'.') {
        point = true;
      } else if (!(c == u'+' || c == u'-' || isDigit(c))) {
        return 0;
      }
      continue;
    }
    if (isDigit(c)) continue;
    if (c == u'.') {
      if (point) return 0;
      point = true;
    } else if (c == u'e' || c == u'E') {
      if (exponent) return 0;
      exponent = true;
    } else if (c == u'+' || c == u'-') {
      if (innerSign) return 0;
      innerSign = true;
    } else {
      return 0;
    }
  }
  if (first) return 0;
  return point || exponent || innerSign ? 2 : 1;
}

// True when a float token is exactly what "%.13g" prints for the value it
// reads as: at most 13 significant digits lie within half an ulp of the
// value, so printf gives them back; the form must be printf's fixed form
// (exponent -4..12) with nothing it would drop or add: no sign '+', no
// leading zeros, no trailing fraction zeros, digits on both sides of the point.
bool isWrittenFloatForm(std::u16string_view token) {
  std::size_t i = token.size() > 0 && token[0] == u'-' ? 1 : 0;
  const std::size_t intStart = i;
  while (i < token.size() && isDigit(token[i])) ++i;
  const std::size_t intDigits = i - intStart;
  if (intDigits == 0 || i >= token.size() || token[i] != u'.') return false;
  if (intDigits > 1 && token[intStart] == u'0') return false;
  const std::size_t fracStart = ++i;
  while (i < token.size() && isDigit(token[i])) ++i;
  const std::size_t fracDigits = i - fracStart;
  if (i != token.size() || fracDigits == 0 || token.back() == u'0') return false;
  if (token[intStart] != u'0') return intDigits + fracDigits <= 13;
  // 0.000ddd: printf switches to the exponent form below 1e-4.
  std::size_t zeros = 0;
  while (zeros < fracDigits && token[fracStart + zeros] == u'0') ++zeros;
  return zeros <= 3 && fracDigits - zeros <= 13;
}

// Likewise for integers: no sign '+', no leading zeros, no "-0", and short
// enough not to saturate.
bool isWrittenIntegerForm(std::u16string_view token) {
  std::size_t i = token.size() > 0 && token[0] == u'-' ? 1 : 0;
  const std::size_t digits = token.size() - i;
  if (digits == 0 || digits > 18) return false;
  if (token[i] == u'0') return digits == 1 && i == 0;
  for (; i < token.size(); ++i) {
    if (!isDigit(token[i])) return false;
  }
  return true;
}

// Most numbers in documents are plain: -?digits(.digits)?. For those one
// scan gives the kind, the value and whether the token is the printed form.
// A float whose digits (at most 2^53) and fraction length (at most 22) are
// both exact doubles is one correctly rounded division away (Clinger's fast
// path); everything else goes the general way.
struct PlainNumber {
  int kind = 0;  // 0: not plain, 1: integer, 2: float
  std::int64_t integer = 0;
  double number = 0;
  bool written = false;
};

PlainNumber readPlainNumber(std::u16string_view token) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  PlainNumber out;
  std::size_t i = 0;
  const bool negative = !token.empty() && token[0] == u'-';
  if (negative) ++i;
  std::uint64_t mantissa = 0;
  std::size_t digits = 0;
  const std::size_t intStart = i;
  for (; i < token.size() && isDigit(token[i]); ++i, ++digits) {
    mantissa = mantissa * 10 + (token[i] - u'0');
  }
  const std::size_t intDigits = i - intStart;
  if (intDigits == 0 || digits > 18) return out;
  if (i == token.size()) {
    out.kind = 1;
    out.integer =
        negative ? -static_cast<std::int64_t>(mantissa) : static_cast<std::int64_t>(mantissa);
    out.written = isWrittenIntegerForm(token);
    return out;
  }
  if (token[i] != u'.') return out;
  const std::size_t fracStart = ++i;
  for (; i < token.size() && isDigit(token[i]); ++i, ++digits) {
    mantissa = mantissa * 10 + (token[i] - u'0');
  }
  const std::size_t fracDigits = i - fracStart;
  if (i != token.size() || fracDigits == 0 || digits > 18 ||
      fracDigits >= std::size(kPowersOfTen) || mantissa > (std::uint64_t{1} << 53)) {
    return out;
  }
  const double value = static_cast<double>(mantissa) / kPowersOfTen[fracDigits];
  out.kind = 2;
  out.number = negative ? -value : value;
  out.written = isWrittenFloatForm(token);
  return out;
}

// Exact in 64 bits and saturating: accumulating in a double, as a float
// reader would, changes integers above 2^53 (3333333333333332992 read back
// as ...2480).
std::int64_t readInteger(std::u16string_view token) {
  std::size_t i = 0;
  while (i < token.size() && token[i] <= 32) ++i;
  bool negative = false;
  if (i < token.size() && (token[i] == u'+' || token[i] == u'-')) negative = token[i++] == u'-';
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // |INT64_MIN|
  std::uint64_t magnitude = 0;
  for (; i < token.size() && isDigit(token[i]); ++i) {
    unsigned digit = token[i] - u'0';
    magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
  }
  if (negative) return magnitude >= kLimit ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  return magnitude >= kLimit ? INT64_MAX : static_cast<std::int64_t>(magnitude);
}

// Reads sign, digits, fraction and exponent up to the first character that
// does not fit (the rest of the token is ignored). The digits are converted
// with correct rounding: scaling by powers of ten in doubles loses the last
// bit and turns small exponents such as 1e-320 into 0.
double readFloat(std::u16string_view token) {
  std::size_t i = 0;
  while (i < token.size() && token[i] <= 32) ++i;
  // The copy is never longer than the token plus an added '0', so numbers of
  // usual length are gathered on the stack.
  char local[64];
  std::string heap;
  char* number = local;
  if (token.size() + 2 > sizeof local) {
    heap.resize(token.size() + 2);
    number = heap.data();
  }
  std::size_t n = 0;
  if (i < token.size() && (token[i] == u'+' || token[i] == u'-')) {
    if (token[i] == u'-') number[n++] = '-';
    ++i;
  }
  std::size_t mantissaStart = n;
  for (; i < token.size() && isDigit(token[i]); ++i) number[n++] = static_cast<char>(token[i]);
  if (i < token.size() && token[i] == u'.') {
    number[n++] = '.';
    for (++i; i < token.size() && isDigit(token[i]); ++i) {
      number[n++] = static_cast<char>(token[i]);
    }
  }
  if (n == mantissaStart || (n == mantissaStart + 1 && number[mantissaStart] == '.')) {
    number[n++] = '0';
  }
  bool negativeExponent = false;
  if (i < token.size() && (token[i] == u'e' || token[i] == u'E')) {
    std::size_t exponentStart = n;
    ++i;
    if (i < token.size() && (token[i] == u'+' || token[i] == u'-')) {
      negativeExponent = token[i++] == u'-';
    }
    number[n++] = 'e';
    if (negativeExponent) number[n++] = '-';
    std::size_t digitsStart = n;
    for (; i < token.size() && isDigit(token[i]); ++i) {
      number[n++] = static_cast<char>(token[i]);
    }
    if (n == digitsStart) n = exponentStart;  // "e" without digits is left out
  }
  double value = 0;
  auto [end, error] = std::from_chars(number, number + n, value);
  if (error == std::errc::result_out_of_range) {
    bool negative = number[0] == '-';
    value = negativeExponent ? 0.0 : std::numeric_limits<double>::infinity();
    if (negative) value = -value;
  }
  return value;
}

// Decodes into a NodeText without an intermediate string.
void assignDecoded(NodeText& out, std::u16string_view text, bool decodeUnicode,
                   json::Arena* arena = nullptr) {
  if (text.find(u'\\') == std::u16string_view::npos) {
    out.assign(text, arena);
    return;
  }
  // Decoding only shrinks: short texts decode on the stack and are copied
  // (maybe inline), long ones into a heap buffer the text adopts.
  char16_t local[64];
  char16_t* buffer = text.size() < std::size(local) ? local : new char16_t[text.size() + 1];
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c != u'\\' || i + 1 >= text.size()) {
      buffer[n++] = c;
      continue;
    }
    char16_t e = text[i + 1];
    char16_t decoded = 0;
    switch (e) {
      case u'"':
        decoded = u'"';
        break;
      case u'\\':
        decoded = u'\\';
        break;
      case u'/':
        decoded = u'/';
        break;
      case u'b':
        decoded = 8;
        break;
      case u't':
        decoded = 9;
        break;
      case u'n':
        decoded = 10;
        break;
      case u'r':
        decoded = 13;
        break;
      case u'f':
        decoded = 12;
        break;
      case u'u':
        if (decodeUnicode && i + 5 < text.size()) {
          int h0 = hexValue(text[i + 2]);
          int h1 = hexValue(text[i + 3]);
          int h2 = hexValue(text[i + 4]);
          int h3 = hexValue(text[i + 5]);
          if (h0 >= 0 && h1 >= 0 && h2 >= 0 && h3 >= 0) {
            buffer[n++] = static_cast<char16_t>((h0 << 12) | (h1 << 8) | (h2 << 4) | h3);
            i += 5;
            continue;
          }
        }
        break;
      default:
        break;
    }
    if (decoded) {
      buffer[n++] = decoded;
      ++i;
    } else {
      buffer[n++] = c;  // unknown escape: the backslash stays, the next character follows
    }
  }
  buffer[n] = 0;
  if (buffer == local || arena) {
    out.assign(std::u16string_view(buffer, n), arena);
    if (buffer != local) delete[] buffer;
  } else {
    out.adopt(buffer, n);
  }
}

class JsonScanner {
 public:
  JsonScanner(JsonNode* root, std::u16string_view text, JsonScanRules rules)
      : root_(root), text_(text), rules_(rules) {}
  ~JsonScanner() {
    for (const SharedKey& key : sharedKeys_) {
      if (key.text) json::Arena::free(key.text);
    }
  }
  JsonScanner(const JsonScanner&) = delete;
  JsonScanner& operator=(const JsonScanner&) = delete;

  int run() {
    stack_.reserve(16);
    std::size_t length = text_.size();
    const char16_t* s = text_.data();
    for (std::size_t pos = 0; pos < length; ++pos) {
      char16_t c = s[pos];
      if (quote_) {
        // Inside a string only the closing quote and escapes matter.
        while (c != quote_ && c != u'\\') {
          if (++pos >= length) return finish();
          c = s[pos];
        }
      }
      int result = kJsonParsed;
      switch (c) {
        case u'"':
        case u'\'':
          result = onQuote(pos, c);
          break;
        case u'\\':
          if (pos + 1 < length &&
              (s[pos + 1] == u'"' || s[pos + 1] == u'\'' || s[pos + 1] == u'\\')) {
            ++pos;
          }
          break;
        case u':':
          result = onColon(pos);
          break;
        case u',':
          result = onComma(pos);
          break;
        case u'{':
          result = onOpenObject(pos);
          break;
        case u'[':
          result = onOpenArray(pos);
          break;
        case u']':
          result = onCloseArray(pos);
          break;
        case u'}':
          result = onCloseObject(pos);
          break;
        default:
          break;
      }
      if (result != kJsonParsed) return fail(result);
    }
    return finish();
  }

 private:
  JsonNode* top() const { return stack_.empty() ? nullptr : stack_.back(); }
  bool topIsArray() const { return top()->type == JsonType::kArray; }

  int finish() {
    if (!stack_.empty()) return fail(kJsonNoContainer);
    return kJsonParsed;
  }

  int fail(int code) {
    stack_.clear();
    emptyInPlace(root_);
    return code;
  }

  int push(JsonNode* node) {
    if (static_cast<std::int32_t>(stack_.size()) >= json::kMaxNestingDepth) return kJsonTooDeep;
    stack_.push_back(node);
    return kJsonParsed;
  }
  // A closed container gets no more children: its items move into the arena.
  void pop() {
    if (stack_.empty()) return;
    JsonNode* closed = stack_.back();
    stack_.pop_back();
    if (closed->type == JsonType::kArray && closed->content.list) {
      closed->content.list->compact(arena_);
    } else if (closed->type == JsonType::kObject && closed->content.table) {
      closed->content.table->compact(arena_);
    }
  }

  std::u16string_view slice(std::int64_t start, std::int64_t length) const {
    if (start < 0 || start > static_cast<std::int64_t>(text_.size()) || length <= 0) return {};
    return text_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
  }

  NodeText keyText(bool trim) {
    std::u16string_view key = slice(keyStart_, keyLength_);
    if (trim) key = trimToken(key);
    NodeText out;
    if (key.size() <= NodeText::kInlineUnits || key.size() > kMaxSharedKeyUnits ||
        key.find(u'\\') != std::u16string_view::npos) {
      assignDecoded(out, key, rules_.decodeUnicode, &arena_);
      return out;
    }
    // Objects in an array repeat their keys: members share one copy of each.
    SharedKey& shared =
        sharedKeys_[(key.size() * 31 + key.front() * 7 + key.back() + key[key.size() / 2]) %
                    std::size(sharedKeys_)];
    if (shared.text && shared.size == key.size() &&
        std::u16string_view(shared.text, shared.size) == key) {
      out.adoptArena(static_cast<char16_t*>(arena_.share(shared.text)), shared.size);
      return out;
    }
    auto* copy = static_cast<char16_t*>(arena_.allocate((key.size() + 1) * sizeof(char16_t)));
    std::memcpy(copy, key.data(), key.size() * sizeof(char16_t));
    copy[key.size()] = 0;
    if (shared.text) json::Arena::free(shared.text);
    shared = {static_cast<char16_t*>(arena_.share(copy)), static_cast<std::uint32_t>(key.size())};
    out.adoptArena(copy, shared.size);
    return out;
  }

  int onQuote(std::size_t pos, char16_t c) {
    if (!top()) return kJsonNoContainer;
    bool isKey = !topIsArray() && !afterColon_;
    if (!isKey) valueKind_ = kKindString;
    auto at = static_cast<std::int64_t>(pos);
    if (quote_ == 0) {
      quote_ = c;
      if (isKey) {
        keyStart_ = at + 1;
        if (rules_.unquotedKeys) {
          valueStart_ = -1;
          valueLength_ = 0;
        }
      } else {
        valueStart_ = at + 1;
      }
    } else {
      if (isKey) {
        keyLength_ = at - keyStart_;
        quotedKey_ = true;
      } else {
        valueLength_ = at - valueStart_;
      }
      quote_ = 0;
    }
    return kJsonParsed;
  }

  int onColon(std::size_t pos) {
    if (!top()) return kJsonNoContainer;
    if (topIsArray()) return kJsonColonInArray;
    auto at = static_cast<std::int64_t>(pos);
    if (rules_.unquotedKeys) {
      if (keyStart_ == -1) return kJsonMissingKey;
      if (!quotedKey_) keyLength_ = at - keyStart_;
    }
    afterColon_ = true;
    valueStart_ = at + 1;
    return kJsonParsed;
  }

  void startUnquotedKey(std::size_t pos) {
    keyStart_ = static_cast<std::int64_t>(pos) + 1;
    keyLength_ = 0;
    quotedKey_ = false;
  }

  int onComma(std::size_t pos) {
    if (!top()) return kJsonNoContainer;
    bool inArray = topIsArray();
    auto at = static_cast<std::int64_t>(pos);
    if (valueStart_ == -1) {
      valueStart_ = at + 1;
    } else {
      if (valueKind_ != kKindString) valueKind_ = kKindBare;
      int result = storeValue(pos, inArray);
      if (result != kJsonParsed) return result;
      valueKind_ = kKindBare;
      afterColon_ = false;
      valueStart_ = at + 1;
      if (rules_.unquotedKeys) keyLength_ = 0;
    }
    if (rules_.unquotedKeys && !inArray) startUnquotedKey(pos);
    return kJsonParsed;
  }

  int onOpenObject(std::size_t pos) {
    afterColon_ = false;
    JsonNode* container = top();
    if (!container) {
      ensureObject(root_);
      int result = push(root_);
      if (result != kJsonParsed) return result;
      valueKind_ = kKindBare;
    } else {
      JsonNode* object = nullptr;
      if (container->type == JsonType::kArray) {
        if (static_cast<std::int32_t>(stack_.size()) >= json::kMaxNestingDepth) return kJsonTooDeep;
        object = newObjectNode(&arena_);
        appendChild(container, object);
      } else {
        if (keyStart_ == -1) return kJsonMissingKey;
        if (rules_.unquotedKeys && keyLength_ == 0) return kJsonMissingKey;
        if (static_cast<std::int32_t>(stack_.size()) >= json::kMaxNestingDepth) return kJsonTooDeep;
        object = newObjectNode(&arena_);
        storeMember(container, keyText(rules_.unquotedKeys), object);
      }
      push(object);
      keyStart_ = -1;
      keyLength_ = 0;
      valueStart_ = -1;
      valueKind_ = kKindObject;
    }
    if (rules_.unquotedKeys) startUnquotedKey(pos);
    return kJsonParsed;
  }

  int onOpenArray(std::size_t pos) {
    valueStart_ = static_cast<std::int64_t>(pos) + 1;
    afterColon_ = false;
    JsonNode* container = top();
    if (!container) {
      ensureArray(root_);
      int result = push(root_);
      if (result != kJsonParsed) return result;
      valueKind_ = kKindBare;
    } else {
      if (container->type != JsonType::kArray && keyStart_ == -1) return kJsonMissingKey;
      if (static_cast<std::int32_t>(stack_.size()) >= json::kMaxNestingDepth) return kJsonTooDeep;
      JsonNode* array = newArrayNode(&arena_);
      array->content.list->reserveFrom(arena_, kFirstItems);
      if (container->type == JsonType::kArray) {
        appendChild(container, array);
      } else {
        storeMember(container, keyText(rules_.unquotedKeys), array);
      }
      push(array);
      valueKind_ = kKindArray;
    }
    if (rules_.unquotedKeys) {
      keyStart_ = -1;
      keyLength_ = 0;
    }
    return kJsonParsed;
  }

  int onCloseArray(std::size_t pos) {
    if (rules_.unquotedKeys) keyLength_ = 0;
    if (valueStart_ == -1) {
      pop();
      return kJsonParsed;
    }
    if (valueKind_ != kKindString) {
      std::u16string_view pending =
          slice(valueStart_, static_cast<std::int64_t>(pos) - valueStart_);
      bool blank = true;
      for (char16_t c : pending) {
        if (c > 32) {
          blank = false;
          break;
        }
      }
      if (blank && text_[valueStart_ - 1] != u'[') return kJsonEmptyElement;
      valueKind_ = kKindBare;
    }
    int result = storeValue(pos, true);
    if (result != kJsonParsed) return result;
    closeValue();
    return kJsonParsed;
  }

  int onCloseObject(std::size_t pos) {
    if (valueStart_ == -1) {
      pop();
      return kJsonParsed;
    }
    if (valueKind_ != kKindString) valueKind_ = kKindBare;
    int result = storeValue(pos, false);
    if (result != kJsonParsed) return result;
    closeValue();
    return kJsonParsed;
  }

  void closeValue() {
    valueKind_ = kKindBare;
    afterColon_ = false;
    keyStart_ = -1;
    valueStart_ = -1;
    pop();
  }

  JsonNode* makeScalar(std::u16string_view token) {
    JsonNode* node = nullptr;
    if (token == json::kNullText) {
      node = newNode(JsonType::kNull, &arena_);
      node->text.borrow(json::kNullText);
      return node;
    }
    if (token == json::kTrueText || token == json::kFalseText) {
      const bool value = token == json::kTrueText;
      node = newNode(JsonType::kBoolean, &arena_);
      node->content.integer = value ? 1 : 0;
      node->text.borrow(value ? json::kTrueText : json::kFalseText);
      return node;
    }
    if (const PlainNumber plain = readPlainNumber(token); plain.kind != 0) {
      node = newNode(plain.kind == 1 ? JsonType::kInteger : JsonType::kFloat, &arena_);
      if (plain.kind == 1) {
        node->content.integer = plain.integer;
      } else {
        node->content.number = plain.number;
      }
      node->literalIsWritten = plain.written;
      node->text.assign(token, &arena_);
      return node;
    }
    switch (classifyNumber(token)) {
      case 1:
        node = newNode(JsonType::kInteger, &arena_);
        node->content.integer = readInteger(token);
        node->literalIsWritten = isWrittenIntegerForm(token);
        break;
      case 2:
        node = newNode(JsonType::kFloat, &arena_);
        node->content.number = readFloat(token);
        node->literalIsWritten = isWrittenFloatForm(token);
        break;
      default:
        node = newNode(JsonType::kRaw, &arena_);
        break;
    }
    node->text.assign(token, &arena_);  // a number keeps the token as written
    return node;
  }

  int storeValue(std::size_t pos, bool arrayMode) {
    JsonNode* container = top();
    if (!container) return kJsonNoContainer;
    if (!arrayMode && keyStart_ == -1) return kJsonMissingKey;
    JsonNode* node = nullptr;
    if (valueKind_ == kKindString) {
      node = newNode(JsonType::kString, &arena_);
      assignDecoded(node->text, slice(valueStart_, valueLength_), rules_.decodeUnicode, &arena_);
    } else {
      std::u16string_view token =
          trimToken(slice(valueStart_, static_cast<std::int64_t>(pos) - valueStart_));
      if (token.empty()) return kJsonParsed;
      node = makeScalar(token);
    }
    if (arrayMode) {
      appendChild(container, node);
    } else {
      storeMember(container, keyText(true), node);
    }
    return kJsonParsed;
  }

  json::Arena arena_;  // what this parse builds; the chunks outlive the scanner
  // Recent keys, each entry holding its own share of the copy.
  struct SharedKey {
    char16_t* text = nullptr;
    std::uint32_t size = 0;
  };
  SharedKey sharedKeys_[64];
  JsonNode* root_;
  std::u16string_view text_;
  JsonScanRules rules_;
  std::vector<JsonNode*> stack_;  // back() is the innermost open container; no references
  char16_t quote_ = 0;
  bool afterColon_ = false;
  bool quotedKey_ = false;
  std::int64_t keyStart_ = -1;
  std::int64_t keyLength_ = 0;
  std::int64_t valueStart_ = -1;
  std::int64_t valueLength_ = 0;
  int valueKind_ = kKindBare;
};

}  // namespace

int parseJson(JsonNode* root, std::u16string_view text, JsonScanRules rules) {
  if (!root) return kJsonNoInput;
  std::size_t zero = text.find(u'\0');
  if (zero != std::u16string_view::npos) text = text.substr(0, zero);
  if (text.empty()) return kJsonParsed;
  emptyInPlace(root);
  return JsonScanner(root, text, rules).run();
}

std::u16string decodeJsonString(std::u16string_view text, bool decodeUnicode) {
  NodeText decoded;
  assignDecoded(decoded, text, decodeUnicode);
  return std::u16string(decoded.view());
}

}  // namespace varnel
