// The three routines end to end: HeadlessControls in place of the window, the
// demo catalogue site in-process on 127.0.0.1, a temporary download directory.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/book_download.h"
#include "app/book_list.h"
#include "app/catalogue_site.h"
#include "app/catalogue_sync.h"
#include "app/headless_controls.h"
#include "app/process_state.h"
#include "app/routines.h"
#include "app/settings.h"
#include "app/tests/e2e_support.h"
#include "pool/worker_pool.h"
#include "tools/demo_site/demo_site.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using demo::DemoBook;
using demo::DemoCatalogue;
using demo::DemoSite;
using testing::eventually;
using testing::gbk;
using testing::pageFilesIn;
using testing::readFile;

// A port on 127.0.0.1 where nothing listens.
int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

int indexOf(HeadlessControls& controls, std::string_view combo, std::string_view utf8) {
  return testing::indexOf(controls, controls, combo, utf8);
}

// Keeps every text written into the progress pane, and every row state (as
// "row: state", UTF-8), in order.
class RecordingControls : public HeadlessControls {
 public:
  void setPaneText(std::string_view statusBar, int pane, const Text& text) override {
    if (statusBar == kStatusBar && pane == kProgressPane) {
      std::lock_guard lock(mutex_);
      progress_.push_back(text);
    }
    HeadlessControls::setPaneText(statusBar, pane, text);
  }
  void setCellText(std::string_view list, int row, int column, const Text& text) override {
    if (list == kBookList && column == kRowStatusColumn) {
      std::lock_guard lock(mutex_);
      states_.push_back(std::to_string(row) + ": " + textToUtf8(text));
    }
    HeadlessControls::setCellText(list, row, column, text);
  }
  std::vector<Text> progress() {
    std::lock_guard lock(mutex_);
    return progress_;
  }
  // The states since the last call.
  std::vector<std::string> takeStates() {
    std::lock_guard lock(mutex_);
    return std::exchange(states_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Text> progress_;
  std::vector<std::string> states_;
};

class RoutinesEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new DemoSite;
    ASSERT_TRUE(site_->start());
    workerPool().start(kPoolCoreThreads, kPoolMaxThreads);
  }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }

  void SetUp() override {
    root_ = testing::freshTestDirectory("varnel_e2e_");
    downloads_ = root_ / "books";
    setSettingsLocation({.filePath = (root_ / "conf.ini").string(),
                         .defaultDownloadDirectory = downloads_.string()});
    setShellHooks({.browseForFolder = {}, .openFolder = [this](const std::string& path) {
                     std::lock_guard lock(openedMutex_);
                     opened_.push_back(path);
                   }});
    setBaseUrl(site_->origin());
  }
  void TearDown() override {
    setShellHooks({});
    fs::remove_all(root_);
  }

  const DemoCatalogue& catalogue() { return site_->catalogue(); }

  // What the user does: the window opens, an edition and a subject are chosen.
  void chooseSubject(std::string_view edition, std::string_view subject) {
    runCatalogueSync(controls_);
    controls_.setCurrentIndex(kEditionCombo, indexOf(controls_, kEditionCombo, edition));
    onEditionSelected(controls_);
    controls_.setCurrentIndex(kSubjectCombo, indexOf(controls_, kSubjectCombo, subject));
    runBookListFetch(controls_);
  }

  // Chooses the book's row and downloads it on this thread.
  void download(std::string_view edition, std::string_view subject, const DemoBook& book) {
    chooseSubject(edition, subject);
    int row = -1;
    for (int r = 0; r < controls_.rowCount(kBookList); ++r) {
      if (controls_.cellText(kBookList, r, kTitleColumn) == gbk(book.title)) row = r;
    }
    ASSERT_GE(row, 0) << book.title;
    controls_.selectRow(kBookList, row);
    runBookDownload(controls_);
  }

  void setOpenFolderSetting(bool open) {
    HeadlessControls settings;
    settings.setEditText(kPathEdit, downloads_.string());
    settings.setChecked(kOpenCheckBox, open);
    ASSERT_TRUE(saveSettingsFromWindow(settings));
  }

  fs::path bookFolder(std::string_view edition, std::string_view subject,
                      std::string_view folderTitle) {
    return downloads_ /
           (std::string(edition) + "--" + std::string(subject) + "--" + std::string(folderTitle));
  }

  std::vector<std::string> opened() {
    std::lock_guard lock(openedMutex_);
    return opened_;
  }

  void expectControlsEnabled(const char* why) {
    EXPECT_TRUE(controls_.isEnabled(kEditionCombo)) << why;
    EXPECT_TRUE(controls_.isEnabled(kSubjectCombo)) << why;
    EXPECT_TRUE(controls_.isEnabled(kBookList)) << why;
  }

  static DemoSite* site_;
  RecordingControls controls_;
  fs::path root_;
  fs::path downloads_;
  std::mutex openedMutex_;
  std::vector<std::string> opened_;
};

