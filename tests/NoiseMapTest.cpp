// The noise map: its comparisons are those behind the row's figures, each at its place with the
// difference that the literal computation gives there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stop_token>

#include "analysis/ImageAnalysis.h"
#include "analysis/NoiseMap.h"
#include "toolkit/ReferenceAnalysis.h"
#include "toolkit/TestImages.h"

namespace swelox {
namespace {

using test::Raster;
using test::TempDir;

// The sum of the rectangle with its corner at pixel (x, y) of the region, border row and column
// included, from the literal grid of the whole picture.
int64_t BlockSum(const test::Grid& grid, const PixelRegion& r, int32_t x, int32_t y, int32_t w,
                 int32_t h) {
  int64_t sum = 0;
  for (int32_t yy = r.y + y; yy <= r.y + y + h; ++yy) {
    for (int32_t xx = r.x + x; xx <= r.x + x + w; ++xx) sum += grid[yy - 1][xx - 1];
  }
  return sum;
}

TEST(NoiseMap, AgreesWithTheRowAndTheLiteralComputation) {
  const TempDir dir;
  struct Picture {
    const char* name;
    const char* options;
    bool grey;
  };
  for (const Picture& p :
       {Picture{"colour.jpg", "-sample 2x2", false}, Picture{"grey.jpg", "", true}}) {
    const std::string path = test::EncodeWithCjpeg(
        dir, p.name, test::RandomRaster(150, 110, 17, true), p.options, p.grey);
    const test::Grid grid =
        test::ReferenceGrid(test::DecodeWithDjpeg(path, p.grey ? "-colors 236" : ""));
    const BrightnessPicture picture = DecodeBrightness(path);
    ASSERT_EQ(picture.width, 150);

    for (const std::optional<PixelRegion>& region :
         {std::optional<PixelRegion>(), std::optional<PixelRegion>(PixelRegion{13, 7, 101, 88})}) {
      const PixelRegion r = region.value_or(PixelRegion{0, 0, 150, 110});
      for (const auto& [w, h] : {std::pair{15, 12}, std::pair{4, 9}, std::pair{1, 1}}) {
        for (Direction d : {Direction::Below, Direction::Right}) {
          const NoiseMap map = MapNoise(picture, region, RectangleSize::Checked(w, h), d);
          const std::string context = std::string(p.name) + " " + r.Text() + " " +
                                      std::to_string(w) + "x" + std::to_string(h);
          EXPECT_EQ(FormatRow(map.width, map.height, w, h, map.figures, p.name),
                    AnalyseFileRow(path, {std::to_string(w), std::to_string(h)}, d, region))
              << context;

          ASSERT_EQ(map.cells.pool, 1) << context;
          ASSERT_EQ(map.cells.values.size(), size_t(map.columns) * size_t(map.rows)) << context;
          int64_t compared = 0, sumAbs = 0;
          int32_t largest = 0;
          for (int32_t row = 0; row < map.rows; ++row) {
            for (int32_t column = 0; column < map.columns; ++column) {
              // The first row (below) or column (to the right) has nothing before it.
              const bool first = d == Direction::Below ? row == 0 : column == 0;
              const std::optional<int32_t> difference = map.DifferenceAt(column, row);
              ASSERT_EQ(difference.has_value(), !first) << context << " " << column << "," << row;
              if (first) continue;
              const int32_t x = 1 + column * w, y = 1 + row * h;
              const int64_t previous = d == Direction::Below ? BlockSum(grid, r, x, y - h, w, h)
                                                             : BlockSum(grid, r, x - w, y, w, h);
              ASSERT_EQ(*difference, ScaledDifference(int32_t(BlockSum(grid, r, x, y, w, h)),
                                                      int32_t(previous), w * h))
                  << context << " at " << x << "," << y;
              ++compared;
              sumAbs += std::llabs(*difference);
              largest = std::max(largest, std::abs(*difference));
            }
          }
          ASSERT_EQ(compared, map.figures.nDiffs) << context;
          ASSERT_GT(compared, 0);
          EXPECT_EQ(largest, map.largest) << context;
          EXPECT_EQ(sumAbs / compared, map.figures.meanDiff) << context;
        }
      }
    }
  }
}

BrightnessPicture Ripples(int32_t width, int32_t height) {
  BrightnessPicture picture{width, height, std::vector<uint8_t>(size_t(width) * size_t(height))};
  for (size_t k = 0; k < picture.values.size(); ++k) {
    picture.values[k] = uint8_t((k * 7 + k / size_t(width) * 13 + k % 97 * k % 31) % 251);
  }
  return picture;
}

TEST(NoiseMap, PoolIsTheSmallestThatKeepsTheLimit) {
  struct Case {
    int32_t columns, rows;
    uint64_t limit;
    int32_t pool;
  };
  for (const Case& c :
       {Case{298, 198, 298 * 198, 1}, Case{298, 198, 298 * 198 - 1, 2}, Case{298, 198, 149 * 99, 2},
        Case{298, 198, 149 * 99 - 1, 3}, Case{3998, 2998, 1920 * 1080, 3}, Case{1, 60000, 100, 600},
        Case{5, 5, 1, 5}, Case{5, 5, 0, 5}, Case{0, 9, 1, 1}}) {
    EXPECT_EQ(PoolFor(c.columns, c.rows, c.limit), c.pool)
        << c.columns << " x " << c.rows << " within " << c.limit;
  }
}

// Over its limit the map pools positions, each value the difference of the largest magnitude
// among those it stands for; the figures are those of every position all the same.
TEST(NoiseMap, PoolsDownToItsLimitKeepingTheLargestDifferences) {
  const BrightnessPicture picture = Ripples(300, 200);
  for (Direction d : {Direction::Below, Direction::Right}) {
    const NoiseMap whole = MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), d);
    ASSERT_EQ(whole.columns, 298);
    ASSERT_EQ(whole.rows, 198);
    for (const uint64_t limit : {uint64_t{5000}, uint64_t{1000}, uint64_t{7}}) {
      const NoiseMap pooled =
          MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), d, {}, limit);
      ASSERT_LE(pooled.cells.values.size(), limit);
      ASSERT_GT(pooled.cells.pool, 1);
      EXPECT_EQ(pooled.figures, whole.figures);
      EXPECT_EQ(pooled.largest, whole.largest);
      EXPECT_FALSE(pooled.DifferenceAt(5, 5).has_value());  // not kept one by one
      const int32_t pool = pooled.cells.pool;
      for (int32_t row = 0; row < pooled.cells.rows; ++row) {
        for (int32_t column = 0; column < pooled.cells.columns; ++column) {
          std::optional<int32_t> strongest;
          for (int32_t y = row * pool; y < std::min(whole.rows, (row + 1) * pool); ++y) {
            for (int32_t x = column * pool; x < std::min(whole.columns, (column + 1) * pool); ++x) {
              const std::optional<int32_t> v = whole.DifferenceAt(x, y);
              if (v && (!strongest || std::abs(*v) > std::abs(*strongest))) strongest = v;
            }
          }
          ASSERT_EQ(pooled.cells.At(column * pool, row * pool), strongest)
              << limit << ": value " << column << "," << row;
          ASSERT_EQ(pooled.cells.At(std::min(whole.columns - 1, column * pool + pool - 1),
                                    std::min(whole.rows - 1, row * pool + pool - 1)),
                    strongest);
        }
      }
    }
  }
}

