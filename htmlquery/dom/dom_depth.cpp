// The parser checks the stack of open elements for every block-level start
// tag, so its time grows with the square of the nesting depth (100 000 nested
// <div>s took half a minute). A browser bounds the depth it builds; we do the
// same before the parser sees the page, in one linear pass that follows the
// nesting as the tree builder would (closely enough: optional end tags, void
// and raw-text elements, comments) and leaves out the tags that would open an
// element deeper than the bound, and their end tags. Their content stays.
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "htmlquery/dom/dom_tree.h"
#include "text/text.h"  // equalsIgnoringAsciiCase

namespace varnel::dom {
namespace {

using Names = std::initializer_list<std::string_view>;

constexpr std::size_t npos = std::string_view::npos;

const Names kVoidElements = {"area",  "base",  "basefont", "bgsound", "br",    "col",
                             "embed", "frame", "hr",       "img",     "input", "keygen",
                             "link",  "meta",  "param",    "source",  "track", "wbr"};
// Their content is text up to their own end tag.
const Names kRawTextElements = {"script", "style",   "textarea", "title",    "xmp",
                                "iframe", "noembed", "noframes", "plaintext"};
// Where "/>" closes an element at once.
const Names kForeignRoots = {"svg", "math"};
const Names kClosesParagraph = {
    "address", "article",  "aside",      "blockquote", "center", "details", "dialog", "dir", "div",
    "dl",      "fieldset", "figcaption", "figure",     "footer", "form",    "h1",     "h2",  "h3",
    "h4",      "h5",       "h6",         "header",     "hgroup", "main",    "menu",   "nav", "ol",
    "p",       "pre",      "section",    "summary",    "table",  "ul",      "li",     "dd",  "dt"};

bool isOneOf(std::string_view name, Names names) {
  for (std::string_view candidate : names)
    if (name == candidate) return true;
  return false;
}

// Whether opening `name` ends the current element `current` (an optional end tag).
bool endsCurrent(std::string_view name, std::string_view current) {
  if (current == "p") return isOneOf(name, kClosesParagraph);
  if (name == "li") return current == "li";
  if (name == "dt" || name == "dd") return isOneOf(current, {"dt", "dd"});
  if (name == "tr") return isOneOf(current, {"tr", "td", "th"});
  if (name == "td" || name == "th") return isOneOf(current, {"td", "th"});
  if (name == "option") return current == "option";
  if (name == "optgroup") return isOneOf(current, {"option", "optgroup"});
  return false;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char asciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Just past the '>' that ends the tag whose name ends at `from`; a quoted
// attribute value may hold '>'. npos when the tag never ends.
std::size_t endOfTag(std::string_view html, std::size_t from) {
  char quote = 0;
  char lastSeen = 0;
  for (std::size_t i = from; i < html.size(); ++i) {
    const char c = html[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '>') {
      return i + 1;
    } else if ((c == '"' || c == '\'') && lastSeen == '=') {
      quote = c;
    }
    if (!isTagSpace(c)) lastSeen = c;
  }
  return npos;
}

// Where "</name" starts at or after `from` (ASCII case ignored); npos when never.
std::size_t findEndTag(std::string_view html, std::string_view name, std::size_t from) {
  for (std::size_t at = html.find("</", from); at != npos; at = html.find("</", at + 2)) {
    const std::string_view candidate = html.substr(at + 2, name.size());
    if (candidate.size() == name.size() && equalsIgnoringAsciiCase(candidate, name)) return at;
  }
  return npos;
}

struct OpenElement {
  std::string name;
  bool dropped;
};

class DepthBound {
 public:
  DepthBound(std::string_view html, std::size_t maxDepth) : html_(html), maxDepth_(maxDepth) {}

  // The byte ranges of the tags to leave out, in page order.
  std::vector<std::pair<std::size_t, std::size_t>> run() {
    std::size_t pos = 0;
    while ((pos = html_.find('<', pos)) != npos) pos = step(pos);
    return drops_;
  }

 private:
  // Reads what starts at the '<' at `pos`; returns where to go on.
  std::size_t step(std::size_t pos) {
    if (html_.substr(pos, 4) == "<!--") {
      const std::size_t end = html_.find("-->", pos + 4);
      return end == npos ? html_.size() : end + 3;
    }
    const char next = pos + 1 < html_.size() ? html_[pos + 1] : 0;
    if (next == '!' || next == '?') {
      const std::size_t end = html_.find('>', pos);
      return end == npos ? html_.size() : end + 1;
    }
    const bool closing = next == '/';
    const std::size_t nameStart = pos + (closing ? 2 : 1);
    if (nameStart >= html_.size() || !isAsciiLetter(html_[nameStart])) return pos + 1;
    std::size_t nameEnd = nameStart;
    std::string name;
    while (nameEnd < html_.size() && !isTagSpace(html_[nameEnd]) && html_[nameEnd] != '/' &&
           html_[nameEnd] != '>') {
      name.push_back(asciiLowerChar(html_[nameEnd++]));
    }
    const std::size_t tagEnd = endOfTag(html_, nameEnd);
    if (tagEnd == npos) return html_.size();
    if (closing) {
      closeElement(name, pos, tagEnd);
      return tagEnd;
    }
    return openElement(name, pos, tagEnd);
  }

  std::size_t openElement(const std::string& name, std::size_t tagStart, std::size_t tagEnd) {
    if (isOneOf(name, kVoidElements)) return tagEnd;
    if (isOneOf(name, kRawTextElements)) {
      const std::size_t end = findEndTag(html_, name, tagEnd);
      return end == npos ? html_.size() : end;
    }
    const bool selfClosing = tagEnd >= 2 && html_[tagEnd - 2] == '/';
    if (selfClosing && foreignDepth_ > 0) return tagEnd;
    while (!open_.empty() && endsCurrent(name, open_.back().name)) pop();
    const bool dropped = open_.size() >= maxDepth_;
    if (dropped) drops_.emplace_back(tagStart, tagEnd);
    open_.push_back({name, dropped});
    ++counts_[name];
    if (isOneOf(name, kForeignRoots)) ++foreignDepth_;
    return tagEnd;
  }

  // An end tag closes its element and every element opened inside it; one
  // without an open element of its name is the parser's business.
  void closeElement(const std::string& name, std::size_t tagStart, std::size_t tagEnd) {
    auto count = counts_.find(name);
    if (count == counts_.end() || count->second == 0) return;
    for (;;) {
      const OpenElement element = pop();
      if (element.name != name) continue;
      if (element.dropped) drops_.emplace_back(tagStart, tagEnd);
      return;
    }
  }

  OpenElement pop() {
    OpenElement element = std::move(open_.back());
    open_.pop_back();
    --counts_[element.name];
    if (isOneOf(element.name, kForeignRoots)) --foreignDepth_;
    return element;
  }

  std::string_view html_;
  std::size_t maxDepth_;
  std::vector<OpenElement> open_;
  std::unordered_map<std::string, int> counts_;
  std::size_t foreignDepth_ = 0;
  std::vector<std::pair<std::size_t, std::size_t>> drops_;
};

}  // namespace

bool boundNestingDepth(std::string_view html, std::size_t maxDepth, std::string& bounded) {
  const auto drops = DepthBound(html, maxDepth).run();
  if (drops.empty()) return false;
  bounded.clear();
  bounded.reserve(html.size());
  std::size_t copied = 0;
  for (const auto& [start, end] : drops) {
    bounded.append(html.substr(copied, start - copied));
    copied = end;
  }
  bounded.append(html.substr(copied));
  return true;
}

}  // namespace varnel::dom
