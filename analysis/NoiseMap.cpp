// Brightness kept for a whole picture, and the lattice laid over it with its differences recorded
// at their positions.
#include "analysis/NoiseMap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "analysis/Brightness.h"
#include "core/Errors.h"
#include "core/Extended.h"
#include "imaging/FileReading.h"

namespace swelox {

void BrightnessCollector::Begin(int32_t width, int32_t height) {
  picture_ = {width, height, {}};
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

NoiseMap MapNoise(const BrightnessPicture& picture, const std::optional<PixelRegion>& region,
                  RectangleSize size, Direction direction, std::stop_token stop,
                  uint64_t mapByteLimit) {
  UseExtendedPrecision();
  const PixelRegion r = region.value_or(PixelRegion{0, 0, picture.width, picture.height});
  if (!r.Inside(picture.width, picture.height)) {
    throw Error(r.OutsideMessage(picture.width, picture.height));
  }
  NoiseMap map;
  map.width = r.width;
  map.height = r.height;
  RectangleLattice lattice(r.width, r.height, size, direction);
  if (lattice.LastRow() >= 0) {  // the last position's far border row and column
    map.columns = lattice.LastColumn() / size.width;
    map.rows = lattice.LastRow() / size.height;
  }
  const uint64_t mapBytes = uint64_t(map.columns) * uint64_t(map.rows) * sizeof(int32_t);
  if (mapBytes > mapByteLimit) {
    throw Error("The map of " + std::to_string(size.width) + " x " + std::to_string(size.height) +
                " rectangles over " + std::to_string(r.width) + " x " + std::to_string(r.height) +
                " pixels would need " + Mebibytes(mapBytes) + ", more than the " +
                Mebibytes(mapByteLimit) + " it may have");
  }
  map.differences.assign(size_t(map.columns) * size_t(map.rows), NoiseMap::kNoDifference);
  // The comparisons of a block row arrive together; they are placed and the list emptied, so
  // that it never holds more than one block row.
  std::vector<ComparedRectangle> arrived;
  lattice.RecordComparisons(&arrived);
  auto place = [&] {
    for (const ComparedRectangle& c : arrived) {
      const size_t column = size_t(c.x - 1) / size_t(size.width);
      const size_t row = size_t(c.y - 1) / size_t(size.height);
      map.differences[row * size_t(map.columns) + column] = c.difference;
      map.largest = std::max(map.largest, std::abs(c.difference));
    }
    arrived.clear();
  };
  // Grid row g is pixel row g + 1 of the region, from its pixel column 1 on.
  std::vector<int32_t> totals(size_t(lattice.LastColumn() + 1), 0);
  for (int32_t g = 0; g <= lattice.LastRow(); ++g) {
    if ((g & 63) == 0 && stop.stop_requested()) {
      map.complete = false;
      return map;
    }
    const uint8_t* cells = picture.Row(r.y + g + 1) + r.x + 1;
    for (size_t c = 0; c < totals.size(); ++c) totals[c] += cells[c];
    lattice.AfterGridRow(g, totals.data());
    if (!arrived.empty()) place();
  }
  map.figures = lattice.Finish();
  return map;
}

}  // namespace swelox
