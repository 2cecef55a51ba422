// Micro-benchmarks of the engine: the brightness of decoded rows, the rectangle walk over column
// totals, and whole files, with the decode alone for comparison.
//
//   swelox_micro [--benchmark_filter=REGEX] [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analysis/Brightness.h"
#include "analysis/ImageAnalysis.h"
#include "analysis/RectangleStatistics.h"
#include "core/Extended.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"

namespace {

using swelox::Direction;
using swelox::RectangleLattice;
using swelox::RectangleSize;

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(byte(random));
  return bytes;
}

// One row of `width` random pixels of 3 or 4 bytes added to the column totals, as the decoder's
// rows are. The totals are restarted now and then so that they cannot overflow.
void BM_AddBrightness(benchmark::State& state) {
  const int bytesPerPixel = static_cast<int>(state.range(0));
  const int32_t width = static_cast<int32_t>(state.range(1));
  constexpr int kRows = 16;  // different rows, so that the tie pattern is not always the same
  const std::vector<uint8_t> pixels =
      RandomBytes(static_cast<size_t>(width) * bytesPerPixel * kRows, 1);
  std::vector<int32_t> totals(width, 0);
  int row = 0;
  for (auto _ : state) {
    swelox::AddBrightness(pixels.data() + static_cast<size_t>(width) * bytesPerPixel * row,
                          bytesPerPixel, width, totals.data());
    benchmark::DoNotOptimize(totals.data());
    benchmark::ClobberMemory();
    if (++row == kRows) {
      row = 0;
      if (totals[0] > (1 << 30)) totals.assign(width, 0);
    }
  }
  state.SetItemsProcessed(state.iterations() * width);
  state.SetBytesProcessed(state.iterations() * width * bytesPerPixel);
}
BENCHMARK(BM_AddBrightness)
    ->ArgNames({"bytes", "width"})
    ->Args({3, 4000})
    ->Args({4, 4000})
    ->Args({4, 4001})  // a tail shorter than one vector
    ->Args({3, 16000})
    ->Args({4, 16000});

// The rectangle sizes of a run with --repeats `repeats`: 15 x 12 doubled after each run.
std::vector<RectangleSize> RunSizes(int repeats) {
  std::vector<RectangleSize> sizes;
  for (int k = 0, w = 15, h = 12; k <= repeats; ++k, w *= 2, h *= 2) {
    sizes.push_back(RectangleSize::Checked(w, h));
  }
  return sizes;
}

// Feeds the column totals of a whole width x height picture to the lattices of `sizes`, as the
// analysis does after each decoded row. The totals grow by one of a few random brightness rows
// each time; with no size at all the same loop measures that growth alone, so the difference is
// the walk.
void WalkPicture(benchmark::State& state, const std::vector<RectangleSize>& sizes,
                 Direction direction) {
  swelox::UseExtendedPrecision();
  const int32_t width = static_cast<int32_t>(state.range(0));
  const int32_t height = static_cast<int32_t>(state.range(1));
  constexpr int kRows = 16;
  const std::vector<uint8_t> bytes = RandomBytes(static_cast<size_t>(width) * kRows, 2);
  const std::vector<int32_t> brightness(bytes.begin(), bytes.end());
  std::vector<int32_t> totals(width);
  int64_t comparisons = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<RectangleLattice>> lattices;
    int32_t lastRow = -1;
    for (const RectangleSize& size : sizes) {
      lattices.push_back(std::make_unique<RectangleLattice>(width, height, size, direction));
      lastRow = std::max(lastRow, lattices.back()->LastRow());
    }
    if (sizes.empty()) lastRow = height - 2;
    totals.assign(width, 0);
    for (int32_t row = 0; row <= lastRow; ++row) {
      const int32_t* add = brightness.data() + static_cast<size_t>(width) * (row % kRows);
      for (int32_t c = 0; c < width; ++c) totals[c] += add[c];
      for (auto& lattice : lattices) lattice->AfterGridRow(row, totals.data());
    }
    benchmark::DoNotOptimize(totals.data());
    for (auto& lattice : lattices) {
      const swelox::NoiseFigures figures = lattice->Finish();
      benchmark::DoNotOptimize(figures);
      comparisons += figures.nDiffs;
    }
  }
  state.SetItemsProcessed(state.iterations() * int64_t{width} * height);
  state.counters["comparisons"] = benchmark::Counter(static_cast<double>(comparisons) /
                                                     static_cast<double>(state.iterations()));
}

void BM_TotalsOnly(benchmark::State& state) { WalkPicture(state, {}, Direction::Below); }
void BM_Walk(benchmark::State& state) {
  const RectangleSize size = RectangleSize::Checked(static_cast<int32_t>(state.range(2)),
                                                    static_cast<int32_t>(state.range(3)));
  WalkPicture(state, {size}, state.range(4) ? Direction::Right : Direction::Below);
}
void BM_WalkRepeats4(benchmark::State& state) { WalkPicture(state, RunSizes(4), Direction::Below); }
BENCHMARK(BM_TotalsOnly)->ArgNames({"w", "h"})->Args({4000, 3000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk)
    ->ArgNames({"w", "h", "W", "H", "right"})
    ->Args({4000, 3000, 15, 12, 0})
    ->Args({4000, 3000, 15, 12, 1})
    ->Args({4000, 3000, 3, 2, 0})
    ->Args({4000, 3000, 240, 192, 0})
    ->Args({16000, 3125, 15, 12, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkRepeats4)->ArgNames({"w", "h"})->Args({4000, 3000})->Unit(benchmark::kMillisecond);

const std::string kSample = SWELOX_EXAMPLES "/infinite-sea.jpg";

// Takes the decoded rows and does nothing with them.
class DiscardRows : public swelox::RgbRowSink {
 public:
  explicit DiscardRows(int bytesPerPixel) : bytesPerPixel_(bytesPerPixel) {}
  void Begin(int32_t, int32_t) override {}
  void Row(const uint8_t* rgb) override { benchmark::DoNotOptimize(rgb); }
  int BytesPerPixel() const override { return bytesPerPixel_; }

 private:
  int bytesPerPixel_;
};

// The decode alone, into RGB or RGBX rows, from a file already in memory.
void BM_DecodeOnly(benchmark::State& state) {
  const std::vector<uint8_t> data = swelox::ReadWholeFile(kSample);
  DiscardRows sink(static_cast<int>(state.range(0)));
  for (auto _ : state) swelox::DecodeJpeg(data, sink);
}
BENCHMARK(BM_DecodeOnly)->ArgName("bytes")->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

// The whole analysis of the sample photo: reading, decoding, brightness and walk, for one run
// or for the five sizes of --repeats 4.
void BM_AnalyseFile(benchmark::State& state) {
  std::vector<swelox::RectangleTexts> texts;
  for (const RectangleSize& size : RunSizes(static_cast<int>(state.range(0)))) {
    texts.push_back({std::to_string(size.width), std::to_string(size.height)});
  }
  for (auto _ : state) {
    const std::vector<swelox::RowOutcome> outcomes =
        swelox::AnalyseFile(kSample, texts, Direction::Below);
    if (outcomes.front().error) {
      state.SkipWithError(outcomes.front().error->what());
      break;
    }
    benchmark::DoNotOptimize(outcomes.data());
  }
}
BENCHMARK(BM_AnalyseFile)->ArgName("repeats")->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
