// HTML serialisation (innerHTML / outerHTML), written as a walk so that deeply
// nested pages cannot exhaust the stack.
#include <cstdio>  // snprintf
#include <string>

#include "htmlquery/dom/dom_tree.h"

namespace varnel::dom {
namespace {

constexpr std::string_view kNbsp = "\xC2\xA0";

bool isVoidElement(Node* node) {
  if (node->ns != MyHTML_NAMESPACE_HTML) return false;
  switch (node->tag_id) {
    case MyHTML_TAG_AREA:
    case MyHTML_TAG_BASE:
    case MyHTML_TAG_BASEFONT:
    case MyHTML_TAG_BGSOUND:
    case MyHTML_TAG_BR:
    case MyHTML_TAG_COL:
    case MyHTML_TAG_EMBED:
    case MyHTML_TAG_FRAME:
    case MyHTML_TAG_HR:
    case MyHTML_TAG_IMG:
    case MyHTML_TAG_INPUT:
    case MyHTML_TAG_KEYGEN:
    case MyHTML_TAG_LINK:
    case MyHTML_TAG_META:
    case MyHTML_TAG_PARAM:
    case MyHTML_TAG_SOURCE:
    case MyHTML_TAG_TRACK:
    case MyHTML_TAG_WBR:
      return true;
    default:
      return false;
  }
}

// Text inside these parents is written as it is, without escapes.
bool holdsRawText(Node* node) {
  if (!node || node->ns != MyHTML_NAMESPACE_HTML) return false;
  switch (node->tag_id) {
    case MyHTML_TAG_STYLE:
    case MyHTML_TAG_SCRIPT:
    case MyHTML_TAG_XMP:
    case MyHTML_TAG_IFRAME:
    case MyHTML_TAG_NOEMBED:
    case MyHTML_TAG_NOFRAMES:
    case MyHTML_TAG_PLAINTEXT:
      return true;
    default:
      return false;
  }
}

// Characters beyond the Basic Multilingual Plane have no code page 936 form:
// written as references they survive the trip through Text and back.
void appendEscaped(std::string& out, std::string_view text, bool inAttribute) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '&') {
      out += "&amp;";
    } else if (text.substr(i, 2) == kNbsp) {
      out += "&nbsp;";
      ++i;
    } else if (inAttribute && c == '"') {
      out += "&quot;";
    } else if (!inAttribute && c == '<') {
      out += "&lt;";
    } else if (!inAttribute && c == '>') {
      out += "&gt;";
    } else if (byte >= 0xF0 && i + 3 < text.size()) {
      const unsigned cp = ((byte & 0x07u) << 18) |
                          ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 12) |
                          ((static_cast<unsigned char>(text[i + 2]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(text[i + 3]) & 0x3Fu);
      char buffer[16];
      const int length = std::snprintf(buffer, sizeof buffer, "&#x%X;", cp);
      out.append(buffer, static_cast<std::size_t>(length));
      i += 3;
    } else {
      out += c;
    }
  }
}

void openTag(std::string& out, Node* node) {
  out += '<';
  out += localName(node);
  for (myhtml_tree_attr_t* attr = myhtml_node_attribute_first(node); attr;
       attr = myhtml_attribute_next(attr)) {
    size_t keyLength = 0, valueLength = 0;
    const char* key = myhtml_attribute_key(attr, &keyLength);
    const char* value = myhtml_attribute_value(attr, &valueLength);
    if (!key || keyLength == 0) continue;
    out += ' ';
    out.append(key, keyLength);
    out += "=\"";
    if (value) appendEscaped(out, std::string_view(value, valueLength), true);
    out += '"';
  }
  out += '>';
}

void writeDoctype(std::string& out, Node* node) {
  out += "<!DOCTYPE";
  size_t length = 0;
  myhtml_tree_attr_t* attr = myhtml_node_attribute_first(node);
  const char* name = attr ? myhtml_attribute_key(attr, &length) : nullptr;
  if (name && length) {
    out += ' ';
    out.append(name, length);
  }
  out += '>';
}

}  // namespace

std::string serializeHtml(Node* root, bool includeSelf) {
  std::string out;
  walkSubtree(
      root,
      [&](Node* node) {
        if (node == root && (!includeSelf || isDocument(node))) return true;
        if (isText(node)) {
          if (holdsRawText(node->parent))
            out += nodeData(node);
          else
            appendEscaped(out, nodeData(node), false);
        } else if (isComment(node)) {
          out += "<!--";
          out += nodeData(node);
          out += "-->";
        } else if (isDoctype(node)) {
          writeDoctype(out, node);
        } else if (isElement(node)) {
          openTag(out, node);
          return !isVoidElement(node);
        }
        return false;
      },
      [&](Node* node) {
        if (node == root && (!includeSelf || isDocument(node))) return;
        if (isElement(node) && !isVoidElement(node)) {
          out += "</";
          out += localName(node);
          out += '>';
        }
      });
  return out;
}

}  // namespace varnel::dom
