#include "app/Controls.h"

#include <QMouseEvent>
#include <QPainter>

namespace swelox::ui {

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QLabel::mousePressEvent(event);
  pressed_ = true;
  event->accept();
}

void ClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  // Qt's default would treat the second press as a new press.
  pressed_ = false;
  event->accept();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QLabel::mouseReleaseEvent(event);
  const bool click = pressed_ && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click) Q_EMIT clicked();
}

void FrameShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Button));
  painter.setPen(QPen(Qt::black, 0));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace swelox::ui
