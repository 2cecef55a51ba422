// The streaming rectangle lattice against the literal walk, and the rules of the comparison.
#include <gtest/gtest.h>

#include <random>

#include "analysis/RectangleStatistics.h"
#include "core/Errors.h"
#include "toolkit/ReferenceAnalysis.h"

namespace swelox {
namespace {

using test::Grid;

std::string Describe(const NoiseFigures& f) {
  return std::to_string(f.meanDiff) + "/" + std::to_string(f.rms) + "/" + std::to_string(f.nDiffs);
}

// The figures the engine gives for a grid over a width x height picture, or "error: MESSAGE".
std::string Streamed(const Grid& grid, int32_t width, int32_t height, int32_t w, int32_t h,
                     Direction direction) {
  try {
    RectangleLattice lattice(width, height, RectangleSize::Checked(w, h), direction);
    std::vector<int32_t> totals(grid[0].size(), 0);
    for (int32_t r = 0; r <= lattice.LastRow(); ++r) {
      for (size_t c = 0; c < totals.size(); ++c) totals[c] += grid[r][c];
      lattice.AfterGridRow(r, totals.data());
    }
    return Describe(lattice.Finish());
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

std::string Reference(const Grid& grid, int32_t width, int32_t height, int32_t w, int32_t h,
                      Direction direction) {
  try {
    return Describe(test::ReferenceStatistics(grid, width, height, w, h, direction));
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

// A grid as a picture of width x height would give, with some black patches so that the
// "previous sum must be positive" rule is exercised.
Grid RandomGrid(int32_t width, int32_t height, std::mt19937& random) {
  Grid grid(height + 1, std::vector<int32_t>(width + 1, 0));
  const bool patches = random() % 2;
  for (int32_t r = 0; r + 1 < height; ++r) {
    for (int32_t c = 0; c + 1 < width; ++c) {
      const bool black = patches && ((r / 7 + c / 5) % 4 == 0);
      grid[r][c] = black ? 0 : static_cast<int32_t>(random() % 256);
    }
  }
  return grid;
}

TEST(RectangleLattice, MatchesTheLiteralWalkOnRandomGrids) {
  std::mt19937 random(20261208);
  int compared = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const auto width = int32_t(1 + random() % 70), height = int32_t(1 + random() % 70);
    const auto w = int32_t(1 + random() % 24), h = int32_t(1 + random() % 24);
    const Grid grid = RandomGrid(width, height, random);
    for (Direction d : {Direction::Below, Direction::Right}) {
      const std::string expected = Reference(grid, width, height, w, h, d);
      ASSERT_EQ(Streamed(grid, width, height, w, h, d), expected)
          << width << "x" << height << " W=" << w << " H=" << h
          << " right=" << (d == Direction::Right);
      compared += expected.rfind("0/0/0", 0) != 0;
    }
  }
  EXPECT_GT(compared, 3000);  // most cases compare something
}

TEST(RectangleLattice, UniformGreyGivesZeroNoiseWithEveryComparison) {
  // 100 x 100 at 15 x 12: 6 positions across, 8 down.
  Grid grid(101, std::vector<int32_t>(101, 0));
  for (int r = 0; r < 99; ++r)
    for (int c = 0; c < 99; ++c) grid[r][c] = 128;
  EXPECT_EQ(Streamed(grid, 100, 100, 15, 12, Direction::Below), "0/0/42");
  EXPECT_EQ(Streamed(grid, 100, 100, 15, 12, Direction::Right), "0/0/40");
}

TEST(RectangleLattice, NothingToCompare) {
  Grid black(101, std::vector<int32_t>(101, 0));
  EXPECT_EQ(Streamed(black, 100, 100, 15, 12, Direction::Below), "0/0/0");
  Grid small(11, std::vector<int32_t>(11, 50));
  EXPECT_EQ(Streamed(small, 10, 10, 15, 12, Direction::Below), "0/0/0");
  EXPECT_EQ(Streamed(small, 10, 10, 15, 12, Direction::Right), "0/0/0");
  Grid line(2, std::vector<int32_t>(101, 0));
  EXPECT_EQ(Streamed(line, 100, 1, 15, 12, Direction::Below), "0/0/0");
}

TEST(RectangleLattice, SizeErrorsComeInOrder) {
  Grid grid(101, std::vector<int32_t>(101, 9));
  EXPECT_EQ(Streamed(grid, 100, 100, 0, 12, Direction::Below), "error: Division by zero");
  EXPECT_EQ(Streamed(grid, 100, 100, 15, 0, Direction::Right), "error: Division by zero");
  EXPECT_EQ(Streamed(grid, 100, 100, 65536, 32768, Direction::Below), "error: Integer overflow");
  EXPECT_EQ(Streamed(grid, 100, 100, -1, 5, Direction::Below),
            "error: The rectangle width must be positive, not -1");
  EXPECT_EQ(Streamed(grid, 100, 100, 5, -7, Direction::Below),
            "error: The rectangle height must be positive, not -7");
  // A picture one pixel high with H = 1 makes the slot count negative.
  Grid line(2, std::vector<int32_t>(101, 9));
  EXPECT_EQ(Streamed(line, 100, 1, 15, 1, Direction::Below), "error: Range check error");
  EXPECT_EQ(Reference(line, 100, 1, 15, 1, Direction::Below), "error: Range check error");
}

TEST(RectangleLattice, BlocksBeyond32BitsOverflow) {
  // A white 2904 x 5806 picture at 2902 x 2902: each block of 2903 x 2903 cells sums past 2^31.
  const int32_t width = 2904, height = 5806;
  Grid grid(height + 1, std::vector<int32_t>(width + 1, 0));
  for (int32_t r = 0; r + 1 < height; ++r)
    for (int32_t c = 0; c + 1 < width; ++c) grid[r][c] = 255;
  EXPECT_EQ(Reference(grid, width, height, 2902, 2902, Direction::Below),
            "error: Integer overflow");
  EXPECT_EQ(Streamed(grid, width, height, 2902, 2902, Direction::Below), "error: Integer overflow");
  // One size smaller the blocks still fit.
  EXPECT_EQ(Streamed(grid, width, height, 2900, 2900, Direction::Below),
            Reference(grid, width, height, 2900, 2900, Direction::Below));
}

TEST(RectangleLattice, LargeBlocksWrapTheTimesSixteen) {
  // Blocks of 751 x 751 cells: sixteen times their difference wraps on 32 bits.
  const int32_t width = 1600, height = 1600;
  Grid grid(height + 1, std::vector<int32_t>(width + 1, 0));
  for (int32_t r = 0; r + 1 < height; ++r)
    for (int32_t c = 0; c + 1 < width; ++c) grid[r][c] = r < 751 ? 2 : 255;
  for (Direction d : {Direction::Below, Direction::Right}) {
    const std::string expected = Reference(grid, width, height, 750, 750, d);
    EXPECT_EQ(Streamed(grid, width, height, 750, 750, d), expected);
  }
  EXPECT_EQ(ScaledDifference(300000000, 100000000, 562500),
            static_cast<int32_t>(std::nearbyint(
                static_cast<long double>(static_cast<int32_t>(200000000u * 16u)) / 562500.0L)));
}

TEST(ScaledDifference, RoundsHalvesToEven) {
  EXPECT_EQ(ScaledDifference(101, 100, 32), 0);    // 16 / 32 = 0.5
  EXPECT_EQ(ScaledDifference(103, 100, 32), 2);    // 48 / 32 = 1.5
  EXPECT_EQ(ScaledDifference(99, 100, 32), 0);     // -0.5
  EXPECT_EQ(ScaledDifference(97, 100, 32), -2);    // -1.5
  EXPECT_EQ(ScaledDifference(1001, 1000, 16), 1);  // one step in one pixel, 4 x 4
}

TEST(DifferenceSummary, ReducesLikeAStoredList) {
  DifferenceSummary s;
  s.Add(3);
  s.Add(-4);
  // sumAbs 7 over 2 truncates to 3; mean -1/2 truncates to 0; squares 9 + 16 over 2.
  const NoiseFigures f = s.Finish();
  EXPECT_EQ(f.meanDiff, 3);
  EXPECT_EQ(f.rms, 4);  // sqrt(12.5) = 3.54
  EXPECT_EQ(f.nDiffs, 2);
  EXPECT_EQ(DifferenceSummary().Finish(), NoiseFigures{});
}

TEST(DifferenceSummary, OverflowingSumsRaise) {
  DifferenceSummary big;
  big.Add(INT32_MAX);
  big.Add(1);
  EXPECT_THROW(big.Finish(), Error);
  DifferenceSummary wide;  // deviations beyond 46340 overflow their square
  wide.Add(50000);
  wide.Add(-50000);
  try {
    wide.Finish();
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Integer overflow");
  }
}

}  // namespace
}  // namespace swelox
