// The rows of a run read back as the day chart needs them: per row the photo (its path, found in
// the run's list of files), its rectangle size, its figures and, where the Time column holds one,
// its capture time.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace swelox::ui {

struct PhotoResult {
  QString path;  // empty when no file of the run has the row's name
  QString name;
  int rectangleWidth = 0;
  int rectangleHeight = 0;
  long long meanDiff = 0;
  long long rms = 0;
  long long nDiffs = 0;
  std::optional<QDateTime> time;
  int order = 0;  // the photo's place in the run's list, from 0
};

// Reads `rows` under the header line `header` (columns found by their names, so that added
// columns do not matter); a line that is not a row of that header is passed over. Each row's photo
// is the next file of `files`, in the list's order, whose name is the row's Pic.
std::vector<PhotoResult> ReadRunRows(const QString& header, const QStringList& rows,
                                     const QStringList& files);

// Where the rows carry no capture time (no Time column was asked for), the photos' own EXIF
// capture times, each file read up to its first scan and once only.
void AddCaptureTimes(std::vector<PhotoResult>& results);

// A capture time as the Time column writes it ("2026:06:14 09:30:05", "2026-06-14 09:30:05" or
// ISO 8601 with a "T"); none for an empty or unreadable text.
std::optional<QDateTime> ParseCaptureTime(const QString& text);

}  // namespace swelox::ui
