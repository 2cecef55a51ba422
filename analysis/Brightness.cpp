// Brightness of RGB pixels, exactly as the extended-precision weighted sum rounds.
#include "analysis/Brightness.h"

#include <array>

#include "analysis/Extended.h"

namespace swelox {
namespace {

constexpr Extended kRedWeight = 0.299L;
constexpr Extended kGreenWeight = 0.587L;
constexpr Extended kBlueWeight = 0.114L;

// For red and green, at most one blue gives a tie (114 B = t mod 1000 has one solution below
// 500); one bit per (red, green) says whether that tie rounds up.
class TieTable {
 public:
  TieTable() {
    UseExtendedPrecision();
    for (int r = 0; r < 256; ++r) {
      for (int g = 0; g < 256; ++g) {
        const int t = ((500 - 299 * r - 587 * g) % 1000 + 1000) % 1000;
        if (t % 2 != 0) continue;
        const int b = (t / 2) * 193 % 500;  // 193 is the inverse of 57 modulo 500
        if (b > 255) continue;
        const int exactUp = (299 * r + 587 * g + 114 * b + 500) / 1000;
        if (ExtendedBrightness(r, g, b) == exactUp) up_[r * 256 + g] = 1;
      }
    }
  }
  bool RoundsUp(int r, int g) const { return up_[r * 256 + g] != 0; }

 private:
  std::array<uint8_t, 65536> up_{};
};

const TieTable& Ties() {
  static const TieTable table;
  return table;
}

}  // namespace

int32_t ExtendedBrightness(int red, int green, int blue) {
  const Extended p = static_cast<Extended>(red) * kRedWeight;
  const Extended q = p + static_cast<Extended>(green) * kGreenWeight;
  const Extended s = q + static_cast<Extended>(blue) * kBlueWeight;
  return RoundToInt32(s);
}

int32_t Brightness(uint8_t red, uint8_t green, uint8_t blue) {
  const uint32_t n = 299u * red + 587u * green + 114u * blue + 500u;
  const uint32_t q = n / 1000u;
  if (q * 1000u != n) return static_cast<int32_t>(q);
  return static_cast<int32_t>(q) - (Ties().RoundsUp(red, green) ? 0 : 1);
}

// Vectorised: every pixel is rounded as if no tie existed, and the rare ties found on the way are
// settled afterwards.
__attribute__((target_clones("avx2", "default"))) static bool RoundedSums(
    const uint8_t* __restrict rgb, int32_t count, int32_t* __restrict brightness) {
  unsigned ties = 0;
  for (int32_t k = 0; k < count; ++k) {
    const uint32_t n = 299u * rgb[3 * k] + 587u * rgb[3 * k + 1] + 114u * rgb[3 * k + 2] + 500u;
    const uint32_t q = n / 1000u;
    brightness[k] = static_cast<int32_t>(q);
    ties |= q * 1000u == n;
  }
  return ties != 0;
}

void BrightnessRow(const uint8_t* rgb, int32_t count, int32_t* brightness) {
  if (!RoundedSums(rgb, count, brightness)) return;
  const TieTable& ties = Ties();
  for (int32_t k = 0; k < count; ++k) {
    const uint8_t* p = rgb + 3 * k;
    const uint32_t n = 299u * p[0] + 587u * p[1] + 114u * p[2];
    if (n % 1000u == 500u && !ties.RoundsUp(p[0], p[1])) --brightness[k];
  }
}

}  // namespace swelox
