// A one-line label that never asks for more width than it has: a text too long for it is shown
// with an ellipsis in the middle and whole in its tooltip.
#pragma once

#include <QLabel>

namespace swelox::ui {

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent = nullptr);
  // Room for the ellipsis, and one line's height.
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // The text as shown: whole, or shortened to the label's width.
  QString shownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace swelox::ui
