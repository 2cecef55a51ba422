#include "app/SettingsModel.h"

#include <utility>

namespace swelox::ui {

SettingsModel::SettingsModel(QObject* parent) : QObject(parent) {
  for (int k = 0; k < kFieldCount; ++k) texts_[k] = DefaultText(static_cast<Field>(k));
}

QString SettingsModel::DefaultText(Field field) {
  switch (field) {
    case Field::Width:
      return QStringLiteral("15");
    case Field::Height:
      return QStringLiteral("12");
    case Field::Loops:
      return QStringLiteral("0");
    case Field::WidthIncrement:
    case Field::HeightIncrement:
      return QStringLiteral("100");
    case Field::Region:
      break;
  }
  return QString();
}

void SettingsModel::setText(Field field, const QString& text) {
  QString& held = texts_[Index(field)];
  if (held == text) return;
  held = text;
  Q_EMIT textChanged(field, text);
  Q_EMIT changed();
}

void SettingsModel::setCompareRight(bool compareRight) {
  if (compareRight_ == compareRight) return;
  compareRight_ = compareRight;
  Q_EMIT directionChanged(compareRight);
  Q_EMIT changed();
}

void SettingsModel::setColumns(std::vector<Column> columns) {
  if (columns_ == columns) return;
  columns_ = std::move(columns);
  Q_EMIT columnsChanged();
  Q_EMIT changed();
}

void SettingsModel::setOrder(FileOrder order) {
  if (order_ == order) return;
  order_ = order;
  Q_EMIT orderChanged();
  Q_EMIT changed();
}

RunSettings SettingsModel::ToRunSettings() const {
  auto std = [this](Field field) { return text(field).toStdString(); };
  RunSettings settings;
  settings.width = std(Field::Width);
  settings.height = std(Field::Height);
  settings.loops = std(Field::Loops);
  settings.widthIncrement = std(Field::WidthIncrement);
  settings.heightIncrement = std(Field::HeightIncrement);
  settings.direction = direction();
  settings.columns = columns_;
  settings.order = order_;
  return settings;
}

}  // namespace swelox::ui
