#include "app/ini_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>  // mkdtemp
#include <unistd.h>  // getpid

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "text/text.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "varnel_ini_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return (fs::path(path_) / name).string(); }

 private:
  std::string path_;
};

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(IniRead, LookupRulesTable) {
  struct Case {
    const char* why;
    std::string file;
    std::string section, key;
    std::optional<std::string> expected;
  } cases[] = {
      {"plain key", "[config]\nDownloadPath=/books\n", "config", "DownloadPath", "/books"},
      {"absent key", "[config]\nOther=1\n", "config", "DownloadPath", std::nullopt},
      {"absent section", "[other]\nDownloadPath=/x\n", "config", "DownloadPath", std::nullopt},
      {"empty value is not absent", "[config]\nOpenOrNot=\n", "config", "OpenOrNot", ""},
      {"names ignore ASCII case", "[CONFIG]\nopenornot=True\n", "config", "OpenOrNot", "True"},
      {"blanks around names and value", "  [ config ]  \n  Key \t=  v a l  \n", "config", "Key",
       "v a l"},
      {"first key wins", "[config]\nKey=one\nKey=two\n", "config", "Key", "one"},
      {"only the first section of a name counts", "[config]\nA=1\n[x]\n[config]\nKey=late\n",
       "config", "Key", std::nullopt},
      {"keys of the next section are not ours", "[config]\n[next]\nKey=1\n", "config", "Key",
       std::nullopt},
      {"keys before any section belong to none", "Key=1\n[config]\n", "config", "Key",
       std::nullopt},
      {"comment line is no key", "[config]\n;Key=1\n", "config", "Key", std::nullopt},
      {"the value keeps later '='", "[config]\nKey=a=b\n", "config", "Key", "a=b"},
      {"a ';' inside a value is text", "[config]\nKey=a ; b\n", "config", "Key", "a ; b"},
      {"one pair of double quotes removed", "[config]\nKey=\" spaced \"\n", "config", "Key",
       " spaced "},
      {"single quotes too", "[config]\nKey='x'\n", "config", "Key", "x"},
      {"unmatched quotes stay", "[config]\nKey=\"x'\n", "config", "Key", "\"x'"},
      {"a lone quote stays", "[config]\nKey=\"\n", "config", "Key", "\""},
      {"CRLF line ends", "[config]\r\nKey=v\r\nNext=w\r\n", "config", "Key", "v"},
      {"no final line break", "[config]\nKey=v", "config", "Key", "v"},
      {"BOM before the first section", "\xEF\xBB\xBF[config]\nKey=v\n", "config", "Key", "v"},
      {"UTF-8 value", "[config]\nKey=/home/书\n", "config", "Key", "/home/书"},
      {"line without '=' is ignored", "[config]\nKey\nKey=v\n", "config", "Key", "v"},
      {"unclosed section header still names it", "[config\nKey=v\n", "config", "Key", "v"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IniDocument::parse(c.file).value(c.section, c.key), c.expected) << c.why;
  }
}

TEST(IniRead, LongValuesAreReadInFull) {
  std::string longValue(20000, 'x');
  EXPECT_EQ(IniDocument::parse("[config]\nKey=" + longValue + "\n").value("config", "Key"),
            longValue);
}

