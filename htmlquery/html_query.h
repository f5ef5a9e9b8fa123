// HtmlQuery: path expressions over an HtmlDocument, answered as texts.
//
//   //div[@id='cemian']/div          outerHTML of every div child of that div
//   //li[@class='li1']/@@text        the text of every such li
//   //a/@href{%re[[0-9]+]re%}        an attribute, passed through filters
//
// An expression is cut into alternatives at "|" and into steps at each run of
// "/"; "//" walks descendants, "/" children. A tag step may carry conditions
// in brackets separated by "\" (indexes, ranges, comparisons, keywords such as
// or(2), rev(), max(@x)); an attribute step "@a&@b[joiner]" ends the path with
// one text per node. Filter bodies written as %kind[ ... ]kind% are protected
// before any cut, so they may hold any character.
//
// Nothing here throws. A malformed step or condition selects nothing, a bad
// regular expression leaves the value as it was, and positions count
// characters of code page 936 text (a lead byte starts a two-byte character).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "htmlquery/html_document.h"
#include "text/text.h"

namespace varnel {

namespace query {
struct Step;
struct Condition;
struct Filter;
struct StepOutput;
}  // namespace query

// Flags passed between the methods below are these texts; anything but
// kQueryTrue is false.
inline constexpr std::string_view kQueryTrue = "\xD5\xE6";   // 真
inline constexpr std::string_view kQueryFalse = "\xBC\xD9";  // 假

// One step of a path, taken apart by ParseStep.
struct StepSpec {
  // Tag name ("" and "*" take every element), ".." for the parent, "css" for
  // a selector step, or for an attribute step the whole attribute list.
  Text name;
  int axis = 0;                  // 1: began with "//" (descendants); 2: began with "/" (children)
  Text predicate;                // text inside the brackets, still protected
  std::vector<Text> conditions;  // predicate cut at every "\"
  Text isAttribute = Text(kQueryFalse);
  std::vector<Text> attributes;  // an attribute step's list cut at every "&"
  Text joiner = "\t";            // between the values of several attributes
};

// One condition, taken apart by ParseCondition. Positions are 1-based
// decimal texts into the keyword and operator tables; unset fields are empty.
struct ConditionSpec {
  Text keyword;  // "1".."7": and, or, rev, odd, even, max, min
  Text index;    // the condition itself when it is a number or a range "a~b"
  Text name;     // left of the operator: "@id", "@@text", ...
  Text op;       // "1".."8": != >= <= !<> <> > < =
  Text value;    // right of the operator, quotes removed, restored
  Text filters;  // between "{" and "}" after the name, still protected
  // A "(" or "{" without its partner: the condition cannot be evaluated.
  bool malformed = false;
};

class HtmlQuery {
 public:
  // --- entry points ------------------------------------------------------------
  // Parses `html` into a temporary document and evaluates `expression` on it.
  // The outputs are emptied first; `alternatives` and `steps` (restored
  // forms, for diagnostics) may be null. False only when the document cannot
  // be built; a query that finds nothing gives true and no texts.
  bool QueryHtml(std::string_view html, std::string_view expression, std::vector<Text>& texts,
                 std::vector<Text>* alternatives = nullptr, std::vector<Text>* steps = nullptr);
  // Replaces the member document; true when it was built and has children.
  bool LoadHtml(std::string_view html);
  // Evaluate on the member document (nothing found before any LoadHtml).
  void Query(std::string_view expression, std::vector<Text>& texts,
             std::vector<Text>* alternatives = nullptr, std::vector<Text>* steps = nullptr);