// Any window of the lattice, laid on its own, gives the whole map's differences there: at its
// edges, at the lattice's, clipped where it reaches past them, and pooled when asked.
TEST(NoiseMap, AWindowLaidAloneAgreesWithTheWholeMap) {
  const BrightnessPicture picture = Ripples(233, 171);
  for (const std::optional<PixelRegion>& region :
       {std::optional<PixelRegion>(), std::optional<PixelRegion>(PixelRegion{17, 9, 190, 150})}) {
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{7, 5}, std::pair{3, 11}}) {
      for (Direction d : {Direction::Below, Direction::Right}) {
        const RectangleSize size = RectangleSize::Checked(w, h);
        const NoiseMap whole = MapNoise(picture, region, size, d);
        ASSERT_GT(whole.columns, 2);
        for (const LatticeWindow& window :
             {LatticeWindow{0, 0, whole.columns, whole.rows}, LatticeWindow{1, 1, 1, 1},
              LatticeWindow{0, 2, 3, 2}, LatticeWindow{2, 0, 2, 3},
              LatticeWindow{whole.columns - 2, whole.rows - 2, 9, 9}, LatticeWindow{-4, -4, 6, 7},
              LatticeWindow{whole.columns, 0, 3, 3}}) {
          const std::string context =
              std::to_string(w) + "x" + std::to_string(h) +
              (d == Direction::Below ? " below" : " right") + (region ? " region" : "") +
              " window at " + std::to_string(window.column) + "," + std::to_string(window.row);
          const std::optional<MapCells> cells =
              MapWindow(picture, region, size, d, window, 1u << 20);
          ASSERT_TRUE(cells.has_value());
          ASSERT_EQ(cells->pool, 1);
          int32_t seen = 0;
          for (int32_t row = -1; row <= whole.rows; ++row) {
            for (int32_t column = -1; column <= whole.columns; ++column) {
              const bool inside =
                  column >= std::max(window.column, 0) && row >= std::max(window.row, 0) &&
                  column < window.column + window.columns && row < window.row + window.rows &&
                  column < whole.columns && row < whole.rows && column >= 0 && row >= 0;
              ASSERT_EQ(cells->Covers(column, row), inside)
                  << context << " " << column << "," << row;
              if (!inside) continue;
              ASSERT_EQ(cells->At(column, row), whole.DifferenceAt(column, row))
                  << context << " at " << column << "," << row;
              ++seen;
            }
          }
          EXPECT_EQ(size_t(seen), size_t(cells->window.columns) * size_t(cells->window.rows));
        }
        // Pooled: as the whole map pooled alike.
        const std::optional<MapCells> pooled =
            MapWindow(picture, region, size, d, {0, 0, whole.columns, whole.rows}, 40);
        const NoiseMap wholePooled = MapNoise(picture, region, size, d, {}, 40);
        ASSERT_TRUE(pooled.has_value());
        EXPECT_EQ(pooled->pool, wholePooled.cells.pool);
        EXPECT_EQ(pooled->values, wholePooled.cells.values);
      }
    }
  }
}

