// The map's colour scale: viridis, perceptually uniform and readable with every common colour
// vision deficiency, dark for no difference and light yellow for the largest.
#pragma once

#include <QColor>
#include <QRgb>
#include <array>

namespace swelox::ui {

// 256 opaque steps from the smallest to the largest value.
const std::array<QRgb, 256>& ViridisScale();

// The step for `value` on a scale from 0 to `top` (step 0 when top is 0).
inline int ScaleStep(long long value, long long top) {
  if (top <= 0 || value <= 0) return 0;
  if (value >= top) return 255;
  return static_cast<int>(value * 255 / top);
}

// CIE L* (0 black .. 100 white) of an sRGB colour, to judge the scale's lightness.
double Lightness(QRgb colour);

}  // namespace swelox::ui