TEST(IniWrite, EditRulesTable) {
  struct Case {
    const char* why;
    std::string before;
    std::string key, value;
    std::string after;
  } cases[] = {
      {"new document", "", "Key", "v", "[config]\nKey=v\n"},
      {"replace in place, keep the rest", "; top\n[config]\nA=1\nKey=old\nB=2\n[x]\nKey=9\n", "Key",
       "new", "; top\n[config]\nA=1\nKey=new\nB=2\n[x]\nKey=9\n"},
      {"replace the first of duplicates", "[config]\nKey=a\nKey=b\n", "Key", "c",
       "[config]\nKey=c\nKey=b\n"},
      {"a key matching in other case is replaced", "[Config]\nkey=a\n", "Key", "c",
       "[Config]\nKey=c\n"},
      {"add after the section's last entry, before the blank line",
       "[config]\nA=1\n\n[other]\nB=2\n", "Key", "v", "[config]\nA=1\nKey=v\n\n[other]\nB=2\n"},
      {"add to an empty section", "[config]\n[other]\n", "Key", "v", "[config]\nKey=v\n[other]\n"},
      {"add the section at the end", "[other]\nB=2\n", "Key", "v",
       "[other]\nB=2\n[config]\nKey=v\n"},
      {"empty value", "", "Key", "", "[config]\nKey=\n"},
      {"leading blank is protected by quotes", "", "Key", " a", "[config]\nKey=\" a\"\n"},
      {"surrounding quotes are protected", "", "Key", "'a'", "[config]\nKey=\"'a'\"\n"},
      {"CRLF documents stay CRLF", "[config]\r\nA=1\r\n", "Key", "v",
       "[config]\r\nA=1\r\nKey=v\r\n"},
      {"the BOM stays", "\xEF\xBB\xBF[config]\n", "Key", "v", "\xEF\xBB\xBF[config]\nKey=v\n"},
  };
  for (const Case& c : cases) {
    IniDocument doc = IniDocument::parse(c.before);
    ASSERT_TRUE(doc.setValue("config", c.key, c.value)) << c.why;
    EXPECT_EQ(doc.serialize(), c.after) << c.why;
    EXPECT_EQ(IniDocument::parse(doc.serialize()).value("config", c.key), c.value)
        << c.why << ": reads back";
  }
}

TEST(IniWrite, RefusesWhatWouldBreakTheFile) {
  struct Case {
    const char* why;
    std::string section, key, value;
  } cases[] = {
      {"line break in value would inject keys", "config", "Key", "a\nEvil=1"},
      {"carriage return in value", "config", "Key", "a\rb"},
      {"line break in key", "config", "K\ney", "v"},
      {"']' in section", "con]fig", "Key", "v"},
      {"'=' in key", "config", "K=ey", "v"},
      {"key that reads as a comment", "config", ";Key", "v"},
      {"key that reads as a section", "config", "[Key", "v"},
      {"empty key", "config", "", "v"},
  };
  for (const Case& c : cases) {
    IniDocument doc = IniDocument::parse("[config]\nA=1\n");
    EXPECT_FALSE(doc.setValue(c.section, c.key, c.value)) << c.why;
    EXPECT_EQ(doc.serialize(), "[config]\nA=1\n") << c.why << ": unchanged";
  }
}

TEST(IniFile, MissingFileReadsAsDefault) {
  TempDir dir;
  EXPECT_EQ(readIniValue(dir.file("conf.ini"), "config", "Key"), std::nullopt);
  EXPECT_EQ(readIniString(dir.file("conf.ini"), "config", "Key", "dflt"), "dflt");
}

TEST(IniFile, WriteCreatesFileAndDirectoryAndKeepsOtherContent) {
  TempDir dir;
  std::string path = dir.file("sub/dir/conf.ini");
  ASSERT_TRUE(writeIniString(path, "config", "DownloadPath", "/books"));
  ASSERT_TRUE(writeIniString(path, "config", "OpenOrNot", "False"));
  ASSERT_TRUE(writeIniString(path, "other", "Keep", "me"));
  ASSERT_TRUE(writeIniString(path, "config", "DownloadPath", "/elsewhere"));
  EXPECT_EQ(readBytes(path),
            "[config]\nDownloadPath=/elsewhere\nOpenOrNot=False\n[other]\nKeep=me\n");
  for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
    EXPECT_EQ(entry.path().filename(), "conf.ini") << "no temporary file is left behind";
  }
}

TEST(IniFile, Gbk936FileIsReadAsGbkAndRewrittenAsUtf8) {
  TempDir dir;
  std::string path = dir.file("conf.ini");
  // "下载" in code page 936, which is not valid UTF-8.
  writeBytes(path, "[config]\nDownloadPath=/\xCF\xC2\xD4\xD8\n[x]\nName=\xCF\xC2\n");
  EXPECT_EQ(readIniValue(path, "config", "DownloadPath"), "/下载");
  ASSERT_TRUE(writeIniString(path, "config", "OpenOrNot", "True"));
  EXPECT_EQ(readBytes(path), "[config]\nDownloadPath=/下载\nOpenOrNot=True\n[x]\nName=下\n");
}

