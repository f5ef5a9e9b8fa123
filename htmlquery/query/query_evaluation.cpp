// Walking the document: entry points, alternatives and steps, attribute reads.
#include "htmlquery/html_query.h"
#include "htmlquery/query/query_regex.h"
#include "htmlquery/query/query_step.h"
#include "htmlquery/query/query_support.h"

namespace varnel {

using namespace query;

bool HtmlQuery::QueryHtml(std::string_view html, std::string_view expression,
                          std::vector<Text>& texts, std::vector<Text>* alternatives,
                          std::vector<Text>* steps) {
  HtmlDocument document;
  const bool loaded = document.loadHtml(html);
  texts.clear();
  if (alternatives) alternatives->clear();
  if (steps) steps->clear();
  if (!loaded || !document.hasChildNodes()) return false;
  Evaluate(expression, document, texts, alternatives, steps);
  return true;
}

bool HtmlQuery::LoadHtml(std::string_view html) {
  return document_.loadHtml(html) && document_.hasChildNodes();
}

void HtmlQuery::Query(std::string_view expression, std::vector<Text>& texts,
                      std::vector<Text>* alternatives, std::vector<Text>* steps) {
  Evaluate(expression, document_, texts, alternatives, steps);
}

void HtmlQuery::Evaluate(std::string_view expression, const HtmlDocument& node,
                         std::vector<Text>& texts, std::vector<Text>* alternatives,
                         std::vector<Text>* steps) {
  texts.clear();
  if (alternatives) alternatives->clear();
  if (steps) steps->clear();

  const std::vector<Text> alternativeTexts = SplitAlternatives(protectFilters(expression));
  if (alternatives)
    for (const Text& alternative : alternativeTexts)
      alternatives->push_back(restoreFilters(alternative));
  for (const Text& alternative : alternativeTexts)
    evaluateAlternative(alternative, node, texts, steps);
}

namespace {

// Siblings reach their common parent once through "..": a parent is dropped
// when it equals the previous context node's parent. Same node or same markup
// counts as equal; the markup is only serialised when the nodes differ.
class ParentFilter {
 public:
  // Whether the parent of `node` (the step found `foundAny`) was reached
  // already; `first` is true for the first context node.
  bool seen(const HtmlDocument& node, bool first, bool foundAny) {
    HtmlDocument parent = node.parentNode();
    bool duplicate = false;
    if (!first && foundAny) {
      if (parent == previousParent_) {
        duplicate = true;
      } else {
        if (!previousParentHtml_) previousParentHtml_ = previousParent_.innerHTML();
        Text parentHtml = parent.innerHTML();
        duplicate = parentHtml == *previousParentHtml_;
        previousParentHtml_ = std::move(parentHtml);
      }
    } else if (!(parent == previousParent_)) {
      previousParentHtml_.reset();
    }
    previousParent_ = std::move(parent);
    return duplicate;
  }

