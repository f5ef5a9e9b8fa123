// The real window, offscreen, bound to the real routines and the demo site:
// what a user's quick or changing choices do.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>

#include "app/catalogue_site.h"
#include "app/pdf_export.h"
#include "app/process_state.h"
#include "app/qt_controls.h"
#include "app/settings.h"
#include "app/tests/e2e_support.h"
#include "app/window_routines.h"
#include "app/windows.h"
#include "pool/worker_pool.h"
#include "tools/demo_site/demo_site.h"

using namespace varnel;

namespace {

QString qs(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

class WindowActionsTest : public QObject {
  Q_OBJECT

 private:
  demo::DemoSite site_{demo::DemoOptions{.imageWidth = 62, .imageHeight = 88}};
  QTemporaryDir root_;
  QtControls* controls_ = nullptr;
  MainWindow* window_ = nullptr;

  QComboBox* combo(std::string_view name) { return window_->findChild<QComboBox*>(qs(name)); }
  Text pane() { return controls_->paneText(kStatusBar, kMessagePane); }
  bool waitForPane(std::string_view utf8) {
    return QTest::qWaitFor([&] { return pane() == statusText(utf8); }, 20000);
  }
  // As the user does it: the item becomes current, then `activated` runs the handler.
  void choose(std::string_view comboName, std::string_view itemUtf8, int times = 1) {
    controls_->setPaneText(kStatusBar, kMessagePane, {});  // so a wait sees this run's end
    QComboBox* box = combo(comboName);
    const int index = box->findText(qs(itemUtf8));
    QVERIFY2(index >= 0, itemUtf8.data());
    box->setCurrentIndex(index);
    for (int i = 0; i < times; ++i) emit box->activated(index);
  }

 private slots:
  void initTestCase() {
    QVERIFY(site_.start());
    QVERIFY(root_.isValid());
    setSettingsLocation({.filePath = root_.filePath("conf.ini").toStdString(),
                         .defaultDownloadDirectory = root_.filePath("books").toStdString()});
    setShellHooks({});
    setCatalogueOrigin(site_.origin());
    controls_ = new QtControls;
    window_ = new MainWindow(routineHandlers(*controls_));
    controls_->attach(window_);
    window_->show();  // runs the catalogue sync
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    QVERIFY(waitForPane(kSyncDoneStatus));
  }

  void cleanupTestCase() {
    workerPool().stop();
    delete window_;
    delete controls_;
  }

  // Three mouse-wheel notches over the subject box: one list, not three.
  void repeatedChoiceFetchesTheListOnce() {
    choose(kEditionCombo, "小学专版");
    choose(kSubjectCombo, "数学", 3);
    QVERIFY2(!combo(kSubjectCombo)->isEnabled(), "disabled before the fetch thread ran");
    QVERIFY(waitForPane(kListDoneStatus));
    QTest::qWait(200);  // any second fetch would have added its rows by now
    QCOMPARE(controls_->rowCount(kBookList),
             static_cast<int>(site_.catalogue().findSubject("小学专版", "数学")->books.size()));
  }

  // The list stays with the category it was fetched for, whatever the boxes show.
  void downloadFilesUnderTheListsCategory() {
    choose(kEditionCombo, "小学专版");
    choose(kSubjectCombo, "英语");
    QVERIFY(waitForPane(kListDoneStatus));
    choose(kEditionCombo, "初中专版");  // refills the subjects, keeps the old list
    // A double-click on the row downloads it, as 下载此项 does.
    auto* list = window_->findChild<QTreeWidget*>(qs(kBookList));
    const QRect row = list->visualItemRect(list->topLevelItem(0));
    QTest::mouseDClick(window_->windowHandle(), Qt::LeftButton, {},
                       list->viewport()->mapTo(window_, row.center()));
    QCOMPARE(controls_->selectedRow(kBookList), 0);
    // A second click while it runs is refused.
    window_->findChild<QAction*>(qs(kDownloadItemMenu))->trigger();
    const bool done = QTest::qWaitFor(
        [&] {
          return controls_->cellText(kBookList, 0, kRowStatusColumn) == statusText(kRowDoneStatus);
        },
        20000);
    QVERIFY2(done, textToUtf8(concatTexts(pane(), " / ",
                                          controls_->cellText(kBookList, 0, kRowStatusColumn)))
                       .c_str());
    const std::filesystem::path books = root_.filePath("books").toStdString();
    QVERIFY(std::filesystem::is_directory(books / "小学专版--英语--英语第一册"));
    QVERIFY(!std::filesystem::exists(books / "初中专版--语文--英语第一册"));

    // The queue's last step gives the combo boxes back; the user acts after that.
    QVERIFY(QTest::qWaitFor([&] { return controls_->isEnabled(kEditionCombo); }, 20000));

    // 导出PDF makes the book one file beside its folder, on a thread of its own.
    QAction* exportPdf = window_->findChild<QAction*>(qs(kExportPdfMenu));
    emit window_->rowMenu()->aboutToShow();  // the book has pages on disk now
    QVERIFY(exportPdf->isEnabled());
    exportPdf->trigger();
    // The download's record vouches for every page: no note after the status.
    QVERIFY2(waitForPane(kExportPdfDoneStatus), textToUtf8(pane()).c_str());
    QVERIFY(std::filesystem::is_regular_file(books / "小学专版--英语--英语第一册.pdf"));
  }

  // A "网站框架已更新" end shows 诊断网站, which shows the doctor's report.
  void diagnoseSiteAfterAStructureEnd() {
    QAction* diagnose = window_->findChild<QAction*>(qs(kDiagnoseSiteMenu));
    QVERIFY(diagnose);
    QVERIFY2(!diagnose->isVisible(), "hidden while everything worked");
    // The export before ends its action just after its status: a choice made
    // earlier would be refused.
    QVERIFY(QTest::qWaitFor(
        [] {
          const int claim = tryBeginAction();
          if (claim != 0) endAction(claim);
          return claim != 0;
        },
        20000));
    choose(kEditionCombo, "示例专版");
    choose(kSubjectCombo, "空分类");  // a list page without books
    QVERIFY(waitForPane(kListFailedStatus));
    QVERIFY(diagnose->isEnabled());
    QVERIFY(diagnose->isVisible());
    diagnose->trigger();
    auto* dialog = window_->findChild<QDialog*>(qs(kDiagnoseSiteMenu));
    QVERIFY(dialog && dialog->isVisible());
    auto* report = dialog->findChild<QPlainTextEdit*>();
    QVERIFY(report);
    QVERIFY2(
        QTest::qWaitFor([&] { return report->toPlainText().contains(qs("每一步都通过")); }, 20000),
        report->toPlainText().toUtf8().constData());
    QVERIFY(report->toPlainText().startsWith(qs("✔ 首页")));
    dialog->close();
  }
};

QTEST_MAIN(WindowActionsTest)
#include "window_actions_test.moc"
