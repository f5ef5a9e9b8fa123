#include "app/windows.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "app/banner_image.h"
#include "app/catalogue_site.h"  // kProgressTickMs
#include "app/window_texts.h"
#include "os/threads.h"

namespace varnel {
namespace {

QString qs(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// One labelled combo box of the choices area.
struct ChoiceRow {
  std::string_view labelName, caption;
  Geometry labelPlace;
  std::string_view comboName, placeholder;
  Geometry comboPlace;
};

int bottomOf(const Geometry& g) { return g.top + g.height; }
int rightOf(const Geometry& g) { return g.left + g.width; }

// The control's name, and its size at the window's smallest size; the layout places it.
void name(QWidget* w, std::string_view controlName, const Geometry& g) {
  w->setObjectName(qs(controlName));
  w->setFixedSize(g.width, g.height);
}

void run(const std::function<void()>& handler) {
  if (handler) handler();
}

// The whole banner, scaled smoothly to the box once rather than left to the
// label to scale or clip, and sharp at the screen's pixel ratio.
QPixmap bannerPixmap(QSize box, qreal pixelRatio) {
  RgbaImage image = decodePng(bannerPngBytes());
  if (image.empty()) return {};
  QImage view(image.pixels.data(), image.width, image.height, image.width * 4,
              QImage::Format_RGBA8888);
  QPixmap scaled = QPixmap::fromImage(
      view.scaled(box * pixelRatio, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  scaled.setDevicePixelRatio(pixelRatio);
  return scaled;
}

// The largest pixel size, up to the font's own, at which `text` fits `box`: the
// signature's font is rarely installed and a stand-in may run wider.
QFont fittedFont(QFont font, const QString& text, QSize box) {
  for (int size = font.pixelSize(); size >= kMinSignaturePixelSize; --size) {
    font.setPixelSize(size);
    QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= box.width() && metrics.height() <= box.height()) break;
  }
  return font;
}

// The progress bar takes pane 2's place while it shows (pane 2 counts pages
// handed out, the bar pages ended), with the figures pane beside it.
// The message pane gives up the room its short "正在下载 ..." leaves meanwhile.
class DownloadProgressBar : public QProgressBar {
 public:
  DownloadProgressBar(QWidget* message, QWidget* replaced, QWidget* figures, QWidget* parent)
      : QProgressBar(parent), message_(message), replaced_(replaced), figures_(figures) {}
  void setVisible(bool visible) override {
    QProgressBar::setVisible(visible);
    replaced_->setVisible(!visible);
    figures_->setVisible(visible);
    if (visible) {
      message_->setMinimumWidth(0);
    } else {
      message_->setFixedWidth(kStatusPaneWidths[static_cast<std::size_t>(kMessagePane)]);
    }
  }

 private:
  QWidget* message_;
  QWidget* replaced_;
  QWidget* figures_;
};

bool askWhetherToStop(QWidget* owner) {
  QMessageBox box(QMessageBox::Question, qs(kMainWindowTitle), qs(kCloseQuestionText),
                  QMessageBox::NoButton, owner);
  QPushButton* keep = box.addButton(qs(kKeepDownloadingCaption), QMessageBox::RejectRole);
  QPushButton* stop = box.addButton(qs(kStopAndQuitCaption), QMessageBox::AcceptRole);
  box.setDefaultButton(keep);
  box.setEscapeButton(keep);
  box.exec();
  return box.clickedButton() == stop;
}

}  // namespace

MainWindow::MainWindow(MainWindowHandlers handlers, QWidget* parent)
    : QWidget(parent), handlers_(std::move(handlers)) {
  const Geometry& window = kMainWindowGeometry;
  setWindowTitle(qs(kMainWindowTitle));
  setMinimumSize(window.width, window.height);
  resize(window.width, window.height);
  move(window.left, window.top);

  // The margins around the list at the smallest size, kept at every size.
  const Geometry& list = kBookListGeometry;
  auto* body = new QVBoxLayout;
  body->setContentsMargins(list.left, kEditionLabelGeometry.top,
                           window.width - (list.left + list.width),
                           window.height - kStatusBarHeight - (list.top + list.height));
  body->setSpacing(list.top - bottomOf(kSubjectLabelGeometry));
  auto* choicesRow = new QHBoxLayout;
  choicesRow->setSpacing(0);
  choicesRow->addLayout(buildChoices());
  choicesRow->addStretch(1);
  choicesRow->addLayout(buildBanner());
  body->addLayout(choicesRow);
  body->addWidget(buildBookList(), 1);

  auto* whole = new QVBoxLayout(this);
  whole->setContentsMargins(0, 0, 0, 0);
  whole->setSpacing(0);
  whole->addLayout(body, 1);
  whole->addWidget(buildStatusBar());
  buildRowMenu();

  closeQuestion_ = [this] { return askWhetherToStop(this); };
  // Esc stops the download, wherever the focus is in the window.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] { run(handlers_.cancelDownload); });
  auto* clock = new QTimer(this);
  connect(clock, &QTimer::timeout, this, [this] { tick(); });
  clock->start(kProgressTickMs);
}

void MainWindow::setCloseQuestion(CloseQuestion question) { closeQuestion_ = std::move(question); }

bool MainWindow::downloadRunning() const {
  return handlers_.downloadRunning && handlers_.downloadRunning();
}

void MainWindow::tick() {
  run(handlers_.progressTick);
  if (closeWhenStopped_ && !downloadRunning()) close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!downloadRunning()) {
    QWidget::closeEvent(event);
    return;
  }
  // A stop asked for already: the window goes once the book has ended.
  event->ignore();
  if (closeWhenStopped_ || !closeQuestion_ || !closeQuestion_()) return;
  closeWhenStopped_ = true;
  run(handlers_.cancelDownload);
}

QLayout* MainWindow::buildChoices() {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(0);
  grid->setVerticalSpacing(kSubjectLabelGeometry.top - bottomOf(kEditionLabelGeometry));
  auto addChoice = [this, grid](int row, const ChoiceRow& choice) {
    auto* label = new QLabel(qs(choice.caption), this);
    name(label, choice.labelName, choice.labelPlace);
    auto* combo = new QComboBox(this);
    name(combo, choice.comboName, choice.comboPlace);
    combo->setPlaceholderText(qs(choice.placeholder));
    grid->addWidget(label, row, 0);
    grid->addWidget(combo, row, 1, Qt::AlignLeft | Qt::AlignVCenter);
    return combo;
  };
  QComboBox* edition = addChoice(0, {.labelName = kEditionLabel,
                                     .caption = kEditionLabelCaption,
                                     .labelPlace = kEditionLabelGeometry,
                                     .comboName = kEditionCombo,
                                     .placeholder = kEditionPlaceholder,
                                     .comboPlace = kEditionComboGeometry});
  QComboBox* subject = addChoice(1, {.labelName = kSubjectLabel,
                                     .caption = kSubjectLabelCaption,
                                     .labelPlace = kSubjectLabelGeometry,
                                     .comboName = kSubjectCombo,
                                     .placeholder = kSubjectPlaceholder,
                                     .comboPlace = kSubjectComboGeometry});
  // activated is the user's choice only; a programmatic change runs nothing.
  connect(edition, &QComboBox::activated, this, [this] { run(handlers_.editionSelected); });
  connect(subject, &QComboBox::activated, this, [this] { run(handlers_.subjectSelected); });
  return grid;
}

QLayout* MainWindow::buildBanner() {
  const Geometry& box = kPictureBoxGeometry;
  auto* picture = new QLabel(this);
  name(picture, kPictureBox, box);
  picture->setPixmap(bannerPixmap(picture->size(), picture->devicePixelRatioF()));
  // The signature's place reaches past the picture box; only the part inside shows.
  auto* signature = new QLabel(qs(kSignatureText), picture);
  signature->setObjectName(qs(kSignatureLabel));
  const Geometry& s = kSignatureLabelGeometry;
  signature->setGeometry(QRect(s.left, s.top, s.width, s.height) & picture->rect());
  signature->setContentsMargins(0, 0, 0, 0);
  signature->setIndent(0);
  QFont font(qs(kSignatureFont));
  font.setPixelSize(kSignaturePixelSize);
  font.setBold(true);
  signature->setFont(fittedFont(font, signature->text(), signature->contentsRect().size()));
  signature->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

  // Its offset from the top and from the list's right edge, as at the smallest size.
  auto* place = new QVBoxLayout;
  place->setContentsMargins(0, box.top - kEditionLabelGeometry.top, 0, 0);
  place->addWidget(picture);
  place->addStretch(1);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, rightOf(kBookListGeometry) - rightOf(box), 0);
  row->addLayout(place);
  return row;
}

QWidget* MainWindow::buildBookList() {
  auto* list = new QTreeWidget(this);
  list->setObjectName(qs(kBookList));
  list->setColumnCount(static_cast<int>(kBookListColumns.size()));
  QStringList headings;
  for (const ColumnLayout& column : kBookListColumns) headings << qs(column.heading);
  list->setHeaderLabels(headings);
  // The state column takes what the window grows by: "正在下载 37/212" and
  // "未完成 (缺 k 页)" are wider than its first 80 px. Set before any section
  // is sized: toggled later, Qt moves the last column right by the hidden
  // column's minimum width, leaving a blank band (and a hole in the row highlight).
  list->header()->setStretchLastSection(true);
  list->header()->setSectionResizeMode(QHeaderView::Interactive);
  for (int i = 0; i < static_cast<int>(kBookListColumns.size()); ++i) {
    list->setColumnWidth(i, kBookListColumns[static_cast<std::size_t>(i)].width);
  }
  list->setColumnHidden(kUrlColumn, true);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  // Ctrl and Shift choose several books for 下载选中项.
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this,
          [this, list](const QPoint& pos) { showRowMenu(list->viewport()->mapToGlobal(pos)); });
  // Double-click or Enter.
  connect(list, &QTreeWidget::itemActivated, this, [this] { run(handlers_.rowActivated); });
  // A title or a state cut short by a narrow column can still be read whole.
  connect(list, &QTreeWidget::itemChanged, this, [](QTreeWidgetItem* item, int column) {
    if ((column == kTitleColumn || column == kRowStatusColumn) &&
        item->toolTip(column) != item->text(column)) {
      item->setToolTip(column, item->text(column));
    }
  });
  return list;
}

