// Settings, the in-memory controls, the process state and the banner.
#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "app/banner_image.h"
#include "app/command_line.h"
#include "app/headless_controls.h"
#include "app/ini_file.h"
#include "app/process_state.h"
#include "app/settings.h"
#include "app/site_profile.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Points the settings at a fresh directory for one test.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnel_settings_XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    setSettingsLocation({file(), programDir()});
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string file() const { return dir_ + "/conf.ini"; }
  std::string programDir() const { return dir_ + "/program"; }
  void writeFile(const std::string& text) const { std::ofstream(file(), std::ios::binary) << text; }

  std::string dir_;
  HeadlessControls controls_;
};

TEST_F(SettingsTest, NoFileShowsProgramDirectoryAndSaveCreatesBothKeys) {
  controls_.setChecked(kOpenCheckBox, true);
  loadSettingsIntoWindow(controls_);
  EXPECT_EQ(controls_.editText(kPathEdit), programDir());
  EXPECT_FALSE(controls_.isChecked(kOpenCheckBox));

  ASSERT_TRUE(saveSettingsFromWindow(controls_));
  EXPECT_EQ(readIniValue(file(), "config", "DownloadPath"), programDir());
  EXPECT_EQ(readIniValue(file(), "config", "OpenOrNot"), "False");
}

TEST_F(SettingsTest, OpenOrNotCountsOnlyWhenExactlyTrue) {
  struct Case {
    const char* why;
    std::string stored;
    bool ticked;
  } cases[] = {
      {"exact", "True", true},
      {"lower case", "true", false},
      {"upper case", "TRUE", false},
      {"False", "False", false},
      {"empty", "", false},
      {"surrounding blanks are not part of an INI value", "  True ", true},
      {"other text", "yes", false},
  };
  for (const Case& c : cases) {
    writeFile("[config]\nOpenOrNot=" + c.stored + "\n");
    controls_.setChecked(kOpenCheckBox, !c.ticked);
    loadSettingsIntoWindow(controls_);
    EXPECT_EQ(controls_.isChecked(kOpenCheckBox), c.ticked) << c.why;
    EXPECT_EQ(readOpenFolderSetting(), c.ticked) << c.why;
  }
}

TEST_F(SettingsTest, StoredPathWinsAndAnEmptyStoredPathStaysEmpty) {
  writeFile("[config]\nDownloadPath=/data/书籍\n");
  loadSettingsIntoWindow(controls_);
  EXPECT_EQ(controls_.editText(kPathEdit), "/data/书籍");

  writeFile("[config]\nDownloadPath=\n");
  EXPECT_EQ(readDownloadDirectory(), "");
}

TEST_F(SettingsTest, SaveWritesTheWindowAsItIsAndKeepsOtherKeys) {
  writeFile("[config]\nDownloadPath=/old\nOpenOrNot=False\nExtra=keep\n");
  controls_.setEditText(kPathEdit, "");
  controls_.setChecked(kOpenCheckBox, true);
  ASSERT_TRUE(saveSettingsFromWindow(controls_));
  EXPECT_EQ(readBytes(file()), "[config]\nDownloadPath=\nOpenOrNot=True\nExtra=keep\n");
}

TEST_F(SettingsTest, ChooseFolderAsksForANewStyleDialogAndKeepsThePathOnCancel) {
  BrowseOptions seen;
  std::string answer = "/picked/folder";
  FolderBrowser browse = [&](const BrowseOptions& options) {
    seen = options;
    return answer;
  };
  controls_.setEditText(kPathEdit, "/before");
  chooseDownloadFolder(controls_, browse);
  EXPECT_EQ(controls_.editText(kPathEdit), "/picked/folder");
  EXPECT_EQ(seen.title, utf8BytesToText("选择文件夹"));
  EXPECT_TRUE(seen.newStyle);
  EXPECT_FALSE(seen.includeFiles);
  EXPECT_FALSE(seen.editBox);
  EXPECT_EQ(seen.initialFolder, "/before") << "the dialog starts at the folder shown";

  answer.clear();  // cancelled
  chooseDownloadFolder(controls_, browse);
  EXPECT_EQ(controls_.editText(kPathEdit), "/picked/folder");

  chooseDownloadFolder(controls_, FolderBrowser());
  EXPECT_EQ(controls_.editText(kPathEdit), "/picked/folder") << "no browser installed";
}