DemoSite* RoutinesEndToEnd::site_ = nullptr;

const DemoBook& bookOf(const DemoCatalogue& catalogue, std::string_view edition,
                       std::string_view subject, std::size_t index) {
  return catalogue.findSubject(edition, subject)->books.at(index);
}

TEST_F(RoutinesEndToEnd, SyncListsEditionsAndFilesSubjects) {
  controls_.setEnabled(kEditionCombo, false);
  controls_.setEnabled(kSubjectCombo, false);
  runCatalogueSync(controls_);

  const auto& editions = catalogue().editions();
  ASSERT_EQ(controls_.itemCount(kEditionCombo), static_cast<int>(editions.size()));
  for (std::size_t i = 0; i < editions.size(); ++i) {
    EXPECT_EQ(controls_.itemText(kEditionCombo, static_cast<int>(i)), gbk(editions[i].name))
        << "editions in page order, header blocks skipped";
  }
  EXPECT_EQ(controls_.currentIndex(kEditionCombo), -1) << "nothing shown as chosen";
  EXPECT_EQ(controls_.itemCount(kSubjectCombo), 0) << "subjects wait for the user's choice";
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane), gbk(kSyncDoneStatus));
  EXPECT_TRUE(controls_.isEnabled(kEditionCombo));
  EXPECT_TRUE(controls_.isEnabled(kSubjectCombo));

  // Every subject's address is the origin joined with the link, also for the
  // edition whose links are outside the menu.
  for (const auto& edition : editions) {
    for (const auto& subject : edition.subjects) {
      EXPECT_EQ(categoryStore().GetString(gbk(edition.name + "." + subject.name)),
                site_->origin() + subject.listPath)
          << edition.name << " / " << subject.name;
    }
  }
}

TEST_F(RoutinesEndToEnd, ChoosingAnEditionListsItsSubjects) {
  runCatalogueSync(controls_);
  for (const auto& edition : catalogue().editions()) {
    controls_.setCurrentIndex(kEditionCombo, indexOf(controls_, kEditionCombo, edition.name));
    onEditionSelected(controls_);
    ASSERT_EQ(controls_.itemCount(kSubjectCombo), static_cast<int>(edition.subjects.size()))
        << edition.name;
    for (std::size_t i = 0; i < edition.subjects.size(); ++i) {
      EXPECT_EQ(controls_.itemText(kSubjectCombo, static_cast<int>(i)),
                gbk(edition.subjects[i].name));
    }
    EXPECT_EQ(controls_.currentIndex(kSubjectCombo), -1) << "its list is not fetched yet";
  }
}

