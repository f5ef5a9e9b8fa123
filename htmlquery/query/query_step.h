// A step, its conditions and its filters, taken apart once per expression so
// that evaluating them for every context node only reads fields. The public
// StepSpec / ConditionSpec forms are built from these at the edges.
#pragma once

#include <vector>

#include "htmlquery/html_document.h"
#include "htmlquery/query/query_support.h"
#include "text/text.h"

namespace varnel::query {

// One action of a filter list ("%del[x]del%,%sswk%"), arguments restored.
enum class FilterAction { Delete, Path, Replace, Middle, Add, Trim, Regex, Format };
struct Filter {
  FilterAction action = FilterAction::Trim;
  Text first{};               // the piece, the pattern, the expression, or the left argument
  Text second{};              // the right argument of %th% %mid% %add%
  bool fromEnd = false;       // %mid%: the right marker is searched from the end
  std::vector<Text> parts{};  // %f%: the texts around each %text%
};

// An index "n" or a range "a~b"; a negative bound counts from the end.
struct Positions {
  bool range = false;
  bool valid = true;  // a range needs exactly two integer bounds
  long long first = 0;
  long long last = 0;
};

struct Condition {
  Keyword keyword = kNoKeyword;  // as written; positions outside the table are none
  bool hasIndex = false;
  Positions positions;
  Text name;                  // "@id", "@@text", ...
  bool compares = false;      // an operator was written
  Operator op = kNoOperator;  // kNoOperator when unknown
  Text wanted;                // the value compared with, line breaks resolved
  bool hasFilters = false;    // "{...}" held text, even if no filter
  std::vector<Filter> filters;
  bool malformed = false;  // a "(" or "{" without its partner

  // The written forms, for ConditionSpec.
  Text indexText, value, filterText;
};

enum class StepKind { Elements, Parent, Css, Attributes };
struct Step {
  bool parsed = false;  // false: the step selects nothing, with a parse-error message
  StepKind kind = StepKind::Elements;
  bool descendants = false;  // began with "//"
  Text name;                 // tag name, "..", "css", or an attribute step's whole list
  Text predicate;            // inside the brackets, still protected
  Text selector;             // a css step's predicate, restored
  std::vector<Text> conditionTexts;
  std::vector<Condition> conditions;
  std::vector<Text> attributeTexts;
  std::vector<Condition> attributes;
  Text joiner = Text(kDefaultJoiner);
  bool malformed = false;  // one of the conditions or attributes is
};

// What one step gives from one context node.
struct StepOutput {
  std::vector<HtmlDocument> nodes;
  bool isText = false;    // an attribute step: `text` is the node's one value
  bool isParent = false;  // a ".." step
  Text text;
  Text message;  // why nothing was selected
};

// `protectedStep` as SplitSteps cuts it.
Step parseStep(std::string_view protectedStep);
Condition parseCondition(std::string_view protectedCondition);
// A protected filter list; items that name no filter are left out.
std::vector<Filter> parseFilters(std::string_view protectedFilters);
Positions parsePositions(std::string_view index);

}  // namespace varnel::query
