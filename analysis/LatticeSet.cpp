// Streams decoded rows through the brightness into every lattice at once.
#include "analysis/LatticeSet.h"

#include <algorithm>

#include "analysis/Brightness.h"

namespace swelox {
namespace {

// The pixels and the totals advance in step, 4 bytes a column; where their addresses agree
// modulo 4096 the processor takes every load of pixels for one depending on the store of a
// total (4K aliasing) and the loop runs at a fraction of its speed. Half a page apart they
// never meet.
constexpr size_t kPageInts = 4096 / sizeof(int32_t);

}  // namespace

LatticeSet::LatticeSet(std::vector<std::optional<RectangleSize>> sizes, Direction direction)
    : sizes_(std::move(sizes)),
      direction_(direction),
      lattices_(sizes_.size()),
      errors_(sizes_.size()) {}

void LatticeSet::Begin(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
  int32_t lastColumn = -1;
  for (size_t k = 0; k < sizes_.size(); ++k) {
    if (!sizes_[k]) continue;
    try {
      lattices_[k] = std::make_unique<RectangleLattice>(width, height, *sizes_[k], direction_);
    } catch (const Error& e) {
      errors_[k] = e;  // reported only if the rest of the picture decodes
      continue;
    }
    lastRow_ = std::max(lastRow_, lattices_[k]->LastRow());
    lastColumn = std::max(lastColumn, lattices_[k]->LastColumn());
  }
  columns_ = lastColumn + 1;
  // Room to place the totals half a page away from the decoder's row (see Row).
  storage_.assign(static_cast<size_t>(columns_) + kPageInts, 0);
}

void LatticeSet::Row(const uint8_t* pixels) {
  const int32_t gridRow = pixelRow_++ - 1;
  if (gridRow < 0 || gridRow > lastRow_) return;
  const uint8_t* cells = pixels + kBytesPerPixel;
  if (totals_ == nullptr) totals_ = PlaceTotals(cells);
  AddBrightness(cells, kBytesPerPixel, columns_, totals_);
  for (auto& lattice : lattices_) {
    if (lattice) lattice->AfterGridRow(gridRow, totals_);
  }
}

NoiseFigures LatticeSet::Finish(size_t k) const {
  if (errors_[k]) throw *errors_[k];
  return lattices_[k]->Finish();
}

int32_t* LatticeSet::PlaceTotals(const uint8_t* cells) {
  const uintptr_t wanted = (reinterpret_cast<uintptr_t>(cells) + 2048) % 4096;
  const uintptr_t base = reinterpret_cast<uintptr_t>(storage_.data());
  const size_t shift = ((wanted - base % 4096 + 4096) % 4096) / sizeof(int32_t);
  return storage_.data() + shift;
}

}  // namespace swelox