TEST_F(RoutinesEndToEnd, ChoosingASubjectFillsOneRowPerBook) {
  struct Case {
    const char* edition;
    const char* subject;
    const char* why;
  } cases[] = {
      {"小学专版", "数学", "three books from menu links"},
      {"综合资源", "课外阅读", "an edition whose links sit outside the menu"},
      {"示例专版", "故障演示", "odd titles, an empty title"},
  };
  for (const Case& c : cases) {
    chooseSubject(c.edition, c.subject);
    const auto& books = catalogue().findSubject(c.edition, c.subject)->books;
    ASSERT_EQ(controls_.rowCount(kBookList), static_cast<int>(books.size())) << c.why;
    for (std::size_t k = 0; k < books.size(); ++k) {
      const int row = static_cast<int>(k);
      EXPECT_EQ(controls_.cellText(kBookList, row, kNumberColumn), std::to_string(k + 1)) << c.why;
      EXPECT_EQ(controls_.cellText(kBookList, row, kTitleColumn), gbk(books[k].title)) << c.why;
      EXPECT_EQ(controls_.cellText(kBookList, row, kPageCountColumn),
                std::to_string(books[k].pageCount));
      EXPECT_EQ(controls_.cellText(kBookList, row, kDownloadableColumn), gbk(kDownloadableMark));
      EXPECT_EQ(controls_.cellText(kBookList, row, kUrlColumn),
                site_->origin() + books[k].pagePath());
      EXPECT_EQ(controls_.cellText(kBookList, row, kRowStatusColumn), gbk(kNotDownloadedMark));
    }
    EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane), gbk(kListDoneStatus)) << c.why;
    EXPECT_TRUE(controls_.isMenuItemEnabled(kDownloadItemMenu));
    EXPECT_TRUE(controls_.isMenuItemEnabled(kDownloadAllMenu));
    EXPECT_FALSE(controls_.isMenuItemEnabled(kExportPdfMenu)) << "no page of any book on disk";
    EXPECT_TRUE(controls_.isEnabled(kEditionCombo));
    EXPECT_TRUE(controls_.isEnabled(kSubjectCombo));
  }
  EXPECT_EQ(controls_.tabKeyPresses(), 3) << "focus moves on after each success";
}

TEST_F(RoutinesEndToEnd, ASubjectWithoutBooksFailsAndLeavesTheChoiceOpen) {
  chooseSubject("小学专版", "语文");
  ASSERT_GT(controls_.rowCount(kBookList), 0);
  EXPECT_FALSE(controls_.isMenuItemEnabled(kDiagnoseSiteMenu)) << "nothing to diagnose yet";
  chooseSubject("示例专版", "空分类");
  EXPECT_TRUE(controls_.isMenuItemEnabled(kDiagnoseSiteMenu)) << "a 网站框架已更新 end offers it";
  EXPECT_EQ(controls_.rowCount(kBookList), 0) << "rows of the earlier list are gone";
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane), gbk(kListFailedStatus));
  EXPECT_TRUE(controls_.isMenuItemEnabled(kDownloadItemMenu)) << "never disabled again";
  EXPECT_TRUE(controls_.isEnabled(kEditionCombo)) << "another subject can still be chosen";
  EXPECT_TRUE(controls_.isEnabled(kSubjectCombo));
}

