#include "app/qt_jpeg_reencoder.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace varnel {

std::optional<std::string> reencodeAsJpeg(const std::string& bytes) {
  QImage image;
  if (!image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                          static_cast<int>(bytes.size()))) {
    return std::nullopt;
  }
  // JPEG has no alpha: a transparent page goes onto white paper.
  if (image.hasAlphaChannel()) {
    QImage paper(image.size(), QImage::Format_RGB888);
    paper.fill(Qt::white);
    paper.setDotsPerMeterX(image.dotsPerMeterX());
    paper.setDotsPerMeterY(image.dotsPerMeterY());
    QPainter(&paper).drawImage(0, 0, image);
    image = paper;
  } else if (!image.isGrayscale()) {
    image = image.convertToFormat(QImage::Format_RGB888);
  } else {
    image = image.convertToFormat(QImage::Format_Grayscale8);
  }
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "JPG", kReencodeJpegQuality)) return std::nullopt;
  return std::string(encoded.constData(), static_cast<std::size_t>(encoded.size()));
}

}  // namespace varnel
