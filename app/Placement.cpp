#include "app/Placement.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "app/SettingsStore.h"

namespace swelox::ui {

QPoint CentredOrigin(const QRect& screen, const QSize& window) {
  return screen.topLeft() + QPoint(std::max(0, (screen.width() - window.width()) / 2),
                                   std::max(0, (screen.height() - window.height()) / 2));
}

QPoint ChooserOrigin(const QRect& screen, const QSize& dialog) {
  return screen.topLeft() +
         QPoint((screen.width() - dialog.width()) / 2, (screen.height() - dialog.height()) / 3);
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
  if (!SettingsStore().RestoreGeometry(window, key, available)) {
    const QSize size = preferred.boundedTo(available.size() * 9 / 10);
    window->setGeometry(QRect(available.center() - QPoint(size.width(), size.height()) / 2, size));
    FitToAvailable(window, available, QSize());
  }
}

void RememberPlace(const QWidget* window, const QString& key) {
  SettingsStore().StoreGeometry(window, key);
}

}  // namespace swelox::ui
