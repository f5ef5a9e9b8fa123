// Handle operations: conversions at the edge, everything else in dom_*.cpp.
#include "htmlquery/html_document.h"

#include <algorithm>  // find
#include <cassert>

#include "htmlquery/dom/dom_tree.h"

namespace varnel {
namespace {

using dom::Node;

constexpr std::string_view kUtf8Nbsp = "\xC2\xA0";

// Code page 936 has no no-break space: it would come out as '?', so texts read
// from the page carry a plain space instead.
Text toText(std::string_view utf8) {
  std::size_t at = utf8.find(kUtf8Nbsp);
  if (at == std::string_view::npos) return utf8BytesToText(utf8);
  std::string plain;
  plain.reserve(utf8.size());
  std::size_t from = 0;
  for (; at != std::string_view::npos; at = utf8.find(kUtf8Nbsp, from)) {
    plain.append(utf8.substr(from, at - from));
    plain += ' ';
    from = at + kUtf8Nbsp.size();
  }
  plain.append(utf8.substr(from));
  return utf8BytesToText(plain);
}

std::string toUtf8(std::string_view text) {
  std::string utf8 = textToUtf8(text);
  // The parser passes invalid UTF-8 through unchecked; our own conversion
  // never produces any.
  assert(isValidUtf8(utf8));
  return utf8;
}

HtmlNodeList makeList(const DomObject& owner, std::vector<Node*> nodes) {
  return HtmlNodeList(
      DomCollection{owner.tree, std::make_shared<const std::vector<Node*>>(std::move(nodes))});
}

Text attributeText(Node* node, std::string_view name) {
  std::string_view value;
  if (!node || !dom::findAttribute(node, name, &value)) return {};
  return toText(value);
}

Text uppercaseAscii(std::string_view name) {
  Text out(name);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::vector<std::string_view> classNames(std::string_view text) {
  std::vector<std::string_view> names;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isAsciiSpace(text[i])) ++i;
    std::size_t end = i;
    while (end < text.size() && !isAsciiSpace(text[end])) ++end;
    if (end > i) names.push_back(text.substr(i, end - i));
    i = end;
  }
  return names;
}

// Title text with ASCII whitespace stripped and collapsed, as document.title.
std::string collapseSpaces(std::string_view text) {
  std::string out;
  for (const std::string_view word : classNames(text)) {
    if (!out.empty()) out += ' ';
    out += word;
  }
  return out;
}

}  // namespace

HtmlDocument::HtmlDocument(DomObject object) { attach(std::move(object)); }

bool HtmlDocument::newDocument() { return loadHtml({}); }

bool HtmlDocument::loadHtml(std::string_view html) {
  object_ = {};
  std::shared_ptr<dom::Tree> tree = dom::Tree::parse(toUtf8(html));
  if (!tree) return false;
  Node* document = tree->document();
  object_ = DomObject{std::move(tree), document};
  return true;
}

void HtmlDocument::attach(DomObject object) {
  if (!object.tree || !object.node) object = {};
  object_ = std::move(object);
}

HtmlNodeList HtmlDocument::getElementsByTagName(std::string_view name) const {
  if (isEmpty()) return {};
  const std::string wanted = toUtf8(name);
  const bool every = wanted == "*";
  return makeList(object_, dom::collectElements(object_.node, [&](Node* node) {
                    return every || equalsIgnoringAsciiCase(dom::localName(node), wanted);
                  }));
}

HtmlNodeList HtmlDocument::getElementsByName(std::string_view name) const {
  if (isEmpty()) return {};
  const std::string wanted = toUtf8(name);
  return makeList(object_, dom::collectElements(object_.node, [&](Node* node) {
                    std::string_view value;
                    return dom::findAttribute(node, "name", &value) && value == wanted;
                  }));
}

HtmlNodeList HtmlDocument::getElementsByClassName(std::string_view names) const {
  if (isEmpty()) return {};
  const std::string utf8 = toUtf8(names);
  const std::vector<std::string_view> wanted = classNames(utf8);
  if (wanted.empty()) return makeList(object_, {});
  return makeList(object_, dom::collectElements(object_.node, [&](Node* node) {
                    std::string_view value;
                    if (!dom::findAttribute(node, "class", &value)) return false;
                    const std::vector<std::string_view> present = classNames(value);
                    for (const std::string_view name : wanted)
                      if (std::find(present.begin(), present.end(), name) == present.end())
                        return false;
                    return true;
                  }));
}

HtmlNodeList HtmlDocument::childNodes() const {
  if (isEmpty()) return {};
  std::vector<Node*> children;
  for (Node* child = object_.node->child; child; child = child->next) children.push_back(child);
  return makeList(object_, std::move(children));
}

HtmlNodeList HtmlDocument::all() const {
  if (isEmpty()) return {};
  return makeList(object_, dom::collectElements(object_.node, [](Node*) { return true; }));
}