QWidget* MainWindow::buildStatusBar() {
  auto* status = new QStatusBar(this);
  status->setObjectName(qs(kStatusBar));
  status->setSizeGripEnabled(false);
  status->setFixedHeight(kStatusBarHeight);
  QLabel* lastPane = nullptr;
  QLabel* messagePane = nullptr;
  for (std::size_t i = 0; i < kStatusPaneWidths.size(); ++i) {
    auto* pane = new QLabel(i == 0 ? qs(kStatusPane0Caption) : QString(), status);
    bool last = i + 1 == kStatusPaneWidths.size();
    // The last pane takes what is left, so the status bar's own margins never clip it.
    if (last) {
      pane->setMinimumWidth(0);
      lastPane = pane;
    } else {
      pane->setFixedWidth(kStatusPaneWidths[i]);
    }
    if (i == static_cast<std::size_t>(kMessagePane)) messagePane = pane;
    status->addWidget(pane, last ? 1 : 0);
  }
  // The figures pane (pane 3) shrinks first when the window is narrow.
  auto* figures = new QLabel(status);
  figures->setMinimumWidth(1);
  auto* bar = new DownloadProgressBar(messagePane, lastPane, figures, status);
  bar->setObjectName(qs(kDownloadProgressBar));
  bar->setFixedWidth(kProgressBarWidth);
  bar->setFormat(qs(kProgressBarFormat));
  bar->setRange(0, 0);
  bar->setValue(0);
  status->addWidget(bar);
  status->addWidget(figures, 1);
  bar->hide();

  auto addButton = [this, status](std::string_view name, std::string_view caption,
                                  const std::function<void()>& onClicked) {
    auto* button = new QToolButton(status);
    button->setObjectName(qs(name));
    button->setText(qs(caption));
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, this, onClicked);
    status->addWidget(button);
    button->hide();
  };
  addButton(kCancelDownloadButton, kCancelDownloadCaption,
            [this] { run(handlers_.cancelDownload); });
  addButton(kRetrySyncButton, kRetrySyncCaption, [this] { run(handlers_.retrySync); });

  // The folder of the last book, after a download: a click opens it.
  auto* link = new QLabel(status);
  link->setObjectName(qs(kFolderLink));
  link->setTextFormat(Qt::RichText);
  link->setMinimumWidth(1);
  connect(link, &QLabel::linkActivated, this, [link] {
    const std::string path = link->property(kFolderLinkPathProperty).toString().toStdString();
    if (FolderOpener open = shellHooks().openFolder; open && !path.empty()) open(path);
  });
  status->addWidget(link, 1);
  link->hide();
  return status;
}

