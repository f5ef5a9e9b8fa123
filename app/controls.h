// The window controls as the program's routines see them.
//
// Controls are addressed by their own names (also their Qt object names). Texts
// shown in controls are `Text` (code page 936); the edit box holds a native path
// (UTF-8) because it only ever shows the download directory, which never passes
// through GBK. An unknown name, a name of another kind of control or an index
// out of range does nothing and reads as the empty result (0, -1, "", false).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/text.h"

namespace varnel {

// --- control names -----------------------------------------------------------
// MainWindow
inline constexpr std::string_view kEditionLabel = "标签_专版分类";
inline constexpr std::string_view kEditionCombo = "组合框_专版分类";
inline constexpr std::string_view kSubjectLabel = "标签_学科组";
inline constexpr std::string_view kSubjectCombo = "组合框_学科分类";
inline constexpr std::string_view kPictureBox = "图片框1";
inline constexpr std::string_view kSignatureLabel = "透明标签1";
inline constexpr std::string_view kBookList = "超级列表框1";
inline constexpr std::string_view kStatusBar = "状态条1";
// Inside the status bar: shown only while they have something to tell.
inline constexpr std::string_view kDownloadProgressBar = "进度条_下载";
inline constexpr std::string_view kCancelDownloadButton = "按钮_取消下载";
inline constexpr std::string_view kFolderLink = "链接_文件夹";
inline constexpr std::string_view kRetrySyncButton = "按钮_重试";
// The hidden top-level menu and its items, named by their captions.
inline constexpr std::string_view kRowMenu = "鼠标右键";
inline constexpr std::string_view kDownloadItemMenu = "下载此项";
inline constexpr std::string_view kDownloadSelectedMenu = "下载选中项";
inline constexpr std::string_view kDownloadAllMenu = "下载全部";
inline constexpr std::string_view kCancelDownloadMenu = "取消下载";
inline constexpr std::string_view kOpenFolderMenu = "在文件夹中打开";
inline constexpr std::string_view kExportPdfMenu = "导出PDF";
inline constexpr std::string_view kSettingsMenu = "下载配置";
// Shown once a routine has ended with "网站框架已更新": the site doctor's report.
inline constexpr std::string_view kDiagnoseSiteMenu = "诊断网站";
// SettingsWindow
inline constexpr std::string_view kOpenCheckBox = "选择框_open";
inline constexpr std::string_view kPathLabel = "标签1";
inline constexpr std::string_view kPathEdit = "编辑框1";
inline constexpr std::string_view kChangePathButton = "按钮1";

// Columns of 超级列表框1, as the book list fills them and the window shows them.
enum BookListColumn : int {
  kNumberColumn = 0,
  kTitleColumn = 1,
  kPageCountColumn = 2,
  kDownloadableColumn = 3,
  kUrlColumn = 4,  // 0 px wide: the user never sees it
  kRowStatusColumn = 5,
};
inline constexpr int kBookListColumnCount = 6;
// Panes of 状态条1.
inline constexpr int kMessagePane = 1;
inline constexpr int kProgressPane = 2;
// Speed, time left and retries of the book being downloaded.
inline constexpr int kFiguresPane = 3;
inline constexpr int kStatusPaneCount = 4;

// The control operations the routines use, and nothing else.
class Controls {
 public:
  virtual ~Controls() = default;

  virtual void setEnabled(std::string_view name, bool enabled) = 0;
  // Shows or hides a control; a hidden control keeps its state.
  virtual void setVisible(std::string_view name, bool visible) = 0;

  // Combo box. currentIndex is -1 when nothing is current; adding an item never
  // makes it current; setCurrentIndex with an index out of range leaves nothing
  // current. None runs a handler.
  virtual void clearItems(std::string_view combo) = 0;
  virtual void addItem(std::string_view combo, const Text& text) = 0;
  virtual int currentIndex(std::string_view combo) = 0;
  virtual Text itemText(std::string_view combo, int index) = 0;
  virtual void setCurrentIndex(std::string_view combo, int index) = 0;

  // List view. appendRow returns the new row's index (-1 for an unknown list);
  // selectedRow is -1 when no row is selected.
  virtual void clearRows(std::string_view list) = 0;
  virtual int appendRow(std::string_view list, const Text& firstColumn) = 0;
  virtual void setCellText(std::string_view list, int row, int column, const Text& text) = 0;
  virtual Text cellText(std::string_view list, int row, int column) = 0;
  virtual int selectedRow(std::string_view list) = 0;
  // Every selected row, ascending (empty when none is).
  virtual std::vector<int> selectedRows(std::string_view list) = 0;

  // Status bar.
  virtual void setPaneText(std::string_view statusBar, int pane, const Text& text) = 0;
  // Progress bar: `value` of `maximum`; a maximum of 0 says busy without a measure.
  virtual void setProgress(std::string_view bar, int value, int maximum) = 0;
  // A link showing a folder's native path; clicking it opens the folder through
  // the shell hook. An empty path empties it.
  virtual void setFolderLink(std::string_view link, const std::string& nativePath) = 0;

  // Edit box: a native (UTF-8) path.
  virtual std::string editText(std::string_view edit) = 0;
  virtual void setEditText(std::string_view edit, const std::string& nativeText) = 0;

  // Check box.
  virtual bool isChecked(std::string_view checkBox) = 0;
  virtual void setChecked(std::string_view checkBox, bool checked) = 0;

  // Menu item, named by its caption. Enabling a hidden item shows it.
  virtual void setMenuItemEnabled(std::string_view item, bool enabled) = 0;

  // One Tab key press (down, pending events, up) to the control that has the
  // keyboard focus in the program's window: focus moves on to the next control.
  // Nothing happens while the window does not have the focus.
  virtual void pressTabKey() = 0;
};

// What a test (or a front end standing in for the user) needs beyond the
// routines' operations: reading back state and selecting a row.
class ControlsProbe {
 public:
  virtual ~ControlsProbe() = default;
  virtual bool isEnabled(std::string_view name) = 0;
  virtual bool isVisible(std::string_view name) = 0;
  virtual int itemCount(std::string_view combo) = 0;
  virtual int rowCount(std::string_view list) = 0;
  virtual Text paneText(std::string_view statusBar, int pane) = 0;
  virtual bool isMenuItemEnabled(std::string_view item) = 0;
  // {value, maximum} of a progress bar; {0, -1} for an unknown name.
  virtual std::pair<int, int> progress(std::string_view bar) = 0;
  virtual std::string folderLink(std::string_view link) = 0;
  // Selects one row as the user would; an index out of range clears the selection.
  virtual void selectRow(std::string_view list, int row) = 0;
  // Selects these rows (Ctrl-click); indexes out of range are left out.
  virtual void selectRows(std::string_view list, const std::vector<int>& rows) = 0;
};

// The current item's text of a combo box ("" when nothing is current).
inline Text currentItemText(Controls& controls, std::string_view combo) {
  return controls.itemText(combo, controls.currentIndex(combo));
}

}  // namespace varnel
