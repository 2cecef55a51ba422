// One picture file analysed for one or more rectangle sizes with a single decode, giving the
// tab-separated result row of each.
#pragma once

#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "analysis/CameraClock.h"
#include "analysis/Columns.h"
#include "analysis/Quality.h"
#include "analysis/RectangleStatistics.h"
#include "analysis/Settings.h"
#include "core/Errors.h"
#include "imaging/CaptureTime.h"

namespace swelox {

// What a row says, as values, for a front end that shows rows otherwise than as text.
struct RowValues {
  int64_t width = 0;  // the Width and Height columns: the picture's (or region's) size minus 2
  int64_t height = 0;
  int32_t rectangleWidth = 0;
  int32_t rectangleHeight = 0;
  NoiseFigures figures;
  std::string captureTime;  // ISO 8601 as the Time column has it; empty when none was read
  Quality quality = Quality::None;
};

// The row, or the error that took its place.
struct RowOutcome {
  std::string row;
  std::optional<Error> error;
  // The decoder's warning about the picture's data (it ended early, or was corrupt), given with
  // its rows; empty for a sound picture.
  std::string warning = {};
  RowValues values = {};
};

// What the columns after Pic show.
struct ExtraColumns {
  std::span<const Column> columns;  // none: the row ends with Pic
  Direction direction = Direction::Below;
  std::optional<PixelRegion> region;
  std::string captureTime;  // ISO 8601; empty when the photo records none
  bool damaged = false;     // the decoder warned about the photo's data
};

// The file name column: the part after the last "/", with backslashes doubled and control bytes
// escaped (EscapeControlBytes), so that a name can neither break the columns nor drive a terminal.
std::string PictureName(const std::string& path);

// The row of one picture and size, the one format of the window and swelox-cli alike.
std::string FormatRow(int32_t pictureWidth, int32_t pictureHeight, int32_t rectangleWidth,
                      int32_t rectangleHeight, const NoiseFigures& figures, const std::string& path,
                      const ExtraColumns& extra = {});

// Decodes `path` once and analyses it with every size in turn; outcome k is the row that a
// separate analysis with sizes[k] would give, or its error. With a region only its pixels are
// analysed, as if the picture were cropped to it without re-encoding. The rows end with
// `columns`; the capture time comes from the EXIF data that the decode reads anyway, when the
// columns show it or `captureTime` asks for it in the values, corrected by `clock`; a `known`
// time that was read spares the decode that reading. A stop request ends the decode and raises
// DecodeStopped.
std::vector<RowOutcome> AnalyseFile(const std::string& path, std::span<const RectangleTexts> sizes,
                                    Direction direction,
                                    const std::optional<PixelRegion>& region = std::nullopt,
                                    std::span<const Column> columns = {}, std::stop_token stop = {},
                                    bool captureTime = false,
                                    const CameraClock& clock = CameraClock(),
                                    const KnownCaptureTime* known = nullptr);

// One size: the row, or the error raised.
std::string AnalyseFileRow(const std::string& path, const RectangleTexts& size, Direction direction,
                           const std::optional<PixelRegion>& region = std::nullopt);

}  // namespace swelox
