// The site profile: everything the program relies on from the catalogue site's
// pages (its expressions, the base-path pattern, the header blocks to skip, the
// page image's address), in one value the routines read at run time.
//
// The built-in profile is compiled in (catalogue_site.h's values). A JSON file
// (site.json beside conf.ini, or the command line's --site FILE) overrides any
// subset of its keys, each written as a bare value or as
// {"about": "...", "value": ...}. A file with any problem is not used at all:
// its problems are reported and the built-in profile stays in force.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace varnel {

struct SiteProfile {
  // The front page: the category blocks, and in each block (the skipped header
  // blocks aside) the edition's name and its subject links and titles; a block
  // without links takes those of the fallback expressions on the whole page.
  Text categoryBlocks;
  int skippedCategoryBlocks = 0;
  Text editionName;
  Text menuHrefs;
  Text menuTitles;
  Text fallbackHrefs;
  Text fallbackTitles;
  // A book-list page: three parallel lists.
  Text bookUrls;
  Text bookTitles;
  Text bookPageCounts;
  // A book page: group 1 of the pattern is the base path of the page images,
  // whose addresses are the base path, the page number, then the suffix.
  Text basePathPattern;
  Text pageFileSuffix;
};

// The profile of the site as this build knows it.
SiteProfile builtInSiteProfile();

// The keys of a profile file in the order the template writes them.
std::vector<std::string_view> siteProfileKeys();
// What a key holds and how it is checked; the empty text for an unknown key.
std::string_view siteProfileAbout(std::string_view key);
// A key's value in `profile` as it is written in a file (UTF-8).
std::string siteProfileValue(const SiteProfile& profile, std::string_view key);

// One problem of a profile file: the key it concerns (empty for the file as a
// whole) and why (UTF-8).
struct SiteProfileProblem {
  std::string key;
  std::string reason;
};

struct SiteProfileLoad {
  SiteProfile profile;  // the built-in profile unless the file was read without a problem
  std::vector<SiteProfileProblem> problems{};
  bool fileFound = false;  // false: no such file, the built-in profile, no problem
};

// The keys of `utf8Json` over the built-in profile, each checked: an unknown
// key, a value of the wrong type, an expression the query language cannot
// parse, a pattern the regex object rejects.
SiteProfileLoad parseSiteProfile(std::string_view utf8Json);
// The same for a file; a missing file is no problem, an unreadable one is.
SiteProfileLoad loadSiteProfile(const std::string& path);

// The problems, one line each: "FILE: KEY: REASON".
std::string describeSiteProfileProblems(const std::string& path,
                                        const std::vector<SiteProfileProblem>& problems);

// The built-in profile as a file to start from (UTF-8 JSON, every key with its
// "about").
std::string siteProfileTemplate();

// site.json beside conf.ini.
std::string defaultSiteProfilePath();

// The profile in force. Set at start-up (before the routines run); until then
// the built-in one. A reader keeps the profile it took even if it is replaced.
void setSiteProfile(const SiteProfile& profile);
std::shared_ptr<const SiteProfile> currentSiteProfile();

}  // namespace varnel
