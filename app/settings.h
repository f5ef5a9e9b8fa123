// The two download settings, kept in conf.ini and edited in SettingsWindow.
// Settings are never cached: every reader opens the file again.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/controls.h"
#include "text/text.h"

namespace varnel {

inline constexpr std::string_view kSettingsFileName = "conf.ini";
inline constexpr std::string_view kConfigSection = "config";
inline constexpr std::string_view kDownloadPathKey = "DownloadPath";
inline constexpr std::string_view kOpenOrNotKey = "OpenOrNot";
inline constexpr std::string_view kTrueSetting = "True";  // the only text that counts as set
inline constexpr std::string_view kFalseSetting = "False";

// Where the settings live and what DownloadPath defaults to (native paths).
struct SettingsLocation {
  std::string filePath;
  std::string defaultDownloadDirectory;
};

// conf.ini and the download default in the program's directory when that is
// writable, else the given fallbacks (the user's configuration directory,
// which receives conf.ini, and the user's download directory).
SettingsLocation chooseSettingsLocation(const std::string& programDir, bool programDirWritable,
                                        const std::string& fallbackConfigDir,
                                        const std::string& fallbackDownloadDir);

// Set once at start-up, before any background thread runs (tests set it too).
// Until then: conf.ini and the default download directory in the program's directory.
void setSettingsLocation(SettingsLocation location);
SettingsLocation settingsLocation();
std::string settingsFilePath();

// One setting with its default for an absent key (an empty value stays empty).
std::string readSetting(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view fallback);
// DownloadPath, defaulting to the location's download directory.
std::string readDownloadDirectory();
// OpenOrNot equals "True" exactly.
bool readOpenFolderSetting();

// IgnoreCertificateErrors equals "True" exactly, or the command line's
// --insecure (true) overrides it; nullopt reads the file again at every call.
inline constexpr std::string_view kIgnoreCertificatesKey = "IgnoreCertificateErrors";
void setIgnoreCertificateErrorsOverride(std::optional<bool> ignore);
bool ignoreCertificateErrors();

// For one run of the command line, which never writes conf.ini: a directory
// and an open-folder choice that win over the file. nullopt: the file again.
void setDownloadDirectoryOverride(std::optional<std::string> directory);
void setOpenFolderOverride(std::optional<bool> open);

// What the folder dialog is asked for; every field may be left at its default.
struct BrowseOptions {
  Text title;                 // empty: "请选择一个文件夹"
  bool includeFiles = false;  // show files beside folders
  std::string initialFolder;  // native path; empty: the dialog's own start
  bool editBox = false;
  bool newStyle = false;
};
inline constexpr std::string_view kDefaultBrowseTitle = "请选择一个文件夹";  // UTF-8
inline constexpr std::string_view kChooseFolderTitle = "选择文件夹";         // UTF-8

// Returns the chosen folder as a native path, or "" when cancelled.
using FolderBrowser = std::function<std::string(const BrowseOptions&)>;
// Shows a folder in the file manager; a missing folder fails silently.
using FolderOpener = std::function<void(const std::string& nativePath)>;

// The two calls into the desktop shell, replaceable so tests never open real
// dialogs or file managers. Set at start-up; empty hooks do nothing ("" for
// the browser).
struct ShellHooks {
  FolderBrowser browseForFolder;
  FolderOpener openFolder;
};
void setShellHooks(ShellHooks hooks);
ShellHooks shellHooks();

// The settings window's handlers, over 编辑框1 and 选择框_open.
void loadSettingsIntoWindow(Controls& controls);
// Writes both keys, also an empty path. Returns false when the file could not be written.
bool saveSettingsFromWindow(Controls& controls);
// Puts the chosen folder into 编辑框1; a cancelled dialog keeps the path it held.
void chooseDownloadFolder(Controls& controls, const FolderBrowser& browse);

}  // namespace varnel
