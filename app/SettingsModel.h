// The settings of the runs as the user gives them: one text for each setting of the table
// (analysis/SettingsTable), the fields' texts as typed and the choices (the direction, the
// columns after Pic, the order of the photos, the time settings). The window's controls show
// them, the picture view follows them, and a run takes a copy when it starts. The model is the
// one owner of each setting: the direction label and the program-wide flag follow it.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <vector>

#include "analysis/SettingsTable.h"

namespace swelox::ui {

class SettingsModel : public QObject {
  Q_OBJECT

 public:
  using Field = swelox::Setting;

  explicit SettingsModel(QObject* parent = nullptr);

  const QString& text(Field field) const { return texts_[Index(field)]; }
  // Emits textChanged, the choice's own signal and changed when the text differs from the one
  // held. A choice's text must be one that its row reads (else it raises and nothing changes).
  void setText(Field field, const QString& text);

  bool compareRight() const;
  Direction direction() const { return compareRight() ? Direction::Right : Direction::Below; }
  void setCompareRight(bool compareRight);

  std::vector<Column> columns() const;
  void setColumns(const std::vector<Column>& columns);
  FileOrder order() const;
  void setOrder(FileOrder order);
  bool utc() const;
  void setUtc(bool utc);

  // The settings as a run takes them. A text that stands for no value (a region, a zone or a
  // shift as typed) raises its error; the numbers are read by the run.
  RunSettings ToRunSettings() const;

 Q_SIGNALS:
  void textChanged(swelox::Setting field, const QString& text);
  void directionChanged(bool compareRight);
  void columnsChanged();
  void orderChanged();
  // After any of the above.
  void changed();

 private:
  static size_t Index(Field field) { return static_cast<size_t>(field); }
  // The value a choice's text stands for, read by its row.
  RunSettings Read(Field field) const;
  void SetChoice(Field field, const RunSettings& value);

  std::array<QString, kSettingCount> texts_;
};

}  // namespace swelox::ui
