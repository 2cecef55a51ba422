// Brightness of RGB pixels, exactly as the extended-precision weighted sum rounds.
#include "analysis/Brightness.h"

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "core/Extended.h"

namespace swelox {
namespace {

constexpr Extended kRedWeight = 0.299L;
constexpr Extended kGreenWeight = 0.587L;
constexpr Extended kBlueWeight = 0.114L;

// The weighted sum as the x87 unit forms it: each product and each sum rounded to 64 bits of
// significand. The compiler folds it in the same format, so a table made from it at compile time
// holds the run-time results.
constexpr Extended WeightedSum(int red, int green, int blue) {
  const Extended p = static_cast<Extended>(red) * kRedWeight;
  const Extended q = p + static_cast<Extended>(green) * kGreenWeight;
  return q + static_cast<Extended>(blue) * kBlueWeight;
}

// For red and green, at most one blue gives a tie (114 B = t mod 1000 has one solution below
// 500); one bit per (red, green) says whether that tie rounds up. Made by the compiler: at run
// time the thousands of extended sums cost more than a region's whole brightness pass.
class TieTable {
 public:
  consteval TieTable() {
    for (int r = 0; r < 256; ++r) {
      for (int g = 0; g < 256; ++g) {
        const int t = ((500 - 299 * r - 587 * g) % 1000 + 1000) % 1000;
        if (t % 2 != 0) continue;
        const int b = (t / 2) * 193 % 500;  // 193 is the inverse of 57 modulo 500
        if (b > 255) continue;
        const int exactUp = (299 * r + 587 * g + 114 * b + 500) / 1000;
        // Round to nearest, ties to even, between exactUp - 1 and exactUp.
        const Extended s = WeightedSum(r, g, b);
        const Extended half = static_cast<Extended>(exactUp) - 0.5L;
        if (s > half || (s == half && exactUp % 2 == 0)) {
          const int index = r * 256 + g;
          up_[index / 64] |= uint64_t{1} << (index % 64);
        }
      }
    }
  }
  bool RoundsUp(int r, int g) const {
    const int index = r * 256 + g;
    return (up_[index / 64] >> (index % 64) & 1) != 0;
  }

 private:
  std::array<uint64_t, 65536 / 64> up_{};
};

constexpr TieTable kTies;

}  // namespace

int32_t ExtendedBrightness(int red, int green, int blue) {
  return RoundToInt32(WeightedSum(red, green, blue));
}

int32_t Brightness(uint8_t red, uint8_t green, uint8_t blue) {
  const uint32_t n = 299u * red + 587u * green + 114u * blue + 500u;
  const uint32_t q = n / 1000u;
  if (q * 1000u != n) return static_cast<int32_t>(q);
  return static_cast<int32_t>(q) - (kTies.RoundsUp(red, green) ? 0 : 1);
}

namespace {

// Subtracts the rounding up that a tie pixel was given when it should round down.
inline int32_t TieCorrection(const uint8_t* p) {
  const uint32_t n = 299u * p[0] + 587u * p[1] + 114u * p[2];
  return n % 1000u == 500u && !kTies.RoundsUp(p[0], p[1]) ? 1 : 0;
}

// Every pixel is rounded up from the half as if no tie existed; the rare ties are settled after.
template <int kStride>
void AddRowPortable(const uint8_t* __restrict pixels, int32_t count, int32_t* __restrict totals) {
  unsigned ties = 0;
  for (int32_t k = 0; k < count; ++k) {
    const uint8_t* p = pixels + kStride * k;
    const uint32_t n = 299u * p[0] + 587u * p[1] + 114u * p[2] + 500u;
    const uint32_t q = n / 1000u;
    totals[k] += static_cast<int32_t>(q);
    ties |= q * 1000u == n;
  }
  if (ties == 0) return;
  for (int32_t k = 0; k < count; ++k) totals[k] -= TieCorrection(pixels + kStride * k);
}

// Eight padded pixels at a time. The weighted sum n + 500 (below 2^18) is exact in single
// precision, and (n + 500) x 0.001 + 0.0005 stays within 5e-5 of its true value, so truncation
// gives the rounded-up quotient exactly; ties are the lanes where 1000 q equals n + 500.
__attribute__((target("avx2"))) void AddRgbxRowAvx2(const uint8_t* pixels, int32_t count,
                                                    int32_t* totals) {
  const __m256i lowBytes = _mm256_set1_epi32(0x00FF00FF);
  const __m256i redBlueWeights = _mm256_set1_epi32((114 << 16) | 299);
  const __m256i greenWeight = _mm256_set1_epi32(587);
  const __m256i half = _mm256_set1_epi32(500);
  const __m256i thousand = _mm256_set1_epi32(1000);
  const __m256 thousandth = _mm256_set1_ps(0.001f);
  const __m256 margin = _mm256_set1_ps(0.0005f);
  int32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + 4 * k));
    const __m256i redBlue = _mm256_and_si256(px, lowBytes);
    const __m256i greenPad = _mm256_and_si256(_mm256_srli_epi32(px, 8), lowBytes);
    const __m256i n = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(redBlue, redBlueWeights),
                                                        _mm256_madd_epi16(greenPad, greenWeight)),
                                       half);
    const __m256i q = _mm256_cvttps_epi32(
        _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(n), thousandth), margin));
    __m256i* out = reinterpret_cast<__m256i*>(totals + k);
    _mm256_storeu_si256(out, _mm256_add_epi32(_mm256_loadu_si256(out), q));
    const int ties = _mm256_movemask_ps(
        _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_mullo_epi32(q, thousand), n)));
    if (ties != 0) {
      for (int lane = 0; lane < 8; ++lane) {
        if (ties & (1 << lane)) totals[k + lane] -= TieCorrection(pixels + 4 * (k + lane));
      }
    }
  }
  AddRowPortable<4>(pixels + 4 * k, count - k, totals + k);
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");

}  // namespace

void AddBrightness(const uint8_t* pixels, int bytesPerPixel, int32_t count, int32_t* totals) {
  if (bytesPerPixel == 4) {
    if (kHaveAvx2) return AddRgbxRowAvx2(pixels, count, totals);
    return AddRowPortable<4>(pixels, count, totals);
  }
  AddRowPortable<3>(pixels, count, totals);
}

}  // namespace swelox
