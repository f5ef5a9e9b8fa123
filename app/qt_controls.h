// Controls over the real Qt windows.
//
// Controls are found by object name below the attached root widget (the main
// window, whose children include an open settings window). A call on the GUI
// thread runs directly; a call from any other thread runs on the GUI thread and
// waits for it, like a window message, so the GUI thread must keep processing
// events while other threads use the controls. Before attach() and once the
// root widget is gone, every call returns the empty result and touches nothing.
// The object itself must be created on the GUI thread and outlive every caller.
#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <memory>

#include "app/controls.h"

class QObject;

namespace varnel {

// The property of a folder link (setFolderLink) holding its native path.
inline constexpr const char* kFolderLinkPathProperty = "nativePath";

class QtControls : public Controls, public ControlsProbe {
 public:
  explicit QtControls(QWidget* root = nullptr);
  ~QtControls() override;
  QtControls(const QtControls&) = delete;
  QtControls& operator=(const QtControls&) = delete;

  // GUI thread only. Replaces the root; nullptr detaches.
  void attach(QWidget* root);

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

 private:
  template <typename T>
  T* find(std::string_view name) const;
  // Runs `work` on the GUI thread and waits; nothing once the window is gone.
  template <typename F>
  void onGuiThread(F&& work);
  // The value `work` computes there, or `whenGone`.
  template <typename R, typename F>
  R ask(R whenGone, F&& work);

  std::unique_ptr<QObject> dispatcher_;  // lives on the GUI thread
  QPointer<QWidget> root_;               // read on the GUI thread only
  std::atomic<bool> attached_{false};    // lets other threads give up without waiting
  QMetaObject::Connection rootGone_;
};

// Lets pool waits on the GUI thread keep handling events (and so the calls
// other threads make through QtControls). Does nothing without the pool.
void installQtMessagePump();

}  // namespace varnel