TEST_F(RoutinesEndToEnd, DownloadWritesEveryPageIntoTheBookFolder) {
  setOpenFolderSetting(true);
  // 20 pages: more than the pool has workers, so several batches.
  const DemoBook& book = bookOf(catalogue(), "小学专版", "数学", 0);
  ASSERT_EQ(book.pageCount, 20);
  download("小学专版", "数学", book);

  const fs::path folder = bookFolder("小学专版", "数学", book.title);
  for (int page = 1; page <= book.pageCount; ++page) {
    const fs::path file = folder / (std::to_string(page) + ".jpg");
    EXPECT_EQ(readFile(file), catalogue().pageImage(book, page)) << file;
  }
  const std::vector<std::string> files = pageFilesIn(folder);
  EXPECT_EQ(static_cast<int>(files.size()), book.pageCount);
  for (const std::string& name : files) EXPECT_TRUE(name.ends_with(".jpg")) << "no partial file";

  // The folder's record names the book and what is on disk.
  const LoadedRecord loaded = loadBookRecord(folder.string());
  ASSERT_EQ(loaded.state, RecordState::read);
  EXPECT_EQ(loaded.record.title, book.title);
  EXPECT_EQ(loaded.record.edition, "小学专版");
  EXPECT_EQ(loaded.record.subject, "数学");
  EXPECT_TRUE(loaded.record.url.ends_with(book.pagePath())) << loaded.record.url;
  EXPECT_EQ(loaded.record.declaredPages, 20);
  EXPECT_EQ(pageRanges(loaded.record.pages), "1-20");
  EXPECT_TRUE(loaded.record.complete);

  // Each page handed over is counted once, in order; the pane is cleared at the end.
  std::vector<Text> expectedProgress;
  for (int page = 1; page <= book.pageCount; ++page) {
    expectedProgress.push_back(gbk("当前下载进度：" + std::to_string(page) + "/20"));
  }
  expectedProgress.push_back("");
  EXPECT_EQ(controls_.progress(), expectedProgress);

  const int row = controls_.selectedRow(kBookList);
  EXPECT_EQ(controls_.cellText(kBookList, row, kRowStatusColumn), gbk(kRowDoneStatus));
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane), gbk(kDownloadDoneStatus));
  EXPECT_EQ(controls_.paneText(kStatusBar, kProgressPane), "");
  expectControlsEnabled("after a download");
  EXPECT_EQ(opened(), std::vector<std::string>{folder.string()}) << "OpenOrNot is True";

  openBookFolder(controls_);
  EXPECT_EQ(opened().size(), 2u);
  EXPECT_EQ(opened().back(), folder.string()) << "the menu opens the same folder";
}

TEST_F(RoutinesEndToEnd, DownloadOfAwkwardBooks) {
  setOpenFolderSetting(false);
  struct Case {
    std::size_t book;
    const char* folderTitle;  // as the folder is named; nullptr: no folder
    std::vector<int> pagesWritten;
    std::string status;
    const char* rowStatus;
    const char* why;
  } cases[] = {
      {1,
       "缺页示例",
       {1, 2, 4, 5},
       std::string(kDownloadIncompletePrefix) + "1/5",
       "未完成 (缺 1 页)",
       "a missing page is counted, not written as an image"},
      {2,
       nullptr,
       {},
       std::string(kDownloadNoBasePathStatus),
       "失败: 网站框架已更新!",
       "no base path: nothing is fetched"},
      {3,
       "习题_答案_第1册_",
       {1, 2},
       std::string(kDownloadDoneStatus),
       "下载完成",
       "characters no folder name may hold"},
      {4, "", {1, 2}, std::string(kDownloadDoneStatus), "下载完成", "an empty title"},
  };
  for (const Case& c : cases) {
    const DemoBook& book = bookOf(catalogue(), "示例专版", "故障演示", c.book);
    download("示例专版", "故障演示", book);
    EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane), gbk(c.status)) << c.why;
    EXPECT_EQ(controls_.cellText(kBookList, controls_.selectedRow(kBookList), kRowStatusColumn),
              gbk(c.rowStatus))
        << c.why;
    EXPECT_EQ(controls_.paneText(kStatusBar, kProgressPane), "") << c.why;
    EXPECT_EQ(controls_.isMenuItemEnabled(kDiagnoseSiteMenu), c.book >= 2)
        << c.why << ": offered from the first book page without a base path on";
    expectControlsEnabled(c.why);
    if (!c.folderTitle) {
      EXPECT_FALSE(fs::exists(bookFolder("示例专版", "故障演示", book.title))) << c.why;
      continue;
    }
    const fs::path folder = bookFolder("示例专版", "故障演示", c.folderTitle);
    const std::vector<std::string> files = pageFilesIn(folder);
    std::vector<std::string> expected;
    for (int page : c.pagesWritten) expected.push_back(std::to_string(page) + ".jpg");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected) << c.why;
    for (int page : c.pagesWritten) {
      EXPECT_EQ(readFile(folder / (std::to_string(page) + ".jpg")),
                catalogue().pageImage(book, page))
          << c.why;
    }
  }
  EXPECT_TRUE(opened().empty()) << "OpenOrNot is False";
}