  // --- the language --------------------------------------------------------------
  // Mode 1 protects filter bodies, mode 2 restores them (a %t[ ]t% body
  // becomes its plain text, "%hhf%" becomes CR LF). An omitted mode, or any
  // other number, protects.
  Text TransformFilters(std::string_view text, std::optional<int> mode = std::nullopt) const;
  // The alternatives of an expression (protected forms), cut at "|".
  std::vector<Text> SplitAlternatives(std::string_view protectedExpression) const;
  // The steps of one protected alternative: a new step begins at each run of
  // "/"; each is blank-trimmed and blank pieces are dropped.
  std::vector<Text> SplitSteps(std::string_view protectedAlternative) const;
  // kQueryTrue when `step` (protected) parses; `parsed` is reset either way.
  Text ParseStep(std::string_view step, StepSpec& parsed) const;
  ConditionSpec ParseCondition(std::string_view condition) const;
  // Whether every step of every alternative of `expression` parses (brackets,
  // parentheses and braces paired, a step begins with "/"). On false,
  // `badStep` (when given) receives the first step that does not, restored,
  // or the empty text when the expression has no step at all.
  bool ExpressionParses(std::string_view expression, Text* badStep = nullptr) const;

  // --- evaluation ------------------------------------------------------------------
  // Every alternative in order; the texts of an attribute step at the end, or
  // else the outerHTML of each node reached. An empty `node` finds nothing.
  // A step keeps at most 200 000 nodes, so that an expression such as
  // "//*//*//*" on a deep page ends with the first of them.
  void Evaluate(std::string_view expression, const HtmlDocument& node, std::vector<Text>& texts,
                std::vector<Text>* alternatives = nullptr, std::vector<Text>* steps = nullptr);
  // One protected step from one context node. `isText` is kQueryTrue for an
  // attribute step (then `text` holds its one value, possibly empty) and
  // `isParent` for "..". Returns false with a `message` when the step cannot
  // be parsed or selects nothing.
  bool EvaluateStep(std::string_view step, const HtmlDocument& node,
                    std::vector<HtmlDocument>& nodes, Text& isText, Text& isParent, Text& text,
                    Text& message);
  // Child nodes / descendant elements whose tag name is `name` (ASCII case
  // ignored); "" and "*" take every element.
  std::vector<HtmlDocument> ChildrenByTag(const HtmlDocument& node, std::string_view name) const;
  std::vector<HtmlDocument> DescendantsByTag(const HtmlDocument& node, std::string_view name) const;
  // One flag per candidate. `previous` of another length counts as all true.
  std::vector<bool> FilterByCondition(const std::vector<HtmlDocument>& candidates,
                                      const std::vector<bool>& previous,
                                      const ConditionSpec& condition);
  // "@x" reads attribute x, "@@text"/"@@html"/"@@innerhtml"/"@@textcontent"
  // the node's text or markup, "@@@x" attribute x out of the markup itself.
  // False (and an empty value) for anything else or an absent attribute.
  bool ReadAttribute(const HtmlDocument& node, std::string_view name, Text& value) const;
  // The value written after `name=` in the node's outerHTML, or the empty text.
  Text ReadRawAttribute(const HtmlDocument& node, std::string_view name) const;
  // Applies a protected filter list ("%sswk%,%add[<,>]add%") to `value`;
  // true when the result is not empty.
  bool ApplyFilters(std::string_view value, std::string_view filters, Text& result);

 private:
  // The methods above take texts apart on every call; evaluation parses each
  // step once and runs these on the parsed forms.
  bool evaluateStep(const query::Step& step, const HtmlDocument& node, query::StepOutput& out);
  void evaluateAlternative(std::string_view protectedAlternative, const HtmlDocument& node,
                           std::vector<Text>& texts, std::vector<Text>* steps);
  std::vector<bool> filterByCondition(const std::vector<HtmlDocument>& candidates,
                                      const std::vector<bool>& previous,
                                      const query::Condition& condition);
  bool applyFilters(std::string_view value, const std::vector<query::Filter>& filters,
                    Text& result);

  HtmlDocument document_;
  // How deep %path[ ]path% filters have nested queries; bounded so that no
  // expression can exhaust the stack.
  int pathDepth_ = 0;
};

}  // namespace varnel
