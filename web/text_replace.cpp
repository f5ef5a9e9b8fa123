#include "web/text_replace.h"

namespace varnel {

Text replaceAllText(std::string_view text, std::string_view needle, std::string_view replacement,
                    bool ignoreAsciiCase) {
  if (needle.empty()) return Text(text);
  Text out;
  out.reserve(text.size());
  std::size_t from = 0;
  while (true) {
    std::size_t hit = findText(text, needle, from, ignoreAsciiCase);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(from, hit - from));
    out.append(replacement);
    from = hit + needle.size();
  }
  out.append(text.substr(from));
  return out;
}

std::size_t alignToCharStart(std::string_view text, std::size_t pos) {
  std::size_t at = 0;
  while (at < pos && at < text.size()) at += charLengthAt(text, at);
  return at < text.size() ? at : text.size();
}

}  // namespace varnel
