// Parsing and per-node reads over myhtml.
#include "htmlquery/dom/dom_tree.h"

#include <memory>

#include "text/text.h"  // equalsIgnoringAsciiCase

namespace varnel::dom {

Tree::~Tree() {
  if (tree_) myhtml_tree_destroy(tree_);
  if (parser_) myhtml_destroy(parser_);
}

std::shared_ptr<Tree> Tree::parse(std::string_view utf8) {
  std::shared_ptr<Tree> tree(new Tree());
  tree->parser_ = myhtml_create();
  if (!tree->parser_) return nullptr;
  // Single-threaded: the parse runs on the caller's thread and nothing else.
  if (myhtml_init(tree->parser_, MyHTML_OPTIONS_PARSE_MODE_SINGLE, 1, 0) != MyHTML_STATUS_OK)
    return nullptr;
  tree->tree_ = myhtml_tree_create();
  if (!tree->tree_) return nullptr;
  if (myhtml_tree_init(tree->tree_, tree->parser_) != MyHTML_STATUS_OK) {
    myhtml_tree_destroy(tree->tree_);
    tree->tree_ = nullptr;
    return nullptr;
  }
  // Deep nesting costs the parser the square of its depth.
  std::string bounded;
  if (boundNestingDepth(utf8, kMaxTreeDepth, bounded)) utf8 = bounded;
  static const char kNothing[] = "";
  const char* data = utf8.empty() ? kNothing : utf8.data();
  if (myhtml_parse(tree->tree_, MyENCODING_UTF_8, data, utf8.size()) != MyHTML_STATUS_OK)
    return nullptr;
  if (!tree->document()) return nullptr;
  return tree;
}

std::string_view localName(Node* node) {
  size_t length = 0;
  const char* name = myhtml_tag_name_by_id(node->tree, node->tag_id, &length);
  return name ? std::string_view(name, length) : std::string_view();
}

std::string_view nodeData(Node* node) {
  size_t length = 0;
  const char* data = myhtml_node_text(node, &length);
  return data ? std::string_view(data, length) : std::string_view();
}

bool findAttribute(Node* node, std::string_view name, std::string_view* value) {
  if (!isElement(node)) return false;
  for (myhtml_tree_attr_t* attr = myhtml_node_attribute_first(node); attr;
       attr = myhtml_attribute_next(attr)) {
    size_t keyLength = 0;
    const char* key = myhtml_attribute_key(attr, &keyLength);
    if (!key || !equalsIgnoringAsciiCase(std::string_view(key, keyLength), name)) continue;
    size_t valueLength = 0;
    const char* data = myhtml_attribute_value(attr, &valueLength);
    *value = data ? std::string_view(data, valueLength) : std::string_view();
    return true;
  }
  return false;
}

bool hasAnyAttribute(Node* node) {
  return isElement(node) && myhtml_node_attribute_first(node) != nullptr;
}

}  // namespace varnel::dom
