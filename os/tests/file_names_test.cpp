#include "os/file_names.h"

#include <gtest/gtest.h>

#include <string>

#include "text/text.h"

namespace varnel {
namespace {

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

bool endsWithHash(const std::string& name, std::string_view whole) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "~%08x", static_cast<unsigned>(fileNameHash(whole)));
  return name.size() >= 9 && name.compare(name.size() - 9, 9, suffix) == 0;
}

TEST(FileNamesTest, NamesThatFitStayAsTheyAre) {
  struct Case {
    const char* why;
    std::string name;
    std::size_t reserve;
  };
  const Case cases[] = {
      {"short", "人教版--语文--一年级上册", 4},
      {"exactly 255 bytes", repeat("a", 255), 0},
      {"251 bytes and .pdf", repeat("a", 251), 4},
      {"85 three-byte characters", repeat("书", 85), 0},
      {"empty", "", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(fitFileName(c.name, c.reserve), c.name);
  }
}

TEST(FileNamesTest, LongNamesAreCutOnACharacterWithTheHashAppended) {
  struct Case {
    const char* why;
    std::string name;
    std::size_t reserve;
    std::size_t expectedBytes;
  };
  const Case cases[] = {
      {"one byte too long", repeat("a", 256), 0, 255},
      {"fits alone but not with .pdf", repeat("a", 252), 4, 251},
      // 246 bytes are left before the hash: 82 characters of 3 bytes.
      {"Chinese, cut between characters", repeat("书", 100), 0, 82 * 3 + 9},
      // 242 bytes before the hash with .pdf: 80 characters (240 bytes).
      {"Chinese with .pdf", repeat("书", 100), 4, 80 * 3 + 9},
      {"four-byte characters", "x" + repeat("\xF0\x9F\x93\x96", 70), 0, 1 + 61 * 4 + 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string fitted = fitFileName(c.name, c.reserve);
    EXPECT_EQ(fitted.size(), c.expectedBytes);
    EXPECT_LE(fitted.size() + c.reserve, kMaxFileNameBytes);
    EXPECT_TRUE(isValidUtf8(fitted));
    EXPECT_TRUE(endsWithHash(fitted, c.name));
    EXPECT_EQ(c.name.compare(0, fitted.size() - 9, fitted, 0, fitted.size() - 9), 0)
        << "the kept part is the name's beginning";
  }
}

TEST(FileNamesTest, CutNamesStayApartAndStable) {
  const std::string prefix = repeat("人教版--语文--", 20);
  const std::string first = fitFileName(prefix + "上册", 4);
  const std::string second = fitFileName(prefix + "下册", 4);
  EXPECT_NE(first, second);
  EXPECT_EQ(first, fitFileName(prefix + "上册", 4));
  EXPECT_EQ(fileNameHash("a"), 0xe40c292cu) << "FNV-1a, so names agree across builds";
  EXPECT_EQ(fitFileName(repeat("a", 300), 250), "") << "no room left for any name";
}

}  // namespace
}  // namespace varnel
