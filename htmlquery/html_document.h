// HtmlDocument and HtmlNodeList: handles on a parsed HTML tree.
//
// A handle holds a share of the parsed tree plus one node (or one snapshot of
// nodes), so nodes and lists stay usable after the handle of their document is
// gone. Copying a handle shares the node; it never copies the tree.
//
// An empty handle is valid: every read on it gives the empty value of its type
// (empty text, 0, false, an empty handle or list). A failing read (no such
// node, an invalid selector, an index out of range) gives the same, never an
// exception. Text in and out is code page 936; the tree is UTF-8 inside.
// Scripts are never run. A handle is used by one thread at a time.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "text/text.h"

struct myhtml_tree_node;  // myhtml's node; its headers stay out of this one

namespace varnel {

namespace dom {
class Tree;  // one parsed document: owns the myhtml tree
}

// nodeType values of the DOM standard.
inline constexpr int kElementNode = 1;
inline constexpr int kTextNode = 3;
inline constexpr int kCommentNode = 8;
inline constexpr int kDocumentNode = 9;
inline constexpr int kDocumentTypeNode = 10;

// One DOM object: a node of a parsed tree with a share of that tree. The
// document itself is its tree's document node. No node means nothing.
struct DomObject {
  std::shared_ptr<dom::Tree> tree;
  myhtml_tree_node* node = nullptr;
};

// A node collection: a static snapshot of nodes of one tree, in document
// order. Later changes to the tree (there are none here) would not show.
struct DomCollection {
  std::shared_ptr<dom::Tree> tree;
  std::shared_ptr<const std::vector<myhtml_tree_node*>> nodes;
};

class HtmlNodeList;

class HtmlDocument {
 public:
  HtmlDocument() = default;  // holds nothing
  explicit HtmlDocument(DomObject object);

  // --- loading -------------------------------------------------------------
  // A fresh empty document (html, head and body, as a browser builds one).
  // Returns false, and the handle holds nothing, when it cannot be created.
  bool newDocument();
  // Parses `html` into a fresh document; scripts in it are not run. The empty
  // text gives a document with empty head and body. Elements nested deeper
  // than 512 levels are not built: their text joins the element at that depth.
  // False as newDocument.
  bool loadHtml(std::string_view html);
  // Wraps `object`, dropping what the handle held. An object without a tree
  // or node makes the handle empty.
  void attach(DomObject object);

  // --- lists (static snapshots, elements in document order) ---------------
  // Descendant elements by tag name, ASCII case-insensitive; "*" is every one.
  HtmlNodeList getElementsByTagName(std::string_view name) const;
  // Descendant elements whose name attribute equals `name` exactly.
  HtmlNodeList getElementsByName(std::string_view name) const;
  // Descendant elements carrying every class of the space-separated `names`;
  // no class at all gives the empty list.
  HtmlNodeList getElementsByClassName(std::string_view names) const;
  // Every child node: elements, text, comments (and the doctype on a document).
  HtmlNodeList childNodes() const;
  // Every descendant element in document order (html, head, body included on
  // the document).
  HtmlNodeList all() const;
  // Descendant elements matching the CSS selector, in document order without
  // duplicates. An invalid or empty selector gives the empty list, and so do
  // pseudo-elements, escapes in names and functions the engine lacks (:is).
  HtmlNodeList querySelectorAll(std::string_view selector) const;
  // querySelectorAll on a copy of this node's outerHTML parsed as a document of
  // its own: the selector sees only that copy. The list keeps the copy alive.
  HtmlNodeList querySelectorAllDetached(std::string_view selector) const;

  // --- single nodes ----------------------------------------------------------
  // First of querySelectorAll, or an empty handle.
  HtmlDocument querySelector(std::string_view selector) const;
  // First descendant element whose id equals `id` exactly; the empty id finds
  // nothing.
  HtmlDocument getElementById(std::string_view id) const;
  // The parent node; the document's parent is the empty handle.
  HtmlDocument parentNode() const;
  // The body element; only the document has one (empty for any other node).
  HtmlDocument body() const;
  // A handle holding nothing.
  HtmlDocument emptyNode() const;

  // --- reads -------------------------------------------------------------------
  // Attribute names match ASCII case-insensitively; non-elements have none.
  bool hasAttribute(std::string_view name) const;
  bool hasAttributes() const;
  bool hasChildNodes() const;
  // One of the k...Node constants; 0 for an empty handle.
  int nodeType() const;
  // The attribute as written; an absent attribute gives the empty text.
  Text getAttribute(std::string_view name) const;
  // Upper case for HTML elements; empty for anything that is not an element.
  Text tagName() const;
  // On the document: the text of its title element, spaces collapsed. On an
  // element: its title attribute.
  Text title() const;
  Text id() const;
  Text className() const;
  // The href attribute as written (no base address is applied).
  Text href() const;
  // The text as rendered without CSS: whitespace collapsed, CR LF between
  // blocks and for <br>, nothing from script, style, template or head.
  Text outerText() const;
  Text innerText() const;
  // Every text below the node joined (scripts included); a text or comment
  // node gives its own data.
  Text textContent() const;
  // Serialised HTML of the children; of the node itself with outerHTML. On the
  // document both give the whole document, doctype included.
  Text innerHTML() const;
  Text outerHTML() const;

  // --- for the query engine --------------------------------------------------
  bool isEmpty() const { return object_.node == nullptr; }
  const DomObject& object() const { return object_; }
  // The same node of the same tree.
  friend bool operator==(const HtmlDocument& a, const HtmlDocument& b) {
    return a.object_.node == b.object_.node;
  }

 private:
  DomObject object_;
};

class HtmlNodeList {
 public:
  HtmlNodeList() = default;  // holds nothing: length 0
  explicit HtmlNodeList(DomCollection collection);

  // Wraps `collection`, dropping what the list held.
  void attach(DomCollection collection);
  // 1-based. Out of range (including 0 and negatives) gives an empty handle.
  HtmlDocument item(int index = 1) const;
  HtmlDocument element(int index = 1) const { return item(index); }
  int length() const;

  const DomCollection& collection() const { return collection_; }

 private:
  DomCollection collection_;
};

}  // namespace varnel
