// The results area's text as a file: tab-separated as shown, or comma-separated values.
#pragma once

#include <QByteArray>
#include <QString>

namespace swelox::ui {

// The text as it stands, in UTF-8.
QByteArray ResultsAsTsv(const QString& text);

// Each line a record, each tab-separated column a field, in UTF-8: a field that holds a comma,
// a double quote or a carriage return is quoted, its double quotes doubled; records end with
// CR LF (RFC 4180).
QByteArray ResultsAsCsv(const QString& text);

}  // namespace swelox::ui
