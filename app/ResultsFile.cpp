#include "app/ResultsFile.h"

#include <QStringList>

namespace swelox::ui {

QByteArray ResultsAsTsv(const QString& text) { return text.toUtf8(); }

QByteArray ResultsAsCsv(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  // A final line break ends the last record rather than starting an empty one.
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  QString csv;
  for (const QString& line : lines) {
    const QStringList fields = line.split(QLatin1Char('\t'));
    for (qsizetype k = 0; k < fields.size(); ++k) {
      if (k > 0) csv += QLatin1Char(',');
      QString field = fields[k];
      if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
          field.contains(QLatin1Char('\r'))) {
        field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        field = QLatin1Char('"') + field + QLatin1Char('"');
      }
      csv += field;
    }
    csv += QStringLiteral("\r\n");
  }
  return csv.toUtf8();
}

}  // namespace swelox::ui
