// innerText / outerText and textContent.
//
// The rendered text is what a browser shows with only its default styles:
// collapsible whitespace becomes one space, block boxes start and end on their
// own line (CR LF), <br> breaks the line, table cells are separated by tabs,
// and elements that are never displayed contribute nothing.
#include <algorithm>
#include <string>

#include "htmlquery/dom/dom_tree.h"

namespace varnel::dom {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kCellSeparator = "\t";

bool isHiddenElement(Node* node) {
  if (node->ns != MyHTML_NAMESPACE_HTML) return false;
  switch (node->tag_id) {
    case MyHTML_TAG_HEAD:
    case MyHTML_TAG_SCRIPT:
    case MyHTML_TAG_STYLE:
    case MyHTML_TAG_TEMPLATE:
    case MyHTML_TAG_TITLE:
    case MyHTML_TAG_NOSCRIPT:
    case MyHTML_TAG_NOEMBED:
    case MyHTML_TAG_NOFRAMES:
    case MyHTML_TAG_IFRAME:
    case MyHTML_TAG_DATALIST:
    case MyHTML_TAG_META:
    case MyHTML_TAG_LINK:
    case MyHTML_TAG_BASE:
    case MyHTML_TAG_PARAM:
    case MyHTML_TAG_RP:
      return true;
    default:
      return false;
  }
}

// Line breaks a block of this kind asks for before and after itself.
int blockBreaks(Node* node) {
  if (node->ns != MyHTML_NAMESPACE_HTML) return 0;
  switch (node->tag_id) {
    case MyHTML_TAG_P:
      return 2;
    case MyHTML_TAG_ADDRESS:
    case MyHTML_TAG_ARTICLE:
    case MyHTML_TAG_ASIDE:
    case MyHTML_TAG_BLOCKQUOTE:
    case MyHTML_TAG_BODY:
    case MyHTML_TAG_CAPTION:
    case MyHTML_TAG_CENTER:
    case MyHTML_TAG_DD:
    case MyHTML_TAG_DETAILS:
    case MyHTML_TAG_DIALOG:
    case MyHTML_TAG_DIR:
    case MyHTML_TAG_DIV:
    case MyHTML_TAG_DL:
    case MyHTML_TAG_DT:
    case MyHTML_TAG_FIELDSET:
    case MyHTML_TAG_FIGCAPTION:
    case MyHTML_TAG_FIGURE:
    case MyHTML_TAG_FOOTER:
    case MyHTML_TAG_FORM:
    case MyHTML_TAG_H1:
    case MyHTML_TAG_H2:
    case MyHTML_TAG_H3:
    case MyHTML_TAG_H4:
    case MyHTML_TAG_H5:
    case MyHTML_TAG_H6:
    case MyHTML_TAG_HEADER:
    case MyHTML_TAG_HGROUP:
    case MyHTML_TAG_HR:
    case MyHTML_TAG_HTML:
    case MyHTML_TAG_LEGEND:
    case MyHTML_TAG_LI:
    case MyHTML_TAG_LISTING:
    case MyHTML_TAG_MAIN:
    case MyHTML_TAG_MENU:
    case MyHTML_TAG_NAV:
    case MyHTML_TAG_OL:
    case MyHTML_TAG_PLAINTEXT:
    case MyHTML_TAG_PRE:
    case MyHTML_TAG_SECTION:
    case MyHTML_TAG_SUMMARY:
    case MyHTML_TAG_TABLE:
    case MyHTML_TAG_TR:
    case MyHTML_TAG_UL:
    case MyHTML_TAG_XMP:
    case MyHTML_TAG_OPTION:
    case MyHTML_TAG_SELECT:
    case MyHTML_TAG_TEXTAREA:
      return 1;
    default:
      return 0;
  }
}

bool keepsWhitespace(Node* node) {
  if (node->ns != MyHTML_NAMESPACE_HTML) return false;
  switch (node->tag_id) {
    case MyHTML_TAG_PRE:
    case MyHTML_TAG_TEXTAREA:
    case MyHTML_TAG_LISTING:
    case MyHTML_TAG_PLAINTEXT:
    case MyHTML_TAG_XMP:
      return true;
    default:
      return false;
  }
}

bool isTableCell(Node* node) {
  return isHtmlElement(node, MyHTML_TAG_TD) || isHtmlElement(node, MyHTML_TAG_TH);
}

bool isCollapsibleSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Collects text lazily: breaks and spaces are only written once more content
// follows, so nothing dangles at the start or the end.
class RenderedText {
 public:
  void requireBreaks(int count) {
    pendingBreaks_ = std::max(pendingBreaks_, count);
    pendingSpace_ = false;
  }
  void space() { pendingSpace_ = true; }
  void content(std::string_view piece) {
    if (piece.empty()) return;
    if (!out_.empty()) {
      if (pendingBreaks_ > 0) {
        for (int i = 0; i < pendingBreaks_; ++i) out_ += kLineBreak;
      } else if (pendingSpace_ && !lineStart_) {
        out_ += ' ';
      }
    }
    pendingBreaks_ = 0;
    pendingSpace_ = false;
    lineStart_ = false;
    out_ += piece;
  }
  // A break or separator written even where no content follows (<br>, tab).
  void separator(std::string_view text) {
    if (!out_.empty())
      for (int i = 0; i < pendingBreaks_; ++i) out_ += kLineBreak;
    pendingBreaks_ = 0;
    pendingSpace_ = false;
    lineStart_ = true;
    out_ += text;
  }
  void collapsedText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
      if (isCollapsibleSpace(text[i])) {
        space();
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < text.size() && !isCollapsibleSpace(text[end])) ++end;
      content(text.substr(i, end - i));
      i = end;
    }
  }
  void preservedText(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i < text.size() && text[i] != '\n' && text[i] != '\r') continue;
      if (i > start) content(text.substr(start, i - start));
      if (i < text.size()) {
        separator(kLineBreak);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      }
      start = i + 1;
    }
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
  int pendingBreaks_ = 0;
  bool pendingSpace_ = false;
  bool lineStart_ = true;
};

