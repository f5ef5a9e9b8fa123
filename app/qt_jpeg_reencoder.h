// Page images a PDF reader cannot show as they are, decoded with QImage and
// saved again as JPEG. Needs no QGuiApplication.
#pragma once

#include <optional>
#include <string>

namespace varnel {

inline constexpr int kReencodeJpegQuality = 90;

// JPEG bytes of the decoded image; nullopt when QImage cannot read it.
std::optional<std::string> reencodeAsJpeg(const std::string& bytes);

}  // namespace varnel
