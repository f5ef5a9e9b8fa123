// Fuzzes the query language and its evaluation: the first line of the input
// is an expression, the rest a page, both taken as code page 936 bytes.
// Nothing may crash, hang, throw or trip a sanitizer, whatever either holds.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "htmlquery/html_query.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string_view expression = input.substr(0, cut);
  const std::string_view page =
      cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  varnel::HtmlQuery query;
  std::vector<varnel::Text> texts, alternatives, steps;
  query.QueryHtml(page, expression, texts, &alternatives, &steps);

  // The language on its own, over the raw expression text.
  const varnel::Text guarded = query.TransformFilters(expression, 1);
  (void)query.TransformFilters(guarded, 2);
  varnel::StepSpec parsed;
  for (const varnel::Text& step : query.SplitSteps(guarded)) {
    if (query.ParseStep(step, parsed) != varnel::kQueryTrue) continue;
    for (const varnel::Text& condition : parsed.conditions) (void)query.ParseCondition(condition);
  }
  varnel::Text filtered;
  query.ApplyFilters(page.substr(0, 256), guarded, filtered);
  return 0;
}
