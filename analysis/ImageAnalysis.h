// One picture file analysed for one or more rectangle sizes with a single decode, giving the
// tab-separated result row of each.
#pragma once

#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/RectangleStatistics.h"
#include "analysis/Settings.h"
#include "core/Errors.h"

namespace swelox {

inline constexpr const char* kHeaderLine =
    "Width\tHeight\tBwide\tBhigh\tmeanDiff\tRMS\tnDiffs\tPic";

// The row, or the error that took its place.
struct RowOutcome {
  std::string row;
  std::optional<Error> error;
};

// The file name column: the part after the last "/", with backslashes doubled and control bytes
// escaped (EscapeControlBytes), so that a name can neither break the columns nor drive a terminal.
std::string PictureName(const std::string& path);

std::string FormatRow(int32_t pictureWidth, int32_t pictureHeight, int32_t rectangleWidth,
                      int32_t rectangleHeight, const NoiseFigures& figures,
                      const std::string& path);

// Decodes `path` once and analyses it with every size in turn; outcome k is the row that a
// separate analysis with sizes[k] would give, or its error. With a region only its pixels are
// analysed, as if the picture were cropped to it without re-encoding. A stop request ends the
// decode and raises DecodeStopped.
std::vector<RowOutcome> AnalyseFile(const std::string& path, std::span<const RectangleTexts> sizes,
                                    Direction direction,
                                    const std::optional<PixelRegion>& region = std::nullopt,
                                    std::stop_token stop = {});

// One size: the row, or the error raised.
std::string AnalyseFileRow(const std::string& path, const RectangleTexts& size, Direction direction,
                           const std::optional<PixelRegion>& region = std::nullopt);

}  // namespace swelox
