#include "app/site_fetch.h"

#include <mutex>

#include "app/catalogue_site.h"
#include "app/settings.h"

namespace varnel {
namespace {

std::mutex overrideMutex;
std::optional<bool> ignoreOverride;

}  // namespace

void setIgnoreCertificateErrorsOverride(std::optional<bool> ignore) {
  std::lock_guard lock(overrideMutex);
  ignoreOverride = ignore;
}

bool ignoreCertificateErrors() {
  {
    std::lock_guard lock(overrideMutex);
    if (ignoreOverride) return *ignoreOverride;
  }
  return readSetting(settingsFilePath(), kConfigSection, kIgnoreCertificatesKey, kFalseSetting) ==
         kTrueSetting;
}

SiteAnswer fetchFromSite(const Text& url, bool pageImage, std::optional<bool> verifyCertificates) {
  SiteAnswer answer;
  WebRequestOptions options{
      .responseHeaders = &answer.headers,
      .status = &answer.status,
      // Not value_or: its fallback would read conf.ini for every page.
      .verifyCertificates = verifyCertificates ? *verifyCertificates : !ignoreCertificateErrors(),
      .failure = &answer.failure};
  if (pageImage) {
    // A page is written as it arrives: an encoded body would be no image.
    options.headers = "Accept-Encoding: identity";
    options.maxBodyBytes = kMaxPageBytes;
    options.lowSpeedBytesPerSecond = kPageLowSpeedBytesPerSecond;
    options.lowSpeedSeconds = kPageLowSpeedSeconds;
    options.totalTimeoutSeconds = kPageTotalTimeoutSeconds;
  }
  answer.body = webRequest(url, options);
  return answer;
}

Text describeSiteFailure(const SiteAnswer& answer, std::string_view unreachableUtf8) {
  if (answer.received()) return {};
  if (answer.failure.kind == WebFailureKind::certificate) {
    return concatTexts(statusText(kCertificateFailedPrefix), answer.failure.host);
  }
  return statusText(unreachableUtf8);
}

Text responseHeader(const Text& headers, std::string_view name) {
  for (const Text& line : splitNonEmpty(headers, "\r\n")) {
    const std::size_t colon = line.find(':');
    if (colon == Text::npos) continue;
    if (!equalsIgnoringAsciiCase(std::string_view(line).substr(0, colon), name)) continue;
    return trimSpaces(std::string_view(line).substr(colon + 1));
  }
  return {};
}

}  // namespace varnel
