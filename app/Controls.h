// The window's controls of its own kind: a label that reacts to a click, a framed rectangle, and
// a drop-down panel of fields.
#pragma once

#include <QLabel>
#include <QMenu>
#include <QWidget>

namespace swelox::ui {

// A label that emits clicked() when the left button is pressed on it and released while the
// pointer is still over it. The second press of a double click does not count. It takes the
// focus with Tab, and Space or Enter click it then; a dotted outline shows the focus.
class ClickLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ClickLabel(QWidget* parent = nullptr);

 Q_SIGNALS:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

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

// A menu that holds a panel of fields: Tab and Shift+Tab go from field to field, where a menu
// would move between its (here absent) items and leave no field with the focus.
class PanelMenu : public QMenu {
 public:
  using QMenu::QMenu;

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

}  // namespace swelox::ui
