// The noise of a picture rectangle by rectangle: the comparisons behind the figures of its row,
// at their lattice positions, for a view that lays the lattice over the photo. The brightness of
// the whole picture is kept, so that another size, direction or region needs no second decode, and
// so that any window of the lattice can be laid again in detail: the map itself never keeps more
// values than a screen has pixels.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/RectangleStatistics.h"
#include "analysis/Settings.h"
#include "imaging/JpegDecoder.h"
#include "imaging/PixelRegion.h"

namespace swelox {

// The brightness of every pixel, row after row.
struct BrightnessPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> values;
  const uint8_t* Row(int32_t y) const { return values.data() + size_t(y) * size_t(width); }
};

// Fills a BrightnessPicture from the decoder's rows, with the analysis's own brightness.
class BrightnessCollector : public RgbRowSink {
 public:
  explicit BrightnessCollector(BrightnessPicture& picture) : picture_(picture) {}
  int BytesPerPixel() const override { return 4; }
  void Begin(int32_t width, int32_t height) override;
  void Row(const uint8_t* pixels) override;
  int32_t rowsDone() const { return y_; }

 private:
  BrightnessPicture& picture_;
  std::vector<int32_t> row_;
  int32_t y_ = 0;
};

// Decodes the whole file as the analysis does; its errors are the analysis's.
BrightnessPicture DecodeBrightness(const std::string& path);

// A window of lattice positions that a map asks for: `columns` x `rows` of them from (column, row).
struct LatticeWindow {
  int32_t column = 0;
  int32_t row = 0;
  int32_t columns = 0;
  int32_t rows = 0;
  bool operator==(const LatticeWindow&) const = default;
};

// Differences of a window of the lattice, as many as a screen shows: each value stands for
// `pool` x `pool` lattice positions and is the difference of the largest magnitude among them
// (kNoDifference where none of them was compared), so that a peak never drops out of sight.
struct MapCells {
  static constexpr int32_t kNoDifference = INT32_MIN;

  LatticeWindow window;  // the lattice positions covered
  int32_t pool = 1;      // lattice positions per value, across and down
  int32_t columns = 0;   // values across and down: the window's positions over `pool`, rounded up
  int32_t rows = 0;
  std::vector<int32_t> values;  // row after row

  bool Covers(int32_t latticeColumn, int32_t latticeRow) const {
    return latticeColumn >= window.column && latticeRow >= window.row &&
           latticeColumn - window.column < window.columns && latticeRow - window.row < window.rows;
  }
  // The value standing for lattice position (column, row): its own difference when `pool` is 1.
  std::optional<int32_t> At(int32_t latticeColumn, int32_t latticeRow) const {
    if (!Covers(latticeColumn, latticeRow)) return std::nullopt;
    const int32_t d = values[size_t((latticeRow - window.row) / pool) * size_t(columns) +
                             size_t((latticeColumn - window.column) / pool)];
    if (d == kNoDifference) return std::nullopt;
    return d;
  }
};

// The smallest pool that keeps `columns` x `rows` positions within `limit` values (at least 1).
int32_t PoolFor(int32_t columns, int32_t rows, uint64_t limit);

struct NoiseMap {
  static constexpr int32_t kNoDifference = MapCells::kNoDifference;

  int32_t width = 0;  // of the analysed pixels: the region's, or the picture's
  int32_t height = 0;
  // Rectangle positions across and down the lattice (0 when no rectangle fits). Position
  // (column, row) has its corner at pixel (1 + column x W, 1 + row x H) of the analysed pixels
  // and its difference is with the rectangle before it (above, or to the left).
  int32_t columns = 0;
  int32_t rows = 0;
  NoiseFigures figures;
  // The whole lattice, pooled down to the number of values asked for: every position's own
  // difference when it has no more positions than that.
  MapCells cells;
  int32_t largest = 0;   // the largest absolute difference
  bool complete = true;  // false when the laying was stopped: then nothing in it counts

  // The difference of position (column, row), when the map keeps it unpooled.
  std::optional<int32_t> DifferenceAt(int32_t column, int32_t row) const {
    if (cells.pool != 1) return std::nullopt;
    return cells.At(column, row);
  }
};

// The lattice of `size` over the region (the whole picture when none), in one pass that forms both
// the figures and the map: the number of positions with a difference is nDiffs and their mean
// absolute difference, truncated, is meanDiff. The map keeps at most `cellLimit` values, pooling
// positions where there are more. Raises the analysis's errors and the decoder's for a region
// outside. Once `stop` is requested it returns soon, with `complete` false.
// With `threads` above 1 the lattice is cut into that many bands of rectangle rows (at most one
// per row of pooled values), each walked on a thread of its own, and their exact integer totals
// are merged: the map and the figures are those of one thread, digit for digit.
NoiseMap MapNoise(const BrightnessPicture& picture, const std::optional<PixelRegion>& region,
                  RectangleSize size, Direction direction, std::stop_token stop = {},
                  uint64_t cellLimit = UINT64_MAX, int32_t threads = 1);

// The map of MapNoise laid while the brightness of the picture is still arriving, row after row,
// so that the lattice follows the decode instead of waiting for its end.
class NoiseMapLayer {
 public:
  // For a picture of `width` x `height` pixels; raises what MapNoise raises before its walk.
  NoiseMapLayer(int32_t width, int32_t height, const std::optional<PixelRegion>& region,
                RectangleSize size, Direction direction, uint64_t cellLimit = UINT64_MAX);
  ~NoiseMapLayer();
  NoiseMapLayer(const NoiseMapLayer&) = delete;
  NoiseMapLayer& operator=(const NoiseMapLayer&) = delete;

  // Lays what the first `rows` rows of `picture` (of the size given) allow. False once `stop`
  // is requested: nothing more is laid then.
  bool Advance(const BrightnessPicture& picture, int32_t rows, const std::stop_token& stop = {});
  // The map, with `complete` false unless every row it needs was laid; raises the figures' errors.
  NoiseMap Finish();

  struct Walk;  // a lattice walked as far as the rows at hand allow; MapNoise's bands are too

 private:
  NoiseMap map_;
  std::unique_ptr<Walk> walk_;
  bool stopped_ = false;
};

// The differences of the positions of `window` (clipped to the lattice), pooled so that at most
// `cellLimit` values are kept: exactly those of MapNoise over the same region, from the pixels of
// the window and the rectangles before it alone. Returns nothing once `stop` is requested.
std::optional<MapCells> MapWindow(const BrightnessPicture& picture,
                                  const std::optional<PixelRegion>& region, RectangleSize size,
                                  Direction direction, LatticeWindow window, uint64_t cellLimit,
                                  std::stop_token stop = {});

// "N MiB" with one decimal, for messages about memory.
std::string Mebibytes(uint64_t bytes);

}  // namespace swelox
