// The settings of the runs as the user gives them: the texts of the size, repeat and increment
// fields, the region and the direction. The window's fields show them, the picture view follows
// them, and a run takes a copy when it starts.
#pragma once

#include <QObject>
#include <QString>
#include <array>

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

  // The texts and the direction as a run takes them; the region is left to the caller, which
  // reads it when the run starts.
  RunSettings ToRunSettings() const;

  // The texts that a first start shows.
  static QString DefaultText(Field field);

 Q_SIGNALS:
  void textChanged(swelox::ui::SettingsModel::Field field, const QString& text);
  void directionChanged(bool compareRight);
  // After any of the above.
  void changed();

 private:
  static int Index(Field field) { return static_cast<int>(field); }

  std::array<QString, kFieldCount> texts_;
  bool compareRight_ = false;
};

}  // namespace swelox::ui
