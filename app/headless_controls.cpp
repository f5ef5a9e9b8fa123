#include "app/headless_controls.h"

#include <algorithm>

#include "app/window_texts.h"

namespace varnel {

HeadlessControls::HeadlessControls() {
  auto add = [this](std::string_view name, Kind kind) -> Control& {
    Control& c = controls_[std::string(name)];
    c.kind = kind;
    return c;
  };
  add(kEditionLabel, Kind::Plain);
  add(kEditionCombo, Kind::Combo);
  add(kSubjectLabel, Kind::Plain);
  add(kSubjectCombo, Kind::Combo);
  add(kPictureBox, Kind::Plain);
  add(kSignatureLabel, Kind::Plain);
  add(kBookList, Kind::List);
  Control& status = add(kStatusBar, Kind::StatusBar);
  status.items.assign(kStatusPaneCount, Text());
  status.items[0] = utf8BytesToText(kStatusPane0Caption);
  Control& bar = add(kDownloadProgressBar, Kind::ProgressBar);
  bar.visible = false;
  bar.current = 0;
  add(kCancelDownloadButton, Kind::Plain).visible = false;
  add(kFolderLink, Kind::Link).visible = false;
  add(kRetrySyncButton, Kind::Plain).visible = false;
  for (std::string_view item : {kDownloadItemMenu, kDownloadSelectedMenu, kDownloadAllMenu,
                                kCancelDownloadMenu, kOpenFolderMenu, kExportPdfMenu}) {
    add(item, Kind::MenuItem).enabled = false;
  }
  add(kSettingsMenu, Kind::MenuItem);
  add(kDiagnoseSiteMenu, Kind::MenuItem).enabled = false;
  add(kOpenCheckBox, Kind::CheckBox);
  add(kPathLabel, Kind::Plain);
  add(kPathEdit, Kind::Edit);  // read-only in the window, not disabled
  add(kChangePathButton, Kind::Plain);
}

HeadlessControls::Control* HeadlessControls::find(std::string_view name, Kind kind) {
  auto it = controls_.find(name);
  if (it == controls_.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

void HeadlessControls::setEnabled(std::string_view name, bool enabled) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(name);
  if (it != controls_.end() && it->second.kind != Kind::MenuItem) it->second.enabled = enabled;
}

void HeadlessControls::setVisible(std::string_view name, bool visible) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(name);
  if (it != controls_.end() && it->second.kind != Kind::MenuItem) it->second.visible = visible;
}

void HeadlessControls::clearItems(std::string_view combo) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(combo, Kind::Combo)) {
    c->items.clear();
    c->current = -1;
  }
}

void HeadlessControls::addItem(std::string_view combo, const Text& text) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(combo, Kind::Combo)) {
    // Like the window's boxes, which show a placeholder: adding chooses nothing.
    c->items.push_back(text);
  }
}

int HeadlessControls::currentIndex(std::string_view combo) {
  std::lock_guard lock(mutex_);
  Control* c = find(combo, Kind::Combo);
  return c ? c->current : -1;
}

Text HeadlessControls::itemText(std::string_view combo, int index) {
  std::lock_guard lock(mutex_);
  Control* c = find(combo, Kind::Combo);
  if (!c || index < 0 || index >= static_cast<int>(c->items.size())) return {};
  return c->items[static_cast<std::size_t>(index)];
}

void HeadlessControls::setCurrentIndex(std::string_view combo, int index) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(combo, Kind::Combo)) {
    c->current = (index >= 0 && index < static_cast<int>(c->items.size())) ? index : -1;
  }
}

void HeadlessControls::clearRows(std::string_view list) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(list, Kind::List)) {
    c->rows.clear();
    c->selected.clear();
    c->current = -1;
  }
}

int HeadlessControls::appendRow(std::string_view list, const Text& firstColumn) {
  std::lock_guard lock(mutex_);
  Control* c = find(list, Kind::List);
  if (!c) return -1;
  c->rows.emplace_back(kBookListColumnCount, Text());
  c->rows.back()[0] = firstColumn;
  return static_cast<int>(c->rows.size()) - 1;
}

void HeadlessControls::setCellText(std::string_view list, int row, int column, const Text& text) {
  std::lock_guard lock(mutex_);
  Control* c = find(list, Kind::List);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0 ||
      column >= kBookListColumnCount) {
    return;
  }
  c->rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
}

