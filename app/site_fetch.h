// Every request the program makes to the catalogue site goes through here, so
// they all check certificates the same way and report failures in one voice.
#pragma once

#include <optional>
#include <string>

#include "text/text.h"
#include "web/web_request.h"

namespace varnel {

inline constexpr std::string_view kIgnoreCertificatesKey = "IgnoreCertificateErrors";

// The command line's --insecure (true) overrides conf.ini's
// IgnoreCertificateErrors=True; nullopt reads the file again at every request.
void setIgnoreCertificateErrorsOverride(std::optional<bool> ignore);
bool ignoreCertificateErrors();

struct SiteAnswer {
  Bytes body;
  int status = 0;  // 0: nothing was received
  Text headers;    // "Name: value" lines, CR LF between them
  WebFailure failure;
  bool received() const { return failure.kind == WebFailureKind::none; }
};

// One request with the program's options; `pageImage` adds the page jobs'
// body cap and transfer limits. `verifyCertificates` omitted: as the settings
// say now (a book's page jobs decide once, not once per page).
SiteAnswer fetchFromSite(const Text& url, bool pageImage = false,
                         std::optional<bool> verifyCertificates = std::nullopt);

// The answer's failure for the status pane: "证书验证失败: host" for a
// certificate, else `unreachable`; empty when something was received.
Text describeSiteFailure(const SiteAnswer& answer, std::string_view unreachableUtf8);

// The value of a response header ("" when absent), name matched without case.
Text responseHeader(const Text& headers, std::string_view name);

}  // namespace varnel
