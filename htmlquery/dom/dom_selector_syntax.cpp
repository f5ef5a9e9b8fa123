// A strict check of CSS selector syntax, run before the selector engine sees
// the text. The engine's error recovery reads outside its own buffers (and
// crashes on an unclosed :not( or :has(), so it only ever gets selectors that
// parse cleanly: lists of compound selectors with combinators, attributes,
// pseudo-classes and the functions it implements. Pseudo-elements never match
// an element and are refused too, as are escapes in names.
#include <string>
#include <string_view>
#include <vector>

#include "htmlquery/dom/dom_tree.h"

namespace varnel::dom {
namespace {

// Deeper nesting of :not( / :has( is refused rather than recursed into.
constexpr int kMaxNesting = 32;

constexpr std::string_view kSelectorFunctions[] = {"not", "matches", "current"};
constexpr std::string_view kNthFunctions[] = {"nth-child",   "nth-last-child",
                                              "nth-of-type", "nth-last-of-type",
                                              "nth-column",  "nth-last-column"};
constexpr std::string_view kTextFunctions[] = {"contains", "lang", "dir"};

template <std::size_t N>
bool isOneOf(std::string_view name, const std::string_view (&names)[N]) {
  for (std::string_view candidate : names)
    if (name == candidate) return true;
  return false;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNonAscii(char c) { return static_cast<unsigned char>(c) >= 0x80; }
bool isNameStart(char c) { return isLetter(c) || c == '_' || isNonAscii(c); }
bool isNameChar(char c) { return isNameStart(c) || isDigit(c) || c == '-'; }

class SelectorSyntax {
 public:
  explicit SelectorSyntax(std::string_view text) : text_(text) {}

  bool wellFormed() {
    if (!selectorList(0, false)) return false;
    skipSpaces();
    return pos_ == text_.size();
  }

  // The engine drops a combinator that follows its compound without a space
  // ("div>a"): the same selector with a space before every combinator.
  std::string spacedCombinators() const {
    std::string out;
    out.reserve(text_.size() + combinators_.size());
    std::size_t from = 0;
    for (const std::size_t at : combinators_) {
      out.append(text_.substr(from, at - from));
      out += ' ';
      from = at;
    }
    out.append(text_.substr(from));
    return out;
  }

 private:
  char peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }
  bool eat(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool skipSpaces() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
    return pos_ > start;
  }
  static bool isCombinator(char c) { return c == '>' || c == '+' || c == '~'; }

  bool selectorList(int depth, bool relative) {
    do {
      skipSpaces();
      if (!complexSelector(depth, relative)) return false;
      skipSpaces();
    } while (eat(','));
    return true;
  }

  // Compounds joined by combinators; a relative one (inside :has) may start
  // with a combinator.
  bool complexSelector(int depth, bool relative) {
    if (relative && isCombinator(peek())) {
      ++pos_;
      skipSpaces();
    }
    if (!compoundSelector(depth)) return false;
    for (;;) {
      const std::size_t before = pos_;
      const bool spaced = skipSpaces();
      if (isCombinator(peek())) {
        if (!spaced) combinators_.push_back(pos_);
        ++pos_;
        skipSpaces();
        if (!compoundSelector(depth)) return false;
      } else if (spaced && startsCompound()) {
        if (!compoundSelector(depth)) return false;
      } else {
        pos_ = before;
        return true;
      }
    }
  }

  bool startsCompound() const {
    const char c = peek();
    return c == '*' || c == '#' || c == '.' || c == '[' || c == ':' || startsIdentifier();
  }

  bool compoundSelector(int depth) {
    bool any = false;
    if (eat('*')) {
      any = true;
    } else if (startsIdentifier()) {
      identifier(nullptr);
      any = true;
    }
    for (;;) {
      const char c = peek();
      if (c == '#') {
        ++pos_;
        if (!identifier(nullptr)) return false;  // "#1a" is no id selector
      } else if (c == '.') {
        ++pos_;
        if (!identifier(nullptr)) return false;
      } else if (c == '[') {
        ++pos_;
        if (!attribute()) return false;
      } else if (c == ':') {
        ++pos_;
        if (!pseudoClass(depth)) return false;
      } else {
        return any;
      }
      any = true;
    }
  }

  bool attribute() {
    skipSpaces();
    if (!identifier(nullptr)) return false;
    skipSpaces();
    if (eat(']')) return true;
    const char c = peek();
    if (c == '~' || c == '|' || c == '^' || c == '$' || c == '*') ++pos_;
    if (!eat('=')) return false;
    skipSpaces();
    if (!quotedString() && !identifier(nullptr)) return false;
    skipSpaces();
    const char flag = peek();
    if ((flag == 'i' || flag == 'I' || flag == 's' || flag == 'S') &&
        (isSpace(peek(1)) || peek(1) == ']')) {
      ++pos_;
      skipSpaces();
    }
    return eat(']');
  }

  bool pseudoClass(int depth) {
    std::string pseudo;
    if (!identifier(&pseudo)) return false;  // also refuses "::" pseudo-elements
    for (char& c : pseudo)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!eat('(')) return true;
    if (depth >= kMaxNesting) return false;
    skipSpaces();
    bool argument = false;
    if (isOneOf(pseudo, kSelectorFunctions)) {
      argument = selectorList(depth + 1, false);
    } else if (pseudo == "has") {
      argument = selectorList(depth + 1, true);
    } else if (isOneOf(pseudo, kNthFunctions)) {
      argument = anPlusB();
      if (argument && skipSpaces() && (peek() == 'o' || peek() == 'O') &&
          (peek(1) == 'f' || peek(1) == 'F') && isSpace(peek(2))) {
        pos_ += 2;
        argument = selectorList(depth + 1, false);
      }
    } else if (isOneOf(pseudo, kTextFunctions)) {
      argument = quotedString() || identifier(nullptr);
    }
    skipSpaces();
    return argument && eat(')');
  }

