// What the window keeps between starts, in the user's configuration folder
// (~/.config/swelox/swelox.conf, or under $XDG_CONFIG_HOME): the settings of the table under
// their stored keys, and what each window remembers of its own (places, the map's opacity).
// One store is opened for each use, never per change of a control.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QVariant>
#include <memory>
#include <utility>

class QSettings;
class QWidget;

namespace swelox::ui {

class SettingsModel;

class SettingsStore {
 public:
  // A settings file that is no regular file is neither read nor written: one warning, and the
  // defaults for this run of the program.
  SettingsStore();
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Each setting that is stored; a stored choice that stands for none (edited by hand) leaves
  // the model's.
  void RestoreModel(SettingsModel& model) const;
  // Each setting, with `sizes` (width, height) in place of the model's.
  void StoreModel(const SettingsModel& model, const std::pair<QString, QString>& sizes);

  QVariant value(const QString& key, const QVariant& fallback = QVariant()) const;
  void setValue(const QString& key, const QVariant& value);

  // A window's geometry kept under `key`, fitted to `available` (never smaller than `least`);
  // false, with the window as it was, when there is none that fits.
  bool RestoreGeometry(QWidget* window, const QString& key, const QRect& available,
                       QSize least = QSize()) const;
  void StoreGeometry(const QWidget* window, const QString& key);

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace swelox::ui
