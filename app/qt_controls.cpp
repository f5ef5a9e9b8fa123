#include "app/qt_controls.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QThread>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

#include "pool/message_pump.h"

namespace varnel {
namespace {

QString toQString(const Text& text) { return QString::fromStdString(textToUtf8(text)); }
Text fromQString(const QString& text) { return utf8BytesToText(text.toStdString()); }
QString nameOf(std::string_view name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

// The status bar's panes, in the order they were added: its labels without a
// name of their own (a named one, like the folder link, is a control).
QList<QLabel*> panesOf(QStatusBar* bar) {
  QList<QLabel*> panes;
  if (!bar) return panes;
  for (QLabel* label : bar->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (label->objectName().isEmpty()) panes << label;
  }
  return panes;
}

QTreeWidgetItem* rowOf(QTreeWidget* list, int row) {
  if (!list || row < 0 || row >= list->topLevelItemCount()) return nullptr;
  return list->topLevelItem(row);
}

}  // namespace

QtControls::QtControls(QWidget* root) : dispatcher_(std::make_unique<QObject>()) { attach(root); }

QtControls::~QtControls() { QObject::disconnect(rootGone_); }

void QtControls::attach(QWidget* root) {
  QObject::disconnect(rootGone_);
  root_ = root;
  attached_ = root != nullptr;
  if (root) {
    rootGone_ = QObject::connect(root, &QObject::destroyed, dispatcher_.get(),
                                 [this] { attached_ = false; });
  }
}

template <typename T>
T* QtControls::find(std::string_view name) const {
  if (!root_) return nullptr;
  QString wanted = nameOf(name);
  if (root_->objectName() == wanted) return qobject_cast<T*>(root_.data());
  return root_->findChild<T*>(wanted);
}

template <typename F>
void QtControls::onGuiThread(F&& work) {
  if (!attached_ || !QCoreApplication::instance()) return;
  if (QThread::currentThread() == dispatcher_->thread()) {
    work();
  } else {
    QMetaObject::invokeMethod(dispatcher_.get(), std::forward<F>(work),
                              Qt::BlockingQueuedConnection);
  }
}

template <typename R, typename F>
R QtControls::ask(R whenGone, F&& work) {
  R result = whenGone;
  onGuiThread([&] { result = work(); });
  return result;
}

void QtControls::setEnabled(std::string_view name, bool enabled) {
  onGuiThread([&] {
    if (QWidget* w = find<QWidget>(name)) w->setEnabled(enabled);
  });
}

void QtControls::setVisible(std::string_view name, bool visible) {
  onGuiThread([&] {
    if (QWidget* w = find<QWidget>(name)) w->setVisible(visible);
  });
}

void QtControls::clearItems(std::string_view combo) {
  onGuiThread([&] {
    if (auto* c = find<QComboBox>(combo)) c->clear();
  });
}

void QtControls::addItem(std::string_view combo, const Text& text) {
  onGuiThread([&] {
    if (auto* c = find<QComboBox>(combo)) c->addItem(toQString(text));
  });
}

int QtControls::currentIndex(std::string_view combo) {
  return ask(-1, [&] {
    auto* c = find<QComboBox>(combo);
    return c ? c->currentIndex() : -1;
  });
}

Text QtControls::itemText(std::string_view combo, int index) {
  return ask(Text(), [&] {
    auto* c = find<QComboBox>(combo);
    return (c && index >= 0 && index < c->count()) ? fromQString(c->itemText(index)) : Text();
  });
}

void QtControls::setCurrentIndex(std::string_view combo, int index) {
  onGuiThread([&] {
    if (auto* c = find<QComboBox>(combo)) c->setCurrentIndex(index < c->count() ? index : -1);
  });
}

void QtControls::clearRows(std::string_view list) {
  onGuiThread([&] {
    if (auto* l = find<QTreeWidget>(list)) l->clear();
  });
}

int QtControls::appendRow(std::string_view list, const Text& firstColumn) {
  return ask(-1, [&] {
    auto* l = find<QTreeWidget>(list);
    if (!l) return -1;
    auto* item = new QTreeWidgetItem(l);
    item->setText(0, toQString(firstColumn));
    return l->indexOfTopLevelItem(item);
  });
}

void QtControls::setCellText(std::string_view list, int row, int column, const Text& text) {
  onGuiThread([&] {
    auto* l = find<QTreeWidget>(list);
    QTreeWidgetItem* item = rowOf(l, row);
    if (item && column >= 0 && column < l->columnCount()) item->setText(column, toQString(text));
  });
}

Text QtControls::cellText(std::string_view list, int row, int column) {
  return ask(Text(), [&] {
    auto* l = find<QTreeWidget>(list);
    QTreeWidgetItem* item = rowOf(l, row);
    if (!item || column < 0 || column >= l->columnCount()) return Text();
    return fromQString(item->text(column));
  });
}

int QtControls::selectedRow(std::string_view list) {
  return ask(-1, [&] {
    auto* l = find<QTreeWidget>(list);
    if (!l) return -1;
    // The row the user acted on last, when it is one of the chosen ones.
    QTreeWidgetItem* current = l->currentItem();
    if (current && current->isSelected()) return l->indexOfTopLevelItem(current);
    QList<QTreeWidgetItem*> selected = l->selectedItems();
    return selected.isEmpty() ? -1 : l->indexOfTopLevelItem(selected.first());
  });
}

std::vector<int> QtControls::selectedRows(std::string_view list) {
  return ask(std::vector<int>(), [&] {
    std::vector<int> rows;
    auto* l = find<QTreeWidget>(list);
    if (!l) return rows;
    for (QTreeWidgetItem* item : l->selectedItems()) rows.push_back(l->indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
  });
}

void QtControls::setProgress(std::string_view bar, int value, int maximum) {
  onGuiThread([&] {
    if (auto* b = find<QProgressBar>(bar)) {
      b->setRange(0, std::max(maximum, 0));
      b->setValue(std::clamp(value, 0, std::max(maximum, 0)));
    }
  });
}

void QtControls::setFolderLink(std::string_view link, const std::string& nativePath) {
  onGuiThread([&] {
    auto* l = find<QLabel>(link);
    if (!l) return;
    const QString path = QString::fromStdString(nativePath);
    l->setProperty(kFolderLinkPathProperty, path);
    l->setToolTip(path);
    l->setText(path.isEmpty()
                   ? QString()
                   : QStringLiteral("<a href=\"folder\">%1</a>").arg(path.toHtmlEscaped()));
  });
}

void QtControls::setPaneText(std::string_view statusBar, int pane, const Text& text) {
  onGuiThread([&] {
    QList<QLabel*> panes = panesOf(find<QStatusBar>(statusBar));
    if (pane < 0 || pane >= panes.size()) return;
    panes[pane]->setText(toQString(text));
    // A cause (a certificate, a path) is often wider than its pane.
    panes[pane]->setToolTip(panes[pane]->text());
  });
}

std::string QtControls::editText(std::string_view edit) {
  return ask(std::string(), [&] {
    auto* e = find<QLineEdit>(edit);
    return e ? e->text().toStdString() : std::string();
  });
}

void QtControls::setEditText(std::string_view edit, const std::string& nativeText) {
  onGuiThread([&] {
    if (auto* e = find<QLineEdit>(edit)) e->setText(QString::fromStdString(nativeText));
  });
}

bool QtControls::isChecked(std::string_view checkBox) {
  return ask(false, [&] {
    auto* c = find<QCheckBox>(checkBox);
    return c && c->isChecked();
  });
}

void QtControls::setChecked(std::string_view checkBox, bool checked) {
  onGuiThread([&] {
    if (auto* c = find<QCheckBox>(checkBox)) c->setChecked(checked);
  });
}

void QtControls::setMenuItemEnabled(std::string_view item, bool enabled) {
  onGuiThread([&] {
    auto* a = find<QAction>(item);
    if (!a) return;
    // A hidden item (诊断网站) appears once enabled: Qt keeps a hidden action disabled.
    if (enabled) a->setVisible(true);
    a->setEnabled(enabled);
  });
}

void QtControls::pressTabKey() {
  onGuiThread([&] {
    QWidget* focus = QApplication::focusWidget();
    if (!root_ || !focus || focus->window() != root_->window()) return;
    QPointer<QWidget> target = focus;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::processEvents();
    if (!target) return;
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
  });
}

bool QtControls::isEnabled(std::string_view name) {
  return ask(false, [&] {
    QWidget* w = find<QWidget>(name);
    return w && w->isEnabled();
  });
}

bool QtControls::isVisible(std::string_view name) {
  return ask(false, [&] {
    QWidget* w = find<QWidget>(name);
    return w && !w->isHidden();
  });
}

std::pair<int, int> QtControls::progress(std::string_view bar) {
  return ask(std::pair{0, -1}, [&] {
    auto* b = find<QProgressBar>(bar);
    return b ? std::pair{b->value(), b->maximum()} : std::pair{0, -1};
  });
}

std::string QtControls::folderLink(std::string_view link) {
  return ask(std::string(), [&] {
    auto* l = find<QLabel>(link);
    return l ? l->property(kFolderLinkPathProperty).toString().toStdString() : std::string();
  });
}

int QtControls::itemCount(std::string_view combo) {
  return ask(0, [&] {
    auto* c = find<QComboBox>(combo);
    return c ? c->count() : 0;
  });
}

int QtControls::rowCount(std::string_view list) {
  return ask(0, [&] {
    auto* l = find<QTreeWidget>(list);
    return l ? l->topLevelItemCount() : 0;
  });
}

Text QtControls::paneText(std::string_view statusBar, int pane) {
  return ask(Text(), [&] {
    QList<QLabel*> panes = panesOf(find<QStatusBar>(statusBar));
    return (pane >= 0 && pane < panes.size()) ? fromQString(panes[pane]->text()) : Text();
  });
}

bool QtControls::isMenuItemEnabled(std::string_view item) {
  return ask(false, [&] {
    auto* a = find<QAction>(item);
    return a && a->isEnabled();
  });
}

void QtControls::selectRow(std::string_view list, int row) { selectRows(list, {row}); }

void QtControls::selectRows(std::string_view list, const std::vector<int>& rows) {
  onGuiThread([&] {
    auto* l = find<QTreeWidget>(list);
    if (!l) return;
    l->clearSelection();
    bool first = true;
    for (int row : rows) {
      QTreeWidgetItem* item = rowOf(l, row);
      if (!item) continue;
      if (first) l->setCurrentItem(item);
      first = false;
      item->setSelected(true);
    }
  });
}

void installQtMessagePump() {
  installMessagePump({
      .isUserInterfaceThread =
          [] {
            QCoreApplication* app = QCoreApplication::instance();
            return app && QThread::currentThread() == app->thread();
          },
      .processPendingMessages =
          [] { QCoreApplication::processEvents(QEventLoop::AllEvents, kMessagePumpSliceMs); },
  });
}

}  // namespace varnel
