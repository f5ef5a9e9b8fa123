#include <gtest/gtest.h>

#include "regex/regex_object.h"
#include "regex/tests/test_text.h"

namespace varnel {
namespace {

using testing::gbk;

TEST(RegexObjectReplace, ExpandsReferences) {
  struct Case {
    const char* why;
    const char* pattern;
    const char* subject;
    const char* replacement;
    const char* expected;
    bool global = true;
  } cases[] = {
      {"groups swap", "(\\w+)@(\\w+)", "me@home", "$2@$1", "home@me"},
      {"$& is the whole match", "\\d+", "a12b3", "<$&>", "a<12>b<3>"},
      {"$$ is one dollar", "x", "axb", "$$", "a$b"},
      {"$` and $' are the text around the match", "x", "axb", "[$`|$']", "a[a|b]b"},
      {"$0 is literal", "(x)", "x", "$0", "$0"},
      {"a missing group stays literal", "(x)", "x", "$2", "$2"},
      {"$12 with one group is group 1 then 2", "(x)", "x", "$12", "x2"},
      {"two digits when there are that many groups", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij",
       "$10$1", "ja"},
      {"a group that took no part is empty", "(a)|(b)", "b", "[$1]", "[]"},
      {"a lone or trailing dollar is literal", "x", "x", "$ $", "$ $"},
      {"backslashes are not escapes", "x", "x", "\\n\\1", "\\n\\1"},
      {"only the first match when not global", "\\d", "1 2 3", "#", "# 2 3", false},
      {"case-insensitive matches are replaced", "abc", "ABC abc", "-", "- -"},
      {"Chinese around and inside", "(红)(楼)", "《红楼梦》", "$2$1", "《楼红梦》"},
      {"empty matches insert between characters", "x*", "ab", "-", "-a-b-"},
  };
  for (const auto& c : cases) {
    RegexObject re;
    ASSERT_TRUE(re.execute(gbk(c.pattern), gbk(c.subject), false, true, c.global)) << c.why;
    EXPECT_EQ(re.replace(gbk(c.replacement)), gbk(c.expected)) << c.why;
  }
}

TEST(RegexObjectReplace, LeavesTheStoredResultsAlone) {
  RegexObject re;
  ASSERT_TRUE(re.execute("(o)", "foo"));
  EXPECT_EQ(re.replace("0"), "f00");
  EXPECT_EQ(re.replace("[$1]"), "f[o][o]");  // a second replace starts from the subject again
  EXPECT_EQ(re.matchCount(), 2);
}

}  // namespace
}  // namespace varnel
