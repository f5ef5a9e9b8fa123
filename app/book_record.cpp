#include "app/book_record.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>    // snprintf
#include <ctime>     // gmtime_r
#include <iterator>  // back_inserter
#include <limits>

#include "json/json_value.h"
#include "text/text.h"

namespace varnel {
namespace {

#ifndef VARNEL_VERSION
#define VARNEL_VERSION "0"
#endif

// Keys of the record file. The record is read by later versions too: add
// keys, never rename one.
constexpr std::string_view kUrlKey = "url";
constexpr std::string_view kEditionKey = "edition";
constexpr std::string_view kSubjectKey = "subject";
constexpr std::string_view kTitleKey = "title";
constexpr std::string_view kDeclaredPagesKey = "declaredPages";
constexpr std::string_view kImageBaseKey = "imageBase";
constexpr std::string_view kPagesKey = "pages";
constexpr std::string_view kCompleteKey = "complete";
constexpr std::string_view kUpdatedKey = "updated";
constexpr std::string_view kVersionKey = "version";

std::u16string key(std::string_view name) { return utf8ToUtf16(name); }

std::string readString(JsonValue& document, std::string_view name) {
  return utf16ToUtf8(document.GetStringW(key(name)));
}

void writeString(JsonValue& document, std::string_view name, std::string_view utf8) {
  document.SetStringW(key(name), utf8ToUtf16(utf8));
}

std::string utcNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char text[64];  // room for any int the format could meet
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::optional<int> parseNumber(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
  return value;
}

}  // namespace

std::string_view programVersion() { return VARNEL_VERSION; }

std::vector<int> pagesMissingFrom(const std::vector<int>& present, int pageCount) {
  std::vector<int> missing;
  auto it = present.begin();
  for (int page = 1; page <= pageCount; ++page) {
    while (it != present.end() && *it < page) ++it;
    if (it == present.end() || *it != page) missing.push_back(page);
  }
  return missing;
}

std::vector<int> BookRecord::missingPages() const { return pagesMissingFrom(pages, declaredPages); }

int BookRecord::missingCount() const {
  // `pages` may hold duplicates until saved; count each page once.
  std::vector<int> inBook;
  std::copy_if(pages.begin(), pages.end(), std::back_inserter(inBook),
               [&](int page) { return page >= 1 && page <= declaredPages; });
  std::sort(inBook.begin(), inBook.end());
  const auto distinct = std::unique(inBook.begin(), inBook.end()) - inBook.begin();
  return declaredPages - static_cast<int>(distinct);
}

std::string pageRanges(const std::vector<int>& pages, std::string_view separator,
                       std::string_view dash) {
  std::string out;
  for (std::size_t i = 0; i < pages.size();) {
    std::size_t j = i;
    while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
    if (!out.empty()) out += separator;
    out += std::to_string(pages[i]);
    if (j > i) {
      out += dash;
      out += std::to_string(pages[j]);
    }
    i = j + 1;
  }
  return out;
}

std::optional<std::vector<int>> parsePageRanges(std::string_view ranges) {
  std::vector<int> pages;
  if (ranges.empty()) return pages;
  for (const Text& piece : splitNonEmpty(ranges, ",")) {
    const std::size_t dash = piece.find('-');
    const std::optional<int> first = parseNumber(std::string_view(piece).substr(0, dash));
    const std::optional<int> last =
        dash == Text::npos ? first : parseNumber(std::string_view(piece).substr(dash + 1));
    if (!first || !last || *last < *first || (!pages.empty() && *first <= pages.back())) {
      return std::nullopt;
    }
    for (int n = *first; n <= *last; ++n) pages.push_back(n);
  }
  return pages;
}

LoadedRecord loadBookRecord(const std::string& folder) {
  LoadedRecord loaded;
  std::string bytes;
  const ReadState state = readRegularFile(folder + "/" + std::string(kBookRecordName), bytes);
  if (state == ReadState::absent) return loaded;
  loaded.state = RecordState::invalid;
  if (state != ReadState::read || !isValidUtf8(bytes)) return loaded;

  JsonValue document;
  if (!document.LoadW(utf8ToUtf16(bytes), true) || document.TypeOf() != JsonType::kObject) {
    return loaded;
  }
  BookRecord& record = loaded.record;
  record.url = readString(document, kUrlKey);
  const auto pages = parsePageRanges(readString(document, kPagesKey));
  if (record.url.empty() || !pages) return loaded;
  record.edition = readString(document, kEditionKey);
  record.subject = readString(document, kSubjectKey);
  record.title = readString(document, kTitleKey);
  record.declaredPages = static_cast<int>(std::clamp<std::int64_t>(
      document.GetIntegerW(key(kDeclaredPagesKey)), 0, std::numeric_limits<int>::max()));
  record.imageBase = readString(document, kImageBaseKey);
  record.pages = *pages;
  record.complete = document.GetBoolW(key(kCompleteKey));
  record.updated = readString(document, kUpdatedKey);
  record.version = readString(document, kVersionKey);
  loaded.state = RecordState::read;
  return loaded;
}

FileError saveBookRecord(const std::string& folder, BookRecord record) {
  std::sort(record.pages.begin(), record.pages.end());
  record.pages.erase(std::unique(record.pages.begin(), record.pages.end()), record.pages.end());
  record.complete = record.declaredPages > 0 && record.missingCount() == 0;
  JsonValue document = JsonValue::NewObject();
  writeString(document, kUrlKey, record.url);
  writeString(document, kEditionKey, record.edition);
  writeString(document, kSubjectKey, record.subject);
  writeString(document, kTitleKey, record.title);
  document.SetIntegerW(key(kDeclaredPagesKey), record.declaredPages);
  writeString(document, kImageBaseKey, record.imageBase);
  writeString(document, kPagesKey, pageRanges(record.pages));
  document.SetBoolW(key(kCompleteKey), record.complete);
  writeString(document, kUpdatedKey, utcNow());
  writeString(document, kVersionKey, programVersion());
  const std::string text = utf16ToUtf8(document.ToTextW({}, true)) + "\n";
  return replaceFileAtomically(folder + "/" + std::string(kBookRecordName), text);
}

}  // namespace varnel