Text HeadlessControls::cellText(std::string_view list, int row, int column) {
  std::lock_guard lock(mutex_);
  Control* c = find(list, Kind::List);
  if (!c || row < 0 || row >= static_cast<int>(c->rows.size()) || column < 0 ||
      column >= kBookListColumnCount) {
    return {};
  }
  return c->rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

int HeadlessControls::selectedRow(std::string_view list) {
  std::lock_guard lock(mutex_);
  Control* c = find(list, Kind::List);
  return c ? c->current : -1;
}

std::vector<int> HeadlessControls::selectedRows(std::string_view list) {
  std::lock_guard lock(mutex_);
  Control* c = find(list, Kind::List);
  return c ? c->selected : std::vector<int>();
}

void HeadlessControls::setProgress(std::string_view bar, int value, int maximum) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(bar, Kind::ProgressBar)) {
    c->maximum = std::max(maximum, 0);
    c->current = std::clamp(value, 0, c->maximum);
  }
}

void HeadlessControls::setFolderLink(std::string_view link, const std::string& nativePath) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(link, Kind::Link)) c->text = nativePath;
}

void HeadlessControls::setPaneText(std::string_view statusBar, int pane, const Text& text) {
  std::lock_guard lock(mutex_);
  Control* c = find(statusBar, Kind::StatusBar);
  if (c && pane >= 0 && pane < static_cast<int>(c->items.size())) {
    c->items[static_cast<std::size_t>(pane)] = text;
  }
}

std::string HeadlessControls::editText(std::string_view edit) {
  std::lock_guard lock(mutex_);
  Control* c = find(edit, Kind::Edit);
  return c ? c->text : std::string();
}

void HeadlessControls::setEditText(std::string_view edit, const std::string& nativeText) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(edit, Kind::Edit)) c->text = nativeText;
}

bool HeadlessControls::isChecked(std::string_view checkBox) {
  std::lock_guard lock(mutex_);
  Control* c = find(checkBox, Kind::CheckBox);
  return c && c->checked;
}

void HeadlessControls::setChecked(std::string_view checkBox, bool checked) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(checkBox, Kind::CheckBox)) c->checked = checked;
}

void HeadlessControls::setMenuItemEnabled(std::string_view item, bool enabled) {
  std::lock_guard lock(mutex_);
  if (Control* c = find(item, Kind::MenuItem)) c->enabled = enabled;
}

void HeadlessControls::pressTabKey() {
  std::lock_guard lock(mutex_);
  ++tabKeyPresses_;
}

int HeadlessControls::tabKeyPresses() {
  std::lock_guard lock(mutex_);
  return tabKeyPresses_;
}

bool HeadlessControls::isEnabled(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(name);
  return it != controls_.end() && it->second.kind != Kind::MenuItem && it->second.enabled;
}

int HeadlessControls::itemCount(std::string_view combo) {
  std::lock_guard lock(mutex_);
  Control* c = find(combo, Kind::Combo);
  return c ? static_cast<int>(c->items.size()) : 0;
}

int HeadlessControls::rowCount(std::string_view list) {
  std::lock_guard lock(mutex_);
  Control* c = find(list, Kind::List);
  return c ? static_cast<int>(c->rows.size()) : 0;
}

bool HeadlessControls::isVisible(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(name);
  return it != controls_.end() && it->second.kind != Kind::MenuItem && it->second.visible;
}

std::pair<int, int> HeadlessControls::progress(std::string_view bar) {
  std::lock_guard lock(mutex_);
  Control* c = find(bar, Kind::ProgressBar);
  return c ? std::pair{c->current, c->maximum} : std::pair{0, -1};
}

std::string HeadlessControls::folderLink(std::string_view link) {
  std::lock_guard lock(mutex_);
  Control* c = find(link, Kind::Link);
  return c ? c->text : std::string();
}

Text HeadlessControls::paneText(std::string_view statusBar, int pane) {
  std::lock_guard lock(mutex_);
  Control* c = find(statusBar, Kind::StatusBar);
  if (!c || pane < 0 || pane >= static_cast<int>(c->items.size())) return {};
  return c->items[static_cast<std::size_t>(pane)];
}

bool HeadlessControls::isMenuItemEnabled(std::string_view item) {
  std::lock_guard lock(mutex_);
  Control* c = find(item, Kind::MenuItem);
  return c && c->enabled;
}

void HeadlessControls::selectRow(std::string_view list, int row) { selectRows(list, {row}); }

void HeadlessControls::selectRows(std::string_view list, const std::vector<int>& rows) {
  std::lock_guard lock(mutex_);
  Control* c = find(list, Kind::List);
  if (!c) return;
  c->selected.clear();
  c->current = -1;
  for (int row : rows) {
    if (row < 0 || row >= static_cast<int>(c->rows.size())) continue;
    // The first row chosen is the one acted on, as the window's current row.
    if (c->selected.empty()) c->current = row;
    c->selected.push_back(row);
  }
  std::sort(c->selected.begin(), c->selected.end());
  c->selected.erase(std::unique(c->selected.begin(), c->selected.end()), c->selected.end());
}

}  // namespace varnel
