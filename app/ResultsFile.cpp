#include "app/ResultsFile.h"

#include <QStringList>

#include "analysis/TableFormat.h"

namespace swelox::ui {

QByteArray ResultsAsTsv(const QString& text) { return text.toUtf8(); }

QByteArray ResultsAsCsv(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  // A final line break ends the last record rather than starting an empty one.
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  QByteArray csv;
  for (const QString& line : lines) {
    csv += QByteArray::fromStdString(TableRecord(line.toStdString(), TableFormat::Csv));
  }
  return csv;
}

}  // namespace swelox::ui
