// varnel-screenshot: opens the main window offscreen against the demo site
// (started in-process on a free port), chooses an edition and a subject the way
// a user does, downloads one book into a temporary directory and saves the
// window as a PNG once the row says "下载完成". With --queue it chooses
// 下载全部 instead, against a slow site, and saves the window while the first
// book is under way and the others wait.
//
// The window runs the program's own handlers (launchCatalogueSync,
// onEditionSelected, onSubjectSelected, onDownloadItem) through QtControls, so
// the picture shows what the program really shows.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/catalogue_site.h"
#include "app/process_state.h"
#include "app/qt_controls.h"
#include "app/settings.h"
#include "app/window_routines.h"
#include "app/windows.h"
#include "tools/demo_site/demo_site.h"

namespace {

using namespace varnel;

constexpr const char* kUsage =
    "usage: varnel-screenshot [--out FILE] [--edition NAME] [--subject NAME] [--row N] "
    "[--queue]\n"
    "  --out FILE      the PNG to write (default main-window.png)\n"
    "  --edition NAME  the edition to choose (default 初中专版; the first when absent)\n"
    "  --subject NAME  the subject to choose (default 物理; the first when absent)\n"
    "  --row N         the book row to download, from 0 (default 0)\n"
    "  --queue         every row queued (下载全部), drawn while the first downloads\n";

// The sync, the list and a small book take seconds; this only ends a hung run.
constexpr int kStepTimeoutMs = 120000;
constexpr int kDownloadClicks = 20;
constexpr int kDownloadStartMs = 500;
// With --queue: the site's wait before each page image, and how far the first
// book has come when the picture is taken.
constexpr int kQueueLatencyMs = 400;
constexpr int kQueuePagesShown = 9;
constexpr QSize kQueueWindowSize{640, 400};

struct Options {
  std::string out = "main-window.png";
  std::string edition = "初中专版";
  std::string subject = "物理";
  int row = 0;
  bool queue = false;
};

bool parseArgs(const std::vector<std::string>& args, Options& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    if (arg == "--out" && hasValue) {
      options.out = args[++i];
    } else if (arg == "--edition" && hasValue) {
      options.edition = args[++i];
    } else if (arg == "--subject" && hasValue) {
      options.subject = args[++i];
    } else if (arg == "--queue") {
      options.queue = true;
    } else if (arg == "--row" && hasValue) {
      try {
        options.row = std::stoi(args[++i]);
      } catch (...) {
        return false;
      }
      if (options.row < 0) return false;
    } else {
      return false;
    }
  }
  return true;
}