HtmlNodeList HtmlDocument::querySelectorAll(std::string_view selector) const {
  if (isEmpty()) return {};
  std::vector<Node*> found;
  if (!dom::selectElements(object_.node, toUtf8(selector), &found)) return {};
  return makeList(object_, std::move(found));
}

HtmlNodeList HtmlDocument::querySelectorAllDetached(std::string_view selector) const {
  HtmlDocument copy;
  if (!copy.loadHtml(outerHTML())) return {};
  return copy.querySelectorAll(selector);
}

HtmlDocument HtmlDocument::querySelector(std::string_view selector) const {
  return querySelectorAll(selector).item(1);
}

HtmlDocument HtmlDocument::getElementById(std::string_view id) const {
  if (isEmpty() || id.empty()) return {};
  const std::string wanted = toUtf8(id);
  Node* match = nullptr;
  dom::forEachDescendant(object_.node, [&](Node* node) {
    std::string_view value;
    if (!match && dom::findAttribute(node, "id", &value) && value == wanted) match = node;
  });
  return HtmlDocument(DomObject{object_.tree, match});
}

HtmlDocument HtmlDocument::parentNode() const {
  if (isEmpty()) return {};
  return HtmlDocument(DomObject{object_.tree, object_.node->parent});
}

HtmlDocument HtmlDocument::body() const {
  if (isEmpty() || !dom::isDocument(object_.node)) return {};
  return HtmlDocument(DomObject{object_.tree, object_.tree->body()});
}

HtmlDocument HtmlDocument::emptyNode() const { return {}; }

bool HtmlDocument::hasAttribute(std::string_view name) const {
  std::string_view value;
  return !isEmpty() && dom::findAttribute(object_.node, toUtf8(name), &value);
}

bool HtmlDocument::hasAttributes() const {
  return !isEmpty() && dom::hasAnyAttribute(object_.node);
}

bool HtmlDocument::hasChildNodes() const { return !isEmpty() && object_.node->child != nullptr; }

int HtmlDocument::nodeType() const {
  if (isEmpty()) return 0;
  Node* node = object_.node;
  if (dom::isDocument(node)) return kDocumentNode;
  if (dom::isText(node)) return kTextNode;
  if (dom::isComment(node)) return kCommentNode;
  if (dom::isDoctype(node)) return kDocumentTypeNode;
  return kElementNode;
}

Text HtmlDocument::getAttribute(std::string_view name) const {
  return isEmpty() ? Text() : attributeText(object_.node, toUtf8(name));
}

Text HtmlDocument::tagName() const {
  if (isEmpty() || !dom::isElement(object_.node)) return {};
  const std::string_view name = dom::localName(object_.node);
  return object_.node->ns == MyHTML_NAMESPACE_HTML ? uppercaseAscii(name) : toText(name);
}

Text HtmlDocument::title() const {
  if (isEmpty()) return {};
  if (!dom::isDocument(object_.node)) return attributeText(object_.node, "title");
  Node* titleElement = nullptr;
  dom::forEachDescendant(object_.node, [&](Node* node) {
    if (!titleElement && dom::isHtmlElement(node, MyHTML_TAG_TITLE)) titleElement = node;
  });
  return titleElement ? toText(collapseSpaces(dom::joinedText(titleElement))) : Text();
}

Text HtmlDocument::id() const { return isEmpty() ? Text() : attributeText(object_.node, "id"); }

Text HtmlDocument::className() const {
  return isEmpty() ? Text() : attributeText(object_.node, "class");
}

Text HtmlDocument::href() const { return isEmpty() ? Text() : attributeText(object_.node, "href"); }

Text HtmlDocument::outerText() const { return innerText(); }

Text HtmlDocument::innerText() const {
  return isEmpty() ? Text() : toText(dom::renderedText(object_.node));
}

Text HtmlDocument::textContent() const {
  return isEmpty() ? Text() : toText(dom::joinedText(object_.node));
}

Text HtmlDocument::innerHTML() const {
  return isEmpty() ? Text() : utf8BytesToText(dom::serializeHtml(object_.node, false));
}

Text HtmlDocument::outerHTML() const {
  return isEmpty() ? Text() : utf8BytesToText(dom::serializeHtml(object_.node, true));
}

HtmlNodeList::HtmlNodeList(DomCollection collection) { attach(std::move(collection)); }

void HtmlNodeList::attach(DomCollection collection) {
  if (!collection.tree || !collection.nodes) collection = {};
  collection_ = std::move(collection);
}

HtmlDocument HtmlNodeList::item(int index) const {
  if (!collection_.nodes || index < 1 ||
      static_cast<std::size_t>(index) > collection_.nodes->size())
    return {};
  return HtmlDocument(
      DomObject{collection_.tree, (*collection_.nodes)[static_cast<std::size_t>(index) - 1]});
}

int HtmlNodeList::length() const {
  return collection_.nodes ? static_cast<int>(collection_.nodes->size()) : 0;
}

}  // namespace varnel