// Nothing listens: each routine says it cannot connect, and why.
TEST_F(RoutinesEndToEnd, SiteDown) {
  const std::string downOrigin = "http://127.0.0.1:" + std::to_string(closedPort());

  // The front page cannot be read: nothing to choose.
  setBaseUrl(downOrigin);
  controls_.setEnabled(kEditionCombo, false);
  controls_.setEnabled(kSubjectCombo, false);
  runCatalogueSync(controls_);
  EXPECT_EQ(controls_.itemCount(kEditionCombo), 0);
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane),
            gbk(kSyncUnreachableStatus) + gbk(kRefusedReason));
  EXPECT_FALSE(controls_.isEnabled(kEditionCombo));
  EXPECT_FALSE(controls_.isEnabled(kSubjectCombo));
  EXPECT_TRUE(controls_.isVisible(kRetrySyncButton)) << "a way out, not a restart";

  // 重试 once the site is back.
  setBaseUrl(site_->origin());
  onRetrySync(controls_);
  EXPECT_FALSE(controls_.isVisible(kRetrySyncButton));
  ASSERT_TRUE(eventually(
      [&] { return controls_.paneText(kStatusBar, kMessagePane) == gbk(kSyncDoneStatus); }));
  EXPECT_TRUE(eventually([&] { return controls_.isEnabled(kEditionCombo); }));
  EXPECT_FALSE(controls_.isVisible(kRetrySyncButton));

  // A book-list page that cannot be read.
  runCatalogueSync(controls_);
  categoryStore().SetString(gbk("小学专版.语文"), downOrigin + "/list/1-1.html");
  controls_.setCurrentIndex(kEditionCombo, indexOf(controls_, kEditionCombo, "小学专版"));
  onEditionSelected(controls_);
  controls_.setCurrentIndex(kSubjectCombo, indexOf(controls_, kSubjectCombo, "语文"));
  runBookListFetch(controls_);
  EXPECT_EQ(controls_.rowCount(kBookList), 0);
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane),
            gbk(kListUnreachableStatus) + gbk(kRefusedReason));
  EXPECT_TRUE(controls_.isEnabled(kEditionCombo));

  // A book page that cannot be read.
  chooseSubject("小学专版", "英语");
  ASSERT_EQ(controls_.rowCount(kBookList), 1);
  controls_.setCellText(kBookList, 0, kUrlColumn, downOrigin + "/book/1.html");
  controls_.selectRow(kBookList, 0);
  EXPECT_EQ(runBookDownload(controls_).result, DownloadResult::unreachable);
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane),
            gbk(kDownloadUnreachableStatus) + gbk(kRefusedReason));
  EXPECT_EQ(controls_.cellText(kBookList, 0, kRowStatusColumn),
            gbk("失败: 无法连接网站!") + gbk(kRefusedReason));
  EXPECT_FALSE(fs::exists(downloads_)) << "nothing created for a book that cannot be read";
  expectControlsEnabled("after a failed book page");
}

TEST_F(RoutinesEndToEnd, DownloadWithAStoppedPoolEndsAndReportsEveryPage) {
  const DemoBook& book = bookOf(catalogue(), "小学专版", "英语", 0);
  chooseSubject("小学专版", "英语");
  controls_.selectRow(kBookList, 0);
  workerPool().stop();
  runBookDownload(controls_);  // must return, not spin
  workerPool().start(kPoolCoreThreads, kPoolMaxThreads);
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane),
            gbk(std::string(kDownloadIncompletePrefix) + std::to_string(book.pageCount) + "/" +
                std::to_string(book.pageCount)));
  expectControlsEnabled("after a download that could not run");
}

