// Pictures of the window and the picture view for the docs, and the time each update of the
// view takes:  swelox_ViewPictures PHOTO OUT-DIR REGION WIDTH HEIGHT
// The view opens on PHOTO through "Show..."; OUT-DIR receives window.png and view.png. Then
// width, height, direction and region change in turn, and each update's time is printed.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cstdio>

#include "app/Application.h"
#include "app/Controls.h"
#include "app/Main.h"
#include "app/PictureView.h"
#include "tests/app/TestSupport.h"

namespace {

// Applies a change and returns the milliseconds until the view has analysed and painted it.
template <typename Change>
double Timed(swelox::ui::PictureView* view, Change change) {
  QElapsedTimer timer;
  timer.start();
  change();
  view->repaint();
  return double(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s PHOTO OUT-DIR REGION WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  const QString photo = QString::fromLocal8Bit(argv[1]), out = QString::fromLocal8Bit(argv[2]);
  TF window;
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  swelox::test::ScriptedFileDialog::Log log;
  window.OpenDialog1->SetDialog(std::make_unique<swelox::test::ScriptedFileDialog>(
      log, std::deque<std::optional<QStringList>>{QStringList{photo}}));
  window.WidthEdit->setText(QString::fromLocal8Bit(argv[4]));
  window.HighEdit->setText(QString::fromLocal8Bit(argv[5]));
  window.Region->setText(QString::fromLocal8Bit(argv[3]));

  QElapsedTimer opening;
  opening.start();
  QTest::mouseClick(window.ShowBtn, Qt::LeftButton);
  swelox::ui::PictureView* view = window.View();
  if (view == nullptr || !view->map()) return 1;
  view->resize(1000, 640);
  if (!QTest::qWaitForWindowExposed(view)) return 1;
  std::printf("opening: %.0f ms\n", double(opening.nsecsElapsed()) / 1e6);

  // Point at a rectangle in the middle of the map, as a user would.
  const swelox::ComparedRectangle& c =
      view->map()->comparisons[view->map()->comparisons.size() / 2];
  const swelox::PixelRegion& shown = view->canvas()->region();
  const QPoint at = view->canvas()->ToView(QPointF(shown.x + c.x + 1, shown.y + c.y + 1)).toPoint();
  QMouseEvent move(QEvent::MouseMove, at, view->canvas()->mapToGlobal(at), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view->canvas(), &move);
  QTest::qWait(200);
  window.grab().save(out + QStringLiteral("/window.png"));
  view->grab().save(out + QStringLiteral("/view.png"));

  const QString width = window.WidthEdit->text(), region = window.Region->text();
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"width", [&] { window.WidthEdit->setText(width + QStringLiteral("0")); }},
      {"width back", [&] { window.WidthEdit->setText(width); }},
      {"height", [&] { window.HighEdit->setText(QStringLiteral("20")); }},
      {"direction", [&] { QTest::mouseClick(window.HorizontalVerticalLbl, Qt::LeftButton); }},
      {"whole picture", [&] { window.Region->clear(); }},
      {"region", [&] { window.Region->setText(region); }},
  };
  for (const auto& [name, change] : changes) {
    const double total = Timed(view, change);
    std::printf("%s: %.1f ms (analysis %.1f ms)\n", name, total, view->lastUpdateMilliseconds());
  }
  return 0;
}
