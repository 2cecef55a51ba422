// The rectangle lattice over one brightness grid: each rectangle's sum compared with the one
// before it (above, or to the left), reduced to the mean absolute difference, its spread and the
// number of comparisons.
//
// Grid row r and column c hold the brightness of pixel (c + 1, r + 1). A rectangle with its corner
// at (y, x) sums rows y .. y + H and columns x .. x + W, so neighbours share their border row or
// column, while the divisor stays W x H. The grid arrives one row at a time as running column
// totals, shared by every lattice over the picture; a block row's column sums are the difference
// of two snapshots of them, so no grid and no list of differences is ever held.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "analysis/Settings.h"

namespace swelox {

struct NoiseFigures {
  int32_t meanDiff = 0;
  int32_t rms = 0;
  int32_t nDiffs = 0;
  bool operator==(const NoiseFigures&) const = default;
};

// The differences, folded as they come: enough to form the mean, the truncated signed mean and
// the squared deviations about it exactly as a stored list would.
class DifferenceSummary {
 public:
  void Add(int32_t difference);
  // Takes in the differences another summary folded: every total is an exact integer sum (the
  // squares' modulo 2^64 like the running one), so the figures are those of one summary that
  // folded them all, in any order.
  void Merge(const DifferenceSummary& other);
  // "Integer overflow" where a checked sum, deviation or square would overflow 32 bits.
  NoiseFigures Finish() const;

 private:
  int64_t count_ = 0;
  int64_t sumAbs_ = 0;
  int64_t sum_ = 0;
  uint64_t sumSquares_ = 0;  // exact whenever sumAbs_ fits 32 bits, the only case that is used
  int32_t min_ = INT32_MAX;
  int32_t max_ = INT32_MIN;
};

// The difference of two neighbouring sums in sixteenths of a brightness step per unit of area.
int32_t ScaledDifference(int32_t sum, int32_t previous, int32_t area);

// Refuses a side no run can measure with: a negative one, naming it ("width", "height"), then
// zero.
void CheckSide(const char* side, int32_t length);

// A rectangle size, checked before any picture is read: "Division by zero" for a zero side,
// "Integer overflow" when W x H does not fit 32 bits, and a refusal of negative sides.

struct RectangleSize {
  int32_t width;
  int32_t height;
  int32_t area;
  static RectangleSize Checked(int32_t width, int32_t height);
};

class RectangleLattice {
 public:
  // Lays the lattice over a picture of the given size. The slot count of the difference list
  // ((height - 2) div H) x ((width - 2) div W) is checked as it always was: overflow raises
  // "Integer overflow", a negative count "Range check error".
  RectangleLattice(int32_t pictureWidth, int32_t pictureHeight, RectangleSize size,
                   Direction direction);

  // Rectangle positions across and down a picture of this size: those whose far border row and
  // column fit, and none either way when none fits one way.
  struct Positions {
    int32_t columns;
    int32_t rows;
  };
  static Positions PositionsOver(int32_t pictureWidth, int32_t pictureHeight, RectangleSize size);
  Positions positions() const { return {columns_, rows_}; }

  // Grid rows 0 .. LastRow() and columns 0 .. LastColumn() are all the walk reads
  // (both -1 when it reads nothing).
  int32_t LastRow() const { return lastRow_; }
  int32_t LastColumn() const { return lastColumn_; }

  // Called after each grid row `row`, in order from 0 to LastRow(), with the column totals so far:
  // totals[c] is the sum of grid rows 0 .. row in column c, for c up to LastColumn().
  void AfterGridRow(int32_t row, const int32_t* totals);

  NoiseFigures Finish() const;
  // The differences folded so far, and whether a block's sum overflowed (Finish raises it then).
  const DifferenceSummary& summary() const { return summary_; }
  bool overflowed() const { return overflowed_; }

  // A block row's value where no comparison was made (no difference can take it: even a
  // difference of 2^27 scaled by 16 wraps to it only in a rectangle of over 500,000 pixels, whose
  // quotient is far smaller).
  static constexpr int32_t kNotCompared = INT32_MIN;
  // From now on the block row that an AfterGridRow call finishes also leaves its differences in
  // `differences`: one per position across, kNotCompared where none was made.
  void RecordBlockRows(std::vector<int32_t>* differences) { recorded_ = differences; }
  // The block row the last AfterGridRow call finished, or -1.
  int32_t finishedBlockRow() const { return finishedBlockRow_; }

 private:
  void CompleteBlockRow(int32_t blockRowIndex, const int32_t* totals,
                        const std::vector<int32_t>& start);

  RectangleSize size_;
  Direction direction_;
  int32_t columns_ = 0;  // rectangle positions across
  int32_t rows_ = 0;     // rectangle positions down
  int32_t lastRow_ = -1;
  int32_t lastColumn_ = -1;
  // The column totals before the first row of each of the two block rows that may be open (a
  // border row belongs to both).
  std::vector<int32_t> starts_[2];
  std::vector<int64_t> blockSums_;       // the block row being finished
  std::vector<int64_t> columnSumsUpTo_;  // its column sums added up from the left, from 0
  std::vector<int64_t> above_;           // sums of the last finished block row
  bool overflowed_ = false;
  DifferenceSummary summary_;
  std::vector<int32_t>* recorded_ = nullptr;
  int32_t finishedBlockRow_ = -1;
};

}  // namespace swelox
