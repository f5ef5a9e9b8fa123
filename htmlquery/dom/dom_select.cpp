// CSS selectors through modest's finder, with the guards its old snapshot
// needs: only selectors that passed our own syntax check, every parsed part
// checked again, results put back into document order.
#include <modest/finder/finder.h>
#include <mycss/an_plus_b.h>
#include <mycss/mycss.h>
#include <mycss/selectors/init.h>
#include <mycss/selectors/list.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "htmlquery/dom/dom_tree.h"

namespace varnel::dom {
namespace {

// The parser marks only the outer list as bad: a broken argument of :not( or
// :has( is left as a null list (the finder then dereferences it). Walk every
// nested list and accept only what the finder can run. Pseudo-elements never
// match elements, so they give the empty list as well.
bool parsedSelectorIsSound(mycss_selectors_list_t* outer) {
  std::vector<mycss_selectors_list_t*> pending{outer};
  while (!pending.empty()) {
    mycss_selectors_list_t* list = pending.back();
    pending.pop_back();
    if (!list || (list->flags & MyCSS_SELECTORS_FLAGS_SELECTOR_BAD) ||
        list->entries_list_length == 0 || !list->entries_list)
      return false;
    for (std::size_t i = 0; i < list->entries_list_length; ++i) {
      mycss_selectors_entry_t* entry = list->entries_list[i].entry;
      if (!entry) return false;
      for (; entry; entry = entry->next) {
        if (entry->flags & MyCSS_SELECTORS_FLAGS_SELECTOR_BAD) return false;
        switch (entry->type) {
          case MyCSS_SELECTORS_TYPE_ELEMENT:
          case MyCSS_SELECTORS_TYPE_ID:
          case MyCSS_SELECTORS_TYPE_CLASS:
          case MyCSS_SELECTORS_TYPE_ATTRIBUTE:
            break;
          case MyCSS_SELECTORS_TYPE_PSEUDO_CLASS:
            if (entry->sub_type <= MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_UNKNOWN) return false;
            break;
          case MyCSS_SELECTORS_TYPE_PSEUDO_CLASS_FUNCTION:
            if (!entry->value) return false;
            switch (entry->sub_type) {
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_NOT:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_HAS:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_MATCHES:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_CURRENT:
                pending.push_back(static_cast<mycss_selectors_list_t*>(entry->value));
                break;
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_NTH_CHILD:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_NTH_LAST_CHILD:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_NTH_OF_TYPE:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_NTH_LAST_OF_TYPE:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_NTH_COLUMN:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_NTH_LAST_COLUMN: {
                auto* step = static_cast<mycss_an_plus_b_entry_t*>(entry->value);
                if (step->is_broken) return false;
                if (step->of) pending.push_back(step->of);
                break;
              }
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_CONTAINS:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_DIR:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_DROP:
              case MyCSS_SELECTORS_SUB_TYPE_PSEUDO_CLASS_FUNCTION_LANG:
                break;
              default:
                return false;  // an unknown function
            }
            break;
          default:
            return false;  // pseudo-elements and anything unknown
        }
      }
    }
  }
  return true;
}

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
    const bool valid = status == MyCSS_STATUS_OK && parsedSelectorIsSound(list);
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

}  // namespace

bool selectElements(Node* scope, std::string_view selector, std::vector<Node*>* found) {
  found->clear();
  std::string normalized;
  if (!normalizeSelector(selector, &normalized)) return false;
  thread_local SelectorEngine engine;
  if (!engine.ready()) return false;
  // Combinators may reach above the scope ("div li" asked of a list inside a
  // div), but the finder does not look past the node it starts from: match
  // over the whole tree, then keep what lies below the scope.
  Node* root = scope;
  while (root->parent) root = root->parent;
  std::vector<Node*> matches;
  if (!engine.find(root, normalized, &matches)) return false;
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