// The same map laid by bands of rectangle rows on several threads, or as the rows arrive in
// uneven chunks, is the one-thread map: figures, largest difference and every value, pooled or
// not, over odd sizes and regions and with more threads than rows of pooled values.
TEST(NoiseMap, SplitOrFollowingTheRowsItIsTheOneThreadMap) {
  struct Case {
    int32_t width, height;
    std::optional<PixelRegion> region;
    int32_t w, h;
    uint64_t limit;
  };
  const Case cases[] = {
      {301, 203, std::nullopt, 1, 1, UINT64_MAX},
      {301, 203, std::nullopt, 1, 1, 997},
      {257, 131, PixelRegion{11, 7, 233, 117}, 3, 5, UINT64_MAX},
      {257, 131, PixelRegion{11, 7, 233, 117}, 3, 5, 50},
      {97, 400, std::nullopt, 15, 12, UINT64_MAX},
      {40, 29, std::nullopt, 7, 9, UINT64_MAX},  // three rows of rectangles
      {40, 12, std::nullopt, 7, 9, UINT64_MAX},  // one row: nothing to compare below
      {40, 3, std::nullopt, 1, 1, UINT64_MAX},   // one row of 1 x 1 positions
  };
  for (const Case& c : cases) {
    const BrightnessPicture picture = Ripples(c.width, c.height);
    const RectangleSize size = RectangleSize::Checked(c.w, c.h);
    for (Direction d : {Direction::Below, Direction::Right}) {
      const NoiseMap one = MapNoise(picture, c.region, size, d, {}, c.limit);
      ASSERT_TRUE(one.complete);
      for (const int32_t threads : {2, 3, 7}) {
        const std::string context = std::to_string(c.width) + "x" + std::to_string(c.height) +
                                    " at " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                                    (d == Direction::Below ? " below, " : " right, ") +
                                    std::to_string(threads) + " threads";
        const NoiseMap split = MapNoise(picture, c.region, size, d, {}, c.limit, threads);
        ASSERT_TRUE(split.complete) << context;
        EXPECT_EQ(split.figures, one.figures) << context;
        EXPECT_EQ(split.largest, one.largest) << context;
        EXPECT_EQ(split.columns, one.columns) << context;
        EXPECT_EQ(split.rows, one.rows) << context;
        EXPECT_EQ(split.cells.pool, one.cells.pool) << context;
        EXPECT_EQ(split.cells.values, one.cells.values) << context;
      }
      // Fed in uneven chunks of rows, as a decode hands them over.
      NoiseMapLayer layer(c.width, c.height, c.region, size, d, c.limit);
      for (int32_t rows = 0; rows < c.height; rows += 1 + rows % 17) {
        ASSERT_TRUE(layer.Advance(picture, rows));
      }
      ASSERT_TRUE(layer.Advance(picture, c.height));
      const NoiseMap followed = layer.Finish();
      ASSERT_TRUE(followed.complete);
      EXPECT_EQ(followed.figures, one.figures);
      EXPECT_EQ(followed.largest, one.largest);
      EXPECT_EQ(followed.cells.values, one.cells.values);
    }
  }
  // 299 x 201 positions, the first row compared with none.
  EXPECT_EQ(MapNoise(Ripples(301, 203), std::nullopt, RectangleSize::Checked(1, 1),
                     Direction::Below, {}, UINT64_MAX, 2)
                .figures.nDiffs,
            299 * 200);
}