TEST_F(RoutinesEndToEnd, WithoutASelectedRowNothingHappens) {
  chooseSubject("小学专版", "英语");
  controls_.selectRow(kBookList, -1);
  onDownloadItem(controls_);
  runBookDownload(controls_);
  openBookFolder(controls_);
  EXPECT_EQ(controls_.paneText(kStatusBar, kMessagePane), gbk(kListDoneStatus));
  EXPECT_EQ(controls_.cellText(kBookList, 0, kRowStatusColumn), gbk(kNotDownloadedMark));
  EXPECT_TRUE(opened().empty());
  EXPECT_FALSE(fs::exists(downloads_));
}

// 下载选中项 and 下载全部: one book after another, each row waiting, running, ending.
TEST_F(RoutinesEndToEnd, AQueueDownloadsItsRowsInOrder) {
  setOpenFolderSetting(false);
  chooseSubject("小学专版", "数学");
  const auto& books = catalogue().findSubject("小学专版", "数学")->books;
  ASSERT_EQ(books.size(), 3u);
  controls_.takeStates();
  controls_.selectRows(kBookList, {2, 0});
  onDownloadSelected(controls_);
  onDownloadItem(controls_);  // row 2, already waiting: stays where it is
  EXPECT_TRUE(controls_.isMenuItemEnabled(kCancelDownloadMenu));
  ASSERT_TRUE(eventually([&] { return !downloadQueueRunning(); }));

  // Each row says 排队中 before the queue reaches it; the rows run in list order.
  std::vector<std::string> ends;
  for (const std::string& state : controls_.takeStates()) {
    if (!state.ends_with(" 0/20") && !state.ends_with(" 0/" + std::to_string(books[2].pageCount)))
      ends.push_back(state);
  }
  EXPECT_EQ(ends,
            (std::vector<std::string>{"0: 排队中", "2: 排队中", "0: 下载完成", "2: 下载完成"}));
  EXPECT_EQ(controls_.cellText(kBookList, 1, kRowStatusColumn), gbk(kNotDownloadedMark));
  // The controls are back; the last book's folder is the link.
  EXPECT_TRUE(controls_.isEnabled(kEditionCombo));
  EXPECT_FALSE(controls_.isMenuItemEnabled(kCancelDownloadMenu));
  EXPECT_FALSE(controls_.isVisible(kDownloadProgressBar));
  EXPECT_EQ(controls_.folderLink(kFolderLink), bookFolder("小学专版", "数学", books[2].title));
  EXPECT_TRUE(controls_.isVisible(kFolderLink));

  // 下载全部 queues only what is not there; a finished book is fetched no more.
  controls_.takeStates();
  onDownloadAll(controls_);
  ASSERT_TRUE(eventually([&] { return !downloadQueueRunning(); }));
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(controls_.cellText(kBookList, row, kRowStatusColumn), gbk(kRowDoneStatus)) << row;
  }
  EXPECT_EQ(pageFilesIn(bookFolder("小学专版", "数学", books[1].title)).size(),
            static_cast<std::size_t>(books[1].pageCount));
}

