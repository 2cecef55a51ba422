#include "toolkit/QtFixture.h"

#include <QDir>
#include <QFile>

#include "toolkit/JpegCraft.h"

namespace swelox::test {

QString Example(const char* name) {
  return QDir(QStringLiteral(SWELOX_EXAMPLES)).absoluteFilePath(QString::fromUtf8(name));
}

QString SlowPhoto(const QString& folder, const QString& name) {
  const Bytes jpeg = GreyClaim(65500, 65500);
  const QString path = QDir(folder).filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char*>(jpeg.data()),
                                                     qint64(jpeg.size())) != qint64(jpeg.size())) {
    return {};
  }
  return path;
}

QStringList Lines(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  return lines;
}

}  // namespace swelox::test
