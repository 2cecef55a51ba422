// The window's two controls of its own kind: a label that reacts to a click, and a framed
// rectangle.
#pragma once

#include <QLabel>
#include <QWidget>

namespace swelox::ui {

// A label that emits clicked() when the left button is pressed on it and released while the
// pointer is still over it. The second press of a double click does not count.
class ClickLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 Q_SIGNALS:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

// A rectangle with a 1-pixel solid black outline, filled with the button-face colour.
class FrameShape : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace swelox::ui
