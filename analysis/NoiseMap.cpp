// Brightness kept for a whole picture, and the lattice laid over it with its differences recorded
// at their positions.
#include "analysis/NoiseMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "analysis/Brightness.h"
#include "core/Checked.h"
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

PixelRegion AnalysedPixels(int32_t width, int32_t height,
                           const std::optional<PixelRegion>& region) {
  const PixelRegion r = region.value_or(PixelRegion{0, 0, width, height});
  if (!r.Inside(width, height)) throw Error(ErrorKind::Decode, r.OutsideMessage(width, height));
  return r;
}

PixelRegion AnalysedPixels(const BrightnessPicture& picture,
                           const std::optional<PixelRegion>& region) {
  return AnalysedPixels(picture.width, picture.height, region);
}

}  // namespace

// A lattice laid over the pixels of `area`, walked as far as the rows at hand allow; each
// finished block row goes to the cells with its lattice row, `firstRow` and `firstColumn` on
// from the area's own.
struct NoiseMapLayer::Walk {
  Walk(const PixelRegion& pixels, RectangleSize size, Direction direction, int32_t row,
       int32_t column, int32_t placedFrom)
      : area(pixels),
        lattice(pixels.width, pixels.height, size, direction),
        totals(size_t(lattice.LastColumn() + 1), 0),
        firstRow(row),
        firstColumn(column),
        placedFromRow(placedFrom) {
    lattice.RecordBlockRows(&differences);
  }

  // Walks the grid rows whose pixels lie within the first `rows` rows of `picture`, placing
  // the differences in `cells`; false when stopped on the way.
  bool Advance(const BrightnessPicture& picture, int32_t rows, MapCells& cells,
               const std::stop_token& stop) {
    // Grid row g is pixel row g + 1 of the area, from its pixel column 1 on.
    const int32_t last = std::min(lattice.LastRow(), rows - area.y - 2);
    for (; next <= last; ++next) {
      if ((next & 63) == 0 && stop.stop_requested()) return false;
      const uint8_t* pixels = picture.Row(area.y + next + 1) + area.x + 1;
      for (size_t c = 0; c < totals.size(); ++c) totals[c] += pixels[c];
      lattice.AfterGridRow(next, totals.data());
      const int32_t row = lattice.finishedBlockRow();
      // A band's first row, laid only for the rectangles its next row is compared with, is
      // another band's to place.
      if (row < 0 || firstRow + row < placedFromRow) continue;
      PlaceBlockRow(cells, firstRow + row, firstColumn, differences.data(),
                    int32_t(differences.size()));
      for (const int32_t d : differences) {
        if (d != RectangleLattice::kNotCompared) largest = std::max(largest, std::abs(d));
      }
    }
    return true;
  }

  const PixelRegion area;
  RectangleLattice lattice;
  std::vector<int32_t> totals;
  std::vector<int32_t> differences;
  const int32_t firstRow;
  const int32_t firstColumn;
  const int32_t placedFromRow;
  int32_t next = 0;  // the next grid row
  int32_t largest = 0;
};

namespace {

// The walk over the positions of `window` (within the lattice over `r`) alone: its pixels, with
// the rectangles its first ones are compared with. Its positions fall on the whole lattice's, and
// so do its differences.
std::unique_ptr<NoiseMapLayer::Walk> WindowWalk(const PixelRegion& r, RectangleSize size,
                                                Direction direction, const LatticeWindow& window) {
  const bool below = direction == Direction::Below;
  const int32_t firstColumn = window.column - (!below && window.column > 0 ? 1 : 0);
  const int32_t firstRow = window.row - (below && window.row > 0 ? 1 : 0);
  const int32_t across = window.column + window.columns - firstColumn;
  const int32_t down = window.row + window.rows - firstRow;
  const PixelRegion area{r.x + firstColumn * size.width, r.y + firstRow * size.height,
                         across * size.width + 2, down * size.height + 2};
  return std::make_unique<NoiseMapLayer::Walk>(area, size, direction, firstRow, firstColumn,
                                               window.row);
}

// Rows of pooled values for each of `bands` bands, as even as they go: band k starts at lattice
// row starts[k], a whole number of pooled rows down, so no value is shared by two bands.
std::vector<int32_t> BandStarts(int32_t rows, int32_t pool, int32_t bands) {
  const int32_t units = (rows + pool - 1) / pool;
  bands = std::clamp(bands, 1, std::max(units, 1));
  std::vector<int32_t> starts;
  for (int32_t k = 0; k <= bands; ++k) {
    starts.push_back(std::min(rows, int32_t(int64_t{units} * k / bands) * pool));
  }
  return starts;
}

}  // namespace

