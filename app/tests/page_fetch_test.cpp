// What counts as a page image, when a page is tried again, and how long to wait.
#include "app/page_fetch.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/catalogue_site.h"
#include "app/ini_file.h"
#include "app/settings.h"

namespace varnel {
namespace {

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0", 4) + "body" + "\xFF\xD9";
const std::string kPng = std::string("\x89PNG\r\n\x1A\n", 8) + "chunks" + "IEND\xAE\x42\x60\x82";
// RIFF, the size of what follows the first 8 bytes (12 = "WEBP" + "VP8 data"), WEBP.
const std::string kWebp = std::string("RIFF\x0C\0\0\0WEBP", 12) + "VP8 data";

SiteAnswer answerOf(int status, std::string body, std::string headers = {},
                    WebFailureKind failure = WebFailureKind::none) {
  SiteAnswer answer;
  answer.status = status;
  answer.body = bytesOf(body);
  answer.headers = std::move(headers);
  answer.failure.kind = failure;
  return answer;
}

TEST(PageVerdict, OnlyWholeImagesAreAcceptedAndOnlyPassingTroubleIsRetried) {
  struct Case {
    const char* why;
    SiteAnswer answer;
    PageVerdict expected;
  };
  const Case cases[] = {
      {"a whole JPEG", answerOf(200, kJpeg, "Content-Type: image/jpeg"), PageVerdict::accepted},
      {"JPEG with zero padding after its end", answerOf(200, kJpeg + std::string(3, '\0')),
       PageVerdict::accepted},
      {"a whole PNG", answerOf(200, kPng), PageVerdict::accepted},
      {"a whole GIF", answerOf(206, "GIF89a...\x3B"), PageVerdict::accepted},
      {"a GIF without its trailer", answerOf(200, "GIF89a..."), PageVerdict::retry},
      {"a whole WebP", answerOf(200, kWebp), PageVerdict::accepted},
      {"a WebP whose RIFF size disagrees", answerOf(200, kWebp + "x"), PageVerdict::retry},
      {"JSON error object with 200",
       answerOf(200, R"({"code":404})", "Content-Type: application/json"), PageVerdict::retry},
      {"no type, a text body", answerOf(200, "Not Found"), PageVerdict::retry},
      {"HTML behind a byte-order mark", answerOf(200, "\xEF\xBB\xBF<html>gone</html>"),
       PageVerdict::retry},
      {"an encoding nobody asked for", answerOf(200, kJpeg, "Content-Encoding: gzip"),
       PageVerdict::retry},
      {"identity is no encoding", answerOf(200, kJpeg, "Content-Encoding: identity"),
       PageVerdict::accepted},
      {"JPEG cut before its end marker", answerOf(200, kJpeg.substr(0, kJpeg.size() - 1)),
       PageVerdict::retry},
      {"PNG cut short", answerOf(200, kPng.substr(0, kPng.size() - 2)), PageVerdict::retry},
      {"soft 404: HTML with 200", answerOf(200, "  \r\n<html>not here</html>"), PageVerdict::retry},
      {"the bytes decide, not the type", answerOf(200, kJpeg, "Content-Type: text/plain"),
       PageVerdict::accepted},
      {"empty body", answerOf(200, ""), PageVerdict::retry},
      {"only blanks", answerOf(200, " \n "), PageVerdict::retry},
      {"no answer at all", answerOf(0, "", "", WebFailureKind::transport), PageVerdict::retry},
      {"timed out", answerOf(0, "", "", WebFailureKind::timedOut), PageVerdict::retry},
      {"too large stays too large", answerOf(0, "", "", WebFailureKind::tooLarge),
       PageVerdict::failed},
      {"an untrusted certificate stays untrusted", answerOf(0, "", "", WebFailureKind::certificate),
       PageVerdict::failed},
      {"408", answerOf(408, kJpeg), PageVerdict::retry},
      {"425", answerOf(425, ""), PageVerdict::retry},
      {"429", answerOf(429, ""), PageVerdict::retry},
      {"500", answerOf(500, "<h1>error</h1>"), PageVerdict::retry},
      {"503", answerOf(503, ""), PageVerdict::retry},
      {"404 is final", answerOf(404, kJpeg), PageVerdict::failed},
      {"403 is final", answerOf(403, ""), PageVerdict::failed},
      {"a redirect left unfollowed is no page", answerOf(302, kJpeg), PageVerdict::failed},
  };
  for (const Case& c : cases) EXPECT_EQ(judgePageAnswer(c.answer), c.expected) << c.why;

  // What the user is told arrived instead of a page.
  EXPECT_EQ(describeRefusedPage(answerOf(200, "{}", "Content-Type: Application/JSON; charset=x")),
            "收到 application/json, 不是图片");
  EXPECT_EQ(describeRefusedPage(answerOf(200, "Not Found")), "收到无类型的内容, 不是图片");
  EXPECT_EQ(describeRefusedPage(answerOf(200, kJpeg, "Content-Encoding: gzip")),
            "收到 gzip 压缩的内容, 不是图片");
  EXPECT_EQ(describeRefusedPage(answerOf(200, kJpeg.substr(0, 6))), "收到不完整的图片");
}

TEST(RetryDelay, PlannedDelaysWithJitterOrTheServersWordUpToTheCap) {
  struct Case {
    const char* why;
    int attempt;
    const char* retryAfter;
    double jitter;
    int expected;
  };
  const Case cases[] = {
      {"first wait, no jitter", 1, "", 0.5, 500},
      {"first wait, shortest", 1, "", 0.0, 375},
      {"first wait, longest", 1, "", 1.0, 625},
      {"second wait", 2, "", 0.5, 1500},
      {"Retry-After in seconds", 1, "2", 0.9, 2000},
      {"Retry-After with blanks", 2, " 3 ", 0.1, 3000},
      {"Retry-After capped", 1, "3600", 0.5, kMaxRetryAfterSeconds * 1000},
      {"Retry-After zero", 1, "0", 0.5, 0},
      {"an HTTP date is not seconds: planned delay", 1, "Wed, 21 Oct 2026 07:28:00 GMT", 0.5, 500},
      {"negative is not a delay", 2, "-5", 0.5, 1500},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(retryDelayMs(c.attempt, c.retryAfter, c.jitter), c.expected) << c.why;
  }
}

TEST(SiteFetch, CertificatesAreCheckedUnlessTheUserSaysOtherwise) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("varnel_cert_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string conf = (dir / "conf.ini").string();
  setSettingsLocation({.filePath = conf, .defaultDownloadDirectory = dir.string()});
  struct Case {
    const char* why;
    const char* stored;  // nullptr: no key
    std::optional<bool> commandLine;
    bool ignored;
  };
  const Case cases[] = {
      {"no setting: checked", nullptr, std::nullopt, false},
      {"the user accepts such sites", "True", std::nullopt, true},
      {"only True counts", "true", std::nullopt, false},
      {"--insecure wins", "False", true, true},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(conf);
    if (c.stored) {
      ASSERT_TRUE(writeIniString(conf, "config", kIgnoreCertificatesKey, c.stored));
    }
    setIgnoreCertificateErrorsOverride(c.commandLine);
    EXPECT_EQ(ignoreCertificateErrors(), c.ignored) << c.why;
  }
  setIgnoreCertificateErrorsOverride(std::nullopt);
  std::filesystem::remove_all(dir);
}

// Each way of not reading a page is told apart, in the routine's own words.
TEST(SiteFetch, EachFailureIsToldWithItsReason) {
  struct Case {
    WebFailureKind kind;
    std::string_view expected;  // UTF-8
  };
  const Case cases[] = {
      {WebFailureKind::transport, "拉取失败!无法连接网站!"},
      {WebFailureKind::invalidUrl, "拉取失败!无法连接网站!"},
      {WebFailureKind::refused, "拉取失败!无法连接网站!连接被拒绝"},
      {WebFailureKind::unknownHost, "拉取失败!无法连接网站!找不到主机"},
      {WebFailureKind::timedOut, "拉取失败!无法连接网站!连接超时"},
      {WebFailureKind::tooLarge, "拉取失败!网站返回的页面过大"},
      {WebFailureKind::tooManyRedirects, "拉取失败!网站重定向过多"},
      {WebFailureKind::unsupportedRedirect, "拉取失败!网站重定向到不支持的地址"},
      {WebFailureKind::certificate,
       "拉取失败!证书验证失败: books.example (信任此网站可在 conf.ini 中设 "
       "IgnoreCertificateErrors=True)"},
  };
  for (const Case& c : cases) {
    SiteAnswer answer = answerOf(0, "", "", c.kind);
    answer.failure.host = "books.example";
    EXPECT_EQ(describeSiteFailure(answer, kListFailureTexts), statusText(c.expected))
        << static_cast<int>(c.kind);
  }
  EXPECT_EQ(describeSiteFailure(answerOf(0, "", "", WebFailureKind::refused), kSyncFailureTexts),
            statusText("数据同步失败!无法连接网站!连接被拒绝"));
  EXPECT_EQ(describeSiteFailure(answerOf(404, "gone"), kListFailureTexts), "")
      << "an answer is not a connection failure";
}

}  // namespace
}  // namespace varnel
