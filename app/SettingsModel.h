// The settings of the runs as the user gives them: the texts of the size, repeat and increment
// fields, the region, the direction, the columns after Pic and the order of the photos. The
// window's fields show them, the picture view follows them, and a run takes a copy when it starts.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <vector>

#include "analysis/Settings.h"

namespace swelox::ui {

class SettingsModel : public QObject {
  Q_OBJECT

 public:
  enum class Field { Width, Height, Loops, WidthIncrement, HeightIncrement, Region };
  static constexpr int kFieldCount = 6;

  explicit SettingsModel(QObject* parent = nullptr);

  const QString& text(Field field) const { return texts_[Index(field)]; }
  // Emits textChanged and changed when the text differs from the one held.
  void setText(Field field, const QString& text);

  bool compareRight() const { return compareRight_; }
  Direction direction() const { return compareRight_ ? Direction::Right : Direction::Below; }
  // Emits directionChanged and changed when the direction differs from the one held.
  void setCompareRight(bool compareRight);

  const std::vector<Column>& columns() const { return columns_; }
  // Emits columnsChanged and changed when the columns differ from those held.
  void setColumns(std::vector<Column> columns);
  FileOrder order() const { return order_; }
  // Emits orderChanged and changed when the order differs from the one held.
  void setOrder(FileOrder order);

  // The texts, the direction, the columns and the order as a run takes them; the region is left to
  // the caller, which reads it when the run starts.
  RunSettings ToRunSettings() const;

  // The texts that a first start shows.
  static QString DefaultText(Field field);

 Q_SIGNALS:
  void textChanged(swelox::ui::SettingsModel::Field field, const QString& text);
  void directionChanged(bool compareRight);
  void columnsChanged();
  void orderChanged();
  // After any of the above.
  void changed();

 private:
  static int Index(Field field) { return static_cast<int>(field); }

  std::array<QString, kFieldCount> texts_;
  bool compareRight_ = false;
  std::vector<Column> columns_;
  FileOrder order_ = FileOrder::AsGiven;
};

}  // namespace swelox::ui
