#include "app/windows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>

#include "app/banner_image.h"
#include "app/window_texts.h"

namespace varnel {
namespace {

QString qs(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void place(QWidget* w, std::string_view name, const Geometry& g) {
  w->setObjectName(qs(name));
  w->setGeometry(g.left, g.top, g.width, g.height);
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

}  // namespace

MainWindow::MainWindow(MainWindowHandlers handlers, QWidget* parent)
    : QWidget(parent), handlers_(std::move(handlers)) {
  setWindowTitle(qs(kMainWindowTitle));
  setFixedSize(kMainWindowGeometry.width, kMainWindowGeometry.height);
  move(kMainWindowGeometry.left, kMainWindowGeometry.top);

  auto* editionLabel = new QLabel(qs(kEditionLabelCaption), this);
  place(editionLabel, kEditionLabel, kEditionLabelGeometry);
  auto* editionCombo = new QComboBox(this);
  place(editionCombo, kEditionCombo, kEditionComboGeometry);
  auto* subjectLabel = new QLabel(qs(kSubjectLabelCaption), this);
  place(subjectLabel, kSubjectLabel, kSubjectLabelGeometry);
  auto* subjectCombo = new QComboBox(this);
  place(subjectCombo, kSubjectCombo, kSubjectComboGeometry);
  // activated is the user's choice only; a programmatic change runs nothing.
  connect(editionCombo, &QComboBox::activated, this, [this] { run(handlers_.editionSelected); });
  connect(subjectCombo, &QComboBox::activated, this, [this] { run(handlers_.subjectSelected); });

  auto* picture = new QLabel(this);
  place(picture, kPictureBox, kPictureBoxGeometry);
  picture->setPixmap(bannerPixmap(picture->size(), picture->devicePixelRatioF()));
  // The signature's place reaches past the picture box; only the part inside shows.
  auto* signature = new QLabel(qs(kSignatureText), picture);
  place(signature, kSignatureLabel, kSignatureLabelGeometry);
  signature->setGeometry(signature->geometry() & picture->rect());
  signature->setContentsMargins(0, 0, 0, 0);
  signature->setIndent(0);
  QFont font(qs(kSignatureFont));
  font.setPixelSize(kSignaturePixelSize);
  font.setBold(true);
  signature->setFont(fittedFont(font, signature->text(), signature->contentsRect().size()));
  signature->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

  auto* list = new QTreeWidget(this);
  place(list, kBookList, kBookListGeometry);
  list->setColumnCount(static_cast<int>(kBookListColumns.size()));
  QStringList headings;
  for (const ColumnLayout& column : kBookListColumns) headings << qs(column.heading);
  list->setHeaderLabels(headings);
  // Before any section is sized: turned off later, Qt keeps the stretched
  // length and moves the last column right by the hidden column's minimum
  // width, leaving a blank band (and a hole in the row highlight).
  list->header()->setStretchLastSection(false);
  for (int i = 0; i < static_cast<int>(kBookListColumns.size()); ++i) {
    list->setColumnWidth(i, kBookListColumns[static_cast<std::size_t>(i)].width);
  }
  list->setColumnHidden(kUrlColumn, true);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this,
          [this, list](const QPoint& pos) { showRowMenu(list->viewport()->mapToGlobal(pos)); });

  auto* status = new QStatusBar(this);
  status->setObjectName(qs(kStatusBar));
  status->setSizeGripEnabled(false);
  status->setGeometry(0, kMainWindowGeometry.height - kStatusBarHeight, kMainWindowGeometry.width,
                      kStatusBarHeight);
  for (std::size_t i = 0; i < kStatusPaneWidths.size(); ++i) {
    auto* pane = new QLabel(i == 0 ? qs(kStatusPane0Caption) : QString(), status);
    bool last = i + 1 == kStatusPaneWidths.size();
    // The last pane takes what is left, so the status bar's own margins never clip it.
    if (last) {
      pane->setMinimumWidth(0);
    } else {
      pane->setFixedWidth(kStatusPaneWidths[i]);
    }
    status->addWidget(pane, last ? 1 : 0);
  }

  rowMenu_ = new QMenu(qs(kRowMenu), this);
  rowMenu_->setObjectName(qs(kRowMenu));
  QAction* download = rowMenu_->addAction(qs(kDownloadItemMenu));
  download->setObjectName(qs(kDownloadItemMenu));
  download->setEnabled(false);  // until a book list has been fetched
  QAction* openFolder = rowMenu_->addAction(qs(kOpenFolderMenu));
  openFolder->setObjectName(qs(kOpenFolderMenu));
  QAction* exportPdf = rowMenu_->addAction(qs(kExportPdfMenu));
  exportPdf->setObjectName(qs(kExportPdfMenu));
  // There is a book to export exactly when there is one to download and open.
  auto followTheOthers = [download, openFolder, exportPdf] {
    exportPdf->setEnabled(download->isEnabled() && openFolder->isEnabled());
  };
  followTheOthers();
  connect(download, &QAction::enabledChanged, this, followTheOthers);
  connect(openFolder, &QAction::enabledChanged, this, followTheOthers);
  rowMenu_->addSeparator();
  QAction* settings = rowMenu_->addAction(qs(kSettingsMenu));
  settings->setObjectName(qs(kSettingsMenu));
  connect(download, &QAction::triggered, this, [this] { run(handlers_.downloadItem); });
  connect(openFolder, &QAction::triggered, this, [this] { run(handlers_.openBookFolder); });
  connect(exportPdf, &QAction::triggered, this, [this] { run(handlers_.exportPdf); });
  connect(settings, &QAction::triggered, this, [this] { showSettingsWindow(); });
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
  setWindowTitle(qs(kSettingsWindowTitle));
  setModal(true);
  setFixedSize(kSettingsWindowGeometry.width, kSettingsWindowGeometry.height);
  move(kSettingsWindowGeometry.left, kSettingsWindowGeometry.top);

  auto* open = new QCheckBox(qs(kOpenCheckBoxCaption), this);
  place(open, kOpenCheckBox, kOpenCheckBoxGeometry);
  auto* label = new QLabel(qs(kPathLabelCaption), this);
  place(label, kPathLabel, kPathLabelGeometry);
  auto* edit = new QLineEdit(this);
  place(edit, kPathEdit, kPathEditGeometry);
  edit->setEnabled(false);  // the path changes only through the folder dialog
  auto* button = new QPushButton(qs(kChangePathCaption), this);
  place(button, kChangePathButton, kChangePathGeometry);
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [this] {
    FolderBrowser browse = shellHooks().browseForFolder;
    chooseDownloadFolder(controls_, browse);
  });

  controls_.attach(this);
  loadSettingsIntoWindow(controls_);
}

void SettingsWindow::done(int result) {
  if (!saved_) {
    saved_ = true;
    // The user closed the window believing the settings kept: say so when they were not.
    if (!saveSettingsFromWindow(controls_)) {
      QString path = QDir::toNativeSeparators(QString::fromStdString(settingsFilePath()));
      QMessageBox::warning(this, qs(kMainWindowTitle), qs(kSettingsSaveFailedText) + path);
    }
  }
  QDialog::done(result);
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

void openFolderInFileManager(const std::string& nativePath) {
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(nativePath));
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  if (QThread::currentThread() == app->thread()) {
    QDesktopServices::openUrl(url);
  } else {
    QMetaObject::invokeMethod(
        app, [url] { QDesktopServices::openUrl(url); }, Qt::QueuedConnection);
  }
}

}  // namespace varnel
