// A row of a run as the window keeps it: the runner's record in Qt's terms. The results area, the
// chart, the picture view and Save read these; nothing parses the rows' text back.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

#include "analysis/BatchRun.h"
#include "analysis/Quality.h"

namespace swelox::ui {

struct PhotoResult {
  QString path;  // as the run was given it
  QString name;  // the Pic column
  int run = 0;   // from 0
  int rectangleWidth = 0;
  int rectangleHeight = 0;
  long long meanDiff = 0;
  long long rms = 0;
  long long nDiffs = 0;
  std::optional<QDateTime> time;  // the capture time the decode read; none when not recorded
  int order = 0;                  // the photo's place in the run's order, from 0
  Quality quality = Quality::None;
  QString text;       // the row as the results area shows it
  bool held = false;  // read back from the table a watch went on with, not measured by it
};

PhotoResult FromRecord(const RowRecord& record);

// A capture time as the Time column writes it ("2026:06:14 09:30:05", "2026-06-14 09:30:05" or
// ISO 8601 with a "T"); none for an empty or unreadable text.
std::optional<QDateTime> ParseCaptureTime(const QString& text);

}  // namespace swelox::ui
