// Brightness kept for a whole picture, and the lattice laid over it with its differences recorded
// at their positions.
#include "analysis/NoiseMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "analysis/Brightness.h"
#include "core/Errors.h"
#include "core/Extended.h"
#include "imaging/FileReading.h"

namespace swelox {

void BrightnessCollector::Begin(int32_t width, int32_t height) {
  picture_.width = width;
  picture_.height = height;
  // Every value is written by Row: memory the picture already holds is written over as it is.
  picture_.values.resize(size_t(width) * size_t(height));
  row_.assign(size_t(width), 0);
  y_ = 0;
}

void BrightnessCollector::Row(const uint8_t* pixels) {
  std::fill(row_.begin(), row_.end(), 0);
  AddBrightness(pixels, 4, picture_.width, row_.data());
  uint8_t* out = picture_.values.data() + size_t(y_++) * size_t(picture_.width);
  for (int32_t x = 0; x < picture_.width; ++x) out[x] = static_cast<uint8_t>(row_[size_t(x)]);
}

BrightnessPicture DecodeBrightness(const std::string& path) {
  UseExtendedPrecision();
  BrightnessPicture picture;
  BrightnessCollector collector(picture);
  PictureFile file(path);
  DecodeJpeg(file, collector);
  return picture;
}

std::string Mebibytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
  return text;
}

int32_t PoolFor(int32_t columns, int32_t rows, uint64_t limit) {
  if (columns <= 0 || rows <= 0) return 1;
  limit = std::max<uint64_t>(limit, 1);
  auto values = [&](int64_t pool) {
    return uint64_t((columns + pool - 1) / pool) * uint64_t((rows + pool - 1) / pool);
  };
  // No pool below the square root of positions per value can do; the rounding up may ask a few
  // more.
  int64_t pool =
      std::max<int64_t>(1, int64_t(std::sqrt(double(columns) * double(rows) / double(limit))));
  while (values(pool) > limit) ++pool;
  return int32_t(pool);
}

namespace {

// The values for `window`, pooled by `pool`, none compared yet.
MapCells EmptyCells(LatticeWindow window, int32_t pool) {
  MapCells cells;
  cells.window = window;
  cells.pool = pool;
  cells.columns = (window.columns + pool - 1) / pool;
  cells.rows = (window.rows + pool - 1) / pool;
  cells.values.assign(size_t(cells.columns) * size_t(cells.rows), MapCells::kNoDifference);
  return cells;
}

// Keeps, for each value of `cells` on lattice row `row`, the difference of the largest magnitude
// among the positions of `differences` (lattice columns `firstColumn` on) that it stands for. The
// pooled column is counted along rather than divided out: this runs once per comparison.
void PlaceBlockRow(MapCells& cells, int32_t row, int32_t firstColumn, const int32_t* differences,
                   int32_t count) {
  const int32_t from = std::max(firstColumn, cells.window.column);
  const int32_t to = std::min(firstColumn + count, cells.window.column + cells.window.columns);
  if (row < cells.window.row || row >= cells.window.row + cells.window.rows || from >= to) return;
  int32_t* line =
      cells.values.data() + size_t((row - cells.window.row) / cells.pool) * size_t(cells.columns);
  const int32_t offset = from - cells.window.column;
  int32_t cell = offset / cells.pool, left = cells.pool - offset % cells.pool;
  for (int32_t column = from; column < to; ++column) {
    const int32_t d = differences[column - firstColumn];
    int32_t& kept = line[cell];
    if (d != RectangleLattice::kNotCompared &&
        (kept == MapCells::kNoDifference || std::abs(d) > std::abs(kept))) {
      kept = d;
    }
    if (--left == 0) {
      left = cells.pool;
      ++cell;
    }
  }
}

// Walks `lattice`, laid over the pixels of `area`, and hands each finished block row to `place`
// with its lattice row and its differences. False when stopped on the way.
template <typename PlaceBlockRowOf>
bool Walk(const BrightnessPicture& picture, const PixelRegion& area, RectangleLattice& lattice,
          const std::stop_token& stop, PlaceBlockRowOf place) {
  std::vector<int32_t> differences;
  lattice.RecordBlockRows(&differences);
  // Grid row g is pixel row g + 1 of the area, from its pixel column 1 on.
  std::vector<int32_t> totals(size_t(lattice.LastColumn() + 1), 0);
  for (int32_t g = 0; g <= lattice.LastRow(); ++g) {
    if ((g & 63) == 0 && stop.stop_requested()) return false;
    const uint8_t* cells = picture.Row(area.y + g + 1) + area.x + 1;
    for (size_t c = 0; c < totals.size(); ++c) totals[c] += cells[c];
    lattice.AfterGridRow(g, totals.data());
    if (lattice.finishedBlockRow() >= 0) place(lattice.finishedBlockRow(), differences);
  }
  return true;
}

PixelRegion AnalysedPixels(const BrightnessPicture& picture,
                           const std::optional<PixelRegion>& region) {
  const PixelRegion r = region.value_or(PixelRegion{0, 0, picture.width, picture.height});
  if (!r.Inside(picture.width, picture.height)) {
    throw Error(ErrorKind::Decode, r.OutsideMessage(picture.width, picture.height));
  }
  return r;
}

}  // namespace

