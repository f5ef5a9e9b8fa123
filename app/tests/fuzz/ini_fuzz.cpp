// INI documents: parsing never fails, and a value that was set reads back
// unchanged from the serialised text, without disturbing other keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // Layout: section \0 key \0 value \0 document
  std::string_view parts[3];
  for (std::string_view& part : parts) {
    std::size_t zero = input.find('\0');
    if (zero == std::string_view::npos) return 0;
    part = input.substr(0, zero);
    input.remove_prefix(zero + 1);
  }
  auto [section, key, value] = parts;
  varnel::IniDocument doc = varnel::IniDocument::parse(input);
  std::optional<std::string> other = doc.value("other", "Keep");
  if (!doc.setValue(section, key, value)) return 0;

  varnel::IniDocument reread = varnel::IniDocument::parse(doc.serialize());
  if (reread.value(section, key) != std::string(value)) std::abort();
  bool sameKey =
      varnel::IniDocument::parse("[" + std::string(section) + "]\n" + std::string(key) + "=\n")
          .value("other", "Keep")
          .has_value();
  if (!sameKey && reread.value("other", "Keep") != other) std::abort();
  return 0;
}
