// Per-picture analysis: the decoded rows stream through the brightness into the rectangle
// lattices of every requested size at once.
#include "analysis/ImageAnalysis.h"

#include <algorithm>

#include "analysis/LatticeSet.h"
#include "analysis/Quality.h"
#include "analysis/SettingsTable.h"
#include "core/Extended.h"
#include "core/IntegerText.h"
#include "core/PrintableText.h"
#include "imaging/FileReading.h"
#include "imaging/JpegDecoder.h"

namespace swelox {

std::string PictureName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string::npos
                                    ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
  return EscapeControlBytes(name, Backslash::Doubled);
}

std::string FormatRow(int32_t pictureWidth, int32_t pictureHeight, int32_t rectangleWidth,
                      int32_t rectangleHeight, const NoiseFigures& figures, const std::string& path,
                      const ExtraColumns& extra) {
  std::string row;
  for (int64_t v : {int64_t{pictureWidth} - 2, int64_t{pictureHeight} - 2, int64_t{rectangleWidth},
                    int64_t{rectangleHeight}, int64_t{figures.meanDiff}, int64_t{figures.rms},
                    int64_t{figures.nDiffs}}) {
    row += FormatInteger(v);
    row += '\t';
  }
  row += PictureName(path);
  for (const Column column : extra.columns) {
    row += '\t';
    switch (column) {
      case Column::Time:
        row += extra.captureTime;
        break;
      case Column::Path:
        row += EscapeControlBytes(path, Backslash::Doubled);
        break;
      case Column::Region:
        if (extra.region) row += extra.region->Text();
        break;
      case Column::Direction:
        row += extra.direction == Direction::Right ? "right" : "below";
        break;
      case Column::Quality:
        row += QualityName(RowQuality(figures.nDiffs, extra.damaged));
        break;
    }
  }
  return row;
}

std::vector<RowOutcome> AnalyseFile(const std::string& path, std::span<const RectangleTexts> sizes,
                                    Direction direction, const std::optional<PixelRegion>& region,
                                    std::span<const Column> columns, std::stop_token stop,
                                    bool captureTime, const CameraClock& clock,
                                    const KnownCaptureTime* known) {
  UseExtendedPrecision();
  // The sizes are read first but their errors wait: a picture that fails to decode is reported
  // before a bad size, as when each size is read after its own decode.
  std::vector<std::optional<RectangleSize>> checkedSizes(sizes.size());
  std::vector<RowOutcome> outcomes(sizes.size());
  for (size_t k = 0; k < sizes.size(); ++k) {
    try {
      checkedSizes[k] = CheckedSize(sizes[k]);
    } catch (const Error& e) {
      outcomes[k].error = e;
    }
  }

  LatticeSet lattices(checkedSizes, direction);
  const DecodeRequest request{
      .region = region,
      .stop = stop,
      .wantCaptureTime =
          captureTime || std::find(columns.begin(), columns.end(), Column::Time) != columns.end(),
      .knownCaptureTime = known != nullptr ? *known : KnownCaptureTime{}};
  DecodeNotes notes;
  try {
    PictureFile file(path);
    notes = DecodeJpeg(file, lattices, request);
  } catch (const DecodeStopped&) {
    throw;
  } catch (...) {
    const Error failure = ErrorFromException(std::current_exception());
    for (RowOutcome& outcome : outcomes) outcome = {std::string(), failure};
    return outcomes;
  }

  ExtraColumns extra{columns, direction, region, {}, !notes.warning.empty()};
  if (notes.captureTime) {
    if (std::optional<CameraClock::Corrected> time = clock.Correct(*notes.captureTime)) {
      extra.captureTime = std::move(time->text);
    }
  }
  for (size_t k = 0; k < sizes.size(); ++k) {
    outcomes[k].warning = notes.warning;
    if (outcomes[k].error) continue;
    try {
      const NoiseFigures figures = lattices.Finish(k);
      outcomes[k].row = FormatRow(lattices.width(), lattices.height(), checkedSizes[k]->width,
                                  checkedSizes[k]->height, figures, path, extra);
      outcomes[k].values = {int64_t{lattices.width()} - 2,
                            int64_t{lattices.height()} - 2,
                            checkedSizes[k]->width,
                            checkedSizes[k]->height,
                            figures,
                            extra.captureTime,
                            RowQuality(figures.nDiffs, extra.damaged)};
    } catch (...) {
      outcomes[k].error = ErrorFromException(std::current_exception());
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
