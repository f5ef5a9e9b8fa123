// The two windows: MainWindow (the program's window) and the modal SettingsWindow.
// Every control carries its name as its Qt object name (see app/controls.h).
#pragma once

#include <QDialog>
#include <QWidget>

#include <functional>
#include <string>

#include "app/qt_controls.h"
#include "app/settings.h"

class QCloseEvent;
class QLayout;
class QLocale;
class QMenu;
class QShowEvent;

namespace varnel {

// What MainWindow's events run. An empty handler does nothing.
struct MainWindowHandlers {
  std::function<void()> created;           // once, when the window is first shown
  std::function<void()> editionSelected;   // the user chose an item of 组合框_专版分类
  std::function<void()> subjectSelected;   // the user chose an item of 组合框_学科分类
  std::function<void()> downloadItem;      // menu "下载此项"
  std::function<void()> downloadSelected;  // menu "下载选中项"
  std::function<void()> downloadAll;       // menu "下载全部"
  std::function<void()> cancelDownload;    // menu "取消下载", its button, Esc
  std::function<void()> openBookFolder;    // menu "在文件夹中打开"
  std::function<void()> exportPdf;         // menu "导出PDF"
  std::function<void()> rowActivated;      // double-click or Enter on a row of 超级列表框1
  std::function<void()> rowMenuShown;      // just before the row menu pops up
  std::function<void()> retrySync;         // the "重试" button after a failed sync
  std::function<void()> progressTick;      // every kProgressTickMs while the window lives
  std::function<bool()> downloadRunning;   // empty: never
  // Menu "诊断网站": the site doctor's report (UTF-8). Runs on a background
  // thread; the report is shown in a dialog on the GUI thread.
  std::function<std::string()> diagnoseSite{};
};

// Asked when the window is closed during a download: true to stop and quit,
// false to go on downloading.
using CloseQuestion = std::function<bool()>;

class MainWindow : public QWidget {
 public:
  explicit MainWindow(MainWindowHandlers handlers, QWidget* parent = nullptr);

  // The pop-up menu, the children of the hidden menu "鼠标右键". "下载此项" and
  // "导出PDF" start greyed; the routines enable them.
  QMenu* rowMenu() const { return rowMenu_; }
  // Pops the menu up at a global position; the chosen item runs its handler.
  void showRowMenu(const QPoint& globalPos);
  // Opens SettingsWindow modally and returns when it has been closed.
  void showSettingsWindow();
  // Runs handlers.diagnoseSite in the background, then shows its report in a
  // modal dialog (object name 诊断网站).
  void diagnoseSite();
  // Replaces the question asked on closing during a download (a message box
  // with 继续下载 / 停止并退出 by default). Stopping cancels the download and
  // closes the window once it has ended.
  void setCloseQuestion(CloseQuestion question);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // The window's areas, each built once by the constructor.
  QLayout* buildChoices();  // the two labelled combo boxes
  QLayout* buildBanner();   // the picture box and its signature
  QWidget* buildBookList();
  QWidget* buildStatusBar();
  void buildRowMenu();

  bool downloadRunning() const;
  void tick();

  MainWindowHandlers handlers_;
  QMenu* rowMenu_ = nullptr;
  CloseQuestion closeQuestion_;
  bool created_ = false;
  bool closeWhenStopped_ = false;  // the user chose 停止并退出
};

// Loads the settings when constructed. 确定 (accept) saves them, and a save that
// fails is reported in a modal warning before the window goes; 取消, Escape and
// the close button (reject) save nothing. 按钮1 asks the shell hooks' folder
// browser for a new path, starting at the one shown.
class SettingsWindow : public QDialog {
 public:
  explicit SettingsWindow(QWidget* parent = nullptr);
  void done(int result) override;

 private:
  QtControls controls_;
};

// Installs Qt's own translations (its dialogs' buttons and labels) for `system`,
// or for zh_CN when none is installed for it; English needs none. Returns the
// language installed ("" when not even zh_CN is found). Replaces what an
// earlier call installed. GUI thread, with the application object alive.
QString installQtTranslations(const QLocale& system);

// The folder dialog over QFileDialog; "" when cancelled. The result is a native
// path without a trailing slash (except for the root itself).
std::string browseForFolder(const BrowseOptions& options, QWidget* owner = nullptr);
// Shows a folder in the desktop's file manager; callable from any thread.
// False when no file manager took it.
bool openFolderInFileManager(const std::string& nativePath);

}  // namespace varnel
