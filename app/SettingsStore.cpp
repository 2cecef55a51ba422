#include "app/SettingsStore.h"

#include <sys/stat.h>

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <cerrno>

#include "app/Placement.h"
#include "app/SettingsModel.h"

namespace swelox::ui {
namespace {

// Where QSettings keeps the user's settings of this program on Unix.
QString SettingsPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/swelox/swelox.conf");
}

// Whether the settings file is a regular file or missing. Anything else is neither read (a FIFO
// would block the start) nor written (QSaveFile renames its new file over what a symbolic link
// points to, even a device).
bool SettingsFileUsable(const QString& path) {
  struct stat status {};
  if (::lstat(QFile::encodeName(path).constData(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

std::unique_ptr<QSettings> OpenSettings() {
  const QString path = SettingsPath();
  if (SettingsFileUsable(path)) {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("swelox"), QStringLiteral("swelox"));
  }
  static QString warned;
  if (warned != path) {
    qWarning("swelox: %s is not a regular file; the settings are the defaults and are not saved.",
             QFile::encodeName(path).constData());
    warned = path;
  }
  // A file of this run's own, which goes with the run.
  static QTemporaryDir scratch;
  return std::make_unique<QSettings>(scratch.filePath(QStringLiteral("swelox.conf")),
                                     QSettings::IniFormat);
}

}  // namespace

SettingsStore::SettingsStore() : settings_(OpenSettings()) {}

SettingsStore::~SettingsStore() = default;

void SettingsStore::RestoreModel(SettingsModel& model) const {
  for (const SettingRow& row : SettingsTable()) {
    const QString key = QString::fromLatin1(row.storedKey);
    if (!settings_->contains(key)) continue;
    try {
      model.setText(row.setting, settings_->value(key).toString());
    } catch (const Error&) {
    }
  }
}

void SettingsStore::StoreModel(const SettingsModel& model,
                               const std::pair<QString, QString>& sizes) {
  for (const SettingRow& row : SettingsTable()) {
    const QString text = row.setting == Setting::Width    ? sizes.first
                         : row.setting == Setting::Height ? sizes.second
                                                          : model.text(row.setting);
    settings_->setValue(QString::fromLatin1(row.storedKey), text);
  }
}

QVariant SettingsStore::value(const QString& key, const QVariant& fallback) const {
  return settings_->value(key, fallback);
}

void SettingsStore::setValue(const QString& key, const QVariant& value) {
  settings_->setValue(key, value);
}

bool SettingsStore::RestoreGeometry(QWidget* window, const QString& key, const QRect& available,
                                    QSize least) const {
  return RestoreFittedGeometry(window, settings_->value(key).toByteArray(), available, least);
}

void SettingsStore::StoreGeometry(const QWidget* window, const QString& key) {
  settings_->setValue(key, window->saveGeometry());
}

}  // namespace swelox::ui