  // odd | even | [+-]?B | [+-]?A?n ([+-] B)?
  bool anPlusB() {
    std::string word;
    const std::size_t start = pos_;
    if (identifier(&word)) {
      for (char& c : word)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (word == "odd" || word == "even") return true;
      pos_ = start;
    }
    if (peek() == '+' || peek() == '-') ++pos_;
    const bool digits = this->digits();
    if (peek() != 'n' && peek() != 'N') return digits;
    ++pos_;
    const std::size_t afterN = pos_;
    skipSpaces();
    if (peek() == '+' || peek() == '-') {
      ++pos_;
      skipSpaces();
      return this->digits();
    }
    pos_ = afterN;
    return true;
  }

  bool digits() {
    const std::size_t start = pos_;
    while (isDigit(peek())) ++pos_;
    return pos_ > start;
  }

  bool startsIdentifier() const {
    std::size_t at = pos_;
    if (at < text_.size() && text_[at] == '-') ++at;
    if (at < text_.size() && text_[at] == '-') return false;  // "--x": the engine cannot read it
    if (at >= text_.size()) return false;
    return isNameStart(text_[at]);
  }

  bool identifier(std::string* out) {
    if (!startsIdentifier()) return false;
    const std::size_t start = pos_;
    // No escapes: the engine misreads them (a leading one reads out of bounds).
    while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
    if (out) out->assign(text_.substr(start, pos_ - start));
    return true;
  }

  bool quotedString() {
    const char quote = peek();
    if (quote != '"' && quote != '\'') return false;
    ++pos_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == quote) {
        ++pos_;
        return true;
      }
      if (c == '\n' || c == '\r' || c == '\f') return false;
      if (c == '\\') {
        if (pos_ + 1 >= text_.size()) return false;
        ++pos_;
      }
      ++pos_;
    }
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::vector<std::size_t> combinators_;  // combinators with no space before them
};

}  // namespace

bool normalizeSelector(std::string_view selector, std::string* normalized) {
  SelectorSyntax syntax(selector);
  if (!syntax.wellFormed()) return false;
  *normalized = syntax.spacedCombinators();
  return true;
}

}  // namespace varnel::dom
