// Small helpers shared by the end-to-end tests of the routines.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/book_record.h"
#include "app/headless_controls.h"
#include "text/text.h"

namespace varnel::testing {

inline Text gbk(std::string_view utf8) { return utf8BytesToText(utf8); }

// An empty directory of this test's own under the system's temporary one.
inline std::filesystem::path freshTestDirectory(std::string_view prefix) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() /
      (std::string(prefix) + std::to_string(::getpid()) + "_" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  return root;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// For routines started on their own threads: true once `done` holds. The
// limit only keeps a broken routine from hanging the run.
// The names in a book folder, sorted, without its record.
inline std::vector<std::string> pageFilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().filename() != kBookRecordName) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline bool eventually(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline int indexOf(ControlsProbe& probe, Controls& controls, std::string_view combo,
                   std::string_view utf8) {
  for (int i = 0; i < probe.itemCount(combo); ++i) {
    if (controls.itemText(combo, i) == gbk(utf8)) return i;
  }
  return -1;
}

inline int rowOfTitle(ControlsProbe& probe, Controls& controls, std::string_view utf8) {
  for (int r = 0; r < probe.rowCount(kBookList); ++r) {
    if (controls.cellText(kBookList, r, 1) == gbk(utf8)) return r;
  }
  return -1;
}

}  // namespace varnel::testing
