#include "tests/app/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

namespace swelox::test {

QString Example(const char* name) {
  return QDir(QStringLiteral(SWELOX_EXAMPLES)).absoluteFilePath(QString::fromUtf8(name));
}

QString SlowPhoto(const QString& folder, const QString& name) {
  QImage grey(16, 16, QImage::Format_Grayscale8);
  grey.fill(128);
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  if (!grey.save(&buffer, "JPEG", 75)) return {};
  // The frame header's size, then the file cut just after the scan header.
  auto u8 = [&](qsizetype at) { return static_cast<uint8_t>(jpeg[at]); };
  for (qsizetype at = 2; at + 4 <= jpeg.size();) {
    if (u8(at) != 0xFF) return {};
    const uint8_t marker = u8(at + 1);
    const qsizetype length = u8(at + 2) << 8 | u8(at + 3);
    if (marker == 0xC0) {
      for (const qsizetype field : {at + 5, at + 7}) {  // height, width
        jpeg[field] = char(65500 >> 8);
        jpeg[field + 1] = char(65500 & 0xFF);
      }
    }
    if (marker == 0xDA) {
      jpeg.truncate(at + 2 + length);
      const QString path = QDir(folder).filePath(name);
      QFile file(path);
      if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size()) return {};
      return path;
    }
    at += 2 + length;
  }
  return {};
}

QStringList Lines(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  return lines;
}

}  // namespace swelox::test
