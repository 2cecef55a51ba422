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

          ASSERT_EQ(map.differences.size(), size_t(map.columns) * size_t(map.rows)) << context;
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

// A stopped laying says so; a map larger than its limit is refused before it takes the memory.
TEST(NoiseMap, StopsWhenAskedAndRefusesAMapOverItsLimit) {
  BrightnessPicture picture{300, 200, std::vector<uint8_t>(300 * 200)};
  for (size_t k = 0; k < picture.values.size(); ++k) picture.values[k] = uint8_t(k * 7 % 251);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_FALSE(MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below,
                        stop.get_token())
                   .complete);
  const NoiseMap whole =
      MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below);
  EXPECT_TRUE(whole.complete);
  EXPECT_EQ(whole.columns, 298);
  EXPECT_EQ(whole.rows, 198);
  // 298 x 198 positions of 4 bytes: one byte short of it is refused, the exact amount is not.
  const uint64_t bytes = 298 * 198 * 4;
  EXPECT_NO_THROW(
      MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below, {}, bytes));
  EXPECT_THROW(MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below, {},
                        bytes - 1),
               Error);
  try {
    MapNoise(picture, std::nullopt, RectangleSize::Checked(1, 1), Direction::Below, {}, bytes / 2);
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "The map of 1 x 1 rectangles over 300 x 200 pixels would need 0.2 MiB, more "
                 "than the 0.1 MiB it may have");
  }
}

TEST(NoiseMap, RefusesARegionOutsideThePicture) {
  const BrightnessPicture picture{4, 3, std::vector<uint8_t>(12, 100)};
  try {
    MapNoise(picture, PixelRegion{1, 0, 4, 3}, RectangleSize::Checked(1, 1), Direction::Below);
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "The region 4x3+1+0 does not lie inside the picture of 4 x 3 pixels");
  }
}

}  // namespace
}  // namespace swelox
