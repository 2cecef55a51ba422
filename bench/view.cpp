// Times the picture view on a 12-megapixel photo: opening it, each zoom and pan step (the change
// and a full repaint of the canvas; with small rectangles, also the laying of the positions in
// view in detail), and each relayout of the lattice (from the changed field to
// the new map painted), beside `djpeg -dct float` decoding the same file in the same run.
//   swelox_view_bench [PHOTO]   (without one, a 4000 x 3000 photo is made for the run)
// Run it with QT_QPA_PLATFORM=offscreen: the canvas paints with the same raster engine as on a
// screen.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "Times.h"
#include "app/PictureView.h"
#include "app/SettingsModel.h"

namespace {

using swelox::ui::PictureCanvas;
using swelox::ui::PictureView;

using swelox::bench::Times;

double Since(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

// Lets the event loop turn while `busy` says so, for two minutes at most.
template <typename Busy>
bool WaitWhile(Busy busy) {
  QElapsedTimer waited;
  waited.start();
  while (busy() && waited.elapsed() < 120000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  }
  return !busy();
}

// Waits for the detail that the canvas asked of the worker, if any.
bool DetailShown(PictureCanvas* canvas) {
  return WaitWhile([canvas] { return canvas->detailPending(); });
}

bool Settle(PictureView* view) {
  return WaitWhile([view] { return view->busy(); });
}

// A sea-like photo: ripples of several lengths and some noise, coded at quality 92.
QString MakePhoto(const QString& dir) {
  QImage image(4000, 3000, QImage::Format_RGB32);
  uint32_t noise = 12345;
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int ripple =
          int(40 * std::sin(x * 0.013 + y * 0.11) + 20 * std::sin(y * 0.37) + int(noise >> 28));
      line[x] = qRgb(std::clamp(30 + ripple, 0, 255), std::clamp(90 + ripple, 0, 255),
                     std::clamp(120 + ripple, 0, 255));
    }
  }
  const QString path = dir + QStringLiteral("/sea-12mp.jpg");
  image.save(path, "JPEG", 92);
  return path;
}

