// Viridis from its nine-step table, interpolated in CIELAB so that lightness rises evenly.
#include "app/ColourScale.h"

#include <algorithm>
#include <cmath>

namespace swelox::ui {
namespace {

// viridis(9): the published anchors of the scale.
constexpr QRgb kAnchors[] = {0x440154, 0x472D7B, 0x3B528B, 0x2C728E, 0x21908C,
                             0x27AD81, 0x5DC863, 0xAADC32, 0xFDE725};
constexpr double kWhite[3] = {0.95047, 1.0, 1.08883};  // D65

struct Lab {
  double l, a, b;
};

double Linear(int channel) {
  const double c = channel / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

int Encoded(double linear) {
  const double v = std::clamp(linear, 0.0, 1.0);
  const double c = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
  return int(std::lround(c * 255));
}

double F(double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; }
double InverseF(double t) {
  return t * t * t > 216.0 / 24389 ? t * t * t : (116 * t - 16) / (24389.0 / 27);
}

Lab ToLab(QRgb colour) {
  const double r = Linear(qRed(colour)), g = Linear(qGreen(colour)), b = Linear(qBlue(colour));
  const double x = 0.4124 * r + 0.3576 * g + 0.1805 * b;
  const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
  const double z = 0.0193 * r + 0.1192 * g + 0.9505 * b;
  const double fx = F(x / kWhite[0]), fy = F(y / kWhite[1]), fz = F(z / kWhite[2]);
  return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

QRgb FromLab(const Lab& lab) {
  const double fy = (lab.l + 16) / 116, fx = fy + lab.a / 500, fz = fy - lab.b / 200;
  const double x = InverseF(fx) * kWhite[0], y = InverseF(fy) * kWhite[1],
               z = InverseF(fz) * kWhite[2];
  return qRgb(Encoded(3.2406 * x - 1.5372 * y - 0.4986 * z),
              Encoded(-0.9689 * x + 1.8758 * y + 0.0415 * z),
              Encoded(0.0557 * x - 0.2040 * y + 1.0570 * z));
}

std::array<QRgb, 256> MakeScale() {
  std::array<QRgb, 256> scale{};
  constexpr int kSegments = int(std::size(kAnchors)) - 1;
  double previous = -1;
  for (int k = 0; k < 256; ++k) {
    const double at = k / 255.0 * kSegments;
    const int i = std::min(int(at), kSegments - 1);
    const double t = at - i;
    const Lab a = ToLab(kAnchors[i]), b = ToLab(kAnchors[i + 1]);
    QRgb colour = FromLab({a.l + (b.l - a.l) * t, a.a + (b.a - a.a) * t, a.b + (b.b - a.b) * t});
    // Rounding to 8 bits can cost a step its rise in lightness; a touch more green restores it.
    while (Lightness(colour) <= previous && qGreen(colour) < 255) {
      colour = qRgb(qRed(colour), qGreen(colour) + 1, qBlue(colour));
    }
    previous = Lightness(colour);
    scale[size_t(k)] = colour;
  }
  return scale;
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
