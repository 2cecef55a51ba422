// Growth of the rectangle between runs, and the texts that describe a run's progress.
#include "analysis/RunPlan.h"

#include <algorithm>

#include "core/Checked.h"
#include "core/Extended.h"
#include "core/IntegerText.h"

namespace swelox {

bool IncrementsForbidGrowth(const std::string& widthIncrement, const std::string& heightIncrement) {
  return widthIncrement == "0" && heightIncrement == "0";
}

int64_t RunCount(const RunSettings& settings) {
  const std::string& repeats =
      IncrementsForbidGrowth(settings.widthIncrement, settings.heightIncrement) ? "0"
                                                                                : settings.repeats;
  return std::max<int64_t>(int64_t{ParseInteger(repeats)} + 1, 0);
}

int64_t GrownSize(int32_t size, int32_t percent) {
  UseExtendedPrecision();
  const int32_t factor = checked::Add(percent, 100, ErrorScope::Settings);
  const Extended grown = static_cast<Extended>(size) / 100.0L * static_cast<Extended>(factor);
  return RoundToInt64(grown, ErrorScope::Settings);
}

std::optional<std::string> GrownSizeText(const std::string& sizeText,
                                         const std::string& incrementText) {
  const int32_t percent = ParseInteger(incrementText);
  if (percent <= 0) return std::nullopt;
  return FormatInteger(GrownSize(ParseInteger(sizeText), percent));
}

std::string ProgressCaption(int64_t fileIndex, int64_t fileCount, bool showRun, int64_t runIndex) {
  std::string caption = FormatInteger(fileIndex + 1) + " of " + FormatInteger(fileCount);
  if (showRun) caption += "   Run" + FormatInteger(runIndex + 1);
  return caption;
}

RunSizes::RunSizes(const RunSettings& settings)
    : current_{settings.width, settings.height},
      widthIncrement_(settings.widthIncrement),
      heightIncrement_(settings.heightIncrement) {}

void RunSizes::Grow() {
  if (auto width = GrownSizeText(current_.width, widthIncrement_)) current_.width = *width;
  if (auto height = GrownSizeText(current_.height, heightIncrement_)) current_.height = *height;
}

}  // namespace swelox