QString qs(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string utf8(const Text& text) { return textToUtf8(text); }

// Keeps the event loop running (it serves the routines' control calls from
// their threads) until `done` holds; false after the time-out.
bool waitFor(const std::function<bool()>& done, int timeoutMs = kStepTimeoutMs) {
  QElapsedTimer waited;
  waited.start();
  while (!done()) {
    if (waited.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void settle(int ms) {
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Chooses an item as the user does: it becomes current and the combo box
// reports it as activated, which runs the window's handler.
bool choose(QComboBox* combo, const std::string& wanted) {
  if (!combo || combo->count() == 0) return false;
  int index = combo->findText(qs(wanted));
  if (index < 0) index = 0;
  combo->setCurrentIndex(index);
  emit combo->activated(index);
  return true;
}

int fail(QtControls& controls, const char* step) {
  std::fprintf(stderr, "varnel-screenshot: %s (status: %s)\n", step,
               utf8(controls.paneText(kStatusBar, kMessagePane)).c_str());
  return 1;
}

bool savePicture(QWidget* window, const std::string& out) {
  // Let the last texts paint, with the list focused as after the user's click.
  window->activateWindow();
  window->findChild<QTreeWidget*>(qs(kBookList))->setFocus();
  settle(300);
  QImage image = window->grab().toImage();
  if (!image.save(QString::fromStdString(out), "PNG")) {
    std::fprintf(stderr, "varnel-screenshot: cannot write %s\n", out.c_str());
    return false;
  }
  std::printf("%s: %dx%d\n", out.c_str(), image.width(), image.height());
  return true;
}

// 下载全部, drawn while the first book downloads; then cancelled.
int drawQueue(const Options& options, QtControls& controls, QWidget* window) {
  // Wide enough for every figure beside the progress bar.
  window->resize(kQueueWindowSize);
  // The list's thread enables the menu as its last step.
  if (!waitFor([&] { return controls.isMenuItemEnabled(kDownloadAllMenu); })) {
    return fail(controls, "下载全部 stayed greyed");
  }
  window->findChild<QAction*>(qs(kDownloadAllMenu))->trigger();
  const bool underWay = waitFor([&] {
    return controls.progress(kDownloadProgressBar).first >= kQueuePagesShown &&
           !controls.paneText(kStatusBar, kFiguresPane).empty();
  });
  if (!underWay) return fail(controls, "the queue did not get under way");
  const bool saved = savePicture(window, options.out);
  window->findChild<QAction*>(qs(kCancelDownloadMenu))->trigger();
  if (!waitFor([&] { return !controls.isMenuItemEnabled(kCancelDownloadMenu); })) {
    return fail(controls, "the queue did not stop");
  }
  window->hide();
  controls.attach(nullptr);
  return saved ? 0 : 1;
}

int run(const Options& options, const demo::DemoSite& site, const QString& workDir) {
  setCatalogueOrigin(site.origin());
  setSettingsLocation(
      {.filePath = (workDir + QStringLiteral("/conf.ini")).toStdString(),
       .defaultDownloadDirectory = (workDir + QStringLiteral("/books")).toStdString()});
  setShellHooks({});  // never a real folder dialog or file manager
  installQtMessagePump();

  // Leaked on purpose: the routines' threads may still hold it at exit.
  auto* controls = new QtControls;
  // The very handlers the program binds (launchCatalogueSync, onEditionSelected, ...).
  auto* window = new MainWindow(routineHandlers(*controls));
  controls->attach(window);
  window->show();  // runs the catalogue sync
  auto* editions = window->findChild<QComboBox*>(qs(kEditionCombo));
  auto* subjects = window->findChild<QComboBox*>(qs(kSubjectCombo));
  auto* list = window->findChild<QTreeWidget*>(qs(kBookList));
  auto* download = window->findChild<QAction*>(qs(kDownloadItemMenu));

  if (!waitFor([&] { return editions->count() > 0 && editions->isEnabled(); })) {
    std::fprintf(stderr, "varnel-screenshot: %d editions, box %s\n", editions->count(),
                 editions->isEnabled() ? "enabled" : "disabled");
    return fail(*controls, "the catalogue was not read");
  }
  choose(editions, options.edition);
  if (!choose(subjects, options.subject)) return fail(*controls, "the edition has no subjects");
  if (!waitFor([&] { return list->topLevelItemCount() > 0 && editions->isEnabled(); })) {
    return fail(*controls, "no book list arrived");
  }
  if (options.row >= list->topLevelItemCount()) {
    std::fprintf(stderr, "varnel-screenshot: the subject has %d books, no row %d\n",
                 list->topLevelItemCount(), options.row);
    return 2;
  }

  if (options.queue) return drawQueue(options, *controls, window);

  controls->selectRow(kBookList, options.row);
  const Text done = statusText(kRowDoneStatus);
  const Text failed = statusText(kRowFailedPrefix);
  auto rowStatus = [&] { return controls->cellText(kBookList, options.row, kRowStatusColumn); };
  // The list's thread re-enables the controls just before it ends, and a click
  // in between is refused; click again, as a user would, until it starts.
  const Text before = rowStatus();
  bool started = false;
  for (int attempt = 0; attempt < kDownloadClicks && !started; ++attempt) {
    download->trigger();
    started =
        waitFor([&] { return !list->isEnabled() || rowStatus() != before; }, kDownloadStartMs);
  }
  if (!started) return fail(*controls, "the download did not start");
  if (!waitFor([&] {
        Text status = rowStatus();
        return (status == done || status.starts_with(failed)) && list->isEnabled();
      })) {
    return fail(*controls, "the download did not end");
  }
  if (rowStatus() != done) return fail(*controls, "the download failed");

  // Let the last texts paint, with the list focused as after the user's click.
  window->activateWindow();
  list->setFocus();
  settle(300);
  QImage image = window->grab().toImage();
  if (!image.save(QString::fromStdString(options.out), "PNG")) {
    std::fprintf(stderr, "varnel-screenshot: cannot write %s\n", options.out.c_str());
    return 1;
  }
  int pages = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(
           (workDir + QStringLiteral("/books")).toStdString(), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().extension() == kPageFileExtension) ++pages;
  }
  std::printf("%s: %dx%d; %s downloaded, %d pages\n", options.out.c_str(), image.width(),
              image.height(),
              utf8(controls->cellText(kBookList, options.row, kTitleColumn)).c_str(), pages);
  window->hide();
  controls->attach(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  if (!parseArgs(args, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // A screenshot needs no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  varnel::constructProcessState();
  varnel::registerShutdownRoutine();
  QApplication app(argc, argv);  // before the site: it draws its pages with QPainter

  int exitCode = 1;
  {
    varnel::demo::DemoSite site(
        varnel::demo::DemoOptions{.latencyMs = options.queue ? kQueueLatencyMs : 0});
    QTemporaryDir workDir;
    if (!workDir.isValid() || !site.start()) {
      std::fputs("varnel-screenshot: cannot start the demo site\n", stderr);
    } else {
      exitCode = run(options, site, workDir.path());
    }
  }
  // The pool's threads are left to the shutdown routine; no static destructors.
  varnel::leaveProcess(exitCode);
}
