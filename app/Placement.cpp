#include "app/Placement.h"

#include <algorithm>

namespace swelox::ui {

QPoint CentredOrigin(const QRect& screen, const QSize& window) {
  return screen.topLeft() + QPoint(std::max(0, (screen.width() - window.width()) / 2),
                                   std::max(0, (screen.height() - window.height()) / 2));
}

QPoint ChooserOrigin(const QRect& screen, const QSize& dialog) {
  return screen.topLeft() +
         QPoint((screen.width() - dialog.width()) / 2, (screen.height() - dialog.height()) / 3);
}

}  // namespace swelox::ui

#include <sys/stat.h>

#include <QFile>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <cerrno>

namespace swelox::ui {

namespace {

// Where QSettings keeps the user's settings of this program on Unix.
QString SettingsPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/swelox/swelox.conf");
}

// Whether the settings file is a regular file or missing. Anything else is neither read (a FIFO
// would block the start) nor written (QSaveFile renames its new file over what a symbolic link
// points to, even a device): one warning, and the defaults.
bool SettingsFileUsable(const QString& path) {
  struct stat status {};
  if (::lstat(QFile::encodeName(path).constData(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
}

}  // namespace

std::unique_ptr<QSettings> StoredSettings() {
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

int EstimatedTitleBar(const QWidget* window) { return window->fontMetrics().height() * 2 + 8; }

QRect FitWithin(const QRect& client, const QRect& available, int frameSides, int frameTop) {
  const QSize room(std::max(1, available.width() - 2 * frameSides),
                   std::max(1, available.height() - frameTop - frameSides));
  QRect fitted(client.topLeft(), client.size().boundedTo(room));
  const int left = available.left() + frameSides, top = available.top() + frameTop;
  fitted.moveLeft(std::clamp(fitted.left(), left, left + room.width() - fitted.width()));
  fitted.moveTop(std::clamp(fitted.top(), top, top + room.height() - fitted.height()));
  return fitted;
}

namespace {

// `least`: a size the window keeps even where the screen is smaller (the main window's own).
void FitToAvailable(QWidget* window, QRect available, QSize least) {
  const int sides = 4, top = EstimatedTitleBar(window);
  available.setWidth(std::max(available.width(), least.width() + 2 * sides));
  available.setHeight(std::max(available.height(), least.height() + top + sides));
  QRect client = window->geometry();
  client.setSize(client.size().expandedTo(window->minimumSizeHint()));
  window->setGeometry(FitWithin(client, available, sides, top));
}

}  // namespace

bool RestoreFittedGeometry(QWidget* window, const QByteArray& stored, const QRect& available,
                           QSize least) {
  const QRect before = window->geometry();
  if (stored.isEmpty() || !window->restoreGeometry(stored)) return false;
  // An empty or inverted rectangle (a damaged or hand-edited settings file) is no place to fit;
  // one far too large or off the screen is fitted onto it.
  const QRect restored = window->geometry();
  if (!restored.isValid() || restored.width() < 2 || restored.height() < 2) {
    window->setWindowState(Qt::WindowNoState);
    window->setGeometry(before);
    return false;
  }
  if (window->windowState() != Qt::WindowNoState) return true;  // maximized: the system fits it
  FitToAvailable(window, available, least);
  return true;
}

void PlaceSecondaryWindow(QWidget* window, QSize preferred, const QString& key) {
  const QWidget* parent = window->parentWidget();
  const QScreen* screen = parent != nullptr ? parent->screen() : window->screen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  if (!RestoreFittedGeometry(window, StoredSettings()->value(key).toByteArray(), available)) {
    const QSize size = preferred.boundedTo(available.size() * 9 / 10);
    window->setGeometry(QRect(available.center() - QPoint(size.width(), size.height()) / 2, size));
    FitToAvailable(window, available, QSize());
  }
}

void RememberPlace(const QWidget* window, const QString& key) {
  StoredSettings()->setValue(key, window->saveGeometry());
}

}  // namespace swelox::ui
