// The rules of a set of runs, shared by the window and the batch tool: the no-growth rule, the
// growth of the rectangle after each run, the progress caption, and the sizes that successive
// runs use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analysis/Settings.h"
#include "core/Errors.h"

namespace swelox {

// Both increments exactly "0" (as text: " 0" and "00" do not count) allow only one run.
bool IncrementsForbidGrowth(const std::string& widthIncrement, const std::string& heightIncrement);

// How many runs the settings make: the repeats plus one (the repeats read as "0" when the
// increments forbid growth); none when that is not positive. Raises the repeats' integer error.
int64_t RunCount(const RunSettings& settings);

// size / 100 x (percent + 100) in extended precision, rounded to nearest with ties to even;
// percent + 100 is overflow-checked.
int64_t GrownSize(int32_t size, int32_t percent);

// The size text after a run: nullopt when the increment is not positive (the size stays),
// else the grown size as decimal text. The increment is read before the size.
std::optional<std::string> GrownSizeText(const std::string& sizeText,
                                         const std::string& incrementText);

// "3 of 10", or "3 of 10   Run2" when extra runs were asked for (indices from 0).
std::string ProgressCaption(int64_t fileIndex, int64_t fileCount, bool showRun, int64_t runIndex);

// The rectangle sizes of the runs one after another, computed from the settings alone just as
// the window's size fields change between runs.
class RunSizes {
 public:
  explicit RunSizes(const RunSettings& settings);

  // The size of the next run; after it, Grow() gives the sizes of the run after.
  const RectangleTexts& Current() const { return current_; }
  // Applies the growth after a run, width then height, as the window does; raises its errors.
  void Grow();

 private:
  RectangleTexts current_;
  std::string widthIncrement_;
  std::string heightIncrement_;
};

}  // namespace swelox
