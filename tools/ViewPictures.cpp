// Pictures of the picture view and the day chart for the docs, and the time each relayout of the
// view takes:  swelox_ViewPictures OUT-DIR REGION WIDTH HEIGHT PHOTO...
// The window runs over the whole photos (twice, the rectangle growing by half); the view opens on
// the first through "Show..." with REGION, zooms in near the region's upper right corner with the
// wheel (six times the whole photo's size), lets the photo show through the map and points at a
// rectangle; OUT-DIR receives window.png, picture-view.png and day-chart.png (and
// .svg). Then width, height, direction and region change in turn, and each relayout's time is
// printed.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>
#include <cstdio>

#include "app/Application.h"
#include "app/Controls.h"
#include "app/DayChart.h"
#include "app/Main.h"
#include "app/PictureView.h"
#include "toolkit/QtFixture.h"

namespace {

using swelox::ui::PictureView;

bool Settled(PictureView* view) {
  return QTest::qWaitFor([view] { return !view->busy(); }, 60000);
}

void Wheel(QWidget* widget, QPointF at, int notches) {
  QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &wheel);
}

}  // namespace

int main(int argc, char** argv) {
  swelox::ui::Application app(argc, argv);
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s OUT-DIR REGION WIDTH HEIGHT PHOTO...\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QStringList photos;
  for (int k = 5; k < argc; ++k) photos << QString::fromLocal8Bit(argv[k]);
  TF window;
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  swelox::test::ScriptedFileDialog::Log log;
  window.OpenDialog1->SetDialog(std::make_unique<swelox::test::ScriptedFileDialog>(
      log, std::deque<std::optional<QStringList>>{photos}));
  window.WidthEdit->setText(QString::fromLocal8Bit(argv[3]));
  window.HighEdit->setText(QString::fromLocal8Bit(argv[4]));
  window.LoopsEdit->setText(QStringLiteral("1"));
  window.WidthIncrementEdit->setText(QStringLiteral("50"));
  window.HeightIncrementEdit->setText(QStringLiteral("50"));
  QTest::mouseClick(window.ProcessBtn, Qt::LeftButton);
  while (window.Running()) QTest::qWait(5);
  window.WidthEdit->setText(QString::fromLocal8Bit(argv[3]));
  window.HighEdit->setText(QString::fromLocal8Bit(argv[4]));
  window.Region->setText(QString::fromLocal8Bit(argv[2]));
  window.grab().save(out + QStringLiteral("/window.png"));

  QElapsedTimer opening;
  opening.start();
  QTest::mouseClick(window.ShowBtn, Qt::LeftButton);
  PictureView* view = window.View();
  if (view == nullptr || !QTest::qWaitForWindowExposed(view) || !Settled(view) || !view->map()) {
    return 1;
  }
  std::printf("opening: %.0f ms\n", double(opening.nsecsElapsed()) / 1e6);
  view->resize(1000, 680);
  QTest::qWait(50);

  // Zoom in about a point near the region's upper right corner, so that its outline still shows,
  // let some of the photo through the map, then point at the rectangle there, as a user would.
  swelox::ui::PictureCanvas* canvas = view->canvas();
  const swelox::PixelRegion& region = canvas->region();
  const QPointF near(region.x + region.width * 0.85, region.y + region.height * 0.3);
  const QPointF at = canvas->ToView(near);
  Wheel(canvas, at, 8);
  view->opacity()->setValue(60);
  QMouseEvent move(QEvent::MouseMove, at, canvas->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(canvas, &move);
  QTest::qWait(100);
  view->grab().save(out + QStringLiteral("/picture-view.png"));

  QTest::mouseClick(window.ChartBtn, Qt::LeftButton);
  swelox::ui::DayChartWindow* chart = window.Chart();
  if (chart == nullptr || !QTest::qWaitForWindowExposed(chart)) return 1;
  chart->resize(900, 480);
  QTest::qWait(50);
  const std::vector<swelox::ui::DayChart::Point>& points = chart->chart()->points();
  if (!points.empty()) {
    const QPointF point = points[points.size() / 2].at;
    QMouseEvent over(QEvent::MouseMove, point, chart->chart()->mapToGlobal(point), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(chart->chart(), &over);
  }
  QTest::qWait(50);
  chart->grab().save(out + QStringLiteral("/day-chart.png"));
  chart->SaveImage(out + QStringLiteral("/day-chart.svg"), QSize(900, 420));

  const QString width = window.WidthEdit->text(), regionText = window.Region->text();
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"width", [&] { window.WidthEdit->setText(width + QStringLiteral("0")); }},
      {"width back", [&] { window.WidthEdit->setText(width); }},
      {"height", [&] { window.HighEdit->setText(QStringLiteral("20")); }},
      {"direction", [&] { QTest::mouseClick(window.HorizontalVerticalLbl, Qt::LeftButton); }},
      {"whole picture", [&] { window.Region->clear(); }},
      {"region", [&] { window.Region->setText(regionText); }},
  };
  for (const auto& [name, change] : changes) {
    QElapsedTimer timer;
    timer.start();
    change();
    if (!Settled(view)) return 1;
    view->repaint();
    std::printf("%s: %.1f ms to the map shown\n", name, double(timer.nsecsElapsed()) / 1e6);
  }
  return 0;
}
