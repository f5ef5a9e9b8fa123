#include "app/site_profile.h"

#include <filesystem>
#include <mutex>

#include "app/catalogue_site.h"
#include "app/settings.h"
#include "htmlquery/html_query.h"
#include "json/json_value.h"
#include "os/files.h"
#include "regex/regex_object.h"

namespace varnel {
namespace {

enum class KeyKind { expression, pattern, count, suffix };

struct KeyInfo {
  std::string_view key;
  KeyKind kind;
  Text SiteProfile::*text;  // null for a count
  std::string_view about;
};

constexpr int kMaxSkippedBlocks = 1000;

const KeyInfo kKeys[] = {
    {"categoryBlocks", KeyKind::expression, &SiteProfile::categoryBlocks,
     "首页: 分类块 (每个专版一块) / front page: the category blocks, one per edition"},
    {"skippedCategoryBlocks", KeyKind::count, nullptr,
     "首页: 开头几个分类块是页头, 不是专版 / front page: how many leading blocks are the header"},
    {"editionName", KeyKind::expression, &SiteProfile::editionName,
     "分类块内: 专版名 (第一行) / in a block: the edition's name (its first line)"},
    {"menuHrefs", KeyKind::expression, &SiteProfile::menuHrefs,
     "分类块内: 学科链接 / in a block: the subjects' links"},
    {"menuTitles", KeyKind::expression, &SiteProfile::menuTitles,
     "分类块内: 学科名, 与链接一一对应 / in a block: the subjects' names, one per link"},
    {"fallbackHrefs", KeyKind::expression, &SiteProfile::fallbackHrefs,
     "首页: 没有学科链接的分类块用这些链接 / front page: the links of blocks without their own"},
    {"fallbackTitles", KeyKind::expression, &SiteProfile::fallbackTitles,
     "首页: 上述链接的学科名 / front page: the names of those links"},
    {"bookUrls", KeyKind::expression, &SiteProfile::bookUrls,
     "书目页: 每本书的地址 / book list: each book's address"},
    {"bookTitles", KeyKind::expression, &SiteProfile::bookTitles,
     "书目页: 书名, 与地址一一对应 / book list: the titles, one per address"},
    {"bookPageCounts", KeyKind::expression, &SiteProfile::bookPageCounts,
     "书目页: 页数, 与地址一一对应 / book list: the page counts, one per address"},
    {"basePathPattern", KeyKind::pattern, &SiteProfile::basePathPattern,
     "书页: 正则表达式, 第 1 组是页面图片的基础路径 / book page: a regular expression whose group "
     "1 is the page images' base path"},
    {"pageFileSuffix", KeyKind::suffix, &SiteProfile::pageFileSuffix,
     "页面图片地址 = 基础路径 + 页码 + 此后缀 / a page image's address is the base path, the page "
     "number, then this"},
};

const KeyInfo* findKey(std::string_view key) {
  for (const KeyInfo& info : kKeys) {
    if (info.key == key) return &info;
  }
  return nullptr;
}

// Why `value` cannot stand for `info`'s key, or the empty text; on success the
// value is stored into `profile`.
std::string checkValue(const KeyInfo& info, JsonValue value, SiteProfile& profile) {
  if (info.kind == KeyKind::count) {
    if (value.TypeOf() != JsonType::kInteger) return "类型错误: 应为整数 (wrong type: an integer)";
    const std::int64_t count = value.GetInteger();
    if (count < 0 || count > kMaxSkippedBlocks) {
      return "应在 0 到 " + std::to_string(kMaxSkippedBlocks) + " 之间 (out of range)";
    }
    profile.skippedCategoryBlocks = static_cast<int>(count);
    return {};
  }
  if (value.TypeOf() != JsonType::kString) return "类型错误: 应为字符串 (wrong type: a string)";
  const Text text = utf8BytesToText(utf16ToUtf8(value.GetStringW()));
  if (info.kind == KeyKind::expression) {
    Text badStep;
    if (!HtmlQuery().ExpressionParses(text, &badStep)) {
      return badStep.empty()
                 ? std::string("表达式为空 (empty expression)")
                 : "表达式无法解析 (expression does not parse) at: " + textToUtf8(badStep);
    }
  } else if (info.kind == KeyKind::pattern) {
    RegexObject regex;
    if (text.empty() || !regex.execute(text, "")) {
      return "正则表达式无效 (pattern rejected)";
    }
  } else if (text.find('/') != Text::npos) {
    return "后缀不能含有 / (no / in the suffix)";
  }
  profile.*info.text = text;
  return {};
}

// A key's value: a bare value, or the "value" of {"about": ..., "value": ...}.
JsonValue valueOf(JsonValue member, const std::string& key,
                  std::vector<SiteProfileProblem>& problems) {
  if (member.TypeOf() != JsonType::kObject) return member;
  std::vector<std::u16string> names;
  std::vector<JsonValue> parts;
  member.KeysW({}, names);
  member.ChildrenW({}, parts);
  JsonValue value;
  for (std::size_t i = 0; i < names.size() && i < parts.size(); ++i) {
    if (names[i] == u"value") {
      value = parts[i];
    } else if (names[i] != u"about") {
      problems.push_back({key + "." + utf16ToUtf8(names[i]), "未知的键 (unknown key)"});
    }
  }
  if (!value.GetNode()) {
    problems.push_back({key, "缺少 \"value\" (no \"value\")"});
  }
  return value;
}

std::mutex profileMutex;
std::shared_ptr<const SiteProfile>& profileSlot() {
  // Never freed: see process_state.h (threads may read it at exit).
  static auto* slot =
      new std::shared_ptr<const SiteProfile>(std::make_shared<SiteProfile>(builtInSiteProfile()));
  return *slot;
}

}  // namespace

SiteProfile builtInSiteProfile() {
  return {
      .categoryBlocks = Text(kCategoryBlocksQuery),
      .skippedCategoryBlocks = kSkippedCategoryBlocks,
      .editionName = Text(kEditionNameQuery),
      .menuHrefs = Text(kMenuHrefsQuery),
      .menuTitles = Text(kMenuTitlesQuery),
      .fallbackHrefs = Text(kFallbackHrefsQuery),
      .fallbackTitles = Text(kFallbackTitlesQuery),
      .bookUrls = Text(kBookUrlsQuery),
      .bookTitles = Text(kBookTitlesQuery),
      .bookPageCounts = Text(kBookPageCountsQuery),
      .basePathPattern = Text(kBasePathPattern),
      .pageFileSuffix = Text(kPageFileExtension),
  };
}

std::vector<std::string_view> siteProfileKeys() {
  std::vector<std::string_view> keys;
  for (const KeyInfo& info : kKeys) keys.push_back(info.key);
  return keys;
}

std::string_view siteProfileAbout(std::string_view key) {
  const KeyInfo* info = findKey(key);
  return info ? info->about : std::string_view();
}

std::string siteProfileValue(const SiteProfile& profile, std::string_view key) {
  const KeyInfo* info = findKey(key);
  if (!info) return {};
  if (!info->text) return std::to_string(profile.skippedCategoryBlocks);
  return textToUtf8(profile.*info->text);
}

SiteProfileLoad parseSiteProfile(std::string_view utf8Json) {
  SiteProfileLoad load{.profile = builtInSiteProfile(), .fileFound = true};
  JsonValue document;
  if (!document.LoadW(utf8ToUtf16(utf8Json), true)) {
    load.problems.push_back({"", "不是有效的 JSON (not valid JSON)"});
    return load;
  }
  if (document.TypeOf() != JsonType::kObject) {
    load.problems.push_back({"", "应为一个 JSON 对象 (not a JSON object)"});
    return load;
  }
  std::vector<std::u16string> names;
  std::vector<JsonValue> members;
  document.KeysW({}, names);
  document.ChildrenW({}, members);
  SiteProfile profile = load.profile;
  for (std::size_t i = 0; i < names.size() && i < members.size(); ++i) {
    const std::string key = utf16ToUtf8(names[i]);
    if (key == "about") continue;  // the file's own comment
    const KeyInfo* info = findKey(key);
    if (!info) {
      load.problems.push_back({key, "未知的键 (unknown key)"});
      continue;
    }
    const JsonValue value = valueOf(members[i], key, load.problems);
    if (!value.GetNode()) continue;
    std::string reason = checkValue(*info, value, profile);
    if (!reason.empty()) load.problems.push_back({key, std::move(reason)});
  }
  if (load.problems.empty()) load.profile = profile;
  return load;
}

SiteProfileLoad loadSiteProfile(const std::string& path) {
  std::string content;
  switch (readRegularFile(path, content)) {
    case ReadState::absent:
      return {.profile = builtInSiteProfile()};
    case ReadState::unreadable:
      return {.profile = builtInSiteProfile(),
              .problems = {{"", "无法读取 (cannot be read)"}},
              .fileFound = true};
    case ReadState::read:
      break;
  }
  return parseSiteProfile(content);
}

std::string describeSiteProfileProblems(const std::string& path,
                                        const std::vector<SiteProfileProblem>& problems) {
  std::string lines;
  for (const SiteProfileProblem& problem : problems) {
    lines += path + ": " + (problem.key.empty() ? "" : problem.key + ": ") + problem.reason + "\n";
  }
  return lines;
}

std::string siteProfileTemplate() {
  const SiteProfile profile = builtInSiteProfile();
  JsonValue document = JsonValue::NewObject();
  document.PutMemberW({}, u"about",
                      JsonValue::NewStringW(utf8ToUtf16(
                          "Varnel下载器的网站配置: 放在 conf.ini 旁边, 名为 site.json, 或用 --site "
                          "文件; 只需写要改的键. / The site profile: save as site.json beside "
                          "conf.ini, or pass --site FILE; keep only the keys you change.")));
  for (const KeyInfo& info : kKeys) {
    JsonValue entry = JsonValue::NewObject();
    entry.PutMemberW({}, u"about", JsonValue::NewStringW(utf8ToUtf16(info.about)));
    entry.PutMemberW({}, u"value",
                     info.text ? JsonValue::NewStringW(utf8ToUtf16(textToUtf8(profile.*info.text)))
                               : JsonValue::NewInteger(profile.skippedCategoryBlocks));
    document.PutMemberW({}, utf8ToUtf16(info.key), entry);
  }
  std::string text = utf16ToUtf8(document.ToTextW({}, true, true));
  // The writer ends lines with CR LF; a file on this system ends them with LF.
  std::string lines;
  for (char c : text) {
    if (c != '\r') lines += c;
  }
  return lines + "\n";
}

std::string defaultSiteProfilePath() {
  return (std::filesystem::path(settingsFilePath()).parent_path() / "site.json").string();
}

void setSiteProfile(const SiteProfile& profile) {
  auto replacement = std::make_shared<const SiteProfile>(profile);
  std::lock_guard lock(profileMutex);
  profileSlot() = std::move(replacement);
}

std::shared_ptr<const SiteProfile> currentSiteProfile() {
  std::lock_guard lock(profileMutex);
  return profileSlot();
}

}  // namespace varnel