 private:
  HtmlDocument previousParent_;
  std::optional<Text> previousParentHtml_;
};

}  // namespace

void HtmlQuery::evaluateAlternative(std::string_view protectedAlternative, const HtmlDocument& node,
                                    std::vector<Text>& texts, std::vector<Text>* steps) {
  const std::vector<Text> stepTexts = SplitSteps(protectedAlternative);
  if (steps)
    for (const Text& step : stepTexts) steps->push_back(restoreFilters(step));
  if (stepTexts.empty()) return;

  std::vector<Text> alternativeResults;
  std::vector<HtmlDocument> current{node};
  bool endsWithAttributes = false;
  StepOutput out;
  for (const Text& stepText : stepTexts) {
    // Parsed once here, evaluated for every context node below.
    const Step step = parseStep(stepText);
    endsWithAttributes = step.parsed && step.kind == StepKind::Attributes;

    std::vector<HtmlDocument> next;
    ParentFilter parents;
    for (std::size_t j = 0; j < current.size() && next.size() < kMaxNodeSetSize; ++j) {
      evaluateStep(step, current[j], out);
      if (out.isText) {
        alternativeResults.push_back(std::move(out.text));
        continue;
      }
      if (out.isParent && parents.seen(current[j], j == 0, !out.nodes.empty())) continue;
      for (HtmlDocument& n : out.nodes) {
        if (next.size() >= kMaxNodeSetSize) break;
        next.push_back(std::move(n));
      }
    }
    current = std::move(next);
  }

  if (endsWithAttributes) {
    for (Text& t : alternativeResults) texts.push_back(std::move(t));
  } else {
    for (const HtmlDocument& n : current) texts.push_back(n.outerHTML());
  }
}

bool HtmlQuery::EvaluateStep(std::string_view step, const HtmlDocument& node,
                             std::vector<HtmlDocument>& nodes, Text& isText, Text& isParent,
                             Text& text, Text& message) {
  StepOutput out;
  const bool found = evaluateStep(parseStep(step), node, out);
  nodes = std::move(out.nodes);
  isText = flagText(out.isText);
  isParent = flagText(out.isParent);
  text = std::move(out.text);
  message = std::move(out.message);
  return found;
}

bool HtmlQuery::evaluateStep(const Step& step, const HtmlDocument& node, StepOutput& out) {
  out.nodes.clear();
  out.isText = false;
  out.isParent = false;
  out.text.clear();
  out.message.clear();
  if (!step.parsed || step.malformed) {
    out.message = messageParseError();
    return false;
  }

  switch (step.kind) {
    case StepKind::Attributes:
      for (std::size_t k = 0; k < step.attributes.size(); ++k) {
        const Condition& item = step.attributes[k];
        Text value;
        if (ReadAttribute(node, item.name, value) && item.hasFilters) {
          Text filtered;
          applyFilters(value, item.filters, filtered);
          value = std::move(filtered);
        }
        if (k > 0) out.text.append(step.joiner);
        out.text.append(value);
      }
      out.isText = true;
      return true;
    case StepKind::Parent: {
      out.isParent = true;
      HtmlDocument parent = node.parentNode();
      if (!parent.hasChildNodes()) {
        out.message = messageNoParent();
        return false;
      }
      out.nodes.push_back(std::move(parent));
      return true;
    }
    case StepKind::Css: {
      const HtmlNodeList found = node.querySelectorAll(step.selector);
      const int length = found.length();
      out.nodes.reserve(static_cast<std::size_t>(length));
      for (int i = 1; i <= length; ++i) out.nodes.push_back(found.item(i));
      if (out.nodes.empty()) {
        out.message = messageCssNoResult();
        return false;
      }
      return true;
    }
    case StepKind::Elements:
      break;
  }

  std::vector<HtmlDocument> candidates =
      step.descendants ? DescendantsByTag(node, step.name) : ChildrenByTag(node, step.name);
  if (step.conditions.empty()) {
    out.nodes = std::move(candidates);
  } else {
    std::vector<bool> flags;
    for (const Condition& condition : step.conditions)
      flags = filterByCondition(candidates, flags, condition);
    for (std::size_t i = 0; i < candidates.size(); ++i)
      if (flags[i]) out.nodes.push_back(std::move(candidates[i]));
  }
  if (out.nodes.empty()) {
    out.message =
        concatTexts(messageConditionPrefix(), step.name, messageConditionMiddle(), step.predicate);
    return false;
  }
  return true;
}

namespace {

// Element items of `list` whose tag name is `upperName`; "" and "*" take
// every element. Text and comment nodes are never steps' results: counting
// them would make "*[2]" pick the whitespace between two elements.
std::vector<HtmlDocument> elementsNamed(const HtmlNodeList& list, std::string_view name) {
  const bool every = name.empty() || name == "*";
  const Text upperName = asciiUpper(name);
  std::vector<HtmlDocument> out;
  const int length = list.length();
  for (int i = 1; i <= length; ++i) {
    HtmlDocument item = list.item(i);
    if (every ? item.nodeType() == kElementNode : item.tagName() == upperName)
      out.push_back(std::move(item));
  }
  return out;
}

}  // namespace

std::vector<HtmlDocument> HtmlQuery::ChildrenByTag(const HtmlDocument& node,
                                                   std::string_view name) const {
  return elementsNamed(node.childNodes(), name);
}

std::vector<HtmlDocument> HtmlQuery::DescendantsByTag(const HtmlDocument& node,
                                                      std::string_view name) const {
  return elementsNamed(node.all(), name);
}

bool HtmlQuery::ReadAttribute(const HtmlDocument& node, std::string_view name, Text& value) const {
  value.clear();
  Text rest;
  if (name.starts_with('@')) {
    rest = asciiLower(name.substr(1));
    if (node.hasAttribute(asciiUpper(rest))) {
      if (rest == "id")
        value = node.id();
      else if (rest == "href")
        value = node.href();
      else if (rest == "title")
        value = node.title();
      else if (rest == "class")
        value = node.className();
      else
        value = node.getAttribute(rest);
      // Documents are written from text with no base address, so a browser
      // prefixes relative links with "about:".
      if ((rest == "href" || rest == "src") && value.starts_with(kAboutPrefix))
        value.erase(0, kAboutPrefix.size());
      return true;
    }
  }
  if (rest.starts_with("@@")) {
    const std::string_view attribute = std::string_view(rest).substr(2);
    // Only an attribute the element really has counts; the markup search
    // alone could find the name in the element's text.
    if (!node.hasAttribute(asciiUpper(attribute))) return false;
    value = ReadRawAttribute(node, attribute);
    return true;
  }
  if (rest == "@text")
    value = node.innerText();
  else if (rest == "@html" || rest == "@outerhtml")
    value = node.outerHTML();
  else if (rest == "@innerhtml")
    value = node.innerHTML();
  else if (rest == "@textcontent")
    value = node.textContent();
  else
    return false;
  value = removeAll(value, kLineBreak);
  return !value.empty();
}

namespace {

// The name is data, never pattern syntax.
std::string escapeForRegex(std::string_view name) {
  std::string out;
  for (std::size_t pos = 0; pos < name.size();) {
    std::size_t len = charLengthAt(name, pos);
    if (len == 1 && std::string_view("\\^$.|?*+()[]{}").find(name[pos]) != std::string_view::npos)
      out.push_back('\\');
    out.append(name.substr(pos, len));
    pos += len;
  }
  return out;
}

}  // namespace

Text HtmlQuery::ReadRawAttribute(const HtmlDocument& node, std::string_view name) const {
  const std::string markup = node.outerHTML();
  const std::string escaped = escapeForRegex(name);
  std::string match;
  if (searchFirst(markup, escaped + ".*?[=].", match) != RegexSearch::Found) return {};
  if (match.back() == '"') {
    if (searchFirst(markup, escaped + R"(.*?[=].*?["].*?["])", match) != RegexSearch::Found)
      return {};
    const std::size_t first = match.find('"');
    const std::size_t last = match.rfind('"');
    return match.substr(first + 1, last - first - 1);
  }
  if (searchFirst(markup, escaped + ".*?[=][^ >]*", match) != RegexSearch::Found) return {};
  // The "=" after the name, so a name that itself holds "=" is not cut.
  return match.substr(match.find('=', name.size()) + 1);
}

}  // namespace varnel
