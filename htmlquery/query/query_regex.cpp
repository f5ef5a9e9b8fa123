#include "htmlquery/query/query_regex.h"

#include <array>
#include <boost/regex.hpp>
#include <cstddef>

namespace varnel::query {

namespace {

// A few compiled patterns per thread, replaced in turn. "@@@name" alone
// uses three patterns per node, and a filter may add one.
class PatternCache {
 public:
  const boost::regex& get(const std::string& pattern) {
    for (Entry& entry : entries_)
      if (entry.used && entry.pattern == pattern) return entry.compiled;
    Entry& entry = entries_[next_];
    next_ = (next_ + 1) % entries_.size();
    entry.used = false;
    entry.compiled.assign(pattern, boost::regex::perl | boost::regex::no_except);
    entry.pattern = pattern;
    entry.used = true;
    return entry.compiled;
  }

 private:
  struct Entry {
    bool used = false;
    std::string pattern;
    boost::regex compiled;
  };
  std::array<Entry, 4> entries_;
  std::size_t next_ = 0;
};

}  // namespace

RegexSearch searchFirst(std::string_view subject, const std::string& pattern, std::string& match) {
  thread_local PatternCache cache;
  try {
    const boost::regex& re = cache.get(pattern);
    if (re.status() != 0) return RegexSearch::Unusable;
    boost::cmatch found;
    if (!boost::regex_search(subject.data(), subject.data() + subject.size(), found, re,
                             boost::match_not_dot_newline))
      return RegexSearch::NotFound;
    match = found.str();
    return RegexSearch::Found;
  } catch (const std::exception&) {  // complexity limits and the like
    return RegexSearch::Unusable;
  }
}

}  // namespace varnel::query
