// The controls of both windows held in memory, for unit tests and for running
// the program's routines without a display. Every call is thread-safe.
//
// The initial state matches the windows when they open: every control enabled,
// the status bar's progress bar, buttons and link hidden, every row-menu item
// greyed except 下载配置, pane 0 showing "当前状态：", empty combo boxes and
// list, no row selected.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/controls.h"

namespace varnel {

class HeadlessControls : public Controls, public ControlsProbe {
 public:
  HeadlessControls();

  void setEnabled(std::string_view name, bool enabled) override;
  void setVisible(std::string_view name, bool visible) override;
  void clearItems(std::string_view combo) override;
  void addItem(std::string_view combo, const Text& text) override;
  int currentIndex(std::string_view combo) override;
  Text itemText(std::string_view combo, int index) override;
  void setCurrentIndex(std::string_view combo, int index) override;
  void clearRows(std::string_view list) override;
  int appendRow(std::string_view list, const Text& firstColumn) override;
  void setCellText(std::string_view list, int row, int column, const Text& text) override;
  Text cellText(std::string_view list, int row, int column) override;
  int selectedRow(std::string_view list) override;
  std::vector<int> selectedRows(std::string_view list) override;
  void setPaneText(std::string_view statusBar, int pane, const Text& text) override;
  void setProgress(std::string_view bar, int value, int maximum) override;
  void setFolderLink(std::string_view link, const std::string& nativePath) override;
  std::string editText(std::string_view edit) override;
  void setEditText(std::string_view edit, const std::string& nativeText) override;
  bool isChecked(std::string_view checkBox) override;
  void setChecked(std::string_view checkBox, bool checked) override;
  void setMenuItemEnabled(std::string_view item, bool enabled) override;
  void pressTabKey() override;

  bool isEnabled(std::string_view name) override;
  bool isVisible(std::string_view name) override;
  int itemCount(std::string_view combo) override;
  int rowCount(std::string_view list) override;
  Text paneText(std::string_view statusBar, int pane) override;
  bool isMenuItemEnabled(std::string_view item) override;
  std::pair<int, int> progress(std::string_view bar) override;
  std::string folderLink(std::string_view link) override;
  void selectRow(std::string_view list, int row) override;
  void selectRows(std::string_view list, const std::vector<int>& rows) override;

  // How often pressTabKey was called (there is no focus to move here).
  int tabKeyPresses();

 private:
  enum class Kind { Plain, Combo, List, StatusBar, Edit, CheckBox, MenuItem, ProgressBar, Link };
  struct Control {
    Kind kind = Kind::Plain;
    bool enabled = true;
    bool visible = true;
    std::vector<Text> items;              // combo items, or status panes
    int current = -1;                     // combo current item, list's current row, or progress
    int maximum = 0;                      // progress bar
    std::vector<int> selected;            // list selection, ascending
    std::vector<std::vector<Text>> rows;  // list rows, one Text per column
    std::string text;                     // edit box, or link path
    bool checked = false;
  };

  // nullptr when no control of that name and kind exists.
  Control* find(std::string_view name, Kind kind);

  std::mutex mutex_;
  std::map<std::string, Control, std::less<>> controls_;
  int tabKeyPresses_ = 0;
};

}  // namespace varnel
