// The rectangle lattices of every requested size over one picture, fed row by row from the
// decoder, so that one decode serves all sizes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/RectangleStatistics.h"
#include "analysis/Settings.h"
#include "core/Errors.h"
#include "imaging/JpegDecoder.h"

namespace swelox {

// Pixel row 0 and column 0 never reach the grid: grid cell (r, c) is pixel (c + 1, r + 1).
// A size without a value (it could not be read) gets no lattice.
class LatticeSet : public RgbRowSink {
 public:
  LatticeSet(std::vector<std::optional<RectangleSize>> sizes, Direction direction);

  void Begin(int32_t width, int32_t height) override;

  // Padded pixels let the brightness loop read one aligned word per pixel.
  static constexpr int kBytesPerPixel = 4;
  int BytesPerPixel() const override { return kBytesPerPixel; }

  void Row(const uint8_t* pixels) override;

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // The figures of size k, or the error its lattice raised when the picture began.
  NoiseFigures Finish(size_t k) const;

 private:
  int32_t* PlaceTotals(const uint8_t* cells);

  std::vector<std::optional<RectangleSize>> sizes_;
  Direction direction_;
  std::vector<std::unique_ptr<RectangleLattice>> lattices_;
  std::vector<std::optional<Error>> errors_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t pixelRow_ = 0;
  int32_t lastRow_ = -1;
  // Per grid column, the sum of the grid rows so far: at most 65500 x 255, so 32 bits hold it.
  std::vector<int32_t> storage_;
  int32_t* totals_ = nullptr;
  int32_t columns_ = 0;
};

}  // namespace swelox
