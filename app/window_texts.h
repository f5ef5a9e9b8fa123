// Captions and layout of the two windows, in one place (UTF-8, as Qt shows them).
#pragma once

#include <array>
#include <string_view>

namespace varnel {

struct Geometry {
  int left, top, width, height;
};

// MainWindow. The geometries are where each control sits when the window has
// its first and smallest size; the layout keeps them there and gives the book
// list whatever the window grows by.
inline constexpr std::string_view kMainWindowTitle = "Varnel下载器V1.0";
// The site doctor's dialog while it walks the site, and a site.json not used.
inline constexpr std::string_view kDiagnosingSiteText = "正在诊断网站 ...";
inline constexpr std::string_view kSiteProfileRejectedText = "网站配置文件有错误, 使用内置配置:\n";
inline constexpr Geometry kMainWindowGeometry{50, 50, 509, 363};
inline constexpr std::string_view kEditionLabelCaption = "专版分类：";
inline constexpr Geometry kEditionLabelGeometry{8, 8, 64, 24};
inline constexpr Geometry kEditionComboGeometry{72, 11, 256, 20};
inline constexpr std::string_view kSubjectLabelCaption = "学科分类：";
inline constexpr Geometry kSubjectLabelGeometry{8, 40, 64, 24};
inline constexpr Geometry kSubjectComboGeometry{72, 42, 200, 20};
// Shown while nothing is chosen, so a box never shows a choice that was not applied.
inline constexpr std::string_view kEditionPlaceholder = "请选择专版";
inline constexpr std::string_view kSubjectPlaceholder = "请选择学科";
inline constexpr Geometry kPictureBoxGeometry{352, 17, 136, 40};
inline constexpr Geometry kSignatureLabelGeometry{89, 22, 59, 24};  // inside the picture box
inline constexpr std::string_view kSignatureText = "Varnel";
inline constexpr std::string_view kSignatureFont = "Tekton Pro Ext";
inline constexpr int kSignaturePixelSize = 14;  // shrunk, not cut, when a stand-in font runs wider
inline constexpr int kMinSignaturePixelSize = 6;
inline constexpr Geometry kBookListGeometry{8, 72, 488, 232};
inline constexpr int kStatusBarHeight = 20;

struct ColumnLayout {
  std::string_view heading;
  int width;
};
inline constexpr std::array<ColumnLayout, 6> kBookListColumns{{
    {"序号", 40},
    {"标题", 200},
    {"页数", 40},
    {"是否支持下载", 100},
    {"url", 0},  // carries the book's address; hidden
    {"当前状态", 80},
}};

inline constexpr std::array<int, 3> kStatusPaneWidths{60, 200, 249};
inline constexpr std::string_view kStatusPane0Caption = "当前状态：";
// While a download runs the progress bar stands where pane 2 was, the figures
// pane and the cancel button beside it.
inline constexpr int kProgressBarWidth = 80;
inline constexpr std::string_view kProgressBarFormat = "%v/%m";
inline constexpr std::string_view kCancelDownloadCaption = "取消下载";
inline constexpr std::string_view kRetrySyncCaption = "重试";
// Closing during a download.
inline constexpr std::string_view kCloseQuestionText = "正在下载, 确定退出吗?";
inline constexpr std::string_view kKeepDownloadingCaption = "继续下载";
inline constexpr std::string_view kStopAndQuitCaption = "停止并退出";
// 在文件夹中打开 found no file manager; the folder's path follows.
inline constexpr std::string_view kOpenFolderFailedText = "无法打开文件夹(没有可用的文件管理器): ";

// SettingsWindow: its position and smallest width, and its controls' smallest
// sizes; it is as high as its rows need.
inline constexpr std::string_view kSettingsWindowTitle = "下载设置";
inline constexpr Geometry kSettingsWindowGeometry{50, 50, 373, 100};
// The trailing spaces belong to the caption.
inline constexpr std::string_view kOpenCheckBoxCaption = "下载完成后自动打开文件夹   ";
inline constexpr Geometry kOpenCheckBoxGeometry{6, 4, 202, 32};
inline constexpr std::string_view kPathLabelCaption = "当前下载路径：";
inline constexpr Geometry kPathLabelGeometry{8, 40, 80, 24};
inline constexpr Geometry kPathEditGeometry{88, 40, 216, 24};
inline constexpr std::string_view kChangePathCaption = "更改路径";
inline constexpr Geometry kChangePathGeometry{304, 40, 56, 24};
inline constexpr std::string_view kAcceptCaption = "确定";  // keeps what the window shows
inline constexpr std::string_view kRejectCaption = "取消";  // leaves conf.ini as it was
// Shown when closing the window could not write conf.ini; the file's path follows.
inline constexpr std::string_view kSettingsSaveFailedText = "保存设置失败:无法写入 ";

}  // namespace varnel
