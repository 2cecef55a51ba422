#include "app/RunTable.h"

#include <QFile>
#include <QHash>

#include "analysis/ImageAnalysis.h"
#include "core/Errors.h"
#include "imaging/JpegDecoder.h"

namespace swelox::ui {

std::optional<QDateTime> ParseCaptureTime(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  for (const QString& format :
       {QStringLiteral("yyyy:MM:dd HH:mm:ss"), QStringLiteral("yyyy-MM-dd HH:mm:ss"),
        QStringLiteral("yyyy-MM-ddTHH:mm:ss"), QStringLiteral("yyyy:MM:dd HH:mm"),
        QStringLiteral("yyyy-MM-dd HH:mm")}) {
    // Capture times carry no zone: they are read, and shown, as they stand.
    QDateTime time = QDateTime::fromString(t.left(format.size()), format);
    if (time.isValid()) {
      time.setTimeSpec(Qt::UTC);
      return time;
    }
  }
  return std::nullopt;
}

void AddCaptureTimes(std::vector<PhotoResult>& results) {
  QHash<QString, std::optional<QDateTime>> read;
  for (PhotoResult& r : results) {
    if (r.time || r.path.isEmpty()) continue;
    auto known = read.find(r.path);
    if (known == read.end()) {
      std::optional<QDateTime> time;
      try {
        PictureFile file(QFile::encodeName(r.path).toStdString());
        if (const std::optional<CaptureTime> t = swelox::ReadCaptureTime(file)) {
          time = ParseCaptureTime(QString::fromStdString(t->text));
        }
      } catch (const Error&) {
        // A photo that cannot be read now has no time; the chart places it by order.
      }
      known = read.insert(r.path, time);
    }
    r.time = *known;
  }
}

std::vector<PhotoResult> ReadRunRows(const QString& header, const QStringList& rows,
                                     const QStringList& files) {
  const QStringList names = header.split(QLatin1Char('\t'));
  const auto column = [&](const char* name) { return names.indexOf(QLatin1String(name)); };
  const qsizetype bwide = column("Bwide"), bhigh = column("Bhigh"), mean = column("meanDiff"),
                  rms = column("RMS"), n = column("nDiffs"), pic = column("Pic"),
                  time = column("Time");
  std::vector<PhotoResult> results;
  if (bwide < 0 || bhigh < 0 || mean < 0 || rms < 0 || n < 0 || pic < 0) return results;

  // The name each file has in the Pic column.
  QStringList fileNames;
  for (const QString& file : files) {
    fileNames << QFile::decodeName(
        QByteArray::fromStdString(PictureName(QFile::encodeName(file).toStdString())));
  }
  qsizetype next = 0;  // where the search for the next row's file starts
  for (const QString& line : rows) {
    const QStringList cells = line.split(QLatin1Char('\t'));
    if (cells.size() != names.size()) continue;
    PhotoResult r;
    bool ok[5];
    r.rectangleWidth = cells[bwide].toInt(&ok[0]);
    r.rectangleHeight = cells[bhigh].toInt(&ok[1]);
    r.meanDiff = cells[mean].toLongLong(&ok[2]);
    r.rms = cells[rms].toLongLong(&ok[3]);
    r.nDiffs = cells[n].toLongLong(&ok[4]);
    if (!(ok[0] && ok[1] && ok[2] && ok[3] && ok[4])) continue;
    r.name = cells[pic];
    if (time >= 0) r.time = ParseCaptureTime(cells[time]);
    // The files come round again with every run; a skipped file is passed over.
    r.order = -1;
    for (qsizetype k = 0; k < fileNames.size(); ++k) {
      const qsizetype i = (next + k) % fileNames.size();
      if (fileNames[i] == r.name) {
        r.order = int(i);
        r.path = files[i];
        next = i + 1;
        break;
      }
    }
    if (r.order < 0) r.order = int(results.empty() ? 0 : results.back().order + 1);
    results.push_back(r);
  }
  return results;
}

}  // namespace swelox::ui
