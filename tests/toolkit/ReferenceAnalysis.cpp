// The literal reference computation.
#include "toolkit/ReferenceAnalysis.h"

#include <cmath>

#include "analysis/Brightness.h"
#include "core/Checked.h"
#include "core/Errors.h"

namespace swelox::test {

Grid ReferenceGrid(const Raster& raster) {
  Grid grid(raster.height + 1, std::vector<int32_t>(raster.width + 1, 0));
  for (int32_t y = 1; y <= raster.height - 1; ++y) {
    for (int32_t x = 1; x <= raster.width - 1; ++x) {
      const uint8_t* p = raster.pixel(x, y);
      grid[y - 1][x - 1] = ExtendedBrightness(p[0], p[1], p[2]);
    }
  }
  return grid;
}

namespace {

int32_t BlockSum(const Grid& grid, int32_t y, int32_t x, int32_t w, int32_t h) {
  int32_t sum = 0;
  for (int32_t r = y; r <= y + h; ++r) {
    for (int32_t c = x; c <= x + w; ++c) sum = checked::Add(sum, grid[r][c]);
  }
  return sum;
}

struct Walk {
  std::vector<int32_t> diffs;
  int32_t n = 0;
  int32_t sumAbs = 0;
  int32_t area = 0;

  void Store(int32_t s, int32_t p) {
    const int32_t e = checked::Sub(s, p);
    const int32_t e16 = static_cast<int32_t>(static_cast<uint32_t>(e) * 16u);
    const long double q = static_cast<long double>(e16) / static_cast<long double>(area);
    const long double rounded = std::nearbyint(q);
    if (rounded < -2147483648.0L || rounded > 2147483647.0L) checked::RangeCheck();
    const int32_t d = static_cast<int32_t>(rounded);
    diffs.at(n) = d;
    sumAbs = checked::Add(sumAbs, d < 0 ? checked::Sub(0, d) : d);
    n = checked::Add(n, 1);
  }
};

}  // namespace

NoiseFigures ReferenceStatistics(const Grid& grid, int32_t width, int32_t height, int32_t w,
                                 int32_t h, Direction direction) {
  Walk walk;
  walk.area = checked::Mul(w, h);
  const int32_t xlim = width - 1 - w;
  const int32_t ylim = height - 1 - h;
  const int32_t slots = checked::Mul(checked::Div(height - 2, h), checked::Div(width - 2, w));
  if (slots < 0) checked::RangeCheck();
  walk.diffs.assign(slots, 0);

  if (direction == Direction::Right) {
    for (int32_t y = 0; y < ylim; y = checked::Add(y, h)) {
      int32_t p = 0;
      for (int32_t x = 0; x < xlim; x = checked::Add(x, w)) {
        const int32_t s = BlockSum(grid, y, x, w, h);
        if (p > 0) walk.Store(s, p);
        p = s;
      }
    }
  } else {
    for (int32_t x = 0; x < xlim; x = checked::Add(x, w)) {
      int32_t p = 0;
      for (int32_t y = 0; y < ylim; y = checked::Add(y, h)) {
        const int32_t s = BlockSum(grid, y, x, w, h);
        if (p > 0) walk.Store(s, p);
        p = s;
      }
    }
  }

  if (walk.n == 0) return {};
  NoiseFigures figures;
  figures.meanDiff = walk.sumAbs / walk.n;
  int32_t sum = 0;
  for (int32_t i = 0; i < walk.n; ++i) sum = checked::Add(sum, walk.diffs[i]);
  const int32_t mean = sum / walk.n;
  int64_t q = 0;
  for (int32_t i = 0; i < walk.n; ++i) {
    const int32_t dev = checked::Sub(walk.diffs[i], mean);
    q += checked::Mul(dev, dev);
  }
  const long double rms =
      std::nearbyint(std::sqrt(static_cast<long double>(q) / static_cast<long double>(walk.n)));
  if (rms > 2147483647.0L) checked::RangeCheck();
  figures.rms = static_cast<int32_t>(rms);
  figures.nDiffs = walk.n;
  return figures;
}

std::string ReferenceRow(const Raster& raster, int32_t w, int32_t h, Direction direction,
                         const std::string& name) {
  try {
    const NoiseFigures f =
        ReferenceStatistics(ReferenceGrid(raster), raster.width, raster.height, w, h, direction);
    return std::to_string(raster.width - 2) + "\t" + std::to_string(raster.height - 2) + "\t" +
           std::to_string(w) + "\t" + std::to_string(h) + "\t" + std::to_string(f.meanDiff) + "\t" +
           std::to_string(f.rms) + "\t" + std::to_string(f.nDiffs) + "\t" + name;
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

}  // namespace swelox::test
