// Handle operations; the tree, walks and serialisation live in dom_*.cpp.
#include "htmlquery/html_document.h"

namespace varnel {

HtmlDocument::HtmlDocument(DomObject object) { attach(std::move(object)); }

bool HtmlDocument::newDocument() { return false; }
bool HtmlDocument::loadHtml(std::string_view) { return false; }
void HtmlDocument::attach(DomObject object) {
  if (!object.tree || !object.node) object = {};
  object_ = std::move(object);
}

HtmlNodeList HtmlDocument::getElementsByTagName(std::string_view) const { return {}; }
HtmlNodeList HtmlDocument::getElementsByName(std::string_view) const { return {}; }
HtmlNodeList HtmlDocument::getElementsByClassName(std::string_view) const { return {}; }
HtmlNodeList HtmlDocument::childNodes() const { return {}; }
HtmlNodeList HtmlDocument::all() const { return {}; }
HtmlNodeList HtmlDocument::querySelectorAll(std::string_view) const { return {}; }
HtmlNodeList HtmlDocument::querySelectorAllDetached(std::string_view) const { return {}; }
HtmlDocument HtmlDocument::querySelector(std::string_view) const { return {}; }
HtmlDocument HtmlDocument::getElementById(std::string_view) const { return {}; }
HtmlDocument HtmlDocument::parentNode() const { return {}; }
HtmlDocument HtmlDocument::body() const { return {}; }
HtmlDocument HtmlDocument::emptyNode() const { return {}; }
bool HtmlDocument::hasAttribute(std::string_view) const { return false; }
bool HtmlDocument::hasAttributes() const { return false; }
bool HtmlDocument::hasChildNodes() const { return false; }
int HtmlDocument::nodeType() const { return 0; }
Text HtmlDocument::getAttribute(std::string_view) const { return {}; }
Text HtmlDocument::tagName() const { return {}; }
Text HtmlDocument::title() const { return {}; }
Text HtmlDocument::id() const { return {}; }
Text HtmlDocument::className() const { return {}; }
Text HtmlDocument::href() const { return {}; }
Text HtmlDocument::outerText() const { return {}; }
Text HtmlDocument::innerText() const { return {}; }
Text HtmlDocument::textContent() const { return {}; }
Text HtmlDocument::innerHTML() const { return {}; }
Text HtmlDocument::outerHTML() const { return {}; }

HtmlNodeList::HtmlNodeList(DomCollection collection) { attach(std::move(collection)); }
void HtmlNodeList::attach(DomCollection collection) {
  if (!collection.tree || !collection.nodes) collection = {};
  collection_ = std::move(collection);
}
HtmlDocument HtmlNodeList::item(int index) const {
  if (!collection_.nodes || index < 1 ||
      static_cast<std::size_t>(index) > collection_.nodes->size())
    return {};
  return HtmlDocument(DomObject{collection_.tree, (*collection_.nodes)[index - 1]});
}
int HtmlNodeList::length() const {
  return collection_.nodes ? static_cast<int>(collection_.nodes->size()) : 0;
}

}  // namespace varnel
