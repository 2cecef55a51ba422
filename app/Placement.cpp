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
