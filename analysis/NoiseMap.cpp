// Brightness kept for a whole picture, and the lattice laid over it with its comparisons recorded.
#include "analysis/NoiseMap.h"

#include <algorithm>

#include "analysis/Brightness.h"
#include "core/Errors.h"
#include "core/Extended.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"

namespace swelox {
namespace {

class BrightnessCollector : public RgbRowSink {
 public:
  explicit BrightnessCollector(BrightnessPicture& picture) : picture_(picture) {}
  int BytesPerPixel() const override { return 4; }
  void Begin(int32_t width, int32_t height) override {
    picture_ = {width, height, {}};
    picture_.values.resize(size_t(width) * size_t(height));
    row_.assign(size_t(width), 0);
  }
  void Row(const uint8_t* pixels) override {
    std::fill(row_.begin(), row_.end(), 0);
    AddBrightness(pixels, 4, picture_.width, row_.data());
    uint8_t* out = picture_.values.data() + size_t(y_++) * size_t(picture_.width);
    for (int32_t x = 0; x < picture_.width; ++x) out[x] = static_cast<uint8_t>(row_[x]);
  }

 private:
  BrightnessPicture& picture_;
  std::vector<int32_t> row_;
  int32_t y_ = 0;
};

}  // namespace

BrightnessPicture DecodeBrightness(const std::string& path) {
  UseExtendedPrecision();
  BrightnessPicture picture;
  BrightnessCollector collector(picture);
  PictureFile file(path);
  DecodeJpeg(file, collector);
  return picture;
}

NoiseMap MapNoise(const BrightnessPicture& picture, const std::optional<PixelRegion>& region,
                  RectangleSize size, Direction direction) {
  UseExtendedPrecision();
  const PixelRegion r = region.value_or(PixelRegion{0, 0, picture.width, picture.height});
  if (!r.Inside(picture.width, picture.height)) {
    throw Error(r.OutsideMessage(picture.width, picture.height));
  }
  NoiseMap map;
  map.width = r.width;
  map.height = r.height;
  RectangleLattice lattice(r.width, r.height, size, direction);
  lattice.RecordComparisons(&map.comparisons);
  if (lattice.LastRow() >= 0) {  // the last position's far border row and column
    map.columns = lattice.LastColumn() / size.width;
    map.rows = lattice.LastRow() / size.height;
  }
  // Grid row g is pixel row g + 1 of the region, from its pixel column 1 on.
  std::vector<int32_t> totals(size_t(lattice.LastColumn() + 1), 0);
  for (int32_t g = 0; g <= lattice.LastRow(); ++g) {
    const uint8_t* cells = picture.Row(r.y + g + 1) + r.x + 1;
    for (size_t c = 0; c < totals.size(); ++c) totals[c] += cells[c];
    lattice.AfterGridRow(g, totals.data());
  }
  map.figures = lattice.Finish();
  return map;
}

}  // namespace swelox
