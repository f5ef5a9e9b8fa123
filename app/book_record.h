// The record a book folder keeps of itself: ".varnel-book.json", written with
// the program's JSON library through the atomic file routine. It says which
// book the folder holds (its address is its identity), the names as the site
// gave them, the page count the site declared and which pages are on disk.
// Whoever needs to know what a folder is (the folder choice, a re-run, the
// PDF) reads the record, never the folder's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/files.h"

namespace varnel {

inline constexpr std::string_view kBookRecordName = ".varnel-book.json";

// Names and addresses in UTF-8.
struct BookRecord {
  std::string url{};  // the book page's address: who the folder belongs to
  std::string edition{};
  std::string subject{};
  std::string title{};
  int declaredPages = 0;     // the page count the site gave
  std::string imageBase;     // page n is imageBase + n + ".jpg"
  std::vector<int> pages{};  // page numbers on disk, ascending
  bool complete = false;     // every page 1..declaredPages is on disk
  std::string updated{};     // UTC time of the last write, ISO 8601
  std::string version{};     // the program's version that wrote it

  // Pages 1..declaredPages that are not on disk, ascending.
  std::vector<int> missingPages() const;
  // How many those are, counted without listing them: a record may claim a
  // count no book has.
  int missingCount() const;
};

enum class RecordState {
  absent,   // the folder has no record (new, or made by an earlier version)
  read,     // a record was read
  invalid,  // a record is there but cannot be read as one
};

struct LoadedRecord {
  RecordState state = RecordState::absent;
  BookRecord record;
};

// The record of `folder` (native path).
LoadedRecord loadBookRecord(const std::string& folder);

// Writes `record` into `folder`, stamping its time and the program's version;
// `complete` is derived from the pages. none on success.
FileError saveBookRecord(const std::string& folder, BookRecord record);

// Pages 1..pageCount not in `present` (ascending), ascending.
std::vector<int> pagesMissingFrom(const std::vector<int>& present, int pageCount);

// "1-5,7,9-12": ascending page numbers as ranges, joined with `separator`
// and `dash` (the record uses "," and "-"; messages ", " and "–").
std::string pageRanges(const std::vector<int>& pages, std::string_view separator = ",",
                       std::string_view dash = "-");
// The inverse of pageRanges with "," and "-"; nullopt for anything malformed.
std::optional<std::vector<int>> parsePageRanges(std::string_view ranges);

// The program's version, as records and --version give it.
std::string_view programVersion();

}  // namespace varnel
