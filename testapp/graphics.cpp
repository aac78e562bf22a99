#include "testapp/graphics.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <algorithm>
#include <vector>

namespace varn::testapp {
namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;

bool IsBlack(QRgb c) {
  return (c & 0x00FFFFFF) == 0;
}

void Tell(const Progress& progress, int position, int maximum) {
  if (progress) progress(position, maximum);
}

// Every dot is black or white by now: a plain threshold keeps them so (the
// default would dither), and leaves the untouched border to the nearest.
QImage ToMono(const QImage& picture) {
  return picture.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::AvoidDither);
}

}  // namespace

std::function<QString(QWidget*)> PictureChooser;

std::string LineData(const QImage& picture, int y) {
  std::string bytes(kLineBytes, '\0');
  if (y < 0 || y >= picture.height()) return bytes;
  const int width = std::min(picture.width(), kLineDots);
  for (int x = 0; x < width; ++x)
    if (IsBlack(picture.pixel(x, y))) protocol::SetDot(bytes, x);
  return bytes;
}

QImage Monochrome1(const QImage& picture, const Progress& progress) {
  QImage image = picture.convertToFormat(QImage::Format_RGB32);
  const int w = image.width(), h = image.height();
  const auto brightness = [&](int x, int y) {
    const double r = qRed(image.pixel(x, y));
    return 3 * r * r;
  };
  double sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) sum += brightness(x, y);
  const double threshold = w > 0 && h > 0 ? sum / (static_cast<double>(w) * h) : 0;
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y)
      image.setPixel(x, y, threshold > brightness(x, y) ? kBlack : kWhite);
    Tell(progress, x + 1, h);
  }
  return ToMono(image);
}

QImage Monochrome2(const QImage& picture, const Progress& progress) {
  const QImage source = picture.convertToFormat(QImage::Format_RGB32);
  QImage image = source;
  const int w = std::min(source.width(), kLineDots), h = source.height();
  const auto value = [&](int x, int y) {
    const QRgb c = source.pixel(x, y);
    return qRed(c) + qGreen(c) + qBlue(c);
  };
  // Decisions first, all on the unchanged picture; column 0 and row 0 stay.
  std::vector<char> black(static_cast<size_t>(std::max(w, 0)) * static_cast<size_t>(h), 0);
  const auto at = [&](int x, int y) {
    return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
  };
  for (int x = 1; x < w; ++x) {
    for (int y = 1; y < h; ++y) {
      if (x < w - 1 && y < h - 1) {
        const int around = value(x - 1, y - 1) + value(x, y - 1) + value(x + 1, y - 1) +
                           value(x - 1, y) + value(x + 1, y) + value(x - 1, y + 1) +
                           value(x, y + 1) + value(x + 1, y + 1);
        black[at(x, y)] = 8 * value(x, y) < around;
      }
    }
    Tell(progress, x, 2 * w);
  }
  for (int x = 1; x < w; ++x) {
    for (int y = 1; y < h; ++y) image.setPixel(x, y, black[at(x, y)] ? kBlack : kWhite);
    Tell(progress, w + x, 2 * w);
  }
  Tell(progress, 2 * w, 2 * w);
  return ToMono(image);
}

QString ChoosePicture(QWidget* parent) {
  if (PictureChooser) return PictureChooser(parent);
  return QFileDialog::getOpenFileName(parent, "Открыть", QCoreApplication::applicationDirPath(),
                                      "Bitmaps (*.bmp)");
}

}  // namespace varn::testapp
