// The parsed tree behind the handles, and the walks over it. Private to the
// DOM layer: only dom_*.cpp and html_document.cpp include this.
#pragma once

// myhtml/api.h redeclares everything these headers declare; never include it.
#include <myhtml/myhtml.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::dom {

using Node = myhtml_tree_node_t;

// One parsed document with its own parser instance (cheap to create, and it
// keeps trees independent of the thread that made them).
class Tree {
 public:
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  ~Tree();

  // Parses UTF-8 text; nullptr when the parser could not be set up.
  static std::shared_ptr<Tree> parse(std::string_view utf8);

  Node* document() const { return myhtml_tree_get_document(tree_); }
  Node* body() const { return myhtml_tree_get_node_body(tree_); }

 private:
  Tree() = default;
  myhtml_t* parser_ = nullptr;
  myhtml_tree_t* tree_ = nullptr;
};

// --- node kinds and names ----------------------------------------------------
inline bool isDocument(const Node* node) {
  return node->parent == nullptr && node->tag_id == MyHTML_TAG__UNDEF;
}
inline bool isText(const Node* node) { return node->tag_id == MyHTML_TAG__TEXT; }
inline bool isComment(const Node* node) { return node->tag_id == MyHTML_TAG__COMMENT; }
inline bool isDoctype(const Node* node) { return node->tag_id == MyHTML_TAG__DOCTYPE; }
inline bool isElement(const Node* node) {
  return !isDocument(node) && node->tag_id > MyHTML_TAG__DOCTYPE &&
         node->tag_id != MyHTML_TAG__END_OF_FILE;
}
inline bool isHtmlElement(const Node* node, myhtml_tag_id_t tag) {
  return node->tag_id == tag && node->ns == MyHTML_NAMESPACE_HTML;
}

// The element's name as parsed (lower case for HTML elements).
std::string_view localName(Node* node);
// Data of a text or comment node.
std::string_view nodeData(Node* node);
// The attribute's value, matching the name ASCII case-insensitively; false
// when the element has no such attribute (or the node is no element).
bool findAttribute(Node* node, std::string_view name, std::string_view* value);
bool hasAnyAttribute(Node* node);

// --- walks ---------------------------------------------------------------------
// Depth-first over `root` and everything below it, without recursion (pages
// can nest deeper than the stack allows). `enter(node)` returns whether to go
// into the node's children; `leave(node)` follows the node and its children.
template <typename Enter, typename Leave>
void walkSubtree(Node* root, Enter&& enter, Leave&& leave) {
  Node* node = root;
  for (;;) {
    if (enter(node) && node->child) {
      node = node->child;
      continue;
    }
    for (;;) {
      leave(node);
      if (node == root) return;
      if (node->next) {
        node = node->next;
        break;
      }
      node = node->parent;
    }
  }
}

// Every node strictly below `root`, in document order.
template <typename Visit>
void forEachDescendant(Node* root, Visit&& visit) {
  Node* node = root->child;
  while (node) {
    visit(node);
    if (node->child) {
      node = node->child;
      continue;
    }
    while (node != root && !node->next) node = node->parent;
    node = node == root ? nullptr : node->next;
  }
}

// Descendant elements of `root` for which `keep` holds, in document order.
template <typename Keep>
std::vector<Node*> collectElements(Node* root, Keep&& keep) {
  std::vector<Node*> found;
  forEachDescendant(root, [&](Node* node) {
    if (isElement(node) && keep(node)) found.push_back(node);
  });
  return found;
}

// --- before parsing ----------------------------------------------------------------
// Elements are built at most this deep; the tags of deeper ones are left out
// and their content joins the element at the bound (as browsers bound it).
inline constexpr std::size_t kMaxTreeDepth = 512;
// dom_depth.cpp: `html` without the tags that would open an element deeper
// than `maxDepth`, in `bounded`; false (and `bounded` untouched) when the page
// stays within the bound, as almost every page does.
bool boundNestingDepth(std::string_view html, std::size_t maxDepth, std::string& bounded);

// --- reads implemented in their own files ---------------------------------------
// dom_serialize.cpp: HTML of the node's children, or of the node itself too.
std::string serializeHtml(Node* node, bool includeSelf);
// dom_text.cpp: the text as rendered without CSS, and the plain text join.
std::string renderedText(Node* node);
std::string joinedText(Node* node);
// dom_select.cpp: descendant elements of `scope` matching a CSS selector, in
// document order without duplicates; false for an invalid selector.
bool selectElements(Node* scope, std::string_view selector, std::vector<Node*>* found);
// dom_selector_syntax.cpp: strict selector syntax; the selector engine is only
// given selectors that pass (its error recovery is unsafe), in the spacing it
// parses correctly. False for a selector that is not well formed.
bool normalizeSelector(std::string_view selector, std::string* normalized);

}  // namespace varnel::dom
