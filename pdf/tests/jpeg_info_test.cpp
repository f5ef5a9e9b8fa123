#include "pdf/jpeg_info.h"

#include <gtest/gtest.h>

#include <string>

#include "pdf/tests/test_jpegs.h"

namespace varnel {
namespace {

using test::JpegShape;
using test::makeJpeg;

// Offset of the frame header's precision byte (after FF Cx and the length).
std::size_t framePrecisionAt(const std::string& jpeg) {
  for (std::size_t i = 2; i + 1 < jpeg.size(); ++i) {
    const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF && marker >= 0xC0 && marker <= 0xC2) {
      return i + 4;
    }
  }
  return std::string::npos;
}

TEST(JpegInfoTest, ReadsTheHeaderOfJpegsReadersShow) {
  struct Case {
    const char* why;
    JpegShape shape;
    int components;
    bool adobe;
    double dpiX, dpiY;
  };
  const Case cases[] = {
      {"grey", {.width = 33, .height = 21, .components = 1}, 1, false, 0, 0},
      {"RGB", {.width = 40, .height = 30}, 3, false, 0, 0},
      {"CMYK from Adobe", {.components = 4}, 4, true, 0, 0},
      {"CMYK without the Adobe marker", {.components = 4, .adobeMarker = false}, 4, false, 0, 0},
      {"progressive", {.width = 64, .height = 48, .progressive = true}, 3, false, 0, 0},
      {"dots per inch", {.densityUnit = 1, .densityX = 300, .densityY = 200}, 3, false, 300, 200},
      {"dots per centimetre",
       {.densityUnit = 2, .densityX = 100, .densityY = 100},
       3,
       false,
       254,
       254},
      {"aspect ratio only", {.densityUnit = 0, .densityX = 2, .densityY = 1}, 3, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto info = readJpegInfo(makeJpeg(c.shape));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->width, c.shape.width);
    EXPECT_EQ(info->height, c.shape.height);
    EXPECT_EQ(info->components, c.components);
    EXPECT_EQ(info->bitsPerComponent, 8);
    EXPECT_EQ(info->adobeMarker, c.adobe);
    EXPECT_DOUBLE_EQ(info->dpiX, c.dpiX);
    EXPECT_DOUBLE_EQ(info->dpiY, c.dpiY);
  }
}

TEST(JpegInfoTest, ToleratesWhatDownloadsAddAroundAJpeg) {
  const std::string jpeg = makeJpeg({});
  struct Case {
    const char* why;
    std::string bytes;
  };
  std::string filled = jpeg;  // fill bytes before a marker are allowed
  filled.insert(2, "\xFF\xFF");
  const Case cases[] = {
      {"zero padding after the end marker", jpeg + std::string(5, '\0')},
      {"fill bytes before a marker", filled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto info = readJpegInfo(c.bytes);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->width, 16);
  }
}

TEST(JpegInfoTest, RefusesWhatAPdfCannotCarryAsIs) {
  const std::string jpeg = makeJpeg({});
  const std::size_t precision = framePrecisionAt(jpeg);
  ASSERT_NE(precision, std::string::npos);

  std::string twelveBit = jpeg;
  twelveBit[precision] = 12;
  std::string lossless = jpeg;
  lossless[precision - 3] = static_cast<char>(0xC3);
  std::string zeroHeight = jpeg;  // height given later by a DNL marker
  zeroHeight[precision + 1] = zeroHeight[precision + 2] = 0;
  std::string twoComponents = jpeg;
  twoComponents[precision + 5] = 2;
  std::string overlong = jpeg;  // a segment length running past the end
  overlong[4] = static_cast<char>(0xFF);
  std::string doubleFrame = jpeg;
  doubleFrame.insert(precision - 4, jpeg.substr(precision - 4, 19));

  struct Case {
    const char* why;
    std::string bytes;
    bool cut;  // the start of a longer JPEG
  };
  const std::string cutInScan = jpeg.substr(0, jpeg.size() - 10);
  const Case cases[] = {
      {"empty", "", false},
      {"PNG", test::pngBytes(), false},
      {"start marker only", "\xFF\xD8\xFF\xD9", false},
      {"cut in the scan", cutInScan, true},
      {"cut in the scan, zeros after", cutInScan + std::string(16, '\0'), true},
      {"cut in the header", jpeg.substr(0, 40), true},
      {"cut after the start marker", jpeg.substr(0, 3), true},
      {"text after the end marker", jpeg + "<html>", false},
      {"12-bit samples", twelveBit, false},
      {"lossless coding", lossless, false},
      {"arithmetic coding", makeJpeg({.arithmetic = true}), false},
      {"height left to a DNL marker", zeroHeight, false},
      {"two components", twoComponents, false},
      {"segment length past the end: its end marker is inside it", overlong, true},
      {"two frame headers", doubleFrame, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_FALSE(readJpegInfo(c.bytes).has_value());
    EXPECT_EQ(isCutJpeg(c.bytes), c.cut);
  }
  EXPECT_FALSE(isCutJpeg(jpeg)) << "a whole JPEG";
  EXPECT_FALSE(isCutJpeg(jpeg + std::string(5, '\0'))) << "padded after its end marker";
}

}  // namespace
}  // namespace varnel
