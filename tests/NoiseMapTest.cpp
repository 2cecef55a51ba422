// The noise map: its comparisons are those behind the row's figures, each at its place with the
// difference that the literal computation gives there.
#include <gtest/gtest.h>

#include <cstdlib>

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

          ASSERT_EQ(int64_t(map.comparisons.size()), map.figures.nDiffs) << context;
          ASSERT_GT(map.comparisons.size(), 0u);
          int64_t sumAbs = 0;
          for (const ComparedRectangle& c : map.comparisons) {
            sumAbs += std::llabs(c.difference);
            const int64_t previous = d == Direction::Below ? BlockSum(grid, r, c.x, c.y - h, w, h)
                                                           : BlockSum(grid, r, c.x - w, c.y, w, h);
            ASSERT_EQ(c.difference, ScaledDifference(int32_t(BlockSum(grid, r, c.x, c.y, w, h)),
                                                     int32_t(previous), w * h))
                << context << " at " << c.x << "," << c.y;
          }
          EXPECT_EQ(sumAbs / int64_t(map.comparisons.size()), map.figures.meanDiff) << context;
        }
      }
    }
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
