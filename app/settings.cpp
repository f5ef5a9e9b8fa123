#include "app/settings.h"

#include <mutex>

#include "app/ini_file.h"
#include "os/process.h"  // programDirectory

namespace varnel {
namespace {

std::mutex locationMutex;
bool locationSet = false;
SettingsLocation* location() {
  // Never destroyed: background threads may read it while the process ends.
  static SettingsLocation* value = new SettingsLocation;
  return value;
}

std::mutex overrideMutex;
std::optional<std::string>* directoryOverride() {
  static auto* value = new std::optional<std::string>;
  return value;
}
std::optional<bool> openOverride;
std::optional<bool> ignoreOverride;

std::mutex shellMutex;
ShellHooks* shell() {
  static ShellHooks* value = new ShellHooks;
  return value;
}

std::string joinPath(const std::string& dir, std::string_view name) {
  if (!dir.empty() && dir.back() == '/') return dir + std::string(name);
  return dir + "/" + std::string(name);
}

}  // namespace

SettingsLocation chooseSettingsLocation(const std::string& programDir, bool programDirWritable,
                                        const std::string& fallbackConfigDir,
                                        const std::string& fallbackDownloadDir) {
  if (programDirWritable) return {joinPath(programDir, kSettingsFileName), programDir};
  return {joinPath(fallbackConfigDir, kSettingsFileName), fallbackDownloadDir};
}

void setSettingsLocation(SettingsLocation value) {
  std::lock_guard lock(locationMutex);
  *location() = std::move(value);
  locationSet = true;
}

SettingsLocation settingsLocation() {
  std::lock_guard lock(locationMutex);
  if (!locationSet) {
    std::string dir = programDirectory();
    return {joinPath(dir, kSettingsFileName), dir};
  }
  return *location();
}

void setShellHooks(ShellHooks hooks) {
  std::lock_guard lock(shellMutex);
  *shell() = std::move(hooks);
}

ShellHooks shellHooks() {
  std::lock_guard lock(shellMutex);
  return *shell();
}

std::string settingsFilePath() { return settingsLocation().filePath; }

std::string readSetting(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view fallback) {
  return readIniString(file, section, key, fallback);
}

void setDownloadDirectoryOverride(std::optional<std::string> directory) {
  std::lock_guard lock(overrideMutex);
  *directoryOverride() = std::move(directory);
}

void setOpenFolderOverride(std::optional<bool> open) {
  std::lock_guard lock(overrideMutex);
  openOverride = open;
}

std::string readDownloadDirectory() {
  {
    std::lock_guard lock(overrideMutex);
    if (*directoryOverride()) return **directoryOverride();
  }
  SettingsLocation where = settingsLocation();
  return readSetting(where.filePath, kConfigSection, kDownloadPathKey,
                     where.defaultDownloadDirectory);
}

void setIgnoreCertificateErrorsOverride(std::optional<bool> ignore) {
  std::lock_guard lock(overrideMutex);
  ignoreOverride = ignore;
}

bool ignoreCertificateErrors() {
  {
    std::lock_guard lock(overrideMutex);
    if (ignoreOverride) return *ignoreOverride;
  }
  return readSetting(settingsFilePath(), kConfigSection, kIgnoreCertificatesKey, kFalseSetting) ==
         kTrueSetting;
}

bool readOpenFolderSetting() {
  {
    std::lock_guard lock(overrideMutex);
    if (openOverride) return *openOverride;
  }
  return readSetting(settingsFilePath(), kConfigSection, kOpenOrNotKey, kFalseSetting) ==
         kTrueSetting;
}

void loadSettingsIntoWindow(Controls& controls) {
  controls.setEditText(kPathEdit, readDownloadDirectory());
  controls.setChecked(kOpenCheckBox, readOpenFolderSetting());
}

bool saveSettingsFromWindow(Controls& controls) {
  const std::string file = settingsFilePath();
  bool pathSaved =
      writeIniString(file, kConfigSection, kDownloadPathKey, controls.editText(kPathEdit));
  bool openSaved = writeIniString(file, kConfigSection, kOpenOrNotKey,
                                  controls.isChecked(kOpenCheckBox) ? kTrueSetting : kFalseSetting);
  return pathSaved && openSaved;
}

void chooseDownloadFolder(Controls& controls, const FolderBrowser& browse) {
  if (!browse) return;
  BrowseOptions options;
  options.title = utf8BytesToText(kChooseFolderTitle);
  options.newStyle = true;
  options.initialFolder = controls.editText(kPathEdit);  // start where the books go now
  std::string chosen = browse(options);
  // An empty answer means the dialog was cancelled: keep what the box held, so
  // later downloads do not land in the file-system root.
  if (!chosen.empty()) controls.setEditText(kPathEdit, chosen);
}

}  // namespace varnel
