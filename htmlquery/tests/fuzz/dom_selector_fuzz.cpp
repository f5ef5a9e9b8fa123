// Fuzzes the selector guards and the walks: the first line of the input is a
// CSS selector, the rest a page. Nothing may crash or leak, whatever either is.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "htmlquery/html_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string_view selector = input.substr(0, cut);
  const std::string_view page =
      cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  varnel::HtmlDocument document;
  if (!document.loadHtml(page)) return 0;
  const varnel::HtmlNodeList found = document.querySelectorAll(selector);
  for (int i = 1; i <= found.length() && i <= 4; ++i) {
    const varnel::HtmlDocument node = found.item(i);
    (void)node.innerText();
    (void)node.querySelectorAllDetached(selector).length();
    (void)node.parentNode().tagName();
  }
  (void)document.innerText();
  (void)document.outerHTML();
  (void)document.getElementsByClassName(selector).length();
  return 0;
}
