#include "app/SettingsModel.h"

namespace swelox::ui {

SettingsModel::SettingsModel(QObject* parent) : QObject(parent) {
  for (const SettingRow& row : SettingsTable()) {
    texts_[Index(row.setting)] = QString::fromStdString(DefaultText(row));
  }
}

void SettingsModel::setText(Field field, const QString& text) {
  QString& held = texts_[Index(field)];
  if (held == text) return;
  // A choice holds only texts that stand for a value: a wrong one raises and changes nothing.
  if (RowOf(field).kind == SettingText::Choice) {
    RunSettings scratch;
    ReadText(RowOf(field), scratch, text.toStdString());
  }
  held = text;
  Q_EMIT textChanged(field, text);
  if (field == Field::Direction) Q_EMIT directionChanged(compareRight());
  if (field == Field::Columns) Q_EMIT columnsChanged();
  if (field == Field::Order) Q_EMIT orderChanged();
  Q_EMIT changed();
}

RunSettings SettingsModel::Read(Field field) const {
  RunSettings settings;
  ReadText(RowOf(field), settings, text(field).toStdString());
  return settings;
}

void SettingsModel::SetChoice(Field field, const RunSettings& value) {
  setText(field, QString::fromStdString(RowOf(field).text(value)));
}

bool SettingsModel::compareRight() const {
  return Read(Field::Direction).direction == Direction::Right;
}

void SettingsModel::setCompareRight(bool compareRight) {
  RunSettings value;
  value.direction = compareRight ? Direction::Right : Direction::Below;
  SetChoice(Field::Direction, value);
}

std::vector<Column> SettingsModel::columns() const { return Read(Field::Columns).columns; }

void SettingsModel::setColumns(const std::vector<Column>& columns) {
  RunSettings value;
  value.columns = columns;
  SetChoice(Field::Columns, value);
}

FileOrder SettingsModel::order() const { return Read(Field::Order).order; }

void SettingsModel::setOrder(FileOrder order) {
  RunSettings value;
  value.order = order;
  SetChoice(Field::Order, value);
}

bool SettingsModel::utc() const { return Read(Field::Utc).time.utc; }

void SettingsModel::setUtc(bool utc) {
  RunSettings value;
  value.time.utc = utc;
  SetChoice(Field::Utc, value);
}

RunSettings SettingsModel::ToRunSettings() const {
  RunSettings settings;
  for (const SettingRow& row : SettingsTable()) {
    ReadText(row, settings, text(row.setting).toStdString());
  }
  return settings;
}

}  // namespace swelox::ui
