#include "pdf/tests/test_jpegs.h"

#include <qpdf/Pl_DCT.hh>
#include <qpdf/Pl_String.hh>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

namespace varnel::test {
namespace {

class Settings : public Pl_DCT::CompressConfig {
 public:
  explicit Settings(const JpegShape& shape) : spec_(shape) {}
  void apply(jpeg_compress_struct* cinfo) override {
    jpeg_set_quality(cinfo, spec_.quality, TRUE);
    cinfo->density_unit = static_cast<UINT8>(spec_.densityUnit);
    cinfo->X_density = static_cast<UINT16>(spec_.densityX);
    cinfo->Y_density = static_cast<UINT16>(spec_.densityY);
    if (spec_.progressive) jpeg_simple_progression(cinfo);
    if (spec_.arithmetic) cinfo->arith_code = TRUE;
    if (spec_.components == 4) cinfo->write_Adobe_marker = spec_.adobeMarker;
  }

 private:
  JpegShape spec_;
};

}  // namespace

std::string makeJpeg(const JpegShape& shape) {
  const auto rowBytes = static_cast<std::size_t>(shape.width * shape.components);
  std::vector<unsigned char> pixels(rowBytes * static_cast<std::size_t>(shape.height));
  std::mt19937 random(shape.seed);
  for (int y = 0; y < shape.height; ++y) {
    for (std::size_t x = 0; x < rowBytes; ++x) {
      int value =
          static_cast<int>((x * 7 + static_cast<std::size_t>(y) * 3 + shape.seed * 40) % 256);
      if (shape.noise > 0) value += static_cast<int>(random() % static_cast<unsigned>(shape.noise));
      pixels[static_cast<std::size_t>(y) * rowBytes + x] = static_cast<unsigned char>(value & 0xFF);
    }
  }
  return encodeJpeg(pixels, shape);
}

std::string encodeJpeg(const std::vector<unsigned char>& pixels, const JpegShape& shape) {
  const J_COLOR_SPACE space = shape.components == 1   ? JCS_GRAYSCALE
                              : shape.components == 4 ? JCS_CMYK
                                                      : JCS_RGB;
  std::string out;
  Pl_String sink("jpeg", nullptr, out);
  Settings settings(shape);
  Pl_DCT encoder("encode", &sink, static_cast<JDIMENSION>(shape.width),
                 static_cast<JDIMENSION>(shape.height), shape.components, space, &settings);
  encoder.write(pixels.data(), pixels.size());
  encoder.finish();
  return out;
}

std::string pngBytes() {
  static constexpr char kPng[] =
      "\x89PNG\r\n\x1a\n"
      "\0\0\0\x0d"
      "IHDR\0\0\0\x10\0\0\0\x0c\x08\x02\0\0\0";
  return std::string(kPng, sizeof kPng - 1);
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace varnel::test
