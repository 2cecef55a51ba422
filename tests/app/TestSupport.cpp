#include "tests/app/TestSupport.h"

#include <QDir>

namespace swelox::test {

QString Example(const char* name) {
  return QDir(QStringLiteral(SWELOX_EXAMPLES)).absoluteFilePath(QString::fromUtf8(name));
}

QStringList Lines(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  return lines;
}

}  // namespace swelox::test
