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
