// Viridis from its nine-step table, interpolated in sRGB.
#include "app/ColourScale.h"

#include <cmath>

namespace swelox::ui {
namespace {

// viridis(9): the published anchors of the scale.
constexpr QRgb kAnchors[] = {0x440154, 0x472D7B, 0x3B528B, 0x2C728E, 0x21908C,
                             0x27AD81, 0x5DC863, 0xAADC32, 0xFDE725};

std::array<QRgb, 256> MakeScale() {
  std::array<QRgb, 256> scale{};
  constexpr int kSegments = int(std::size(kAnchors)) - 1;
  for (int k = 0; k < 256; ++k) {
    const double at = k / 255.0 * kSegments;
    const int i = std::min(int(at), kSegments - 1);
    const double t = at - i;
    auto mix = [&](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    const QRgb a = kAnchors[i], b = kAnchors[i + 1];
    scale[size_t(k)] =
        qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
  }
  return scale;
}

double Linear(int channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

const std::array<QRgb, 256>& ViridisScale() {
  static const std::array<QRgb, 256> scale = MakeScale();
  return scale;
}

double Lightness(QRgb colour) {
  const double y = 0.2126 * Linear(qRed(colour)) + 0.7152 * Linear(qGreen(colour)) +
                   0.0722 * Linear(qBlue(colour));
  return y > 216.0 / 24389 ? 116 * std::cbrt(y) - 16 : y * 24389.0 / 27;
}

}  // namespace swelox::ui
