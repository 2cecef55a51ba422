#include "app/ElidedLabel.h"

#include <QPainter>

namespace swelox::ui {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  setMinimumWidth(0);
}

QSize ElidedLabel::sizeHint() const {
  return {fontMetrics().averageCharWidth() * 20, fontMetrics().height() + 2};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, fontMetrics().height() + 2}; }

QString ElidedLabel::shownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QString shown = shownText();
  setToolTip(shown == text() ? QString() : text());
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

}  // namespace swelox::ui
