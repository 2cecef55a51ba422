// Brightness: every colour against the extended-precision computation, and its known values.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "analysis/Brightness.h"

namespace swelox {
namespace {

TEST(Brightness, WeightsAreTheNearestExtendedValues) {
  // Exponent and significand of the extended weights: any other constant shifts some ties.
  struct Weight {
    long double value;
    uint16_t exponent;
    uint64_t significand;
  };
  const Weight weights[] = {{0.299L, 0x3FFD, 0x9916872B020C49BAull},
                            {0.587L, 0x3FFE, 0x9645A1CAC083126Full},
                            {0.114L, 0x3FFB, 0xE978D4FDF3B645A2ull}};
  for (const Weight& w : weights) {
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &w.value, 10);
    uint64_t significand;
    uint16_t exponent;
    std::memcpy(&significand, bytes, 8);
    std::memcpy(&exponent, bytes + 8, 2);
    EXPECT_EQ(significand, w.significand);
    EXPECT_EQ(exponent, w.exponent);
  }
}

TEST(Brightness, KnownColours) {
  struct Case {
    uint8_t r, g, b;
    int expected;
  };
  const Case cases[] = {{0, 0, 250, 28},  {0, 36, 12, 23}, {255, 255, 255, 255}, {10, 0, 0, 3},
                        {0, 62, 229, 63}, {0, 84, 28, 53}, {0, 0, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(ExtendedBrightness(c.r, c.g, c.b), c.expected) << +c.r << "," << +c.g << "," << +c.b;
    EXPECT_EQ(Brightness(c.r, c.g, c.b), c.expected) << +c.r << "," << +c.g << "," << +c.b;
  }
}

TEST(Brightness, EveryColourMatchesTheExtendedComputation) {
  int ties = 0;
  int64_t mismatches = 0;
  std::vector<uint8_t> row(256 * 3), padded(256 * 4, 0xAA);
  std::vector<int32_t> row_brightness(256);
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        row[b * 3] = uint8_t(r);
        row[b * 3 + 1] = uint8_t(g);
        row[b * 3 + 2] = uint8_t(b);
        std::copy(&row[b * 3], &row[b * 3 + 3], &padded[b * 4]);
        if ((299 * r + 587 * g + 114 * b) % 1000 == 500) ++ties;
      }
      std::fill(row_brightness.begin(), row_brightness.end(), 0);
      AddBrightness(row.data(), 3, 256, row_brightness.data());
      // Adding to totals already there, four bytes a pixel.
      std::vector<int32_t> padded_totals(256, 1000);
      AddBrightness(padded.data(), 4, 256, padded_totals.data());
      for (int b = 0; b < 256; ++b) {
        const int32_t expected = ExtendedBrightness(r, g, b);
        mismatches += Brightness(uint8_t(r), uint8_t(g), uint8_t(b)) != expected;
        mismatches += row_brightness[b] != expected;
        mismatches += padded_totals[b] != 1000 + expected;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(ties, 16782);
}

TEST(Brightness, GreyIsItself) {
  for (int v = 0; v < 256; ++v) EXPECT_EQ(Brightness(uint8_t(v), uint8_t(v), uint8_t(v)), v);
}

}  // namespace
}  // namespace swelox