NoiseMap MapNoise(const BrightnessPicture& picture, const std::optional<PixelRegion>& region,
                  RectangleSize size, Direction direction, std::stop_token stop, uint64_t cellLimit,
                  int32_t threads) {
  UseExtendedPrecision();
  const PixelRegion r = AnalysedPixels(picture, region);
  NoiseMap map;
  map.width = r.width;
  map.height = r.height;
  // The whole lattice's checks of the size, as the walk of one thread raises them.
  const RectangleLattice lattice(r.width, r.height, size, direction);
  map.columns = lattice.positions().columns;
  map.rows = lattice.positions().rows;
  map.cells = EmptyCells({0, 0, map.columns, map.rows}, PoolFor(map.columns, map.rows, cellLimit));
  if (map.rows == 0) return map;

  const std::vector<int32_t> starts = BandStarts(map.rows, map.cells.pool, threads);
  const size_t bands = starts.size() - 1;
  std::vector<std::unique_ptr<NoiseMapLayer::Walk>> walks(bands);
  std::vector<char> done(bands, 0);
  std::vector<std::exception_ptr> failures(bands);
  auto walkBand = [&](size_t k) {
    try {
      UseExtendedPrecision();
      walks[k] =
          WindowWalk(r, size, direction, {0, starts[k], map.columns, starts[k + 1] - starts[k]});
      done[k] = walks[k]->Advance(picture, picture.height, map.cells, stop);
    } catch (...) {
      failures[k] = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (size_t k = 1; k < bands; ++k) helpers.emplace_back(walkBand, k);
    walkBand(0);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  map.complete = std::all_of(done.begin(), done.end(), [](char d) { return d != 0; });
  if (!map.complete) return map;
  DifferenceSummary summary;
  for (const auto& walk : walks) {
    if (walk->lattice.overflowed()) checked::Overflow();
    summary.Merge(walk->lattice.summary());
    map.largest = std::max(map.largest, walk->largest);
  }
  map.figures = summary.Finish();
  return map;
}

NoiseMapLayer::NoiseMapLayer(int32_t width, int32_t height,
                             const std::optional<PixelRegion>& region, RectangleSize size,
                             Direction direction, uint64_t cellLimit) {
  const PixelRegion r = AnalysedPixels(width, height, region);
  walk_ = std::make_unique<Walk>(r, size, direction, 0, 0, 0);
  map_.width = r.width;
  map_.height = r.height;
  map_.columns = walk_->lattice.positions().columns;
  map_.rows = walk_->lattice.positions().rows;
  map_.cells =
      EmptyCells({0, 0, map_.columns, map_.rows}, PoolFor(map_.columns, map_.rows, cellLimit));
}

NoiseMapLayer::~NoiseMapLayer() = default;

bool NoiseMapLayer::Advance(const BrightnessPicture& picture, int32_t rows,
                            const std::stop_token& stop) {
  if (stopped_) return false;
  UseExtendedPrecision();
  stopped_ = !walk_->Advance(picture, rows, map_.cells, stop);
  return !stopped_;
}

NoiseMap NoiseMapLayer::Finish() {
  NoiseMap map = std::move(map_);
  map.complete = !stopped_ && walk_->next > walk_->lattice.LastRow();
  if (!map.complete) return map;
  map.largest = walk_->largest;
  map.figures = walk_->lattice.Finish();
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
  const auto walk = WindowWalk(r, size, direction, clipped);
  if (!walk->Advance(picture, picture.height, cells, stop)) return std::nullopt;
  return cells;
}

}  // namespace swelox
