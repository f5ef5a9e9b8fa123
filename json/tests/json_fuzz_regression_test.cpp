// Inputs the fuzzer once failed on, replayed through the same checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "json/tests/fuzz/json_fuzz_input.h"

namespace varnel {
namespace {

TEST(JsonFuzzRegressions, FormerFailuresPass) {
  const std::filesystem::path folder = VARNEL_JSON_FUZZ_REGRESSIONS;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(
        fuzz::runJsonFuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
        << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0) << "the regression inputs were found";
}

}  // namespace
}  // namespace varnel