TEST(IniFile, EncodingIsDecidedPerLine) {
  struct Case {
    const char* why;
    std::string file;
    std::string expectedPath;  // DownloadPath as read, UTF-8
  } cases[] = {
      {"a stray byte in a comment leaves the UTF-8 path alone",
       "; note \xFF\n[config]\nDownloadPath=/home/书\n", "/home/书"},
      {"a stray byte on a later line", "[config]\nDownloadPath=/home/书\nOther=\x80\n", "/home/书"},
      {"a GBK path beside UTF-8 lines", "; 说明\n[config]\nDownloadPath=/\xCF\xC2\xD4\xD8\n",
       "/下载"},
      {"CRLF lines with a GBK comment", "; \xCF\xC2\r\n[config]\r\nDownloadPath=/书\r\n", "/书"},
      {"BOM, then a GBK line", "\xEF\xBB\xBF[config]\nDownloadPath=/\xCF\xC2\n", "/下"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string path = dir.file("conf.ini");
    writeBytes(path, c.file);
    EXPECT_EQ(readIniValue(path, "config", "DownloadPath"), c.expectedPath) << c.why;
    ASSERT_TRUE(writeIniString(path, "config", "OpenOrNot", "True")) << c.why;
    std::string rewritten = readBytes(path);
    EXPECT_TRUE(isValidUtf8(rewritten)) << c.why << ": written back as UTF-8";
    EXPECT_EQ(readIniValue(path, "config", "DownloadPath"), c.expectedPath)
        << c.why << ": survives a save";
    EXPECT_EQ(readIniValue(path, "config", "OpenOrNot"), "True") << c.why;
  }
}

TEST(IniFile, PlantedLinkAtATemporaryNameIsNeverFollowed) {
  TempDir dir;
  std::string path = dir.file("conf.ini");
  std::string victim = dir.file("victim");
  writeBytes(path, "[config]\nKey=old\n");
  writeBytes(victim, "precious");
  // Links at the names a careless writer would pick: a suffix with our process
  // id, and the usual fixed suffixes.
  for (const std::string& suffix : {".tmp" + std::to_string(::getpid()), std::string(".tmp"),
                                    std::string("~"), std::string(".new")}) {
    fs::create_symlink(victim, path + suffix);
  }
  ASSERT_TRUE(writeIniString(path, "config", "Key", "new"));
  EXPECT_EQ(readBytes(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(path)) << "conf.ini was not replaced by a planted link";
  EXPECT_EQ(readBytes(path), "[config]\nKey=new\n");
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.file(""))) ++entries;
  EXPECT_EQ(entries, 6) << "conf.ini, the victim and the four links; no temporary file left";
}

TEST(IniFile, FileModeIsKeptOrSensible) {
  TempDir dir;
  std::string fresh = dir.file("fresh.ini");
  ASSERT_TRUE(writeIniString(fresh, "config", "Key", "v"));
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0644)) << "a new file: 0644";

  std::string kept = dir.file("kept.ini");
  writeBytes(kept, "[config]\nKey=old\n");
  fs::permissions(kept, fs::perms(0600));
  ASSERT_TRUE(writeIniString(kept, "config", "Key", "new"));
  EXPECT_EQ(fs::status(kept).permissions(), fs::perms(0600)) << "an existing file keeps its mode";
}

TEST(IniFile, FailedWriteLeavesTheFileAlone) {
  TempDir dir;
  std::string path = dir.file("conf.ini");
  writeBytes(path, "[config]\nKey=old\n");
  EXPECT_FALSE(writeIniString(path, "config", "Key", "two\nlines"));
  EXPECT_EQ(readBytes(path), "[config]\nKey=old\n");

  // A directory in the file's place cannot be read, so it is never replaced.
  std::string blocked = dir.file("blocked.ini");
  fs::create_directory(blocked);
  EXPECT_EQ(readIniValue(blocked, "config", "Key"), std::nullopt);
  EXPECT_FALSE(writeIniString(blocked, "config", "Key", "v"));
  EXPECT_TRUE(fs::is_directory(blocked));
}

TEST(IniFile, WritesThroughASymbolicLink) {
  TempDir dir;
  std::string real = dir.file("real.ini");
  std::string link = dir.file("conf.ini");
  writeBytes(real, "[config]\nKey=old\n");
  fs::create_symlink(real, link);
  ASSERT_TRUE(writeIniString(link, "config", "Key", "new"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readBytes(real), "[config]\nKey=new\n");
}

}  // namespace
}  // namespace varnel