void MainWindow::buildRowMenu() {
  rowMenu_ = new QMenu(qs(kRowMenu), this);
  rowMenu_->setObjectName(qs(kRowMenu));
  auto addItem = [this](std::string_view caption, const std::function<void()>& onTriggered) {
    QAction* item = rowMenu_->addAction(qs(caption));
    item->setObjectName(qs(caption));
    connect(item, &QAction::triggered, this, onTriggered);
    return item;
  };
  // Greyed until a book list has been fetched (the book list's routine enables them).
  addItem(kDownloadItemMenu, [this] { run(handlers_.downloadItem); })->setEnabled(false);
  addItem(kDownloadSelectedMenu, [this] { run(handlers_.downloadSelected); })->setEnabled(false);
  addItem(kDownloadAllMenu, [this] { run(handlers_.downloadAll); })->setEnabled(false);
  // Enabled while a download runs.
  addItem(kCancelDownloadMenu, [this] { run(handlers_.cancelDownload); })->setEnabled(false);
  // Enabled for a book with pages on disk, decided as the menu opens.
  addItem(kOpenFolderMenu, [this] { run(handlers_.openBookFolder); })->setEnabled(false);
  addItem(kExportPdfMenu, [this] { run(handlers_.exportPdf); })->setEnabled(false);
  rowMenu_->addSeparator();
  addItem(kSettingsMenu, [this] { showSettingsWindow(); });
  connect(rowMenu_, &QMenu::aboutToShow, this, [this] { run(handlers_.rowMenuShown); });
  // Hidden until a routine ends with "网站框架已更新" and enables it.
  addItem(kDiagnoseSiteMenu, [this] { diagnoseSite(); })->setVisible(false);
}

