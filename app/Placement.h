// Where top-level windows first appear.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace swelox::ui {

// The main window: centred on the screen, but never above or left of its top-left corner.
QPoint CentredOrigin(const QRect& screen, const QSize& window);

// The file chooser: centred across the screen and a third of the free height down.
QPoint ChooserOrigin(const QRect& screen, const QSize& dialog);

}  // namespace swelox::ui

class QByteArray;
class QWidget;
class QString;

namespace swelox::ui {

// The window manager's title bar, which is not known before the first showing: about two lines
// of the window's text.
int EstimatedTitleBar(const QWidget* window);

// A window's client area moved and shrunk as little as possible so that, with a frame of the
// given margins around it, it lies wholly within `available`.
QRect FitWithin(const QRect& client, const QRect& available, int frameSides, int frameTop);

// Restores a geometry kept by saveGeometry, fitted to `available` as FitWithin fits it (but never
// smaller than `least`); false, with the window as it was, when there is none or it cannot be
// fitted (an empty or inverted rectangle).
bool RestoreFittedGeometry(QWidget* window, const QByteArray& stored, const QRect& available,
                           QSize least = QSize());

// A secondary window before its first showing: where it was last (kept under `key` when it
// hides), or `preferred` centred, on its parent's screen; either way wholly on the screen's
// available area, room for the window manager's frame included.
void PlaceSecondaryWindow(QWidget* window, QSize preferred, const QString& key);
void RememberPlace(const QWidget* window, const QString& key);

}  // namespace swelox::ui
