// The site doctor: walks the chain the routines walk (front page, category
// blocks, edition names, subject links, a book list, a book page, its base path,
// a page image) with a site profile, and says at which step it broke.
//
// Every request goes through fetchFromSite with the program's limits. The walk
// stops at the first failed step; the report then names the profile key, its
// expression, what it found, an excerpt of the page where the old structure was
// expected and a command line to try an edited expression with.
#pragma once

#include <string>
#include <vector>

#include "app/site_profile.h"
#include "text/text.h"

namespace varnel {

struct SiteDoctorStep {
  bool ok = false;
  std::string name;    // UTF-8
  std::string detail;  // what it found (UTF-8, printable)
};

enum class SiteVerdict {
  understood,     // every step passed
  notUnderstood,  // a page was read but the profile found nothing usable in it
  unreadable,     // a page could not be read (connection, limits, HTTP error)
};

struct SiteDoctorReport {
  std::vector<SiteDoctorStep> steps;  // the last one failed unless understood
  SiteVerdict verdict = SiteVerdict::understood;
  // Only after a failed step the profile is to blame for:
  std::string failedKey;   // the profile key
  std::string expression;  // its value
  std::string found;       // what it found
  std::string excerpt;     // of the page where the old structure was expected
  std::string tryLine;     // "varnel-query URL 'EXPRESSION'"

  // One line per step, ✔ or ✘, then the failed step's key, expression, what
  // it found, the excerpt and the line to try (UTF-8).
  std::string text() const;
};

// Runs against `origin` (the catalogue's front page) with `profile`.
SiteDoctorReport runSiteDoctor(const SiteProfile& profile, const Text& origin,
                               bool verifyCertificates);

// The elements of `page` whose class or id is closest to a class or id that
// `expression` asks for ("@class='x'", "@id='x'"), their start tags one a line,
// at most `count` of them (UTF-8). Empty when the expression asks for none.
std::string closestElements(const Text& page, const Text& expression, int count = 3);

}  // namespace varnel
