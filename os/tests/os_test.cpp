#include <gtest/gtest.h>
#include <unistd.h>  // getpid

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "os/files.h"
#include "os/process.h"
#include "os/threads.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class OsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("varnel-os-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    setFileWriteFault({});
    fs::remove_all(dir_);
  }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir_)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir_;
};

TEST_F(OsFiles, AReplacementIsWholeOrNothing) {
  const std::string target = (dir_ / "page.jpg").string();
  std::ofstream(target) << "old";

  EXPECT_EQ(replaceFileAtomically(target, "new content"), FileError::none);
  EXPECT_EQ(read(target), "new content");
  EXPECT_EQ(names(), std::vector<std::string>{"page.jpg"}) << "no temporary file left";

  struct Case {
    const char* why;
    int fault;
    FileError expected;
  };
  const Case cases[] = {
      {"a full disk is named as such", ENOSPC, FileError::diskFull},
      {"a quota counts as a full disk", EDQUOT, FileError::diskFull},
      {"a read-only file system is a permission problem", EROFS, FileError::permission},
      {"any other error still fails", EIO, FileError::other},
  };
  for (const Case& c : cases) {
    setFileWriteFault([&](const std::string& path) { return path == target ? c.fault : 0; });
    EXPECT_EQ(replaceFileAtomically(target, "never seen"), c.expected) << c.why;
    EXPECT_EQ(read(target), "new content") << c.why << ": the old file stays";
    EXPECT_EQ(names(), std::vector<std::string>{"page.jpg"}) << c.why;
  }
  setFileWriteFault({});

  EXPECT_EQ(replaceFileAtomically((dir_ / "absent" / "x").string(), "x"), FileError::notFound);
  EXPECT_EQ(replaceFileAtomically((dir_ / std::string(300, 'n')).string(), "x"),
            FileError::nameTooLong);
  EXPECT_EQ(names(), std::vector<std::string>{"page.jpg"}) << "the refused rename leaves nothing";
}

TEST_F(OsFiles, AStreamIsDiscardedUnlessCommitted) {
  const std::string target = (dir_ / "book.pdf").string();
  {
    ReplacingFile file(target);
    ASSERT_NE(file.stream(), nullptr);
    EXPECT_TRUE(file.write("half a "));
    EXPECT_TRUE(fs::exists(file.temporaryPath()));
  }
  EXPECT_TRUE(names().empty()) << "abandoned: nothing under either name";

  ReplacingFile file(target, 0600);
  ASSERT_TRUE(file.write("whole"));
  ASSERT_EQ(file.commit(), FileError::none);
  EXPECT_EQ(read(target), "whole");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0600)) << "the mode asked for";
}

TEST_F(OsFiles, StaleTemporaryFilesOfDeadProcessesGo) {
  // A process id that cannot be running: above the kernel's pid_max ceiling.
  const std::string dead =
      std::string(kTemporaryPrefix) + "99999999-0000abcd" + std::string(kTemporarySuffix);
  const std::string alive = std::string(kTemporaryPrefix) + std::to_string(::getpid()) +
                            "-0000abcd" + std::string(kTemporarySuffix);
  for (const std::string& name : {dead, alive, std::string("1.jpg"), std::string(".varnel-x.part")})
    std::ofstream(dir_ / name) << "x";

  EXPECT_EQ(removeStaleTemporaryFiles(dir_.string()), 1);
  std::vector<std::string> expected = {".varnel-x.part", alive, "1.jpg"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names(), expected) << "only the dead process's file goes; unknown names stay";
}

TEST_F(OsFiles, RealDirectoriesAndTheirImpostors) {
  fs::create_directories(dir_ / "real");
  fs::create_directory_symlink(dir_ / "real", dir_ / "link");
  std::ofstream(dir_ / "file") << "x";
  struct Case {
    const char* why;
    fs::path path;
    FileError expected;
  };
  const Case cases[] = {
      {"a folder", dir_ / "real", FileError::none},
      {"a link to a folder is refused", dir_ / "link", FileError::isLink},
      {"a file is not a folder", dir_ / "file", FileError::notDirectory},
      {"nothing there", dir_ / "none", FileError::notFound},
      {"links higher up the path are followed", dir_ / "link" / ".", FileError::none},
  };
  for (const Case& c : cases) EXPECT_EQ(checkRealDirectory(c.path.string()), c.expected) << c.why;

  std::string content = "stale";
  EXPECT_EQ(readRegularFile((dir_ / "file").string(), content), ReadState::read);
  EXPECT_EQ(content, "x");
  EXPECT_EQ(readRegularFile((dir_ / "none").string(), content), ReadState::absent);
  EXPECT_EQ(readRegularFile((dir_ / "real").string(), content), ReadState::unreadable);
}

TEST(OsProcess, ThreadsAndDirectories) {
  std::promise<void> ran;
  EXPECT_TRUE(startBackgroundThread([&] { ran.set_value(); }));
  EXPECT_EQ(ran.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(startBackgroundThread(nullptr)) << "an empty routine starts nothing";

  int value = 0;
  const auto joinable = launchThread(minimumThreadStackBytes() * 4, true, [&] { value = 42; });
  ASSERT_TRUE(joinable.has_value());
  joinThread(*joinable);
  EXPECT_EQ(value, 42) << "joined after the body ran";

  const std::string dir = programDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_NE(dir.back(), '/');
  EXPECT_TRUE(fs::exists(fs::path(dir) / "os_tests"));
  EXPECT_FALSE(temporaryDirectory().empty());
}

}  // namespace
}  // namespace varnel
