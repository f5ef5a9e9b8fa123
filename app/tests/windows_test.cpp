// The two windows, their bindings and QtControls, offscreen.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/banner_image.h"
#include "app/book_list.h"
#include "app/catalogue_site.h"  // kProgressTickMs
#include "app/headless_controls.h"
#include "app/ini_file.h"
#include "app/qt_controls.h"
#include "app/settings.h"
#include "app/window_texts.h"
#include "app/windows.h"

#include "pool/worker_pool.h"

using namespace varnel;

namespace {

QString qs(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

template <typename T>
T* child(QWidget* root, std::string_view name) {
  return root->findChild<T*>(qs(name));
}

struct Calls {
  int created = 0, edition = 0, subject = 0, download = 0, openFolder = 0, exportPdf = 0,
      rowActivated = 0, downloadSelected = 0, downloadAll = 0, cancel = 0, menuShown = 0, retry = 0;
  bool downloading = false;
};

MainWindowHandlers countingHandlers(Calls& calls) {
  return {
      .created = [&calls] { ++calls.created; },
      .editionSelected = [&calls] { ++calls.edition; },
      .subjectSelected = [&calls] { ++calls.subject; },
      .downloadItem = [&calls] { ++calls.download; },
      .downloadSelected = [&calls] { ++calls.downloadSelected; },
      .downloadAll = [&calls] { ++calls.downloadAll; },
      .cancelDownload = [&calls] { ++calls.cancel; },
      .openBookFolder = [&calls] { ++calls.openFolder; },
      .exportPdf = [&calls] { ++calls.exportPdf; },
      .rowActivated = [&calls] { ++calls.rowActivated; },
      .rowMenuShown = [&calls] { ++calls.menuShown; },
      .retrySync = [&calls] { ++calls.retry; },
      .progressTick = {},
      .downloadRunning = [&calls] { return calls.downloading; },
  };
}

// Runs `work` on another thread while this (GUI) thread keeps handling events.
bool runOnWorker(const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  QElapsedTimer waited;
  waited.start();
  while (!done && waited.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  bool finished = done;
  if (!finished)
    worker.detach();  // hung: leave it, the test fails below
  else
    worker.join();
  return finished;
}

// One sequence of operations, applied to any Controls; includes the edges.
void applySequence(Controls& c, ControlsProbe& p) {
  c.addItem(kEditionCombo, utf8BytesToText("高中"));
  c.addItem(kEditionCombo, utf8BytesToText("初中"));
  c.addItem(kEditionCombo, "third");
  c.setCurrentIndex(kEditionCombo, 9);  // out of range
  c.setCurrentIndex(kEditionCombo, 2);
  c.addItem(kSubjectCombo, "s");  // chooses nothing
  c.setEnabled(kEditionCombo, false);
  c.setEnabled(kSubjectCombo, false);
  c.setEnabled(kSubjectCombo, true);
  c.setEnabled(kBookList, false);
  for (int i = 1; i <= 3; ++i) {
    int row = c.appendRow(kBookList, std::to_string(i));
    c.setCellText(kBookList, row, 1, utf8BytesToText("书名") + std::to_string(i));
    c.setCellText(kBookList, row, 4, "http://x/" + std::to_string(i));
    c.setCellText(kBookList, row, 5, "-");
  }
  c.setCellText(kBookList, 1, 6, "no column 6");
  c.setCellText(kBookList, 3, 0, "no row 3");
  p.selectRows(kBookList, {2, 7, 0});  // Ctrl-clicks: the first is the row acted on
  p.selectRow(kBookList, 1);
  p.selectRows(kBookList, {2, 7, 0});
  c.setPaneText(kStatusBar, 1, utf8BytesToText("拉取成功,鼠标右键选择下载"));
  c.setPaneText(kStatusBar, 2, "8/20");
  c.setPaneText(kStatusBar, 3, "1.2 MiB/s");
  c.setPaneText(kStatusBar, 4, "no pane 4");
  c.setVisible(kDownloadProgressBar, true);
  c.setProgress(kDownloadProgressBar, 30, 20);  // clamped
  c.setProgress(kDownloadProgressBar, 3, 20);
  c.setVisible(kRetrySyncButton, true);
  c.setVisible(kRetrySyncButton, false);
  c.setFolderLink(kFolderLink, "/tmp/书 <a>");
  c.setVisible(kFolderLink, true);
  enableBookMenuItems(c);  // as a fetched list does
  c.setMenuItemEnabled(kSettingsMenu, false);
  c.setEnabled("不存在的控件", false);
  c.addItem(kBookList, "a list is not a combo box");
}

// Everything a Controls can report, as one comparable text.
QString describe(Controls& c, ControlsProbe& p) {
  QStringList out;
  auto t = [](const Text& text) { return qs(textToUtf8(text)); };
  for (std::string_view combo : {kEditionCombo, kSubjectCombo}) {
    out << qs(combo) << QString::number(p.itemCount(combo))
        << QString::number(c.currentIndex(combo)) << QString::number(p.isEnabled(combo));
    for (int i = -1; i <= p.itemCount(combo); ++i) out << t(c.itemText(combo, i));
  }
  out << QString::number(p.rowCount(kBookList)) << QString::number(c.selectedRow(kBookList))
      << QString::number(p.isEnabled(kBookList));
  for (int row : c.selectedRows(kBookList)) out << QString::number(row);
  for (std::string_view name :
       {kDownloadProgressBar, kCancelDownloadButton, kRetrySyncButton, kFolderLink}) {
    out << QString::number(p.isVisible(name));
  }
  const auto [value, maximum] = p.progress(kDownloadProgressBar);
  out << QString::number(value) << QString::number(maximum)
      << QString::fromStdString(p.folderLink(kFolderLink));
  for (int row = -1; row <= p.rowCount(kBookList); ++row) {
    for (int col = -1; col <= kBookListColumnCount; ++col)
      out << t(c.cellText(kBookList, row, col));
  }
  for (int pane = -1; pane <= kStatusPaneCount; ++pane) out << t(p.paneText(kStatusBar, pane));
  for (std::string_view item :
       {kDownloadItemMenu, kDownloadSelectedMenu, kDownloadAllMenu, kCancelDownloadMenu,
        kOpenFolderMenu, kExportPdfMenu, kSettingsMenu}) {
    out << QString::number(p.isMenuItemEnabled(item));
  }
  out << QString::number(c.currentIndex("不存在的控件"));
  return out.join(QLatin1Char('|'));
}

// Closes every message box that appears while it lives, keeping what each said.
class MessageBoxWatcher {
 public:
  MessageBoxWatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(top);
        if (!box || !box->isVisible()) continue;
        seen << box->text();
        icons << box->icon();
        box->done(QMessageBox::Ok);
      }
    });
    timer_.start(10);
  }
  QStringList seen;
  QList<QMessageBox::Icon> icons;

 private:
  QTimer timer_;
};

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(settingsDir_.isValid());
    setSettingsLocation({settingsFile().toStdString(), programDir()});
    QFile::remove(settingsFile());
    browseAnswer_.clear();
    browseCalls_ = 0;
    setShellHooks({.browseForFolder =
                       [this](const BrowseOptions&) {
                         ++browseCalls_;
                         return browseAnswer_;
                       },
                   .openFolder = {}});
  }

  void mainWindowLayout() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    QCOMPARE(w.windowTitle(), qs(kMainWindowTitle));
    QCOMPARE(w.minimumSize(), QSize(509, 363));
    QCOMPARE(child<QLabel>(&w, kEditionLabel)->text(), QStringLiteral("专版分类："));
    QCOMPARE(child<QLabel>(&w, kSubjectLabel)->text(), QStringLiteral("学科分类："));
    auto* edition = child<QComboBox>(&w, kEditionCombo);
    auto* subject = child<QComboBox>(&w, kSubjectCombo);
    QCOMPARE(edition->placeholderText(), QStringLiteral("请选择专版"));
    QCOMPARE(subject->placeholderText(), QStringLiteral("请选择学科"));

    auto* list = child<QTreeWidget>(&w, kBookList);
    const QStringList headings = {"序号", "标题", "页数", "是否支持下载", "url", "当前状态"};
    const int widths[] = {40, 200, 40, 100, 0, 80};
    QCOMPARE(list->columnCount(), 6);
    for (int i = 0; i < 6; ++i) {
      QCOMPARE(list->headerItem()->text(i), headings[i]);
      QCOMPARE(list->isColumnHidden(i), i == 4);
      if (i != 4) QCOMPARE(list->columnWidth(i), widths[i]);
      QCOMPARE(list->header()->sectionResizeMode(i), QHeaderView::Interactive);
    }

    auto* status = child<QStatusBar>(&w, kStatusBar);
    // Three panes, the figures pane (shown with the progress bar), then the
    // named controls that show only while they have something to tell.
    QList<QLabel*> panes;
    for (QLabel* label : status->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (label->objectName().isEmpty()) panes << label;
    }
    QCOMPARE(panes.size(), 4);
    QCOMPARE(panes[0]->text(), QStringLiteral("当前状态："));
    QVERIFY(panes[1]->text().isEmpty());
    QVERIFY(panes[2]->text().isEmpty());
    QVERIFY(panes[3]->isHidden());
    for (std::string_view name :
         {kDownloadProgressBar, kCancelDownloadButton, kRetrySyncButton, kFolderLink}) {
      QVERIFY2(child<QWidget>(&w, name)->isHidden(), name.data());
    }
    QCOMPARE(child<QToolButton>(&w, kCancelDownloadButton)->text(), QStringLiteral("取消下载"));
    QCOMPARE(child<QToolButton>(&w, kRetrySyncButton)->text(), QStringLiteral("重试"));

    QList<QAction*> items = w.rowMenu()->actions();
    const QStringList captions = {"下载此项", "下载选中项",     "下载全部",
                                  "取消下载", "在文件夹中打开", "导出PDF",
                                  "",         "下载配置",       "诊断网站"};
    QCOMPARE(items.size(), captions.size());
    for (int i = 0; i < items.size(); ++i) {
      QCOMPARE(items[i]->text(), captions[i]);
      QCOMPARE(items[i]->isSeparator(), captions[i].isEmpty());
      if (!captions[i].isEmpty()) QCOMPARE(items[i]->objectName(), captions[i]);
      // Greyed until a list is fetched, a download runs, a book has pages on
      // disk or (诊断网站) a routine ends with 网站框架已更新.
      QCOMPARE(items[i]->isEnabled(), captions[i].isEmpty() || captions[i] == "下载配置");
    }
    QVERIFY(!items.last()->isVisible());  // until a 网站框架已更新 end
    QCOMPARE(w.rowMenu()->objectName(), QStringLiteral("鼠标右键"));

    // Opened at its smallest size, every control where it always was; at any
    // larger size the list takes the difference and the banner keeps to the right.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.pos(), QPoint(50, 50));
    auto* picture = child<QLabel>(&w, kPictureBox);
    auto* signature = child<QLabel>(&w, kSignatureLabel);
    QCOMPARE(signature->parentWidget(), picture);
    QCOMPARE(signature->geometry().topLeft(), QPoint(89, 22));
    QVERIFY(signature->font().bold());
    QVERIFY(signature->font().pixelSize() <= 14);
    QVERIFY(!signature->text().isEmpty());
    struct Size {
      const char* why;
      QSize window;
    } sizes[] = {{"smallest", QSize(509, 363)}, {"grown", QSize(709, 463)}};
    for (const Size& size : sizes) {
      w.resize(size.window);
      QTRY_VERIFY2(w.size() == size.window, size.why);
      const int dx = size.window.width() - 509, dy = size.window.height() - 363;
      QCOMPARE(child<QLabel>(&w, kEditionLabel)->geometry(), QRect(8, 8, 64, 24));
      QCOMPARE(child<QLabel>(&w, kSubjectLabel)->geometry(), QRect(8, 40, 64, 24));
      // Each box beside its caption, centred on it.
      QCOMPARE(edition->geometry().topLeft().x(), 72);
      QCOMPARE(edition->size(), QSize(256, 20));
      QCOMPARE(edition->geometry().center().y(), QRect(8, 8, 64, 24).center().y());
      QCOMPARE(subject->geometry(), QRect(72, 42, 200, 20));
      QCOMPARE(picture->geometry(), QRect(352 + dx, 17, 136, 40));
      QCOMPARE(list->geometry(), QRect(8, 72, 488 + dx, 232 + dy));
      QCOMPARE(status->geometry(), QRect(0, 343 + dy, 509 + dx, 20));
      QCOMPARE(panes[0]->width(), 60);
      QCOMPARE(panes[1]->width(), 200);
      QVERIFY(panes[2]->geometry().right() >= 500 + dx);  // the last pane runs to the edge
    }
    w.resize(300, 200);  // never smaller than it opened
    QCOMPARE(w.size(), QSize(509, 363));
  }

  void bannerIsWholeAndTheSignatureFitsInsideIt() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* picture = child<QLabel>(&w, kPictureBox);
    auto* signature = child<QLabel>(&w, kSignatureLabel);

    // The whole 273 x 80 banner is in the 136 x 40 box, not its left half.
    QCOMPARE(picture->pixmap().deviceIndependentSize(), QSizeF(136, 40));
    QImage shown = picture->grab().toImage().scaled(136, 40);
    QImage banner =
        QImage::fromData(QByteArray(reinterpret_cast<const char*>(bannerPngBytes().data()),
                                    static_cast<qsizetype>(bannerPngBytes().size())))
            .scaled(136, 40, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (QPoint p : {QPoint(2, 2), QPoint(133, 2), QPoint(70, 2)}) {
      QColor a = shown.pixelColor(p), b = banner.pixelColor(p);
      QVERIFY2(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                       std::abs(a.blue() - b.blue()) <
                   24,
               qPrintable(QStringLiteral("pixel %1,%2").arg(p.x()).arg(p.y())));
    }

    // The signature is inside the box and its text inside the label: never cut.
    QVERIFY(picture->rect().contains(signature->geometry()));
    QFontMetrics metrics(signature->font());
    QCOMPARE(signature->text(), QStringLiteral("Varnel"));
    QVERIFY(metrics.horizontalAdvance(signature->text()) <= signature->contentsRect().width());
    QVERIFY(metrics.height() <= signature->contentsRect().height());
    QVERIFY(signature->font().pixelSize() >= 6);
  }

  void hiddenUrlColumnTakesNoSpace() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    QtControls controls(&w);
    for (int i = 0; i < 3; ++i) {
      int row = controls.appendRow(kBookList, std::to_string(i + 1));
      controls.setCellText(kBookList, row, 4, "http://x/" + std::to_string(i));
      controls.setCellText(kBookList, row, 5, "-");
    }
    controls.selectRow(kBookList, 1);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* list = child<QTreeWidget>(&w, kBookList);
    QHeaderView* header = list->header();

    // "当前状态" starts where "是否支持下载" ends, in the header and in the rows.
    QCOMPARE(header->sectionSize(4), 0);
    QCOMPARE(header->sectionPosition(5), 280 + 100);
    QCOMPARE(header->sectionViewportPosition(5), 380);
    // and takes the rest of the list's width, never less than its own 80.
    QCOMPARE(header->length(), list->viewport()->width());
    QVERIFY(header->sectionSize(5) >= 80);
    QModelIndex supported = list->model()->index(1, 3);
    QModelIndex state = list->model()->index(1, 5);
    QCOMPARE(list->visualRect(state).left(), list->visualRect(supported).right() + 1);

    // The selected row's highlight runs on without a hole where the band was
    // (looked at along its top edge, above any text).
    QImage view = list->viewport()->grab().toImage();
    int y = list->visualRect(state).top() + 1;
    QColor highlight = view.pixelColor(300, y);
    for (int x : {375, 385, 395, 405, 420}) {
      QCOMPARE(view.pixelColor(x, y), highlight);
    }
  }

  void rowsActOnDoubleClickOrEnterAndShowWholeTitles() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    QtControls controls(&w);
    const QString title =
        QStringLiteral("义务教育教科书 数学 一年级 上册 根据二〇二二年版课程标准修订 教师用书");
    for (int i = 0; i < 2; ++i) {
      int row = controls.appendRow(kBookList, std::to_string(i + 1));
      controls.setCellText(kBookList, row, kTitleColumn, utf8BytesToText(title.toStdString()));
    }
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* list = child<QTreeWidget>(&w, kBookList);
    QTreeWidgetItem* item = list->topLevelItem(1);
    QVERIFY(list->fontMetrics().horizontalAdvance(title) > list->columnWidth(kTitleColumn));
    QCOMPARE(item->toolTip(kTitleColumn), title);  // the cut-short title, whole

    QTest::mouseDClick(w.windowHandle(), Qt::LeftButton, {},
                       list->viewport()->mapTo(&w, list->visualItemRect(item).center()));
    QCOMPARE(calls.rowActivated, 1);
    QCOMPARE(controls.selectedRow(kBookList), 1);  // the row the routine will read
    controls.selectRow(kBookList, 0);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(calls.rowActivated, 2);
    QCOMPARE(calls.download, 0);  // the menu item stays the menu's
  }

  void settingsWindowLayout() {
    SettingsWindow s;
    QCOMPARE(s.windowTitle(), QStringLiteral("下载设置"));
    QVERIFY(s.isModal());
    auto* open = child<QCheckBox>(&s, kOpenCheckBox);
    QCOMPARE(open->text(), QStringLiteral("下载完成后自动打开文件夹   "));
    auto* label = child<QLabel>(&s, kPathLabel);
    QCOMPARE(label->text(), QStringLiteral("当前下载路径："));
    auto* edit = child<QLineEdit>(&s, kPathEdit);
    QVERIFY(edit->isEnabled());  // looks like a path, not a greyed box
    QVERIFY(edit->isReadOnly());
    auto* button = child<QPushButton>(&s, kChangePathButton);
    QCOMPARE(button->text(), QStringLiteral("更改路径"));
    auto* buttons = s.findChild<QDialogButtonBox*>();
    QVERIFY(buttons);
    QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(buttons->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));

    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
    QCOMPARE(s.pos(), QPoint(50, 50));
    QVERIFY(s.width() >= 373);
    // The check box above one row of caption, path and button; 确定 / 取消 below.
    QVERIFY(open->geometry().bottom() < edit->geometry().top());
    QVERIFY(label->geometry().right() < edit->geometry().left());
    QVERIFY(edit->geometry().right() < button->geometry().left());
    QCOMPARE(label->geometry().center().y(), edit->geometry().center().y());
    QVERIFY(edit->geometry().bottom() < buttons->geometry().top());
    QVERIFY(edit->width() >= 216);
    QVERIFY(s.rect().contains(buttons->geometry()));
  }

  void createdRunsOnceAndOnlyUserChoicesRunHandlers() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    QCOMPARE(calls.created, 0);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.hide();
    w.show();
    QCOMPARE(calls.created, 1);

    QtControls controls(&w);
    controls.addItem(kEditionCombo, "a");
    controls.addItem(kEditionCombo, "b");
    controls.addItem(kSubjectCombo, "x");
    controls.addItem(kSubjectCombo, "y");
    controls.setCurrentIndex(kEditionCombo, 1);
    controls.setCurrentIndex(kSubjectCombo, 1);
    QCOMPARE(calls.edition, 0);  // programmatic changes run nothing
    QCOMPARE(calls.subject, 0);

    auto* edition = child<QComboBox>(&w, kEditionCombo);
    edition->setFocus();
    QTest::keyClick(edition, Qt::Key_Up);  // the user picks another item
    QCOMPARE(edition->currentIndex(), 0);
    QCOMPARE(calls.edition, 1);
    QCOMPARE(calls.subject, 0);
    auto* subject = child<QComboBox>(&w, kSubjectCombo);
    subject->setFocus();
    QTest::keyClick(subject, Qt::Key_Up);
    QCOMPARE(calls.subject, 1);

    // As the routines leave a box they filled: its placeholder, no item shown,
    // and the first item is a choice like any other.
    controls.setCurrentIndex(kSubjectCombo, -1);
    QCOMPARE(subject->currentText(), QString());
    QCOMPARE(subject->placeholderText(), QStringLiteral("请选择学科"));
    QTest::keyClick(subject, Qt::Key_Down);
    QCOMPARE(subject->currentIndex(), 0);
    QCOMPARE(calls.subject, 2);
  }

  void qtDialogsSpeakTheSystemsLanguageElseChinese() {
    struct Case {
      const char* why;
      QLocale system;
      QString installed;
      QString cancel;  // a button of Qt's own dialogs
    } cases[] = {
        {"a language with translations", QLocale(QLocale::German, QLocale::Germany), "de_DE",
         "Abbrechen"},
        {"no translation for it", QLocale(QLocale::C), "zh_CN", "取消"},
        {"one with none either", QLocale(QLocale::Welsh), "zh_CN", "取消"},
        {"Qt's own language", QLocale(QLocale::English, QLocale::UnitedStates), "en", "Cancel"},
    };
    for (const Case& c : cases) {
      QCOMPARE(installQtTranslations(c.system), c.installed);
      QDialogButtonBox box(QDialogButtonBox::Cancel);
      QVERIFY2(box.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')) == c.cancel,
               c.why);
    }
  }

  void tabKeyMovesTheFocusOnFromTheComboBox() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* subject = child<QComboBox>(&w, kSubjectCombo);
    subject->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), subject);
    QtControls controls(&w);
    QVERIFY(runOnWorker([&] { controls.pressTabKey(); }));  // as the book-list thread does
    QVERIFY(QApplication::focusWidget() != subject);
    QVERIFY(QApplication::focusWidget() != nullptr);
    QCOMPARE(QApplication::focusWidget()->window(), &w);
  }

  void rightClickBeforeAnyListShowsDownloadGreyedOut() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* list = child<QTreeWidget>(&w, kBookList);
    QPoint inList = list->viewport()->mapTo(&w, QPoint(50, 50));

    QTest::mouseClick(w.windowHandle(), Qt::RightButton, {}, inList);
    QTRY_VERIFY(w.rowMenu()->isVisible());
    QCOMPARE(calls.menuShown, 1);  // the routines decide the items first
    QAction* download = w.findChild<QAction*>(qs(kDownloadItemMenu));
    QAction* openFolder = w.findChild<QAction*>(qs(kOpenFolderMenu));
    for (std::string_view item : {kDownloadItemMenu, kDownloadSelectedMenu, kDownloadAllMenu,
                                  kCancelDownloadMenu, kOpenFolderMenu, kExportPdfMenu}) {
      QVERIFY2(!w.findChild<QAction*>(qs(item))->isEnabled(), item.data());
    }

    // Clicking a greyed item does nothing.
    QTest::mouseClick(w.rowMenu(), Qt::LeftButton, {},
                      w.rowMenu()->actionGeometry(download).center());
    QCOMPARE(calls.download, 0);
    QTest::keyClick(w.rowMenu(), Qt::Key_Escape);
    QTRY_VERIFY(!w.rowMenu()->isVisible());

    // Once enabled, each item runs its own handler.
    QtControls controls(&w);
    const struct {
      std::string_view item;
      const int* count;
    } items[] = {{kDownloadItemMenu, &calls.download},
                 {kDownloadSelectedMenu, &calls.downloadSelected},
                 {kDownloadAllMenu, &calls.downloadAll},
                 {kCancelDownloadMenu, &calls.cancel},
                 {kOpenFolderMenu, &calls.openFolder}};
    for (const auto& [item, count] : items) {
      controls.setMenuItemEnabled(item, true);
      QTest::mouseClick(w.windowHandle(), Qt::RightButton, {}, inList);
      QTRY_VERIFY(w.rowMenu()->isVisible());
      QAction* action = w.findChild<QAction*>(qs(item));
      QTest::mouseClick(w.rowMenu(), Qt::LeftButton, {},
                        w.rowMenu()->actionGeometry(action).center());
      QTRY_COMPARE(*count, 1);
      QTRY_VERIFY(!w.rowMenu()->isVisible());
    }
    QVERIFY(openFolder->isEnabled());
  }

  // Esc and the button beside the progress cancel as the menu does; closing
  // during a download asks, and 停止并退出 closes once the download has ended.
  void cancelAndCloseDuringADownload() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    calls.downloading = true;
    {
      // The question the user sees; a box closed without a choice goes on downloading.
      MessageBoxWatcher watcher;
      QVERIFY(!w.close());
      QCOMPARE(watcher.seen, QStringList{QStringLiteral("正在下载, 确定退出吗?")});
      QCOMPARE(calls.cancel, 0);
    }
    calls.downloading = false;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    int asked = 0;
    bool stop = false;
    w.setCloseQuestion([&] {
      ++asked;
      return stop;
    });
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(calls.cancel, 1);
    QtControls controls(&w);
    controls.setVisible(kCancelDownloadButton, true);
    child<QToolButton>(&w, kCancelDownloadButton)->click();
    QCOMPARE(calls.cancel, 2);

    calls.downloading = true;
    QVERIFY(!w.close());
    QCOMPARE(asked, 1);
    QCOMPARE(calls.cancel, 2);  // 继续下载 goes on
    QVERIFY(w.isVisible());

    stop = true;
    QVERIFY(!w.close());
    QCOMPARE(asked, 2);
    QCOMPARE(calls.cancel, 3);  // 停止并退出 stops as 取消下载 does
    QTest::qWait(3 * kProgressTickMs);
    QVERIFY2(w.isVisible(), "stays until the book has ended");
    calls.downloading = false;
    QTRY_VERIFY(!w.isVisible());
    QCOMPARE(asked, 2);

    // Without a download the window closes at once, unasked.
    w.show();
    QVERIFY(w.close());
    QCOMPARE(asked, 2);
  }

  // Ctrl-click chooses several rows; the status bar's link opens its folder.
  void severalRowsAndTheFolderLink() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    QtControls controls(&w);
    std::vector<std::string> opened;
    setShellHooks({.browseForFolder = {},
                   .openFolder = [&opened](const std::string& path) { opened.push_back(path); }});
    for (int i = 0; i < 3; ++i) controls.appendRow(kBookList, std::to_string(i + 1));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* list = child<QTreeWidget>(&w, kBookList);
    auto click = [&](int row, Qt::KeyboardModifiers modifiers) {
      const QRect rect = list->visualItemRect(list->topLevelItem(row));
      QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
    };
    click(0, {});
    click(2, Qt::ControlModifier);
    QCOMPARE(controls.selectedRows(kBookList), (std::vector<int>{0, 2}));
    QCOMPARE(controls.selectedRow(kBookList), 2);  // the row clicked last
    click(1, {});
    click(2, Qt::ShiftModifier);
    QCOMPARE(controls.selectedRows(kBookList), (std::vector<int>{1, 2}));

    controls.setFolderLink(kFolderLink, "/tmp/书 & <b>");
    controls.setVisible(kFolderLink, true);
    auto* link = child<QLabel>(&w, kFolderLink);
    QVERIFY(link->text().contains(QStringLiteral("/tmp/书 &amp; &lt;b&gt;")));
    emit link->linkActivated(QStringLiteral("folder"));
    QCOMPARE(opened, std::vector<std::string>{"/tmp/书 & <b>"});
  }

  void exportPdfRunsItsHandler() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    QtControls controls(&w);
    controls.setMenuItemEnabled(kExportPdfMenu, true);  // as for a book with pages on disk
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* list = child<QTreeWidget>(&w, kBookList);
    QTest::mouseClick(w.windowHandle(), Qt::RightButton, {},
                      list->viewport()->mapTo(&w, QPoint(50, 50)));
    QTRY_VERIFY(w.rowMenu()->isVisible());
    QAction* exportPdf = w.findChild<QAction*>(qs(kExportPdfMenu));
    QTest::mouseClick(w.rowMenu(), Qt::LeftButton, {},
                      w.rowMenu()->actionGeometry(exportPdf).center());
    QTRY_COMPARE(calls.exportPdf, 1);
    QCOMPARE(calls.download + calls.openFolder, 0);
  }

  void disabledListOffersNoMenu() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QtControls(&w).setEnabled(kBookList, false);  // as during a download
    auto* list = child<QTreeWidget>(&w, kBookList);
    QTest::mouseClick(w.windowHandle(), Qt::RightButton, {},
                      list->viewport()->mapTo(&w, QPoint(50, 50)));
    QTest::qWait(50);
    QVERIFY(!w.rowMenu()->isVisible());
  }

  void settingsMenuOpensTheModalWindow() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    bool sawModal = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      sawModal = dialog && dialog->windowTitle() == QStringLiteral("下载设置");
      if (dialog) dialog->reject();
    });
    w.findChild<QAction*>(qs(kSettingsMenu))->trigger();  // returns once the window is closed
    QVERIFY(sawModal);
    QVERIFY(!QFile::exists(settingsFile()));  // 取消 writes nothing
  }

  void settingsRoundTrip() {
    {
      SettingsWindow s;  // no file yet
      QCOMPARE(child<QLineEdit>(&s, kPathEdit)->text(), QString::fromStdString(programDir()));
      QVERIFY(!child<QCheckBox>(&s, kOpenCheckBox)->isChecked());
      child<QCheckBox>(&s, kOpenCheckBox)->setChecked(true);
      s.accept();
    }
    QCOMPARE(readIniValue(settingsFile().toStdString(), "config", "DownloadPath"), programDir());
    QCOMPARE(readIniValue(settingsFile().toStdString(), "config", "OpenOrNot"),
             std::optional<std::string>("True"));

    for (const char* stored : {"true", "TRUE"}) {
      writeIniString(settingsFile().toStdString(), "config", "OpenOrNot", stored);
      SettingsWindow s;
      QVERIFY2(!child<QCheckBox>(&s, kOpenCheckBox)->isChecked(), stored);
      s.reject();
    }

    // A new path, then every way of leaving: only 确定 keeps it.
    struct Leave {
      const char* why;
      std::function<void(SettingsWindow&)> close;
      std::string storedAfter;
    } leaves[] = {
        {"Escape", [](SettingsWindow& s) { QTest::keyClick(&s, Qt::Key_Escape); }, programDir()},
        {"取消",
         [](SettingsWindow& s) {
           QTest::mouseClick(s.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel),
                             Qt::LeftButton);
         },
         programDir()},
        {"确定",
         [](SettingsWindow& s) {
           QTest::mouseClick(s.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                             Qt::LeftButton);
         },
         "/media/书库"},
    };
    for (const Leave& leave : leaves) {
      SettingsWindow s;
      s.show();
      QVERIFY(QTest::qWaitForWindowExposed(&s));
      auto* edit = child<QLineEdit>(&s, kPathEdit);
      auto* button = child<QPushButton>(&s, kChangePathButton);
      browseCalls_ = 0;
      browseAnswer_ = "/media/书库";
      QTest::mouseClick(button, Qt::LeftButton);
      QCOMPARE(edit->text(), QStringLiteral("/media/书库"));
      browseAnswer_.clear();  // the user cancels the dialog
      QTest::mouseClick(button, Qt::LeftButton);
      QCOMPARE(browseCalls_, 2);
      QCOMPARE(edit->text(), QStringLiteral("/media/书库"));
      leave.close(s);
      QVERIFY2(!s.isVisible(), leave.why);
      QVERIFY2(readIniValue(settingsFile().toStdString(), "config", "DownloadPath") ==
                   std::optional<std::string>(leave.storedAfter),
               leave.why);
    }
  }

  void failedSaveIsShownToTheUser() {
    // Paths that cannot be written even by root: below a regular file, and a
    // directory where the file should be.
    QFile blocker(settingsDir_.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(QDir(settingsDir_.path()).mkpath(QStringLiteral("taken/conf.ini")));
    struct Case {
      const char* why;
      QString file;
      bool fails;
    } cases[] = {
        {"below a regular file", settingsDir_.filePath(QStringLiteral("blocker/conf.ini")), true},
        {"a directory in the file's place", settingsDir_.filePath(QStringLiteral("taken/conf.ini")),
         true},
        {"a writable place says nothing", settingsFile(), false},
    };
    for (const Case& c : cases) {
      setSettingsLocation({c.file.toStdString(), programDir()});
      MessageBoxWatcher watcher;
      {
        SettingsWindow s;
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        // Returns once the warning was closed.
        QTest::mouseClick(s.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
        QVERIFY2(!s.isVisible(), c.why);
      }
      if (!c.fails) {
        QVERIFY2(watcher.seen.isEmpty(), c.why);
        continue;
      }
      QCOMPARE(watcher.seen, QStringList{QStringLiteral("保存设置失败:无法写入 ") + c.file});
      QCOMPARE(watcher.icons.value(0), QMessageBox::Warning);
    }
  }

  void qtControlsFromAWorkerThreadAndFromTheGuiThread() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    QtControls controls(&w);
    Text title = utf8BytesToText("标题一");
    int row = -2;
    Text readBack;
    QVERIFY(runOnWorker([&] {
      controls.addItem(kEditionCombo, title);
      row = controls.appendRow(kBookList, "1");
      controls.setCellText(kBookList, row, 1, title);
      readBack = controls.cellText(kBookList, row, 1);
      controls.setPaneText(kStatusBar, 1, title);
      controls.setEnabled(kEditionCombo, false);
    }));
    QCOMPARE(row, 0);
    QCOMPARE(readBack, title);
    QCOMPARE(child<QTreeWidget>(&w, kBookList)->topLevelItem(0)->text(1), QStringLiteral("标题一"));
    QVERIFY(!child<QComboBox>(&w, kEditionCombo)->isEnabled());
    // The same object works directly on the GUI thread.
    QCOMPARE(controls.itemText(kEditionCombo, 0), title);
    QCOMPARE(controls.paneText(kStatusBar, 1), title);
  }

  void qtControlsAfterTheWindowIsGone() {
    Calls calls;
    auto* w = new MainWindow(countingHandlers(calls));
    QtControls controls(w);
    controls.addItem(kEditionCombo, "a");
    controls.setCurrentIndex(kEditionCombo, 0);
    QCOMPARE(controls.currentIndex(kEditionCombo), 0);
    delete w;
    QCOMPARE(controls.currentIndex(kEditionCombo), -1);
    QCOMPARE(controls.appendRow(kBookList, "1"), -1);
    QCOMPARE(controls.itemText(kEditionCombo, 0), Text());
    controls.setPaneText(kStatusBar, 1, "nothing to write to");
    int fromWorker = 7;
    QVERIFY(runOnWorker([&] { fromWorker = controls.selectedRow(kBookList); }));
    QCOMPARE(fromWorker, -1);
    QtControls never;
    QCOMPARE(never.rowCount(kBookList), 0);
    QCOMPARE(never.selectedRow(kBookList), -1);
    QCOMPARE(controls.itemCount(kEditionCombo), 0);
  }

  void headlessAndQtControlsAgree() {
    Calls calls;
    MainWindow w(countingHandlers(calls));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QtControls qt(&w);
    HeadlessControls headless;
    QCOMPARE(describe(qt, qt), describe(headless, headless));  // the same initial state
    applySequence(qt, qt);
    applySequence(headless, headless);
    QCOMPARE(describe(qt, qt), describe(headless, headless));
    qt.clearRows(kBookList);
    headless.clearRows(kBookList);
    qt.clearItems(kEditionCombo);
    headless.clearItems(kEditionCombo);
    QCOMPARE(describe(qt, qt), describe(headless, headless));
  }

  void poolWaitOnTheGuiThreadServesControlCalls() {
    installQtMessagePump();
    Calls calls;
    MainWindow w(countingHandlers(calls));
    static QtControls* controls = nullptr;
    QtControls c(&w);
    controls = &c;
    WorkerPool pool;
    QVERIFY(pool.start(1, 1));
    // The job needs the GUI thread while the GUI thread waits for the job.
    pool.submit([](std::intptr_t, std::intptr_t) { controls->setPaneText(kStatusBar, 2, "done"); },
                0, 0);
    QVERIFY(pool.waitJobDone(30000, true));
    QCOMPARE(c.paneText(kStatusBar, 2), Text("done"));
    pool.stop();
    controls = nullptr;
  }

 private:
  QString settingsFile() const { return settingsDir_.filePath(QStringLiteral("conf.ini")); }
  std::string programDir() const { return settingsDir_.path().toStdString() + "/program"; }

  QTemporaryDir settingsDir_;
  std::string browseAnswer_;
  int browseCalls_ = 0;
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
