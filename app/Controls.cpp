#include "app/Controls.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace swelox::ui {

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) { setFocusPolicy(Qt::TabFocus); }

void ClickLabel::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!event->isAutoRepeat()) Q_EMIT clicked();
      event->accept();
      return;
    default:
      QLabel::keyPressEvent(event);
  }
}

void ClickLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  QPainter painter(this);
  painter.setPen(QPen(palette().color(QPalette::WindowText), 0, Qt::DotLine));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

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
