// varnel: start-up, the message loop and the way out.
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/pdf_export.h"
#include "app/process_state.h"
#include "app/progress_line.h"
#include "app/qt_controls.h"
#include "app/qt_jpeg_reencoder.h"
#include "app/routines.h"
#include "app/settings.h"
#include "app/site_profile.h"
#include "app/window_routines.h"
#include "app/window_texts.h"
#include "app/windows.h"
#include "os/files.h"
#include "os/process.h"
#include "os/terminal.h"

namespace {

constexpr int kNoDisplayExitCode = 2;
constexpr const char* kNoDisplayMessage =
    "varnel: 无法打开图形界面：没有可用的显示。请在桌面会话中运行，"
    "或设置 QT_QPA_PLATFORM（例如 offscreen）。\n"
    "varnel: cannot open a window: no display is available.\n";

bool nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Qt aborts when it cannot reach a display; find out before it tries.
bool displayLooksAvailable(const std::vector<std::string>& args) {
  if (nonEmptyEnv("QT_QPA_PLATFORM")) return true;
  for (const std::string& arg : args) {
    if (arg == "-platform" || arg == "--platform") return true;
  }
  return nonEmptyEnv("DISPLAY") || nonEmptyEnv("WAYLAND_DISPLAY");
}

// A display that is named but unreachable ends in a fatal Qt message while the
// application object is built; leave with a plain message instead of a crash.
QtMessageHandler previousHandler = nullptr;
bool startingUp = true;
void startUpMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
  if (type == QtFatalMsg && startingUp) {
    std::fprintf(stderr, "%s\n%s", message.toLocal8Bit().constData(), kNoDisplayMessage);
    std::fflush(stderr);
    std::_Exit(kNoDisplayExitCode);
  }
  if (previousHandler) previousHandler(type, context, message);
}

// An installed copy (its desktop entry under ../share) keeps its settings in
// the user's configuration directory even when it could write beside itself,
// as root can in /usr/bin: nothing there may outlive the package.
bool isInstalledCopy(const std::string& programDir) {
  std::error_code error;
  return std::filesystem::exists(
      std::filesystem::path(programDir) / "../share/applications/varnel.desktop", error);
}

void configureSettingsLocation() {
  std::string programDir = varnel::programDirectory();
  bool writable = varnel::isWritableDirectory(programDir) && !isInstalledCopy(programDir);
  std::string configDir =
      QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
  std::string downloadDir =
      QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString();
  if (downloadDir.empty()) downloadDir = QDir::homePath().toStdString();
  varnel::setSettingsLocation(
      varnel::chooseSettingsLocation(programDir, writable, configDir, downloadDir));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnel;
  constructProcessState();
  registerShutdownRoutine();

  std::vector<std::string> args(argv + 1, argv + argc);
  const CommandLine commandLine = parseCommandLine(args);
  setCatalogueOrigin(resolveCatalogueOrigin(commandLine.baseUrl, std::getenv(kBaseUrlEnvironment),
                                            buildBaseUrl()));
  QCoreApplication::setApplicationName(QStringLiteral("varnel"));
  setJpegReencoder(reencodeAsJpeg);

  // A command runs headless: no application object, no display needed.
  if (commandLine.command != CliCommand::window) {
    configureSettingsLocation();
    leaveProcess(runCommandLine(commandLine, {.out = stdout,
                                              .err = stderr,
                                              .errIsTerminal = isTerminal(StandardStream::error),
                                              .columns = terminalColumns(StandardStream::error)}));
  }

  if (!displayLooksAvailable(args)) {
    std::fputs(kNoDisplayMessage, stderr);
    leaveProcess(kNoDisplayExitCode);
  }
  previousHandler = qInstallMessageHandler(startUpMessageHandler);
  QApplication app(argc, argv);
  startingUp = false;
  installQtTranslations(QLocale::system());

  configureSettingsLocation();
  installQtMessagePump();

  // A site profile with problems is reported and not used: the built-in one is.
  const std::string profilePath = commandLine.siteFile.value_or(defaultSiteProfilePath());
  const SiteProfileLoad profile = loadSiteProfile(profilePath);
  if (!profile.problems.empty()) {
    QMessageBox::warning(
        nullptr, QString::fromUtf8(kMainWindowTitle.data(), kMainWindowTitle.size()),
        QString::fromUtf8(kSiteProfileRejectedText.data(), kSiteProfileRejectedText.size()) +
            QString::fromStdString(describeSiteProfileProblems(profilePath, profile.problems)));
  }
  setSiteProfile(profile.profile);

  // Never destroyed: threads still running at exit may call it; once the
  // window is gone it answers with empty results.
  auto* controls = new QtControls;
  MainWindowHandlers handlers = routineHandlers(*controls);

  auto* window = new MainWindow(std::move(handlers));
  window->setAttribute(Qt::WA_DeleteOnClose);
  setShellHooks({
      .browseForFolder =
          [](const BrowseOptions& options) {
            return browseForFolder(options, QApplication::activeWindow());
          },
      .openFolder =
          [controls](const std::string& path) {
            // Said in the window too: a user who started it from a menu sees no standard error.
            if (!openFolderInFileManager(path)) {
              controls->setPaneText(kStatusBar, kMessagePane,
                                    utf8BytesToText(concatTexts(kOpenFolderFailedText, path)));
            }
          },
  });
  controls->attach(window);
  window->show();

  int exitCode = app.exec();
  leaveProcess(exitCode);
}
