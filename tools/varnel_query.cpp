// varnel-query SOURCE EXPRESSION
//
// Reads SOURCE (a file, or an http:// or https:// URL) as UTF-8, runs
// EXPRESSION over it with HtmlQuery::QueryHtml and prints the texts found as
// one JSON array of UTF-8 strings. Exit status 0 on success (also when
// nothing was found), 1 when the source cannot be read, 2 on a usage error.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "htmlquery/html_query.h"
#include "text/text.h"

#include "json/json_value.h"
#include "web/web_request.h"

namespace {

constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;

bool isUrl(std::string_view source) {
  return source.starts_with("http://") || source.starts_with("https://");
}

bool readSource(const std::string& source, std::string& body, std::string& error) {
  if (isUrl(source)) {
    const varnel::Bytes bytes = varnel::webRequest(varnel::utf8BytesToText(source));
    if (bytes.empty()) {
      error = "cannot read " + source + ": no response (or an empty body)";
      return false;
    }
    body.assign(bytes.begin(), bytes.end());
    return true;
  }
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    error = "cannot open " + source;
    return false;
  }
  body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + source;
    return false;
  }
  return true;
}

std::string toJsonArray(const std::vector<varnel::Text>& texts) {
  varnel::JsonValue array = varnel::JsonValue::NewArray();
  for (std::size_t i = 0; i < texts.size(); ++i)
    array.PutItemCopy("", static_cast<std::int64_t>(i), varnel::JsonValue::NewString(texts[i]));
  // The writer leaves control characters other than \b \t \n \r \f as they
  // are; outside strings there are none, so each one is escaped here.
  std::string out;
  for (char c : varnel::textToUtf8(array.ToText())) {
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: varnel-query SOURCE EXPRESSION\n"
                 "  SOURCE is a file or an http:// or https:// URL, read as UTF-8;\n"
                 "  the texts found are printed as one JSON array.\n";
    return kExitUsage;
  }
  std::string body, error;
  if (!readSource(argv[1], body, error)) {
    std::cerr << "varnel-query: " << error << "\n";
    return kExitUnreadable;
  }
  varnel::HtmlQuery query;
  std::vector<varnel::Text> texts;
  // Console arguments are UTF-8; the engine works in code page 936.
  if (!query.QueryHtml(varnel::utf8BytesToText(body), varnel::utf8BytesToText(argv[2]), texts)) {
    std::cerr << "varnel-query: " << argv[1] << " could not be parsed as HTML\n";
    return kExitUnreadable;
  }
  std::cout << toJsonArray(texts) << "\n";
  return 0;
}