void MainWindow::diagnoseSite() {
  if (!handlers_.diagnoseSite) return;
  auto* dialog = new QDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setObjectName(qs(kDiagnoseSiteMenu));
  dialog->setWindowTitle(qs(kDiagnoseSiteMenu));
  auto* report = new QPlainTextEdit(qs(kDiagnosingSiteText), dialog);
  report->setReadOnly(true);
  report->setLineWrapMode(QPlainTextEdit::NoWrap);
  report->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  auto* rows = new QVBoxLayout(dialog);
  rows->addWidget(report);
  rows->addWidget(buttons);
  dialog->resize(760, 420);
  dialog->open();
  // The walk fetches pages: off the GUI thread, its report handed back to it.
  QPointer<QPlainTextEdit> target = report;
  startBackgroundThread([target, produce = handlers_.diagnoseSite] {
    const QString text = QString::fromStdString(produce());
    QMetaObject::invokeMethod(
        qApp,
        [target, text] {
          if (target) target->setPlainText(text);
        },
        Qt::QueuedConnection);
  });
}

void MainWindow::showRowMenu(const QPoint& globalPos) { rowMenu_->popup(globalPos); }

void MainWindow::showSettingsWindow() {
  SettingsWindow window(this);
  window.exec();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (created_) return;
  created_ = true;
  run(handlers_.created);
}

