// Times the picture view on a 12-megapixel photo beside `djpeg -dct float` decoding the same file
// in the same run: opening a photo (from the request to its map shown), Page Down to the next photo
// of a run once the previous one is shown (the view prepares it ahead), and the relayout of the
// lattice to 1 x 1 (from the changed fields to the new map painted); then, unless --quick, each
// zoom and pan step.
//   swelox_view_bench [--quick] [PHOTO]   (without one, a 4000 x 3000 photo is made for the run;
//                                          quick: 1600 x 1200 and fewer rounds)
// Run it with QT_QPA_PLATFORM=offscreen: the canvas paints with the same raster engine as on a
// screen. Open and djpeg are timed in turns, so that a load that comes and goes falls on both.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "SeaPhoto.h"
#include "Times.h"
#include "app/PictureView.h"
#include "app/SettingsModel.h"

namespace {

using swelox::ui::PictureCanvas;
using swelox::ui::PictureView;
using Field = swelox::ui::SettingsModel::Field;

using swelox::bench::SeaJpeg;
using swelox::bench::Times;

double Since(const QElapsedTimer& timer) { return double(timer.nsecsElapsed()) / 1e6; }

// Lets the event loop turn while `busy` says so, for two minutes at most. It sleeps between
// events as the window's loop does (processEvents with a time limit would not: it drops
// WaitForMoreEvents and spins, taking a core from the view's threads); a 5 ms tick wakes it.
template <typename Busy>
bool WaitWhile(Busy busy) {
  QElapsedTimer waited;
  waited.start();
  QTimer tick;
  tick.start(5);
  while (busy() && waited.elapsed() < 120000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return !busy();
}

bool DetailShown(PictureCanvas* canvas) {
  return WaitWhile([canvas] { return canvas->detailPending(); });
}

bool Settle(PictureView* view) {
  return WaitWhile([view] { return view->busy(); });
}

// A sea-like photo: ripples of several lengths and some noise, coded at quality 92.
QString MakePhoto(const QString& dir, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
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
  const QString path = dir + QStringLiteral("/sea.jpg");
  image.save(path, "JPEG", 92);
  return path;
}

// The watch bench's heavy-noise photo: the first its camera sends.
QString MakeNoisyPhoto(const QString& dir, int width, int height) {
  const QString path = dir + QStringLiteral("/noisy.jpg");
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(SeaJpeg(width, height, 1)) < 0) return {};
  return path;
}

// One decode of `photo` by djpeg, in milliseconds; 0 when it failed. `extra` options go first
// (-colors 236 dithers a grey photo to the levels the analysis reads).
double Djpeg(const QString& photo, const QStringList& extra = {}) {
  QElapsedTimer timer;
  timer.start();
  QProcess djpeg;
  djpeg.setStandardOutputFile(QProcess::nullDevice());
  djpeg.start(QStringLiteral("djpeg"),
              extra + QStringList{QStringLiteral("-dct"), QStringLiteral("float"), photo});
  if (!djpeg.waitForFinished(60000) || djpeg.exitCode() != 0) return 0;
  return Since(timer);
}

// The same photo under other names: the view decodes each anew.
QStringList Copies(const QString& photo, const QString& dir, int count) {
  QStringList copies;
  for (int k = 0; k < count; ++k) {
    const QString copy = dir + QStringLiteral("/photo-%1.jpg").arg(k);
    QFile::remove(copy);
    if (!QFile::copy(photo, copy)) return {};
    copies << copy;
  }
  return copies;
}

const char* Verdict(double value, double limit) { return value <= limit ? "ok" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  bool quick = false;
  QString given;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--quick") == 0) {
      quick = true;
    } else {
      given = QString::fromLocal8Bit(argv[k]);
    }
  }
  QTemporaryDir dir;
  const QString photo =
      !given.isEmpty() ? given : MakePhoto(dir.path(), quick ? 1600 : 4000, quick ? 1200 : 3000);
  const int rounds = quick ? 3 : 7;
  const QStringList copies = Copies(photo, dir.path(), quick ? 4 : 8);
  if (copies.isEmpty()) {
    std::fprintf(stderr, "could not copy %s\n", qPrintable(photo));
    return 2;
  }

  swelox::ui::SettingsModel settings;
  settings.setText(Field::Width, QStringLiteral("15"));
  settings.setText(Field::Height, QStringLiteral("12"));
  settings.setText(Field::Region, QString());
  PictureView view(settings);
  view.resize(1200, 800);
  view.show();
  PictureCanvas* canvas = view.canvas();

  // Open against djpeg, in turns; each open is of a photo the view has not decoded last.
  Times djpeg, opened;
  for (int k = 0; k <= rounds; ++k) {
    const double decode = Djpeg(photo);
    if (decode <= 0) {
      std::fprintf(stderr, "djpeg -dct float could not decode %s\n", qPrintable(photo));
      return 2;
    }
    QElapsedTimer timer;
    timer.start();
    view.Open(copies[k % 2]);
    if (!Settle(&view) || !view.map()) {
      std::fprintf(stderr, "the view did not open %s\n", qPrintable(photo));
      return 1;
    }
    canvas->repaint();
    if (k == 0) continue;  // the first of each warms the caches
    djpeg.Add(decode);
    opened.Add(Since(timer));
  }
  const QSize full = canvas->pictureSize();
  const double decode = djpeg.Median();
  std::printf("photo %d x %d; djpeg -dct float: median %.1f ms of %zu\n", full.width(),
              full.height(), decode, djpeg.ms.size());
  std::printf("%-36s %9s %9s %9s  %s\n", "step", "median", "most", "x djpeg", "target");
  auto row = [&](const char* name, Times& t, const char* target) {
    const double median = t.Median();
    std::printf("%-36s %6.1f ms %6.1f ms %9.3f  %s\n", name, median, t.Most(), median / decode,
                target);
  };
  const double openRatio = opened.Median() / decode;
  char target[64];
  std::snprintf(target, sizeof target, "<= 1.5 x djpeg  %s", Verdict(openRatio, 1.5));
  row("open (decode, 15 x 12 map, paint)", opened, target);

  // The heavy-noise grey photo of the watch bench, opened against djpeg on it, plain and dithered
  // to 236 levels as the decoder reads grey photos.
  {
    const QString noisy = MakeNoisyPhoto(dir.path(), quick ? 1600 : 4000, quick ? 1200 : 3000);
    const QStringList noisyCopies = {noisy, dir.path() + QStringLiteral("/noisy-2.jpg")};
    QFile::remove(noisyCopies[1]);
    QFile::copy(noisy, noisyCopies[1]);
    Times plain, dithered, noisyOpened;
    for (int k = 0; k <= rounds; ++k) {
      const double p = Djpeg(noisy), d = Djpeg(noisy, {QStringLiteral("-colors"), "236"});
      QElapsedTimer timer;
      timer.start();
      view.Open(noisyCopies[size_t(k % 2)]);
      if (!Settle(&view) || !view.map()) return 1;
      canvas->repaint();
      if (k == 0) continue;
      plain.Add(p);
      dithered.Add(d);
      noisyOpened.Add(Since(timer));
    }
    const double plainMs = plain.Median(), ditheredMs = dithered.Median();
    const double openMs = noisyOpened.Median();
    std::printf(
        "heavy-noise grey photo: djpeg -dct float %.1f ms, with -colors 236 %.1f ms; open %.1f ms "
        "(%.2f x the dithered decode)\n",
        plainMs, ditheredMs, openMs, openMs / ditheredMs);
  }

  // Page Down through a run: each step once the previous photo is shown and the next prepared.
  view.SetRunPhotos(copies);
  view.Open(copies[0]);
  if (!Settle(&view)) return 1;
  Times paging;
  for (int k = 1; k < copies.size(); ++k) {
    WaitWhile([&] { return view.preparedPath() != copies[k]; });
    QElapsedTimer timer;
    timer.start();
    view.Step(1);
    if (!Settle(&view) || view.path() != copies[k] || !view.map()) return 1;
    canvas->repaint();
    paging.Add(Since(timer));
  }
  std::snprintf(target, sizeof target, "<= 100 ms       %s", Verdict(paging.Median(), 100));
  row("Page Down, next photo prepared", paging, target);

  // Relayout: a changed size until its map is painted, at the whole photo.
  canvas->Fit();
  auto relayout = [&](const char* w, const char* h, const char* name, const char* aim) {
    Times t;
    for (int k = 0; k < (quick ? 2 : 5); ++k) {
      settings.setText(Field::Width, QStringLiteral("7"));  // another size between: each is new
      settings.setText(Field::Height, QStringLiteral("7"));
      Settle(&view);
      QElapsedTimer timer;
      timer.start();
      settings.setText(Field::Width, QString::fromLatin1(w));
      settings.setText(Field::Height, QString::fromLatin1(h));
      Settle(&view);
      canvas->repaint();
      t.Add(Since(timer));
    }
    row(name, t, aim);
    return t.Median() / decode;
  };
  const double oneByOne = relayout("1", "1", "relayout to 1 x 1", "");
  std::printf("  (relayout to 1 x 1 <= 2 x djpeg: %s)\n", Verdict(oneByOne, 2.0));
  if (quick) return 0;
  relayout("15", "12", "relayout to 15 x 12", "");
  relayout("3", "3", "relayout to 3 x 3", "");

  // Zoom: wheel notches in and out about points spread over the photo, each step repainted.
  settings.setText(Field::Width, QStringLiteral("15"));
  settings.setText(Field::Height, QStringLiteral("12"));
  Settle(&view);
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
  row("zoom step (wheel, repaint)", zoom, "");

  // Pan at three zooms: 40 drags of 37 x 23 points each way.
  for (double scale : {0.0, 1.0, 8.0}) {
    canvas->ZoomAbout(QPointF(600, 350), scale == 0 ? canvas->fitZoom() * 1.3 : scale);
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
    row(name, pan, "");
  }

  // Where the map keeps its positions pooled (2 x 2 rectangles), each zoom step until the
  // positions in view are laid again in detail and painted.
  settings.setText(Field::Width, QStringLiteral("2"));
  settings.setText(Field::Height, QStringLiteral("2"));
  if (!Settle(&view) || !view.map()) return 1;
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
  row("zoom step, 2 x 2, laid in detail", detailZoom, "");
  return 0;
}
