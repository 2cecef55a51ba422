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

#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace swelox::ui {

std::unique_ptr<QSettings> StoredSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("swelox"), QStringLiteral("swelox"));
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

void PlaceSecondaryWindow(QWidget* window, QSize preferred, const QString& key) {
  const QWidget* parent = window->parentWidget();
  const QScreen* screen = parent != nullptr ? parent->screen() : window->screen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  const int sides = 4, top = EstimatedTitleBar(window);
  if (!window->restoreGeometry(StoredSettings()->value(key).toByteArray())) {
    const QSize size = preferred.boundedTo(available.size() * 9 / 10);
    window->setGeometry(QRect(available.center() - QPoint(size.width(), size.height()) / 2, size));
  }
  QRect client = window->geometry();
  client.setSize(client.size().expandedTo(window->minimumSizeHint()));
  window->setGeometry(FitWithin(client, available, sides, top));
}

void RememberPlace(const QWidget* window, const QString& key) {
  StoredSettings()->setValue(key, window->saveGeometry());
}

}  // namespace swelox::ui
