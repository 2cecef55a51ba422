// Per-picture analysis: the decoded rows stream through the brightness into the rectangle
// lattices of every requested size at once.
#include "analysis/ImageAnalysis.h"

#include <algorithm>
#include <memory>
#include <new>

#include "analysis/Brightness.h"
#include "core/Extended.h"
#include "core/IntegerText.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"

namespace swelox {
namespace {

// The lattices of all sizes over one picture, fed from the decoder. Pixel row 0 and column 0
// never reach the grid: grid cell (r, c) is pixel (c + 1, r + 1).
class LatticeSet : public RgbRowSink {
 public:
  LatticeSet(std::vector<std::optional<RectangleSize>> sizes, Direction direction)
      : sizes_(std::move(sizes)),
        direction_(direction),
        lattices_(sizes_.size()),
        errors_(sizes_.size()) {}

  void Begin(int32_t width, int32_t height) override {
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

  // Padded pixels let the brightness loop read one aligned word per pixel.
  static constexpr int kBytesPerPixel = 4;
  int BytesPerPixel() const override { return kBytesPerPixel; }

  void Row(const uint8_t* pixels) override {
    const int32_t gridRow = pixelRow_++ - 1;
    if (gridRow < 0 || gridRow > lastRow_) return;
    const uint8_t* cells = pixels + kBytesPerPixel;
    if (totals_ == nullptr) totals_ = PlaceTotals(cells);
    AddBrightness(cells, kBytesPerPixel, columns_, totals_);
    for (auto& lattice : lattices_) {
      if (lattice) lattice->AfterGridRow(gridRow, totals_);
    }
  }

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  NoiseFigures Finish(size_t k) const {
    if (errors_[k]) throw *errors_[k];
    return lattices_[k]->Finish();
  }

 private:
  // The pixels and the totals advance in step, 4 bytes a column; where their addresses agree
  // modulo 4096 the processor takes every load of pixels for one depending on the store of a
  // total (4K aliasing) and the loop runs at a fraction of its speed. Half a page apart they
  // never meet.
  static constexpr size_t kPageInts = 4096 / sizeof(int32_t);
  int32_t* PlaceTotals(const uint8_t* cells) {
    const uintptr_t wanted = (reinterpret_cast<uintptr_t>(cells) + 2048) % 4096;
    const uintptr_t base = reinterpret_cast<uintptr_t>(storage_.data());
    const size_t shift = ((wanted - base % 4096 + 4096) % 4096) / sizeof(int32_t);
    return storage_.data() + shift;
  }

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

Error AsError(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(kOutOfMemory);
  } catch (const std::exception& e) {
    return Error(e.what());
  }
}

}  // namespace

std::string PictureName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string escaped;
  escaped.reserve(name.size());
  for (char c : name) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\n':
        escaped += "\\n";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string FormatRow(int32_t pictureWidth, int32_t pictureHeight, int32_t rectangleWidth,
                      int32_t rectangleHeight, const NoiseFigures& figures,
                      const std::string& path) {
  std::string row;
  for (int64_t v : {int64_t{pictureWidth} - 2, int64_t{pictureHeight} - 2, int64_t{rectangleWidth},
                    int64_t{rectangleHeight}, int64_t{figures.meanDiff}, int64_t{figures.rms},
                    int64_t{figures.nDiffs}}) {
    row += FormatInteger(v);
    row += '\t';
  }
  return row + PictureName(path);
}

std::vector<RowOutcome> AnalyseFile(const std::string& path, std::span<const RectangleTexts> sizes,
                                    Direction direction, const std::optional<PixelRegion>& region) {
  UseExtendedPrecision();
  // The sizes are read first but their errors wait: a picture that fails to decode is reported
  // before a bad size, as when each size is read after its own decode.
  std::vector<std::optional<RectangleSize>> checkedSizes(sizes.size());
  std::vector<RowOutcome> outcomes(sizes.size());
  for (size_t k = 0; k < sizes.size(); ++k) {
    try {
      const int32_t w = ParseInteger(sizes[k].width);
      const int32_t h = ParseInteger(sizes[k].height);
      checkedSizes[k] = RectangleSize::Checked(w, h);
    } catch (const Error& e) {
      outcomes[k].error = e;
    }
  }

  LatticeSet lattices(checkedSizes, direction);
  try {
    const std::vector<uint8_t> data = ReadWholeFile(path);
    DecodeJpeg(data, lattices, region ? &*region : nullptr);
  } catch (...) {
    const Error failure = AsError(std::current_exception());
    for (RowOutcome& outcome : outcomes) outcome = {std::string(), failure};
    return outcomes;
  }

  for (size_t k = 0; k < sizes.size(); ++k) {
    if (outcomes[k].error) continue;
    try {
      const NoiseFigures figures = lattices.Finish(k);
      outcomes[k].row = FormatRow(lattices.width(), lattices.height(), checkedSizes[k]->width,
                                  checkedSizes[k]->height, figures, path);
    } catch (...) {
      outcomes[k].error = AsError(std::current_exception());
    }
  }
  return outcomes;
}

std::string AnalyseFileRow(const std::string& path, const RectangleTexts& size, Direction direction,
                           const std::optional<PixelRegion>& region) {
  RowOutcome outcome = std::move(AnalyseFile(path, {&size, 1}, direction, region).front());
  if (outcome.error) throw *outcome.error;
  return outcome.row;
}

}  // namespace swelox