// A rectangle whose sum overflows 32 bits raises the overflow whether one thread or two lay it,
// and a layer that has not seen every row is not complete.
TEST(NoiseMap, SplitRaisesWhatOneThreadRaises) {
  const BrightnessPicture bright{2953, 5906, std::vector<uint8_t>(size_t(2953) * 5906, 255)};
  const RectangleSize size = RectangleSize::Checked(2950, 2950);
  for (const int32_t threads : {1, 2}) {
    try {
      MapNoise(bright, std::nullopt, size, Direction::Below, {}, UINT64_MAX, threads);
      ADD_FAILURE() << threads << " threads: no overflow";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), kIntegerOverflow) << threads << " threads";
    }
  }
  const BrightnessPicture picture = Ripples(100, 80);
  NoiseMapLayer layer(100, 80, std::nullopt, RectangleSize::Checked(3, 3), Direction::Below);
  ASSERT_TRUE(layer.Advance(picture, 79));
  EXPECT_FALSE(layer.Finish().complete);
  std::stop_source stop;
  stop.request_stop();
  NoiseMapLayer stopped(100, 80, std::nullopt, RectangleSize::Checked(3, 3), Direction::Below);
  EXPECT_FALSE(stopped.Advance(picture, 80, stop.get_token()));
  EXPECT_FALSE(stopped.Finish().complete);
  EXPECT_FALSE(MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below,
                        stop.get_token(), UINT64_MAX, 2)
                   .complete);
  EXPECT_THROW(NoiseMapLayer(100, 80, PixelRegion{1, 0, 100, 80}, RectangleSize::Checked(1, 1),
                             Direction::Below),
               Error);
}

// A stopped laying says so, for the whole map and for a window.
TEST(NoiseMap, StopsWhenAsked) {
  const BrightnessPicture picture = Ripples(300, 200);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_FALSE(MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below,
                        stop.get_token())
                   .complete);
  EXPECT_FALSE(MapWindow(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below,
                         {0, 0, 100, 100}, 1u << 20, stop.get_token())
                   .has_value());
  EXPECT_TRUE(
      MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below).complete);
}

TEST(NoiseMap, RefusesARegionOutsideThePicture) {
  const BrightnessPicture picture{4, 3, std::vector<uint8_t>(12, 100)};
  try {
    MapNoise(picture, PixelRegion{1, 0, 4, 3}, RectangleSize::Checked(1, 1), Direction::Below);
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "The region 4x3+1+0 does not lie inside the picture of 4 x 3 pixels");
  }
  EXPECT_THROW(MapWindow(picture, PixelRegion{1, 0, 4, 3}, RectangleSize::Checked(1, 1),
                         Direction::Below, {0, 0, 1, 1}, 10),
               Error);
}

}  // namespace
}  // namespace swelox
