#include "tools/demo_site/page_image.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRect>
#include <QString>
#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

namespace varnel::demo {
namespace {

constexpr int kJpegQuality = 80;
const char* const kFontFamily = "WenQuanYi Micro Hei";

// A small generator of our own: std:: distributions differ between library
// versions, and the bytes must not.
class Pcg {
 public:
  explicit Pcg(std::uint64_t seed)
      : state_(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  std::uint32_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    const auto xorshifted = static_cast<std::uint32_t>(((state_ >> 18u) ^ state_) >> 27u);
    const auto rot = static_cast<std::uint32_t>(state_ >> 59u);
    return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
  }
  // In [low, high]; high >= low.
  int between(int low, int high) {
    return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1));
  }

 private:
  std::uint64_t state_;
};

// Digits as 3x5 cells, row by row, for the page number drawn without a font.
constexpr std::array<const char*, 10> kDigitCells = {
    "111101101101111", "010110010010111", "111001111100111", "111001111001111", "101101111001001",
    "111100111001111", "111100111101111", "111001001001001", "111101111101111", "111101111001111"};

void drawBlockNumber(QPainter& painter, int number, QRect box) {
  const QString digits = QString::number(number);
  const int cell =
      std::max(1, std::min(box.height() / 5, box.width() / std::max<int>(1, 4 * digits.size())));
  int x = box.right() - (4 * digits.size() - 1) * cell;
  for (QChar digit : digits) {
    const char* cells = kDigitCells[static_cast<std::size_t>(digit.digitValue())];
    for (int i = 0; i < 15; ++i) {
      if (cells[i] == '1') {
        painter.fillRect(x + (i % 3) * cell, box.top() + (i / 3) * cell, cell, cell,
                         QColor(150, 40, 40));
      }
    }
    x += 4 * cell;
  }
}

// A figure: a soft diagonal gradient with a few outlined ellipses, drawn
// pixel by pixel (see the note in drawPageImage).
void drawFigure(QImage& image, QRect box, Pcg& random) {
  const QColor from(200, 220, 240);
  const QColor to(240, 210, 190);
  const double span = static_cast<double>(box.width()) + box.height();
  for (int y = box.top(); y <= box.bottom(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = box.left(); x <= box.right(); ++x) {
      const double t = ((x - box.left()) + (y - box.top())) / span;
      line[x] = qRgb(static_cast<int>(from.red() + t * (to.red() - from.red())),
                     static_cast<int>(from.green() + t * (to.green() - from.green())),
                     static_cast<int>(from.blue() + t * (to.blue() - from.blue())));
    }
  }
  const QRgb pen = qRgb(80, 90, 160);
  const double halfPen = std::max(1, image.width() / 200) / 2.0 + 0.5;
  const int largest = std::max(2, image.width() / 8);
  for (int i = 0; i < 5; ++i) {
    const int cx = random.between(box.left(), box.right());
    const int cy = random.between(box.top(), box.bottom());
    const double rx = random.between(1, largest);
    const double ry = random.between(1, largest);
    const QRect bounds =
        QRect(static_cast<int>(cx - rx - halfPen), static_cast<int>(cy - ry - halfPen),
              static_cast<int>(2 * (rx + halfPen)) + 1, static_cast<int>(2 * (ry + halfPen)) + 1)
            .intersected(box);
    for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = bounds.left(); x <= bounds.right(); ++x) {
        // Distance from the outline to first order: |f| / |grad f| for
        // f = (x/rx)^2 + (y/ry)^2 - 1, compared squared.
        const double dx = x - cx;
        const double dy = y - cy;
        const double f = dx * dx / (rx * rx) + dy * dy / (ry * ry) - 1;
        const double gx = 2 * dx / (rx * rx);
        const double gy = 2 * dy / (ry * ry);
        if (f * f < halfPen * halfPen * (gx * gx + gy * gy)) line[x] = pen;
      }
    }
  }
}

bool fontsAvailable() {
  // Qt's font database belongs to the GUI application; without one, drawing
  // text warns and may crash.
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// Shrinks the font until the text fits the box, wrapped.
void drawFittedText(QPainter& painter, const QString& text, QRect box, int pixelSize) {
  QFont font(kFontFamily);
  for (; pixelSize > 6; pixelSize = pixelSize * 9 / 10) {
    font.setPixelSize(pixelSize);
    const QRect needed =
        QFontMetrics(font).boundingRect(box, Qt::TextWordWrap | Qt::AlignCenter, text);
    if (needed.height() <= box.height() && needed.width() <= box.width()) break;
  }
  font.setPixelSize(std::max(pixelSize, 6));
  painter.setFont(font);
  painter.drawText(box, Qt::TextWordWrap | Qt::AlignCenter, text);
}

}  // namespace

std::string drawPageImage(const PageImageRequest& request) {
  const int w = std::max(request.width, 8);
  const int h = std::max(request.height, 8);
  Pcg random(static_cast<std::uint64_t>(request.seed) * 100003u +
             static_cast<std::uint64_t>(request.page));
  QImage image(w, h, QImage::Format_RGB32);

  // Paper with a faint grain.
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x) {
      const int grain = static_cast<int>(random.next() % 3u);
      line[x] = qRgb(250 - grain, 247 - grain, 238 - grain);
    }
  }

  const int margin = w / 12;
  const int lineHeight = std::max(2, h / 22);
  const int bodyTop = h / 7;
  const int bodyBottom = h - h / 8;
  const int figureTop = h * 45 / 100;
  const int figureBottom = h * 68 / 100;
  drawFigure(image, QRect(margin, figureTop, w - 2 * margin, figureBottom - figureTop), random);

  // Only solid, axis-aligned rectangles and text from here: Qt fills gradients
  // and curves on a thread pool of its own, which the thread sanitizer cannot
  // follow, and the site is tested under it.
  QPainter painter(&image);
  // Lines of "words" above and below the figure.
  const int longestWord = std::max(2, w * 200 / 1240);
  for (int y = bodyTop; y + lineHeight < bodyBottom; y += lineHeight) {
    if (y + lineHeight > figureTop && y < figureBottom) continue;
    int x = margin;
    for (;;) {
      const int word = random.between(longestWord / 3, longestWord);
      if (x + word > w - margin) break;
      painter.fillRect(x, y, word, lineHeight * 2 / 5, QColor(110, 105, 100));
      x += word + lineHeight / 3;
    }
  }

  // The page number without a font, top right, so every page differs visibly.
  drawBlockNumber(painter, request.page, QRect(w - margin - w / 4, h / 50, w / 4, h / 20));

  painter.end();

  if (fontsAvailable()) {
    // One page's text at a time: fontconfig and HarfBuzz, below Qt's text
    // layout, share caches between threads that the thread sanitizer reports
    // as races. The text is a small part of a page's drawing.
    static std::mutex textMutex;
    std::lock_guard lock(textMutex);
    QPainter text(&image);
    text.setPen(Qt::black);
    drawFittedText(text,
                   QString::fromUtf8(request.title.data(), static_cast<int>(request.title.size())),
                   QRect(margin, h / 50 + h / 20, w - 2 * margin, h / 14), h / 25);
    drawFittedText(text, QStringLiteral("第 %1 页").arg(request.page),
                   QRect(margin, h - h / 10, w - 2 * margin, h / 20), h / 40);
    text.end();
  }

  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(kJpegQuality);  // baseline: neither progressive nor optimised
  if (!writer.write(image)) return {};
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace varnel::demo
