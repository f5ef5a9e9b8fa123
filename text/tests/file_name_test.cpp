#include "text/file_name.h"

#include <gtest/gtest.h>

#include <string>

#include "text/text.h"

namespace varnel {
namespace {

std::string repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(FitFileName, LongNamesAreCutOnCharactersAndStayApart) {
  const std::string chinese100 = repeat("数", 100);  // 300 bytes
  struct Case {
    const char* why;
    std::string name;
    std::size_t reserve;
    bool unchanged;
  };
  const Case cases[] = {
      {"short name", "初中--语文--第一册", 0, true},
      {"exactly 255 bytes", std::string(255, 'a'), 0, true},
      {"256 bytes", std::string(256, 'a'), 0, false},
      {"fits, but not with the extension", std::string(253, 'a'), 4, false},
      {"300 bytes of Chinese", chinese100, 0, false},
      {"Chinese with an extension to fit", chinese100, 4, false},
      {"one ASCII byte before Chinese shifts the cut", "x" + chinese100, 0, false},
  };
  for (const Case& c : cases) {
    const std::string fitted = fitFileName(c.name, c.reserve);
    if (c.unchanged) {
      EXPECT_EQ(fitted, c.name) << c.why;
      continue;
    }
    EXPECT_LE(fitted.size() + c.reserve, kMaxNameBytes) << c.why;
    EXPECT_GE(fitted.size() + c.reserve, kMaxNameBytes - 3) << c.why << ": cut no more than needed";
    EXPECT_TRUE(isValidUtf8(fitted)) << c.why;
    ASSERT_GT(fitted.size(), 9u) << c.why;
    EXPECT_EQ(fitted[fitted.size() - 9], '~') << c.why;
    EXPECT_EQ(fitted.substr(0, fitted.size() - 9), c.name.substr(0, fitted.size() - 9)) << c.why;
    EXPECT_EQ(fitFileName(c.name, c.reserve), fitted) << c.why << ": stable";
  }
  // Two titles that differ only past the cut keep apart.
  EXPECT_NE(fitFileName(chinese100 + "上"), fitFileName(chinese100 + "下"));
}

}  // namespace
}  // namespace varnel
