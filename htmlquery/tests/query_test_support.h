// Helpers for the HtmlQuery tests: pages from tests/data, and queries written
// and answered in UTF-8 so the tables stay readable.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "htmlquery/html_query.h"
#include "text/text.h"

namespace varnel::testing {

inline Text gbk(const std::string& utf8) { return utf8BytesToText(utf8); }

// A saved page, converted from UTF-8 as the program converts page bodies.
inline Text loadPage(const std::string& name) {
  std::ifstream in(std::string(VARNEL_TEST_DATA) + "/" + name, std::ios::binary);
  std::ostringstream body;
  body << in.rdbuf();
  return utf8BytesToText(body.str());
}

inline std::vector<std::string> toUtf8(const std::vector<Text>& texts) {
  std::vector<std::string> out;
  for (const Text& t : texts) out.push_back(textToUtf8(t));
  return out;
}

// QueryHtml of a page (code page 936) with an expression written in UTF-8.
inline std::vector<std::string> query(const Text& page, const std::string& expression) {
  HtmlQuery q;
  std::vector<Text> texts;
  q.QueryHtml(page, gbk(expression), texts);
  return toUtf8(texts);
}

inline std::string joined(const std::vector<std::string>& texts) {
  std::string out;
  for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? "," : "") + texts[i];
  return out;
}

}  // namespace varnel::testing