// A thread that ends late must not release the claim of an action started
// after its routine had already let the user act again.
TEST(ActionClaim, OneAtATimeAndALateEndReleasesOnlyItsOwn) {
  const int list = tryBeginAction();
  ASSERT_NE(list, 0);
  EXPECT_EQ(tryBeginAction(), 0) << "a second action is refused while one runs";
  endAction();  // the list routine re-enables the controls
  const int download = tryBeginAction();
  ASSERT_NE(download, 0);
  EXPECT_NE(download, list);
  endAction(list);  // the list's thread winds down
  EXPECT_EQ(tryBeginAction(), 0) << "the download still holds its claim";
  endAction(download);
  const int next = tryBeginAction();
  EXPECT_NE(next, 0);
  endAction(next);
}

TEST(SettingsLocation, ProgramDirectoryWhenWritableElseUserDirectories) {
  SettingsLocation writable =
      chooseSettingsLocation("/opt/varnel", true, "/home/u/.config/varnel", "/home/u/Downloads");
  EXPECT_EQ(writable.filePath, "/opt/varnel/conf.ini");
  EXPECT_EQ(writable.defaultDownloadDirectory, "/opt/varnel");

  SettingsLocation readOnly =
      chooseSettingsLocation("/opt/varnel", false, "/home/u/.config/varnel", "/home/u/Downloads");
  EXPECT_EQ(readOnly.filePath, "/home/u/.config/varnel/conf.ini");
  EXPECT_EQ(readOnly.defaultDownloadDirectory, "/home/u/Downloads");

  EXPECT_EQ(chooseSettingsLocation("/", true, "", "").filePath, "/conf.ini") << "root directory";
}

TEST(HeadlessControls, StartsLikeTheWindows) {
  HeadlessControls c;
  EXPECT_FALSE(c.isMenuItemEnabled(kDownloadItemMenu));
  EXPECT_FALSE(c.isMenuItemEnabled(kOpenFolderMenu)) << "no book with pages on disk yet";
  EXPECT_FALSE(c.isMenuItemEnabled(kExportPdfMenu));
  EXPECT_TRUE(c.isMenuItemEnabled(kSettingsMenu));
  EXPECT_TRUE(c.isEnabled(kPathEdit)) << "read-only, not greyed";
  EXPECT_TRUE(c.isEnabled(kEditionCombo));
  EXPECT_TRUE(c.isEnabled(kBookList));
  EXPECT_EQ(c.paneText(kStatusBar, 0), utf8BytesToText("当前状态："));
  EXPECT_EQ(c.paneText(kStatusBar, 1), "");
  EXPECT_EQ(c.currentIndex(kEditionCombo), -1);
  EXPECT_EQ(c.selectedRow(kBookList), -1);
}

TEST(HeadlessControls, ComboAndListOperations) {
  HeadlessControls c;
  c.addItem(kEditionCombo, "A");
  EXPECT_EQ(c.currentIndex(kEditionCombo), -1) << "adding chooses nothing";
  c.addItem(kEditionCombo, "B");
  c.setCurrentIndex(kEditionCombo, 1);
  EXPECT_EQ(c.itemText(kEditionCombo, c.currentIndex(kEditionCombo)), "B");
  c.setCurrentIndex(kEditionCombo, 5);
  EXPECT_EQ(c.currentIndex(kEditionCombo), -1) << "out of range leaves nothing current";
  EXPECT_EQ(c.itemText(kEditionCombo, 2), "");
  c.clearItems(kEditionCombo);
  EXPECT_EQ(c.itemCount(kEditionCombo), 0);
  EXPECT_EQ(c.currentIndex(kEditionCombo), -1);

  EXPECT_EQ(c.appendRow(kBookList, "1"), 0);
  EXPECT_EQ(c.appendRow(kBookList, "2"), 1);
  c.setCellText(kBookList, 1, 5, "-");
  c.setCellText(kBookList, 1, 6, "beyond the columns");
  c.setCellText(kBookList, 7, 1, "no such row");
  EXPECT_EQ(c.cellText(kBookList, 1, 0), "2");
  EXPECT_EQ(c.cellText(kBookList, 1, 5), "-");
  EXPECT_EQ(c.cellText(kBookList, 1, 6), "");
  EXPECT_EQ(c.cellText(kBookList, 0, 3), "");
  c.selectRow(kBookList, 1);
  EXPECT_EQ(c.selectedRow(kBookList), 1);
  c.clearRows(kBookList);
  EXPECT_EQ(c.selectedRow(kBookList), -1) << "clearing removes the selection";
  EXPECT_EQ(c.rowCount(kBookList), 0);
}