SettingsWindow::SettingsWindow(QWidget* parent) : QDialog(parent) {
  const Geometry& window = kSettingsWindowGeometry;
  setWindowTitle(qs(kSettingsWindowTitle));
  setModal(true);
  move(window.left, window.top);

  auto* open = new QCheckBox(qs(kOpenCheckBoxCaption), this);
  name(open, kOpenCheckBox, kOpenCheckBoxGeometry);
  auto* label = new QLabel(qs(kPathLabelCaption), this);
  name(label, kPathLabel, kPathLabelGeometry);
  auto* edit = new QLineEdit(this);
  edit->setObjectName(qs(kPathEdit));
  edit->setMinimumSize(kPathEditGeometry.width, kPathEditGeometry.height);
  // Changed only through the folder dialog, yet a path to read and copy, not a greyed one.
  edit->setReadOnly(true);
  auto* button = new QPushButton(qs(kChangePathCaption), this);
  button->setObjectName(qs(kChangePathButton));
  button->setMinimumHeight(kChangePathGeometry.height);  // its width is what its caption needs
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [this] {
    FolderBrowser browse = shellHooks().browseForFolder;
    chooseDownloadFolder(controls_, browse);
  });
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(qs(kAcceptCaption));
  buttons->button(QDialogButtonBox::Cancel)->setText(qs(kRejectCaption));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* pathRow = new QHBoxLayout;
  pathRow->setSpacing(0);
  pathRow->addWidget(label);
  pathRow->addWidget(edit, 1);
  pathRow->addWidget(button);
  auto* rows = new QVBoxLayout(this);
  rows->addWidget(open);
  rows->addLayout(pathRow);
  rows->addWidget(buttons);
  // At least as wide as it always was; wider when the captions need it.
  resize(std::max(window.width, sizeHint().width()), sizeHint().height());

  controls_.attach(this);
  loadSettingsIntoWindow(controls_);
}

void SettingsWindow::done(int result) {
  // 确定 keeps what the window shows; 取消, Escape and the close button keep
  // conf.ini as it was. The user believes the settings kept after 确定: say so
  // when they were not.
  if (result == QDialog::Accepted && !saveSettingsFromWindow(controls_)) {
    QString path = QDir::toNativeSeparators(QString::fromStdString(settingsFilePath()));
    QMessageBox::warning(this, qs(kMainWindowTitle), qs(kSettingsSaveFailedText) + path);
  }
  QDialog::done(result);
}

QString installQtTranslations(const QLocale& system) {
  static QTranslator* installed = nullptr;  // GUI thread only
  if (!QCoreApplication::instance()) return {};
  if (installed) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
    installed = nullptr;
  }
  // Qt's own texts are written in English: that locale needs no file.
  if (system.language() == QLocale::English) return QStringLiteral("en");
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  auto translator = std::make_unique<QTranslator>();
  const QString catalogue = QStringLiteral("qtbase");
  const QString separator = QStringLiteral("_");
  if (!translator->load(system, catalogue, separator, folder) &&
      !translator->load(QLocale(QLocale::Chinese, QLocale::China), catalogue, separator, folder)) {
    return {};
  }
  QCoreApplication::installTranslator(translator.get());
  installed = translator.release();
  return installed->language();
}

std::string browseForFolder(const BrowseOptions& options, QWidget* owner) {
  QString title = options.title.empty() ? qs(kDefaultBrowseTitle)
                                        : QString::fromStdString(textToUtf8(options.title));
  QFileDialog::Options flags;
  if (!options.includeFiles) flags |= QFileDialog::ShowDirsOnly;
  QString chosen = QFileDialog::getExistingDirectory(
      owner, title, QString::fromStdString(options.initialFolder), flags);
  if (chosen.isEmpty()) return {};
  return QDir::cleanPath(chosen).toStdString();
}

bool openFolderInFileManager(const std::string& nativePath) {
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(nativePath));
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  if (QThread::currentThread() == app->thread()) return QDesktopServices::openUrl(url);
  bool opened = false;
  QMetaObject::invokeMethod(
      app, [url, &opened] { opened = QDesktopServices::openUrl(url); },
      Qt::BlockingQueuedConnection);
  return opened;
}

}  // namespace varnel