// After a restart the list says what is on disk, by each book's record.
TEST_F(RoutinesEndToEnd, ListedRowsSayWhatTheirRecordsHold) {
  setOpenFolderSetting(false);
  const auto& books = catalogue().findSubject("小学专版", "数学")->books;
  download("小学专版", "数学", books[0]);
  // Book 1: three pages on disk by its record; book 2: a folder of another book.
  const fs::path partial = bookFolder("小学专版", "数学", books[1].title);
  fs::create_directories(partial);
  BookRecord record{.url = site_->origin() + books[1].pagePath(),
                    .declaredPages = books[1].pageCount,
                    .imageBase = {},
                    .pages = {1, 2, 3}};
  ASSERT_EQ(saveBookRecord(partial.string(), record), FileError::none);
  const fs::path stranger = bookFolder("小学专版", "数学", books[2].title);
  fs::create_directories(stranger);
  record.url = "http://elsewhere/b.html";
  ASSERT_EQ(saveBookRecord(stranger.string(), record), FileError::none);

  chooseSubject("小学专版", "数学");
  EXPECT_EQ(controls_.cellText(kBookList, 0, kRowStatusColumn), gbk(kRowDoneStatus));
  EXPECT_EQ(controls_.cellText(kBookList, 1, kRowStatusColumn),
            gbk("未完成 (缺 " + std::to_string(books[1].pageCount - 3) + " 页)"));
  EXPECT_EQ(controls_.cellText(kBookList, 2, kRowStatusColumn), gbk(kNotDownloadedMark))
      << "another book's record says nothing of this one";

  // 在文件夹中打开 and 导出PDF only for a book with pages on disk.
  for (const auto& [row, enabled] : {std::pair{0, true}, {1, true}, {2, false}}) {
    controls_.selectRow(kBookList, row);
    enableFolderMenuItems(controls_);
    EXPECT_EQ(controls_.isMenuItemEnabled(kOpenFolderMenu), enabled) << row;
    EXPECT_EQ(controls_.isMenuItemEnabled(kExportPdfMenu), enabled) << row;
  }
  // Double-click on a complete book opens its folder instead of downloading it.
  controls_.selectRow(kBookList, 0);
  controls_.takeStates();
  onRowActivated(controls_);
  EXPECT_EQ(opened(), std::vector<std::string>{bookFolder("小学专版", "数学", books[0].title)});
  EXPECT_TRUE(controls_.takeStates().empty());
  EXPECT_FALSE(downloadQueueRunning());
}

// The window's handlers, each starting its routine on a thread of its own.
TEST_F(RoutinesEndToEnd, HandlersRunTheUsersStory) {
  setCatalogueOrigin(site_->origin());
  launchCatalogueSync(controls_);
  EXPECT_EQ(baseUrl(), site_->origin());
  ASSERT_TRUE(eventually(
      [&] { return controls_.paneText(kStatusBar, kMessagePane) == gbk(kSyncDoneStatus); }));

  controls_.setCurrentIndex(kEditionCombo, indexOf(controls_, kEditionCombo, "初中专版"));
  onEditionSelected(controls_);
  controls_.setCurrentIndex(kSubjectCombo, indexOf(controls_, kSubjectCombo, "物理"));
  onSubjectSelected(controls_);
  ASSERT_TRUE(eventually(
      [&] { return controls_.paneText(kStatusBar, kMessagePane) == gbk(kListDoneStatus); }));
  ASSERT_EQ(controls_.rowCount(kBookList), 2);

  const DemoBook& book = bookOf(catalogue(), "初中专版", "物理", 1);
  controls_.selectRow(kBookList, 1);
  onDownloadItem(controls_);
  ASSERT_TRUE(eventually(
      [&] { return controls_.cellText(kBookList, 1, kRowStatusColumn) == gbk(kRowDoneStatus); }));
  // The driver enables the controls after the row's last text.
  ASSERT_TRUE(eventually([&] { return controls_.isEnabled(kBookList); }));
  const fs::path folder = bookFolder("初中专版", "物理", book.title);
  for (int page = 1; page <= book.pageCount; ++page) {
    EXPECT_EQ(readFile(folder / (std::to_string(page) + ".jpg")),
              catalogue().pageImage(book, page));
  }
}

}  // namespace
}  // namespace varnel

// Debian's cpp-httplib is a prebuilt library: its threads' bookkeeping is
// invisible to ThreadSanitizer and shows up as races that are not ours.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