TEST(HeadlessControls, WrongNamesAndKindsDoNothing) {
  HeadlessControls c;
  c.addItem(kBookList, "x");  // a list is no combo box
  EXPECT_EQ(c.rowCount(kBookList), 0);
  EXPECT_EQ(c.appendRow(kEditionCombo, "x"), -1);
  EXPECT_EQ(c.appendRow("没有这个", "x"), -1);
  c.setPaneText(kStatusBar, kStatusPaneCount, "no such pane");
  c.setPaneText(kStatusBar, -1, "no pane -1");
  EXPECT_EQ(c.paneText(kStatusBar, kStatusPaneCount), "");
  c.setEnabled(kDownloadItemMenu, true);  // menu items have their own operation
  EXPECT_FALSE(c.isMenuItemEnabled(kDownloadItemMenu));
  c.setMenuItemEnabled(kDownloadItemMenu, true);
  EXPECT_TRUE(c.isMenuItemEnabled(kDownloadItemMenu));
  c.pressTabKey();
  EXPECT_EQ(c.tabKeyPresses(), 1);
  c.setChecked(kPathEdit, true);
  EXPECT_FALSE(c.isChecked(kPathEdit));
  EXPECT_EQ(c.editText(kOpenCheckBox), "");
}

TEST(HeadlessControls, ConcurrentWritersLoseNothing) {
  HeadlessControls c;
  constexpr int kThreads = 4, kRowsEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&c] {
      for (int i = 0; i < kRowsEach; ++i) {
        int row = c.appendRow(kBookList, std::to_string(i));
        c.setCellText(kBookList, row, 5, "-");
        c.setPaneText(kStatusBar, 2, std::to_string(i));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  ASSERT_EQ(c.rowCount(kBookList), kThreads * kRowsEach);
  for (int row = 0; row < kThreads * kRowsEach; ++row) {
    ASSERT_EQ(c.cellText(kBookList, row, 5), "-") << row;
  }
}

// Through the parser, as start-up does: the origin is read from the one parse.
TEST(CatalogueOrigin, PrecedenceAndTrailingSlashes) {
  using Args = std::vector<std::string>;
  struct Case {
    const char* why;
    Args args;
    const char* env;
    std::string expected;
  } cases[] = {
      {"build default", {}, nullptr, "http://build:1"},
      {"environment beats the build", {}, "http://env:2", "http://env:2"},
      {"option beats the environment",
       {"--base-url", "http://arg:3"},
       "http://env:2",
       "http://arg:3"},
      {"option with '='", {"--base-url=http://eq:4"}, nullptr, "http://eq:4"},
      {"last option wins", {"--base-url", "http://a", "--base-url=http://b"}, nullptr, "http://b"},
      {"empty option falls through", {"--base-url", ""}, "http://env:2", "http://env:2"},
      {"empty environment falls through", {}, "", "http://build:1"},
      {"trailing slashes dropped", {"--base-url", "http://arg:3//"}, nullptr, "http://arg:3"},
      {"other arguments are left alone", {"-platform", "offscreen"}, nullptr, "http://build:1"},
      {"after -- it is an operand",
       {"download", "e", "s", "--", "--base-url", "http://arg:3"},
       nullptr,
       "http://build:1"},
  };
  for (const Case& c : cases) {
    const CommandLine cl = parseCommandLine(c.args);
    EXPECT_EQ(cl.error, "") << c.why;
    EXPECT_EQ(resolveCatalogueOrigin(cl.baseUrl, c.env, "http://build:1/"), c.expected) << c.why;
  }
}

// A profile file is used only when every key passes; each problem names its key.
TEST(SiteProfileFile, ChecksEveryKeyAndKeepsTheBuiltInOneOnAnyProblem) {
  struct Case {
    const char* why;
    std::string json;
    std::vector<std::string> keys;  // of the problems, in order; none: the file is used
  } cases[] = {
      {"a subset of keys, bare and with about",
       R"({"about":"x","bookUrls":"//div/@url","skippedCategoryBlocks":{"about":"y","value":2}})",
       {}},
      {"an unknown key", R"({"bookUrl":"//div/@url"})", {"bookUrl"}},
      {"an unknown member beside value",
       R"({"bookUrls":{"valu":"//a"}})",
       {"bookUrls.valu", "bookUrls"}},
      {"a number where an expression goes", R"({"categoryBlocks":3})", {"categoryBlocks"}},
      {"a text where a count goes", R"({"skippedCategoryBlocks":"3"})", {"skippedCategoryBlocks"}},
      {"a negative count", R"({"skippedCategoryBlocks":-1})", {"skippedCategoryBlocks"}},
      {"an expression that does not parse",
       R"({"menuHrefs":"//li[@class='a'/a/@href"})",
       {"menuHrefs"}},
      {"an empty expression", R"({"editionName":""})", {"editionName"}},
      {"a pattern the regex object rejects",
       R"({"basePathPattern":"basepath = \"(.*?\";"})",
       {"basePathPattern"}},
      {"a suffix that would change the folder",
       R"({"pageFileSuffix":"/x.jpg"})",
       {"pageFileSuffix"}},
      {"every problem is told, not only the first",
       R"({"a":1,"bookTitles":[]})",
       {"a", "bookTitles"}},
      {"not JSON", R"({"bookUrls": )", {""}},
      {"not an object", R"(["//a"])", {""}},
  };
  const SiteProfile builtIn = builtInSiteProfile();
  for (const Case& c : cases) {
    const SiteProfileLoad load = parseSiteProfile(c.json);
    std::vector<std::string> keys;
    for (const SiteProfileProblem& problem : load.problems) {
      keys.push_back(problem.key);
      EXPECT_FALSE(problem.reason.empty()) << c.why;
    }
    EXPECT_EQ(keys, c.keys) << c.why;
    if (c.keys.empty()) {
      EXPECT_EQ(load.profile.bookUrls, "//div/@url") << c.why;
      EXPECT_EQ(load.profile.skippedCategoryBlocks, 2) << c.why;
      EXPECT_EQ(load.profile.categoryBlocks, builtIn.categoryBlocks)
          << "an absent key keeps its value";
    } else {
      for (std::string_view key : siteProfileKeys()) {
        EXPECT_EQ(siteProfileValue(load.profile, key), siteProfileValue(builtIn, key))
            << c.why << ": the built-in profile stays, " << key;
      }
    }
  }
  // The template is a file that reads back as the built-in profile, every key with its about.
  const std::string written = siteProfileTemplate();
  const SiteProfileLoad reread = parseSiteProfile(written);
  EXPECT_TRUE(reread.problems.empty());
  for (std::string_view key : siteProfileKeys()) {
    EXPECT_EQ(siteProfileValue(reread.profile, key), siteProfileValue(builtIn, key)) << key;
    EXPECT_NE(written.find(std::string(siteProfileAbout(key))), std::string::npos) << key;
  }
}

TEST(ProcessState, ObjectsExistBeforeAnythingStarts) {
  constructProcessState();
  EXPECT_EQ(baseUrl(), "") << "BaseUrl stays empty until the synchronisation sets it";
  EXPECT_EQ(workerPool().state(), PoolState::stopped);
  EXPECT_EQ(workerPool().liveThreads(), 0);
  EXPECT_EQ(categoryStore().GetNode(), nullptr) << "the store starts without a tree";
  EXPECT_FALSE(buildBaseUrl().empty());
}

TEST(Banner, EmbeddedPaletteImageDecodes) {
  std::span<const std::uint8_t> png = bannerPngBytes();
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png[25], 3) << "IHDR colour type 3: a palette image";
  RgbaImage image = decodePng(png);
  EXPECT_EQ(image.width, kBannerWidth);
  EXPECT_EQ(image.height, kBannerHeight);
  EXPECT_EQ(image.pixels.size(), std::size_t{kBannerWidth} * kBannerHeight * 4);
}

TEST(Banner, BadDataDecodesToNothing) {
  std::span<const std::uint8_t> png = bannerPngBytes();
  std::vector<std::uint8_t> truncated(png.begin(), png.begin() + png.size() / 2);
  std::vector<std::uint8_t> corrupted(png.begin(), png.end());
  corrupted[40] ^= 0xFF;  // inside the palette: the chunk's checksum no longer matches
  std::vector<std::uint8_t> notPng = {'G', 'I', 'F', '8', '9', 'a'};
  EXPECT_TRUE(decodePng(truncated).empty());
  EXPECT_TRUE(decodePng(corrupted).empty());
  EXPECT_TRUE(decodePng(notPng).empty());
  EXPECT_TRUE(decodePng({}).empty());
}

}  // namespace
}  // namespace varnel
