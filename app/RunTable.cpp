#include "app/RunTable.h"

#include <QFile>

namespace swelox::ui {
namespace {

QString FromLocal(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

}  // namespace

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

PhotoResult FromRecord(const RowRecord& record) {
  PhotoResult r;
  r.path = FromLocal(record.path);
  r.name = FromLocal(PictureName(record.path));
  r.run = static_cast<int>(record.run);
  r.rectangleWidth = record.values.rectangleWidth;
  r.rectangleHeight = record.values.rectangleHeight;
  r.meanDiff = record.values.figures.meanDiff;
  r.rms = record.values.figures.rms;
  r.nDiffs = record.values.figures.nDiffs;
  r.time = ParseCaptureTime(QString::fromStdString(record.values.captureTime));
  r.order = static_cast<int>(record.index);
  r.quality = record.values.quality;
  r.text = FromLocal(record.text);
  r.held = record.held;
  return r;
}

}  // namespace swelox::ui