NoiseMap MapNoise(const BrightnessPicture& picture, const std::optional<PixelRegion>& region,
                  RectangleSize size, Direction direction, std::stop_token stop,
                  uint64_t cellLimit) {
  UseExtendedPrecision();
  const PixelRegion r = AnalysedPixels(picture, region);
  NoiseMap map;
  map.width = r.width;
  map.height = r.height;
  RectangleLattice lattice(r.width, r.height, size, direction);
  map.columns = lattice.positions().columns;
  map.rows = lattice.positions().rows;
  map.cells = EmptyCells({0, 0, map.columns, map.rows}, PoolFor(map.columns, map.rows, cellLimit));
  map.complete =
      Walk(picture, r, lattice, stop, [&](int32_t row, const std::vector<int32_t>& differences) {
        PlaceBlockRow(map.cells, row, 0, differences.data(), map.columns);
        for (const int32_t d : differences) {
          if (d != RectangleLattice::kNotCompared) map.largest = std::max(map.largest, std::abs(d));
        }
      });
  if (map.complete) map.figures = lattice.Finish();
  return map;
}

std::optional<MapCells> MapWindow(const BrightnessPicture& picture,
                                  const std::optional<PixelRegion>& region, RectangleSize size,
                                  Direction direction, LatticeWindow window, uint64_t cellLimit,
                                  std::stop_token stop) {
  UseExtendedPrecision();
  const PixelRegion r = AnalysedPixels(picture, region);
  const auto [columns, rows] = RectangleLattice::PositionsOver(r.width, r.height, size);
  const int32_t left = std::clamp(window.column, 0, columns);
  const int32_t top = std::clamp(window.row, 0, rows);
  const int32_t right =
      int32_t(std::clamp(int64_t{window.column} + window.columns, int64_t{left}, int64_t{columns}));
  const int32_t bottom =
      int32_t(std::clamp(int64_t{window.row} + window.rows, int64_t{top}, int64_t{rows}));
  const LatticeWindow clipped{left, top, right - left, bottom - top};
  MapCells cells = EmptyCells(clipped, PoolFor(clipped.columns, clipped.rows, cellLimit));
  if (clipped.columns == 0 || clipped.rows == 0) return cells;

  // A lattice of its own over the window's pixels, with the rectangles the window's first ones
  // are compared with: its positions fall on the whole lattice's, and so do its differences.
  const bool below = direction == Direction::Below;
  const int32_t firstColumn = left - (!below && left > 0 ? 1 : 0);
  const int32_t firstRow = top - (below && top > 0 ? 1 : 0);
  const int32_t across = right - firstColumn, down = bottom - firstRow;
  const PixelRegion area{r.x + firstColumn * size.width, r.y + firstRow * size.height,
                         across * size.width + 2, down * size.height + 2};
  RectangleLattice lattice(area.width, area.height, size, direction);
  const bool done =
      Walk(picture, area, lattice, stop, [&](int32_t row, const std::vector<int32_t>& differences) {
        PlaceBlockRow(cells, firstRow + row, firstColumn, differences.data(),
                      int32_t(differences.size()));
      });
  if (!done) return std::nullopt;
  return cells;
}

}  // namespace swelox
