// What the program relies on from the catalogue site, and the texts and numbers
// of its three long-running routines, in one place. The expressions, the
// skipped blocks, the base-path pattern and the page file extension are the
// built-in site profile's values (site_profile.h): the routines read the
// profile in force, which a user's site.json may change without a new build.
//
// Status texts are UTF-8 here (readable in the source); the routines convert
// them to Text once, with statusText().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/text.h"

namespace varnel {

// --- the front page: the category menu ----------------------------------------
inline constexpr std::string_view kCategoryBlocksQuery = "//div[@id='cemian']/div";
inline constexpr std::string_view kEditionNameQuery = "//li[@class='li1']/@@text";
inline constexpr std::string_view kMenuHrefsQuery = "//li[@class='aaaul childmenu']/a/@href";
inline constexpr std::string_view kMenuTitlesQuery = "//li[@class='aaaul childmenu']/a/@@text";
// Blocks without menu links take the links of this block of the front page.
inline constexpr std::string_view kFallbackHrefsQuery = "//div[@id='cemian']/div[9]//a/@href";
inline constexpr std::string_view kFallbackTitlesQuery = "//div[@id='cemian']/div[9]//a/@@text";
// The first category blocks are the page's header, not editions.
inline constexpr int kSkippedCategoryBlocks = 3;
inline constexpr std::string_view kEditionNameLineBreak = "\r\n";
// Joins edition and subject into a CategoryStore path; the characters the path
// reader gives a meaning to are escaped with a backslash inside a name.
inline constexpr std::string_view kStorePathSeparator = ".";
inline constexpr std::string_view kStorePathSpecials = "\\.[]";
inline constexpr std::string_view kEmptyStore = "{}";

// --- a book-list page -----------------------------------------------------------
inline constexpr std::string_view kBookUrlsQuery =
    "//div[@id='middle']/div[3]/div[@class!='cleardiv']/@url";
inline constexpr std::string_view kBookTitlesQuery =
    "//div[@id='middle']/div[3]/div[@class!='cleardiv']/@nname";
inline constexpr std::string_view kBookPageCountsQuery =
    "//div[@id='middle']/div[3]/div[@class!='cleardiv']/@pagecount";

// A page count is read from its leading digits and never taken above this,
// so an absurd number cannot overflow or queue millions of jobs.
inline constexpr int kMaxPageCount = 100000;

// --- a book page and its images ------------------------------------------------------
// Group 1 is the base path of the page images (the name is written with two h).
inline constexpr std::string_view kBasePathPattern = "window.basepathh = \"(.*?)\";";
inline constexpr std::string_view kPageFileExtension = ".jpg";
// Between title and page address in a JobText.
inline constexpr std::string_view kJobTextSeparator = "!<>!";
// Between edition, subject and title in a book folder's name.
inline constexpr std::string_view kFolderNameSeparator = "--";
// Stands in for characters that cannot appear in a folder name.
inline constexpr char kFolderNameReplacement = '_';

// --- fetching pages and page images ---------------------------------------------------
// A page answer is tried at most this often; the waits before the second and the
// third attempt, each stretched or shrunk by up to a quarter at random.
inline constexpr int kPageAttempts = 3;
inline constexpr int kRetryDelaysMs[] = {500, 1500};
inline constexpr double kRetryJitter = 0.25;
// A server's Retry-After is honoured up to this many seconds.
inline constexpr int kMaxRetryAfterSeconds = 10;
// No page image is larger; a transfer slower than 1 KiB/s for a minute, or
// longer than ten minutes, is given up.
inline constexpr std::int64_t kMaxPageBytes = 64 << 20;
inline constexpr int kPageLowSpeedBytesPerSecond = 1024;
inline constexpr int kPageLowSpeedSeconds = 60;
inline constexpr int kPageTotalTimeoutSeconds = 600;
// The front, list and book pages are small: a larger answer, one slower than
// 1 KiB/s for 20 seconds, or one still arriving after a minute is no page of
// the catalogue's.
inline constexpr std::int64_t kMaxHtmlPageBytes = 16 << 20;
inline constexpr int kHtmlLowSpeedBytesPerSecond = 1024;
inline constexpr int kHtmlLowSpeedSeconds = 20;
inline constexpr int kHtmlTotalTimeoutSeconds = 60;

// After this many consecutive pages the site says do not exist (404, 410), no
// further page is asked for: the page count it gave was wrong.
inline constexpr int kAbsentPagesToStop = 16;

// --- the worker pool -------------------------------------------------------------------
inline constexpr int kPoolCoreThreads = 8;
inline constexpr int kPoolMaxThreads = 8;
// The driver sleeps until a page job finishes; the limit only guards against a
// pool that lost its workers, it is not a polling interval.
inline constexpr int kJobDoneGuardMs = 1000;
// Steps of the final wait for the last pages.
inline constexpr int kEndWaitStepMs = 100;

// --- status texts (UTF-8) --------------------------------------------------------------
inline constexpr std::string_view kSyncRunningStatus = "正在同步更新数据,请稍等 ...";
inline constexpr std::string_view kSyncDoneStatus = "数据同步成功!";
inline constexpr std::string_view kSyncFailedStatus = "数据同步失败!网站框架已更新!";
inline constexpr std::string_view kSyncUnreachableStatus = "数据同步失败!无法连接网站!";

inline constexpr std::string_view kListRunningStatus = "正在拉取网站数据 ...";
inline constexpr std::string_view kListDoneStatus = "拉取成功,鼠标右键选择下载";
inline constexpr std::string_view kListFailedStatus = "拉取失败!网站框架已更新!";
inline constexpr std::string_view kListUnreachableStatus = "拉取失败!无法连接网站!";
inline constexpr std::string_view kDownloadableMark = "是";
inline constexpr std::string_view kNotDownloadedMark = "-";

inline constexpr std::string_view kDownloadRunningStatus = "正在下载 ...";
inline constexpr std::string_view kProgressPrefix = "当前下载进度：";
inline constexpr std::string_view kProgressSeparator = "/";
inline constexpr std::string_view kDownloadDoneStatus = "下载完成,可打开文件夹查看";
// A row's state in the list's last column: "-" (kNotDownloadedMark), "排队中",
// "正在下载 37/212", "下载完成", "未完成 (缺 k 页)", "已取消 (k/N)", "失败: " + why.
inline constexpr std::string_view kRowDoneStatus = "下载完成";
inline constexpr std::string_view kRowQueuedStatus = "排队中";
inline constexpr std::string_view kRowRunningPrefix = "正在下载 ";
inline constexpr std::string_view kRowIncompletePrefix = "未完成 (缺 ";
inline constexpr std::string_view kRowIncompleteSuffix = " 页)";
inline constexpr std::string_view kRowCancelledPrefix = "已取消 (";
inline constexpr std::string_view kRowCancelledSuffix = ")";
inline constexpr std::string_view kRowFailedPrefix = "失败: ";
// A book page without the image base path: nothing can be fetched.
inline constexpr std::string_view kDownloadNoBasePathStatus = "下载失败!网站框架已更新!";
// Some pages could not be fetched or written: "下载未完成,失败页数：" k "/" n.
inline constexpr std::string_view kDownloadIncompletePrefix = "下载未完成,失败页数：";
// The book page could not be fetched at all (no answer, time-out).
inline constexpr std::string_view kDownloadUnreachableStatus = "下载失败!无法连接网站!";
// The folder for the pages could not be created: nothing is fetched.
inline constexpr std::string_view kDownloadFolderFailedStatus = "下载失败!无法创建文件夹:";
// Both folder names the book could have belong to other books.
inline constexpr std::string_view kDownloadFolderTakenStatus = "下载失败!书籍文件夹已被其他书占用";
// The book folder is a symbolic link: nothing is written through it.
inline constexpr std::string_view kDownloadFolderLinkStatus = "下载失败!书籍文件夹是符号链接:";
// The row's page count is not a number, or 0: nothing is fetched.
inline constexpr std::string_view kDownloadNoPageCountStatus = "下载失败!页数未知";
// Pages could not be written for a reason every page shares: "下载未完成," + cause.
inline constexpr std::string_view kDownloadIncompleteCausePrefix = "下载未完成,";
// The site's page count was more than the book has: "网站标明 N 页, 第 k 页起不存在".
inline constexpr std::string_view kSiteCountWrongPrefix = "网站标明 ";
inline constexpr std::string_view kSiteCountWrongMiddle = " 页, 第 ";
inline constexpr std::string_view kSiteCountWrongSuffix = " 页起不存在";
// Stopped by the user (the command line's Ctrl-C, the window's 取消下载).
inline constexpr std::string_view kDownloadCancelledStatus = "下载已取消";
// The window's figures beside the progress bar: speed, then these.
inline constexpr std::string_view kTimeLeftLabel = "剩余 ";
inline constexpr std::string_view kRetriesLabel = "重试 ";
inline constexpr std::string_view kFailedPagesLabel = "失败 ";
// How often the window redraws them.
inline constexpr int kProgressTickMs = 250;

// Why a page could not be read. A connection that failed is told with the
// routine's "无法连接网站!" text and, when known, its reason (refused, unknown
// host, time-out); an answer that was refused (too large, redirected in a
// loop or to something not http) with the routine's failure prefix
// ("拉取失败!" and so on) and its reason.
inline constexpr std::string_view kSyncFailedPrefix = "数据同步失败!";
inline constexpr std::string_view kListFailedPrefix = "拉取失败!";
inline constexpr std::string_view kDownloadFailedPrefix = "下载失败!";
inline constexpr std::string_view kRefusedReason = "连接被拒绝";
inline constexpr std::string_view kUnknownHostReason = "找不到主机";
inline constexpr std::string_view kTimedOutReason = "连接超时";
inline constexpr std::string_view kPageTooLargeReason = "网站返回的页面过大";
inline constexpr std::string_view kTooManyRedirectsReason = "网站重定向过多";
inline constexpr std::string_view kUnsupportedRedirectReason = "网站重定向到不支持的地址";
// A certificate that did not verify: the prefix, the host's name, then the
// setting that lets the user accept it.
inline constexpr std::string_view kCertificateFailedPrefix = "证书验证失败: ";
inline constexpr std::string_view kCertificateHint =
    " (信任此网站可在 conf.ini 中设 IgnoreCertificateErrors=True)";

// The two texts a routine's failure is told with.
struct SiteFailureTexts {
  std::string_view failedPrefix;
  std::string_view unreachable;
};
inline constexpr SiteFailureTexts kSyncFailureTexts{kSyncFailedPrefix, kSyncUnreachableStatus};
inline constexpr SiteFailureTexts kListFailureTexts{kListFailedPrefix, kListUnreachableStatus};
inline constexpr SiteFailureTexts kDownloadFailureTexts{kDownloadFailedPrefix,
                                                        kDownloadUnreachableStatus};

// --- exporting a book as one PDF (the texts around the PDF library's own) ---------------
inline constexpr std::string_view kExportPdfRunningStatus = "正在导出PDF ...";
inline constexpr std::string_view kExportPdfDoneStatus = "导出PDF完成";
// "缺少第 2, 7–9 页": the pages of the record's count that are not on disk.
inline constexpr std::string_view kPdfMissingPrefix = "缺少第 ";
inline constexpr std::string_view kPdfMissingSuffix = " 页";
inline constexpr std::string_view kPdfPageSeparator = ", ";
inline constexpr std::string_view kPdfPageDash = "–";
inline constexpr std::string_view kPdfNotWritten = ", 未生成PDF";
// --partial: "缺少第 2 页, 只导出现有的 4 页".
inline constexpr std::string_view kPdfPartialPrefix = ", 只导出现有的 ";
// A folder without a record to check against: "没有下载记录, 无法核对页数: 导出连续的 5 页".
inline constexpr std::string_view kPdfNoRecord = "没有下载记录";
inline constexpr std::string_view kPdfUnreadableRecord = "下载记录无法读取";
inline constexpr std::string_view kPdfRecordWithoutCount = "下载记录没有页数";
inline constexpr std::string_view kPdfUncheckedPrefix = ", 无法核对页数: 导出连续的 ";
inline constexpr std::string_view kPdfPagesUnit = " 页";

// A status text as the controls take it (code page 936).
inline Text statusText(std::string_view utf8) { return utf8BytesToText(utf8); }

}  // namespace varnel
