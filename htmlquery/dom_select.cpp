// CSS selectors through modest's finder, with the guards its old snapshot
// needs: balanced input only, results put back into document order.
#include <modest/finder/finder.h>
#include <mycss/mycss.h>
#include <mycss/selectors/init.h>
#include <mycss/selectors/list.h>

#include <unordered_set>

#include "htmlquery/dom_tree.h"

namespace varnel::dom {
namespace {

// The selector parser and finder for this thread; they keep no state between
// queries and belong to no tree, so one per thread serves every document.
class SelectorEngine {
 public:
  SelectorEngine() {
    css_ = mycss_create();
    if (!css_ || mycss_init(css_) != MyCSS_STATUS_OK) return;
    entry_ = mycss_entry_create();
    if (!entry_ || mycss_entry_init(css_, entry_) != MyCSS_STATUS_OK) return;
    finder_ = modest_finder_create_simple();
  }
  ~SelectorEngine() {
    if (finder_) modest_finder_destroy(finder_, true);
    if (entry_) mycss_entry_destroy(entry_, true);
    if (css_) mycss_destroy(css_, true);
  }
  SelectorEngine(const SelectorEngine&) = delete;
  SelectorEngine& operator=(const SelectorEngine&) = delete;

  bool ready() const { return finder_ != nullptr; }

  // Matches in the order the finder gives them, or false when the selector
  // does not parse.
  bool find(Node* scope, std::string_view selector, std::vector<Node*>* matches) {
    mystatus_t status = MyCSS_STATUS_OK;
    mycss_selectors_t* selectors = mycss_entry_selectors(entry_);
    mycss_selectors_list_t* list = mycss_selectors_parse(selectors, MyENCODING_UTF_8,
                                                         selector.data(), selector.size(), &status);
    const bool valid = list && status == MyCSS_STATUS_OK &&
                       (list->flags & MyCSS_SELECTORS_FLAGS_SELECTOR_BAD) == 0;
    if (valid) {
      myhtml_collection_t* collection = nullptr;
      modest_finder_by_selectors_list(finder_, scope, list, &collection);
      if (collection) {
        matches->assign(collection->list, collection->list + collection->length);
        myhtml_collection_destroy(collection);
      }
    }
    if (list) mycss_selectors_list_destroy(selectors, list, true);
    mycss_entry_clean(entry_);
    return valid;
  }

 private:
  mycss_t* css_ = nullptr;
  mycss_entry_t* entry_ = nullptr;
  modest_finder_t* finder_ = nullptr;
};

bool isBlank(std::string_view text) {
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
  return true;
}

}  // namespace

bool selectorIsWellFormed(std::string_view selector) {
  std::string open;  // the brackets still open, innermost last
  char quote = 0;
  std::size_t groupStart = 0;  // where the current selector of the group began
  for (std::size_t i = 0; i < selector.size(); ++i) {
    const char c = selector[i];
    if (c == '\\') {
      if (++i >= selector.size()) return false;  // an escape of nothing
      continue;
    }
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    switch (c) {
      case '"':
      case '\'':
        quote = c;
        break;
      case '(':
      case '[':
        open += c;
        break;
      case ')':
      case ']':
        if (open.empty() || open.back() != (c == ')' ? '(' : '[')) return false;
        open.pop_back();
        break;
      case ',':
        // The engine accepts an empty member of a group ("a, " or ", a").
        if (open.empty()) {
          if (isBlank(selector.substr(groupStart, i - groupStart))) return false;
          groupStart = i + 1;
        }
        break;
      default:
        break;
    }
  }
  return quote == 0 && open.empty() && !isBlank(selector.substr(groupStart));
}

bool selectElements(Node* scope, std::string_view selector, std::vector<Node*>* found) {
  found->clear();
  if (!selectorIsWellFormed(selector)) return false;
  thread_local SelectorEngine engine;
  if (!engine.ready()) return false;
  // Combinators may reach above the scope ("div li" asked of a list inside a
  // div), but the finder does not look past the node it starts from: match
  // over the whole tree, then keep what lies below the scope.
  Node* root = scope;
  while (root->parent) root = root->parent;
  std::vector<Node*> matches;
  if (!engine.find(root, selector, &matches)) return false;
  if (matches.empty()) return true;
  // A selector group comes back grouped per selector, may repeat nodes and may
  // include the scope or non-elements: keep the scope's descendant elements,
  // once each, in document order.
  std::unordered_set<Node*> matched(matches.begin(), matches.end());
  forEachDescendant(scope, [&](Node* node) {
    if (isElement(node) && matched.count(node)) found->push_back(node);
  });
  return true;
}

}  // namespace varnel::dom
