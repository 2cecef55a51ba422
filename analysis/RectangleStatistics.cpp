// Rectangle sums from streamed grid rows, their scaled differences and the noise figures.
#include "analysis/RectangleStatistics.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/Checked.h"
#include "core/Extended.h"
#include "core/IntegerText.h"

namespace swelox {

void DifferenceSummary::Add(int32_t difference) {
  ++count_;
  sumAbs_ += std::llabs(difference);
  sum_ += difference;
  sumSquares_ += static_cast<uint64_t>(static_cast<int64_t>(difference) * difference);
  if (difference < min_) min_ = difference;
  if (difference > max_) max_ = difference;
}

void DifferenceSummary::Merge(const DifferenceSummary& other) {
  count_ += other.count_;
  sumAbs_ += other.sumAbs_;
  sum_ += other.sum_;
  sumSquares_ += other.sumSquares_;
  min_ = std::min(min_, other.min_);
  max_ = std::max(max_, other.max_);
}

NoiseFigures DifferenceSummary::Finish() const {
  if (count_ == 0) return {};
  // Every partial sum of absolute values is below the total, and every signed partial sum below
  // that, so the totals tell whether a running 32-bit sum would have overflowed.
  if (sumAbs_ > INT32_MAX || count_ > INT32_MAX) checked::Overflow();
  const int32_t n = static_cast<int32_t>(count_);
  const int32_t mean = static_cast<int32_t>(sum_ / count_);
  for (int32_t extreme : {min_, max_}) {
    const int32_t deviation = checked::Sub(extreme, mean);
    checked::Mul(deviation, deviation);
  }
  // The sum over d of (d - m)^2, from the sums of d and d^2 without the list.
  __extension__ typedef __int128 Wide;
  const Wide q = static_cast<Wide>(sumSquares_) - 2 * static_cast<Wide>(mean) * sum_ +
                 static_cast<Wide>(count_) * mean * mean;
  const int64_t squares = static_cast<int64_t>(q);

  NoiseFigures figures;
  figures.meanDiff = static_cast<int32_t>(sumAbs_ / count_);
  figures.rms = RoundToInt32(std::sqrt(static_cast<Extended>(squares) / static_cast<Extended>(n)));
  figures.nDiffs = n;
  return figures;
}

int32_t ScaledDifference(int32_t sum, int32_t previous, int32_t area) {
  const int32_t e = checked::Sub(sum, previous);
  // Sixteen times, as a 4-bit shift that wraps on 32 bits (only blocks of more than about
  // 526,000 cells reach the wrap).
  const int32_t scaled = static_cast<int32_t>(static_cast<uint32_t>(e) << 4);
  if (area == 1) return scaled;  // the quotient is exact and already whole
  return RoundToInt32(static_cast<Extended>(scaled) / static_cast<Extended>(area));
}

namespace {

// A negative side would make the walk step backwards for minutes before it overflows.
void RefuseNegative(const char* side, int32_t length) {
  if (length < 0) {
    throw Error(
        std::string("The rectangle ") + side + " must be positive, not " + FormatInteger(length),
        ErrorScope::Settings);
  }
}

}  // namespace

void CheckSide(const char* side, int32_t length) {
  RefuseNegative(side, length);
  if (length == 0) throw Error(kDivisionByZero, ErrorScope::Settings);
}

RectangleSize RectangleSize::Checked(int32_t width, int32_t height) {
  // Both signs before the area, which a zero side leaves to the end.
  RefuseNegative("width", width);
  RefuseNegative("height", height);
  const int32_t area = checked::Mul(width, height, ErrorScope::Settings);
  if (width == 0 || height == 0) throw Error(kDivisionByZero, ErrorScope::Settings);
  return {width, height, area};
}

namespace {

// How many of the positions 0, step, 2 step, ... lie below limit.
int32_t StepsBelow(int32_t limit, int32_t step) {
  return limit > 0 ? static_cast<int32_t>((static_cast<int64_t>(limit) + step - 1) / step) : 0;
}

}  // namespace

RectangleLattice::Positions RectangleLattice::PositionsOver(int32_t pictureWidth,
                                                            int32_t pictureHeight,
                                                            RectangleSize size) {
  const int32_t columns = StepsBelow(pictureWidth - 1 - size.width, size.width);
  const int32_t rows = StepsBelow(pictureHeight - 1 - size.height, size.height);
  if (columns == 0 || rows == 0) return {0, 0};
  return {columns, rows};
}

RectangleLattice::RectangleLattice(int32_t pictureWidth, int32_t pictureHeight, RectangleSize size,
                                   Direction direction)
    : size_(size), direction_(direction) {
  const int32_t slots = checked::Mul(checked::Div(pictureHeight - 2, size.height),
                                     checked::Div(pictureWidth - 2, size.width));
  if (slots < 0) checked::RangeCheck();

  const Positions positions = PositionsOver(pictureWidth, pictureHeight, size);
  columns_ = positions.columns;
  rows_ = positions.rows;
  if (columns_ == 0) return;
  lastColumn_ = columns_ * size.width;
  lastRow_ = rows_ * size.height;
  starts_[0].assign(lastColumn_ + 1, 0);
  starts_[1].assign(lastColumn_ + 1, 0);
  blockSums_.assign(columns_, 0);
  columnSumsUpTo_.assign(size_t(lastColumn_) + 2, 0);
  above_.assign(columns_, 0);
}

void RectangleLattice::AfterGridRow(int32_t row, const int32_t* totals) {
  finishedBlockRow_ = -1;
  if (row > lastRow_ || overflowed_) return;
  const int32_t h = size_.height;
  // A border row completes the block row above it...
  if (row > 0 && row % h == 0) CompleteBlockRow(row / h - 1, totals, starts_[(row / h - 1) & 1]);
  // ...and the row before a block row marks where that block row's sums begin.
  if ((row + 1) % h == 0 && (row + 1) / h < rows_) {
    starts_[((row + 1) / h) & 1].assign(totals, totals + lastColumn_ + 1);
  }
}

namespace {

// Inlined into the loops of CompleteBlockRow: it runs once per comparison. The block row's
// differences are folded into a summary of its own, held in registers, and merged once the row
// is done: an int32 store to `recorded` could otherwise be the summary's own minimum or maximum,
// which would then be written back and read again for every comparison.
[[gnu::always_inline]] inline void Compare(DifferenceSummary& summary, int32_t* recorded,
                                           int32_t area, int32_t blockColumn, int64_t sum,
                                           int64_t previous) {
  const int32_t difference =
      ScaledDifference(static_cast<int32_t>(sum), static_cast<int32_t>(previous), area);
  summary.Add(difference);
  if (recorded != nullptr) recorded[blockColumn] = difference;
}

}  // namespace

void RectangleLattice::CompleteBlockRow(int32_t blockRowIndex, const int32_t* totals,
                                        const std::vector<int32_t>& start) {
  const int32_t w = size_.width;
  std::vector<int64_t>& blockRow = blockSums_;
  // The block row's column sums added up from the left: a block is the difference of two of them,
  // which costs the same for narrow rectangles as for wide ones.
  std::vector<int64_t>& upTo = columnSumsUpTo_;
  int64_t running = 0;
  upTo[0] = 0;
  for (int32_t c = 0; c <= lastColumn_; ++c) {
    running += totals[c] - start[c];
    upTo[size_t(c) + 1] = running;
  }
  for (int32_t j = 0, x = 0; j < columns_; ++j, x += w) {
    const int64_t s = upTo[size_t(x + w) + 1] - upTo[size_t(x)];
    if (s > INT32_MAX) {  // the checked sum of this block would overflow during the walk
      overflowed_ = true;
      return;
    }
    blockRow[j] = s;
  }
  if (recorded_ != nullptr) recorded_->assign(size_t(columns_), kNotCompared);
  finishedBlockRow_ = blockRowIndex;
  // Only a positive previous sum is compared, so the first rectangle of each row or column, and
  // any rectangle after an all-black one, has no comparison.
  DifferenceSummary rowSummary;
  int32_t* const recorded = recorded_ != nullptr ? recorded_->data() : nullptr;
  const int32_t area = size_.area;
  if (direction_ == Direction::Right) {
    int64_t previous = 0;
    for (int32_t j = 0; j < columns_; ++j) {
      if (previous > 0) Compare(rowSummary, recorded, area, j, blockRow[j], previous);
      previous = blockRow[j];
    }
  } else {
    for (int32_t j = 0; j < columns_; ++j) {
      if (above_[j] > 0) Compare(rowSummary, recorded, area, j, blockRow[j], above_[j]);
      above_[j] = blockRow[j];
    }
  }
  summary_.Merge(rowSummary);
}

NoiseFigures RectangleLattice::Finish() const {
  if (overflowed_) checked::Overflow();
  return summary_.Finish();
}

}  // namespace swelox