double Djpeg(const QString& photo) {
  Times times;
  for (int k = 0; k < 5; ++k) {
    QElapsedTimer timer;
    timer.start();
    QProcess djpeg;
    djpeg.setStandardOutputFile(QProcess::nullDevice());
    djpeg.start(QStringLiteral("djpeg"), {QStringLiteral("-dct"), QStringLiteral("float"), photo});
    if (!djpeg.waitForFinished(60000) || djpeg.exitCode() != 0) return 0;
    times.Add(Since(timer));
  }
  return times.Median();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const QString photo = argc > 1 ? QString::fromLocal8Bit(argv[1]) : MakePhoto(dir.path());
  const double djpeg = Djpeg(photo);

  swelox::ui::SettingsModel settings;
  using Field = swelox::ui::SettingsModel::Field;
  settings.setText(Field::Width, QStringLiteral("15"));
  settings.setText(Field::Height, QStringLiteral("12"));
  settings.setText(Field::Region, QString());
  PictureView view(settings);
  view.resize(1200, 800);
  view.show();
  QElapsedTimer opening;
  opening.start();
  view.Open(photo);
  if (!Settle(&view) || !view.map()) {
    std::fprintf(stderr, "the view did not open %s\n", qPrintable(photo));
    return 1;
  }
  const double open = Since(opening);
  PictureCanvas* canvas = view.canvas();
  const QSize full = canvas->pictureSize();
  std::printf("photo %d x %d; djpeg -dct float: %.1f ms\n", full.width(), full.height(), djpeg);
  std::printf("%-34s %9s %9s %9s\n", "step", "median", "most", "x djpeg");
  auto row = [&](const char* name, Times& t) {
    const double median = t.Median();
    std::printf("%-34s %7.1f ms %6.1f ms %9.3f\n", name, median, t.Most(),
                djpeg > 0 ? median / djpeg : 0);
  };
  Times opened;
  opened.Add(open);
  row("open (decode and 15 x 12 map)", opened);

  // Zoom: wheel notches in and out about points spread over the photo, each step repainted.
  Times zoom;
  for (int round = 0; round < 4; ++round) {
    canvas->Fit();
    const QPointF at(canvas->width() * (0.2 + 0.2 * round), canvas->height() * (0.3 + 0.1 * round));
    for (int notch : {1, 1, 2, 2, 3, 3, -1, -2, 4, -3, 5, -20}) {
      QElapsedTimer timer;
      timer.start();
      QWheelEvent wheel(at, canvas->mapToGlobal(at), QPoint(), QPoint(0, 120 * notch), Qt::NoButton,
                        Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(canvas, &wheel);
      canvas->repaint();
      zoom.Add(Since(timer));
    }
  }
  row("zoom step (wheel, repaint)", zoom);

  // Pan at three zooms: 40 drags of 37 x 23 points each way.
  for (double scale : {0.0, 1.0, 8.0}) {
    if (scale == 0) {
      canvas->ZoomAbout(QPointF(600, 350), canvas->fitZoom() * 1.3);
    } else {
      canvas->ZoomAbout(QPointF(600, 350), scale);
    }
    Times pan;
    for (int k = 0; k < 40; ++k) {
      QElapsedTimer timer;
      timer.start();
      canvas->PanBy(k % 20 < 10 ? QPointF(37, 23) : QPointF(-37, -23));
      canvas->repaint();
      pan.Add(Since(timer));
    }
    char name[64];
    std::snprintf(name, sizeof name, "pan step at %.2f px per px", canvas->zoom());
    row(name, pan);
  }

  // Where the map keeps its positions pooled (2 x 2 rectangles: about 3 million positions), each
  // zoom or pan step until the positions in view are laid again in detail and painted.
  settings.setText(Field::Width, QStringLiteral("2"));
  settings.setText(Field::Height, QStringLiteral("2"));
  if (!Settle(&view) || !view.map()) return 1;
  std::printf("2 x 2 map: %d x %d positions kept as %d x %d values\n", view.map()->columns,
              view.map()->rows, view.map()->cells.columns, view.map()->cells.rows);
  Times detailZoom;
  for (int round = 0; round < 3; ++round) {
    canvas->Fit();
    DetailShown(canvas);
    const QPointF at(canvas->width() * (0.3 + 0.2 * round), canvas->height() * 0.4);
    for (int notch : {2, 2, 3, 3, -1, 4, -3, 5}) {
      QElapsedTimer timer;
      timer.start();
      QWheelEvent wheel(at, canvas->mapToGlobal(at), QPoint(), QPoint(0, 120 * notch), Qt::NoButton,
                        Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(canvas, &wheel);
      DetailShown(canvas);
      canvas->repaint();
      detailZoom.Add(Since(timer));
    }
  }
  row("zoom step, 2 x 2, laid in detail", detailZoom);
  for (double scale : {1.0, 8.0}) {
    canvas->ZoomAbout(QPointF(600, 350), scale);
    DetailShown(canvas);
    Times pan;
    for (int k = 0; k < 40; ++k) {
      QElapsedTimer timer;
      timer.start();
      canvas->PanBy(k % 20 < 10 ? QPointF(37, 23) : QPointF(-37, -23));
      DetailShown(canvas);
      canvas->repaint();
      pan.Add(Since(timer));
    }
    char name[64];
    std::snprintf(name, sizeof name, "pan step, 2 x 2, at %.0f px per px", canvas->zoom());
    row(name, pan);
  }

  // Relayout: a changed size until its map is painted, at the whole photo.
  canvas->Fit();
  for (const auto& [w, h] :
       {std::pair{"15", "12"}, std::pair{"60", "40"}, std::pair{"3", "3"}, std::pair{"1", "1"}}) {
    Times relayout;
    for (int k = 0; k < 5; ++k) {
      settings.setText(Field::Width, QStringLiteral("7"));  // another size between: each is new
      Settle(&view);
      QElapsedTimer timer;
      timer.start();
      settings.setText(Field::Width, QString::fromLatin1(w));
      settings.setText(Field::Height, QString::fromLatin1(h));
      Settle(&view);
      canvas->repaint();
      relayout.Add(Since(timer));
    }
    char name[64];
    std::snprintf(name, sizeof name, "relayout to %s x %s", w, h);
    row(name, relayout);
  }
  return 0;
}