bool insidePreformatted(Node* node) {
  for (Node* n = node; n; n = n->parent)
    if (isElement(n) && keepsWhitespace(n)) return true;
  return false;
}

Node* nextElementSibling(Node* node) {
  for (Node* n = node->next; n; n = n->next)
    if (isElement(n)) return n;
  return nullptr;
}

}  // namespace

std::string renderedText(Node* root) {
  // A node that is never displayed answers with its plain text, as browsers do.
  if (isElement(root) && isHiddenElement(root)) return joinedText(root);
  RenderedText text;
  int preformatted = insidePreformatted(root) ? 1 : 0;
  walkSubtree(
      root,
      [&](Node* node) {
        if (isText(node)) {
          if (preformatted > 0)
            text.preservedText(nodeData(node));
          else
            text.collapsedText(nodeData(node));
          return false;
        }
        if (isDocument(node)) return true;
        if (!isElement(node) || isHiddenElement(node)) return false;
        if (isHtmlElement(node, MyHTML_TAG_BR)) {
          text.separator(kLineBreak);
          return false;
        }
        if (const int breaks = blockBreaks(node)) text.requireBreaks(breaks);
        if (keepsWhitespace(node) && node != root) ++preformatted;
        return true;
      },
      [&](Node* node) {
        if (!isElement(node) || isHiddenElement(node)) return;
        if (const int breaks = blockBreaks(node)) text.requireBreaks(breaks);
        if (keepsWhitespace(node) && node != root) --preformatted;
        if (isTableCell(node) && node != root) {
          Node* next = nextElementSibling(node);
          if (next && isTableCell(next)) text.separator(kCellSeparator);
        }
      });
  return text.take();
}

std::string joinedText(Node* root) {
  if (isText(root) || isComment(root)) return std::string(nodeData(root));
  std::string out;
  forEachDescendant(root, [&](Node* node) {
    if (isText(node)) out += nodeData(node);
  });
  return out;
}

}  // namespace varnel::dom
