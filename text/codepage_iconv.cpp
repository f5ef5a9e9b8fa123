// The encoding converter of this platform: glibc's iconv.
#include <iconv.h>  // iconv_open, iconv

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#include "text/codepage.h"
#include "text/text.h"  // isLeadByte

namespace varnel::detail {
namespace {

const char* iconvName(Encoding e) {
  switch (e) {
    case Encoding::Gbk:
      return "CP936";
    case Encoding::Utf8:
      return "UTF-8";
    case Encoding::Utf16:
      return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
  }
  return "UTF-8";
}

// How many input bytes one bad character at s occupies, in the source encoding.
std::size_t badCharLength(Encoding from, const unsigned char* s, std::size_t n) {
  switch (from) {
    case Encoding::Utf8: {
      std::size_t len = utf8SequenceLength(s, n);
      return len ? len : 1;  // valid but unmappable: skip it whole
    }
    case Encoding::Gbk:
      if (n >= 2 && isLeadByte(s[0]) && s[1] >= 0x40 && s[1] <= 0xFE && s[1] != 0x7F) return 2;
      return 1;
    case Encoding::Utf16: {
      if (n < 2) return n;
      char16_t u;
      std::memcpy(&u, s, 2);
      if (u >= 0xD800 && u <= 0xDBFF && n >= 4) {
        char16_t v;
        std::memcpy(&v, s + 2, 2);
        if (v >= 0xDC00 && v <= 0xDFFF) return 4;
      }
      return 2;
    }
  }
  return 1;
}

std::string_view replacementFor(Encoding to) {
  static constexpr char16_t kWideQuestion[] = u"?";
  if (to == Encoding::Utf16)
    return {reinterpret_cast<const char*>(kWideQuestion), sizeof(char16_t)};
  return "?";
}

// One iconv handle per direction and thread: handles are not thread-safe and
// opening one costs more than a short conversion.
class Converters {
 public:
  ~Converters() {
    for (auto& row : handles_)
      for (auto h : row)
        if (h != invalid()) iconv_close(h);
  }
  iconv_t get(Encoding from, Encoding to) {
    iconv_t& h = handles_[static_cast<int>(from)][static_cast<int>(to)];
    if (h == invalid()) h = iconv_open(iconvName(to), iconvName(from));
    if (h != invalid()) iconv(h, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    return h;
  }

 private:
  static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
  std::array<std::array<iconv_t, 3>, 3> handles_{{{invalid(), invalid(), invalid()},
                                                  {invalid(), invalid(), invalid()},
                                                  {invalid(), invalid(), invalid()}}};
};

}  // namespace

std::string convertEncoding(std::string_view input, Encoding from, Encoding to) {
  std::string out;
  if (input.empty()) return out;
  thread_local Converters converters;
  iconv_t h = converters.get(from, to);
  if (h == reinterpret_cast<iconv_t>(-1)) return out;

  const std::string_view replacement = replacementFor(to);
  out.resize(input.size() * 2 + 16);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  std::size_t used = 0;
  while (inLeft > 0) {
    char* outPtr = out.data() + used;
    std::size_t outLeft = out.size() - used;
    std::size_t rc = iconv(h, &in, &inLeft, &outPtr, &outLeft);
    used = out.size() - outLeft;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ (invalid or unmappable) or EINVAL (truncated at the end): one '?'.
    std::size_t skip = errno == EINVAL
                           ? inLeft
                           : badCharLength(from, reinterpret_cast<unsigned char*>(in), inLeft);
    skip = std::max<std::size_t>(1, std::min(skip, inLeft));
    if (out.size() - used < replacement.size()) out.resize(out.size() * 2);
    std::memcpy(out.data() + used, replacement.data(), replacement.size());
    used += replacement.size();
    in += skip;
    inLeft -= skip;
    iconv(h, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(used);
  return out;
}

}  // namespace varnel::detail
