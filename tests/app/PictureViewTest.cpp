// The Region field and the picture view, driven as a user would: runs on a region, the field's
// errors, the view's figures against the row, the mouse on the outline and the map, zoom and pan,
// stepping through a run, and the worker that decodes without holding up the window.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "analysis/ImageAnalysis.h"
#include "analysis/NoiseMap.h"
#include "analysis/Region.h"
#include "app/ColourScale.h"
#include "app/Controls.h"
#include "app/ElidedLabel.h"
#include "app/Main.h"
#include "app/PictureCanvas.h"
#include "app/PictureView.h"
#include "app/PictureWork.h"
#include "app/SettingsModel.h"
#include "app/SettingsStore.h"
#include "toolkit/QtFixture.h"
#include "toolkit/TestImages.h"

using swelox::test::Example;
using swelox::test::Lines;
using swelox::test::RecordingErrorBox;
using swelox::test::ScriptedFileDialog;
using swelox::ui::PictureView;

class PictureViewTest : public swelox::test::WindowFixture {
  Q_OBJECT

 private:
  static std::string Row(const QString& path, const char* w, const char* h,
                         std::optional<swelox::PixelRegion> region,
                         swelox::Direction d = swelox::Direction::Below) {
    return swelox::AnalyseFileRow(QFile::encodeName(path).toStdString(), {w, h}, d, region);
  }

  // Lets the event loop turn until the view has shown what it was last asked for.
  static bool Settled(PictureView* view) {
    return QTest::qWaitFor([view] { return !view->busy(); }, 20000);
  }

  // The view on the example photo, opened through "Show..." with the chooser.
  PictureView* OpenView(const QString& photo) {
    Script({QStringList{photo}});
    QTest::mouseClick(window_->ShowBtn, Qt::LeftButton);
    PictureView* view = window_->View();
    if (view == nullptr) return nullptr;
    view->resize(900, 500);
    view->show();
    if (!QTest::qWaitForWindowExposed(view) || !Settled(view)) return nullptr;
    return view;
  }

  // A busy photo of the given size, saved at `path`; empty when it could not be.
  static QString MakePhoto(const QString& path, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        const int v = (x * 7 + y * 13 + (x * y) % 97) & 255;
        line[x] = qRgb(v, (v * 3) & 255, 255 - v);
      }
    }
    return image.save(path, "JPEG", 95) ? path : QString();
  }

  static bool DetailShown(swelox::ui::PictureCanvas* canvas) {
    return QTest::qWaitFor([canvas] { return !canvas->detailPending(); }, 20000);
  }

  static void Wheel(QWidget* widget, QPointF at, int notches) {
    QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
  }

  static void Point(QWidget* widget, QPointF at) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
  }

  // A mouse drag on the canvas between two picture points.
  static void Drag(PictureView* view, QPointF from, QPointF to) {
    swelox::ui::PictureCanvas* canvas = view->canvas();
    const QPoint a = canvas->ToView(from).toPoint(), b = canvas->ToView(to).toPoint();
    QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, a);
    QMouseEvent move(QEvent::MouseMove, b, canvas->mapToGlobal(b), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, b);
  }

 private Q_SLOTS:
  void init() { QVERIFY(OpenWindow()); }
  void cleanup() { window_.reset(); }

  void regionFieldSitsBesideTheFrameAndOverlapsNothing() {
    TF& w = *window_;
    QCOMPARE(w.size(), QSize(w.Scaled(767), w.Scaled(520)));
    QVERIFY(w.Region->text().isEmpty());
    QCOMPARE(w.ShowBtn->text(), QStringLiteral("Show..."));
    for (QWidget* added : {static_cast<QWidget*>(w.RegionLbl), static_cast<QWidget*>(w.Region),
                           static_cast<QWidget*>(w.ShowBtn)}) {
      for (QWidget* old : {static_cast<QWidget*>(w.Shape1), static_cast<QWidget*>(w.Label3),
                           static_cast<QWidget*>(w.ProcessBtn), static_cast<QWidget*>(w.Memo1)}) {
        QVERIFY2(!added->geometry().intersects(old->geometry()),
                 qPrintable(added->objectName() + " overlaps"));
      }
    }
  }

  void runsAnalyseTheRegion_data() {
    QTest::addColumn<QString>("region");
    QTest::newRow("none") << QString();
    QTest::newRow("spaces only") << QStringLiteral("  ");
    QTest::newRow("odd offsets") << QStringLiteral("301x97+13+7");
  }
  void runsAnalyseTheRegion() {
    QFETCH(QString, region);
    const QString a = Example("by-the-water.jpg"), b = Example("summer-night-lake.jpg");
    window_->Region->setText(region);
    Script({QStringList{a, b}});
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window_->Running());
    QVERIFY(shown_.empty());
    const auto r = swelox::ParseRegion(region.toStdString());
    const QStringList lines = Lines(window_->Memo1->toPlainText());
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[1].toStdString(), Row(a, "15", "12", r));
    QCOMPARE(lines[2].toStdString(), Row(b, "15", "12", r));
  }

  void regionErrorsReachTheBox_data() {
    QTest::addColumn<QString>("region");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("rows");
    QTest::newRow("malformed") << QStringLiteral("300x200+1")
                               << QStringLiteral("'300x200+1' is not a valid region (WxH+X+Y)")
                               << -1;
    QTest::newRow("zero width") << QStringLiteral("0x5+1+1")
                                << QStringLiteral("'0x5+1+1' is not a valid region (WxH+X+Y)")
                                << -1;
    QTest::newRow("outside the photo")
        << QStringLiteral("100x100+1450+0")
        << QStringLiteral(
               "The region 100x100+1450+0 does not lie inside the picture of 1500 x "
               "230 pixels.")
        << 0;
  }
  void regionErrorsReachTheBox() {
    QFETCH(QString, region);
    QFETCH(QString, message);
    QFETCH(int, rows);
    const QString help = window_->Memo1->toPlainText();
    window_->Region->setText(region);
    Script({QStringList{Example("by-the-water.jpg")}});
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window_->Running());
    QCOMPARE(shown_.size(), size_t(1));
    // A photo's own error names the photo on a second line.
    QCOMPARE(shown_[0].text, rows < 0 ? message : message + "\n" + Example("by-the-water.jpg"));
    if (rows < 0) {
      QCOMPARE(window_->Memo1->toPlainText(), help);  // read before anything else happens
      QCOMPARE(chooser_.calls, 0);
    } else {
      QCOMPARE(Lines(window_->Memo1->toPlainText()).size(), rows + 1);
    }
  }

  void showOpensTheFirstPictureOfTheLastRun() {
    const QString a = Example("darkest-hour-lake.jpg"), b = Example("by-the-water.jpg");
    Script({QStringList{a, b}});
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window_->Running());
    const int asked = chooser_.calls;
    QTest::mouseClick(window_->ShowBtn, Qt::LeftButton);
    QCOMPARE(chooser_.calls, asked);  // no question: the run's first picture
    QVERIFY(window_->View() != nullptr);
    QVERIFY(window_->View()->isVisible());
    QVERIFY(Settled(window_->View()));
    QCOMPARE(window_->View()->map()->width, 2560);
  }

  void viewShowsTheFiguresOfTheRowAndFollowsTheFields() {
    const QString photo = Example("by-the-water.jpg");
    PictureView* view = OpenView(photo);
    QVERIFY(view != nullptr);
    QCOMPARE(chooser_.calls, 1);

    struct Step {
      const char *width, *height, *region;
      bool right;
    };
    for (const Step& s : {Step{"15", "12", "", false}, Step{"40", "9", "", false},
                          Step{"40", "9", "700x150+101+33", false},
                          Step{"7", "31", "700x150+101+33", true}, Step{"3", "3", "", true}}) {
      window_->WidthEdit->setText(QString::fromLatin1(s.width));
      window_->HighEdit->setText(QString::fromLatin1(s.height));
      window_->Region->setText(QString::fromLatin1(s.region));
      if (s.right != CompareRight)
        QTest::mouseClick(window_->HorizontalVerticalLbl, Qt::LeftButton);
      QCOMPARE(CompareRight, s.right);
      QVERIFY(Settled(view));

      const auto region = swelox::ParseRegion(s.region);
      const QStringList row =
          QString::fromStdString(Row(photo, s.width, s.height, region,
                                     s.right ? swelox::Direction::Right : swelox::Direction::Below))
              .split(QLatin1Char('\t'));
      const auto& map = view->map();
      QVERIFY(map != nullptr);
      // The figures shown are the row's.
      QCOMPARE(QString::number(map->figures.meanDiff), row[4]);
      QCOMPARE(QString::number(map->figures.rms), row[5]);
      QCOMPARE(QString::number(map->figures.nDiffs), row[6]);
      QVERIFY(view->figures()->text().startsWith(
          QStringLiteral("meanDiff %1   RMS %2   nDiffs %3").arg(row[4], row[5], row[6])));
      QVERIFY(view->figures()->text().contains(s.right ? QStringLiteral("to the right")
                                                       : QStringLiteral("below")));
      QCOMPARE(view->canvas()->region(), region.value_or(swelox::PixelRegion{0, 0, 1500, 230}));
    }
  }

  void viewReportsBadFieldsWithoutABox() {
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    window_->Region->setText(QStringLiteral("12x"));
    QVERIFY(Settled(view));
    QVERIFY(view->map() == nullptr);
    QCOMPARE(view->status()->text(), QStringLiteral("'12x' is not a valid region (WxH+X+Y)"));
    window_->Region->setText(QStringLiteral("10x10+1495+0"));
    QVERIFY(Settled(view));
    QCOMPARE(view->status()->text(),
             QStringLiteral("The region 10x10+1495+0 does not lie inside the picture of 1500 x "
                            "230 pixels."));
    window_->Region->clear();
    window_->WidthEdit->setText(QStringLiteral("x"));
    QVERIFY(Settled(view));
    QCOMPARE(view->status()->text(), QStringLiteral("'x' is not a valid integer value."));
    window_->WidthEdit->setText(QStringLiteral("15"));
    QVERIFY(Settled(view));
    QVERIFY(view->map() != nullptr);
    QVERIFY(shown_.empty());
  }

  void mouseMovesResizesAndDrawsTheRegion_data() {
    QTest::addColumn<int>("notches");
    QTest::newRow("whole photo") << 0;
    QTest::newRow("zoomed in") << 5;
  }
  void mouseMovesResizesAndDrawsTheRegion() {
    QFETCH(int, notches);
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    window_->Region->setText(QStringLiteral("400x100+300+60"));
    QVERIFY(Settled(view));
    swelox::ui::PictureCanvas* canvas = view->canvas();
    Wheel(canvas, canvas->ToView(QPointF(500, 110)), notches);
    // The canvas shows the photo's pixels at its zoom: a drag moves by whole pixels, near the
    // distance dragged.
    const double pixel = 1 / canvas->zoom();
    auto near = [pixel](int got, int wanted) { return std::abs(got - wanted) <= pixel + 1; };

    Drag(view, QPointF(500, 110), QPointF(530, 125));  // inside: moves
    QVERIFY(Settled(view));
    swelox::PixelRegion r = *swelox::ParseRegion(window_->Region->text().toStdString());
    QCOMPARE(r.width, 400);
    QCOMPARE(r.height, 100);
    QVERIFY2(near(r.x, 330) && near(r.y, 75), qPrintable(window_->Region->text()));
    QCOMPARE(canvas->region(), r);
    QCOMPARE(view->map()->width, 400);

    Drag(view, QPointF(r.x + 400, r.y + 100), QPointF(r.x + 420, r.y + 110));  // corner: resizes
    QVERIFY(Settled(view));
    const swelox::PixelRegion resized = *swelox::ParseRegion(window_->Region->text().toStdString());
    QCOMPARE(resized.x, r.x);
    QCOMPARE(resized.y, r.y);
    QVERIFY2(near(resized.width, 420) && near(resized.height, 110),
             qPrintable(window_->Region->text()));

    canvas->Fit();
    Drag(view, QPointF(1200, 200), QPointF(5000, 5000));  // outside: a new one, kept inside
    QVERIFY(Settled(view));
    r = *swelox::ParseRegion(window_->Region->text().toStdString());
    QVERIFY2(near(r.x, 1200) && near(r.y, 200), qPrintable(window_->Region->text()));
    QCOMPARE(r.x + r.width, 1500);
    QCOMPARE(r.y + r.height, 230);
    QCOMPARE(view->map()->width, r.width);
  }

  // Pointing at a rectangle tells where it is, its difference and the one it was compared with,
  // at any zoom.
  void pointingAtARectangleTellsItsDifferenceAndNeighbour_data() {
    QTest::addColumn<bool>("right");
    QTest::addColumn<int>("notches");
    QTest::newRow("below, whole photo") << false << 0;
    QTest::newRow("right, zoomed in") << true << 7;
  }
  void pointingAtARectangleTellsItsDifferenceAndNeighbour() {
    QFETCH(bool, right);
    QFETCH(int, notches);
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    window_->Region->setText(QStringLiteral("900x200+100+10"));
    window_->WidthEdit->setText(QStringLiteral("60"));
    window_->HighEdit->setText(QStringLiteral("40"));
    if (right) QTest::mouseClick(window_->HorizontalVerticalLbl, Qt::LeftButton);
    QVERIFY(Settled(view));
    const std::shared_ptr<const swelox::NoiseMap> map = view->map();
    QVERIFY(map && map->columns == 14 && map->rows == 4);
    swelox::ui::PictureCanvas* canvas = view->canvas();
    struct Cell {
      int column, row;
    };
    for (const Cell& c : {Cell{3, 2}, Cell{0, 3}, Cell{13, 1}}) {
      // The middle of the rectangle: 1 + column x W past the region's corner.
      const QPointF middle(100 + 1 + c.column * 60 + 30.5, 10 + 1 + c.row * 40 + 20.5);
      if (notches > 0) {
        canvas->Fit();
        Wheel(canvas, canvas->ToView(middle), notches);
      }
      Point(canvas, canvas->ToView(middle));
      const int x = 101 + c.column * 60, y = 11 + c.row * 40;
      const QString where = QStringLiteral("Rectangle 60 x 40 at %1,%2 (column %3, row %4)")
                                .arg(x)
                                .arg(y)
                                .arg(c.column + 1)
                                .arg(c.row + 1);
      const std::optional<int32_t> d = map->DifferenceAt(c.column, c.row);
      if (right && c.column == 0) {
        QVERIFY(!d);
        QCOMPARE(view->status()->text(),
                 where + QStringLiteral(": the first of its row, compared with none before"));
      } else {
        QVERIFY(d);
        QCOMPARE(view->status()->text(),
                 where + QStringLiteral(": difference %1 from the rectangle %2 at %3,%4")
                             .arg(*d)
                             .arg(right ? QStringLiteral("left of it") : QStringLiteral("above it"))
                             .arg(right ? x - 60 : x)
                             .arg(right ? y : y - 40));
      }
    }
  }

  // The map keeps no more values than the screen has pixels: 2 x 2 rectangles over a 2000 x 1500
  // photo are pooled. Zoomed in and panned, the positions in view are laid again in detail and
  // each shows in the colour of its own difference; pointing tells the exact difference at any
  // zoom.
  void theMapKeepsWhatTheScreenShowsAndLaysTheViewInDetail() {
    QTemporaryDir dir;
    const QString photo = MakePhoto(dir.filePath(QStringLiteral("wide.jpg")), 2000, 1500);
    QVERIFY(!photo.isEmpty());
    PictureView* view = OpenView(photo);
    QVERIFY(view != nullptr);
    window_->Region->clear();
    window_->WidthEdit->setText(QStringLiteral("2"));
    window_->HighEdit->setText(QStringLiteral("2"));
    QVERIFY(Settled(view));
    const std::shared_ptr<const swelox::NoiseMap> map = view->map();
    QVERIFY2(map != nullptr, qPrintable(view->status()->text()));
    const QSize screen = view->screen()->size() * view->screen()->devicePixelRatio();
    QVERIFY(map->cells.values.size() <= uint64_t(screen.width()) * uint64_t(screen.height()));
    QVERIFY(map->cells.pool > 1);

    const swelox::NoiseMap exact = swelox::MapNoise(
        swelox::DecodeBrightness(QFile::encodeName(photo).toStdString()), std::nullopt,
        swelox::RectangleSize::Checked(2, 2), swelox::Direction::Below);
    QVERIFY(exact.cells.pool == 1 && map->figures == exact.figures);
    QCOMPARE(map->largest, exact.largest);
    view->opacity()->setValue(100);  // the map alone
    swelox::ui::PictureCanvas* canvas = view->canvas();
    // Lattice position (column, row) has its corner at pixel (1 + 2 column, 1 + 2 row).
    auto middleOf = [](QPoint position) {
      return QPointF(1 + 2 * position.x() + 1.0, 1 + 2 * position.y() + 1.0);
    };
    auto pointedDifference = [&](QPoint position) {
      Point(canvas, canvas->ToView(middleOf(position)));
      const QString text = view->status()->text();
      const std::optional<int32_t> d = exact.DifferenceAt(position.x(), position.y());
      return d ? text.contains(QStringLiteral(": difference %1 from the rectangle above").arg(*d))
               : text.contains(QStringLiteral("compared with none above"));
    };
    for (const QPoint position : {QPoint(350, 200), QPoint(0, 0), QPoint(998, 748)}) {
      QVERIFY2(pointedDifference(position), qPrintable(view->status()->text()));
    }
    // Every rectangle within a few of a point in view, in the colour of its own difference.
    auto coloursAreExact = [&] {
      const QImage shown = canvas->grab().toImage();
      const QPointF at = canvas->ToPicture(QPointF(canvas->width() / 2.0, canvas->height() / 3.0));
      const QPoint centre(int(at.x() - 1) / 2, int(at.y() - 1) / 2);
      int checked = 0;
      for (int dy = -4; dy <= 4; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
          const QPoint position = centre + QPoint(dx, dy);
          const std::optional<int32_t> d = exact.DifferenceAt(position.x(), position.y());
          if (!d) continue;
          const QPoint pixel = canvas->ToView(middleOf(position)).toPoint();
          const QRgb want = swelox::ui::ViridisScale()[size_t(
              swelox::ui::ScaleStep(std::abs(*d), exact.largest))];
          if (shown.pixel(pixel) != want) {
            qWarning("position %d,%d: shown %08x, its difference %d is %08x", position.x(),
                     position.y(), shown.pixel(pixel), *d, want);
            return false;
          }
          ++checked;
        }
      }
      return checked > 40;
    };
    Wheel(canvas, canvas->ToView(middleOf(QPoint(350, 200))), 30);
    QCOMPARE(canvas->zoom(), swelox::ui::PictureCanvas::kMostZoom);
    QVERIFY(DetailShown(canvas));
    QVERIFY(canvas->detail() != nullptr);
    QCOMPARE(canvas->detail()->pool, 1);
    QVERIFY(canvas->detail()->values.size() <= canvas->DevicePixels());
    QVERIFY(coloursAreExact());
    QVERIFY(pointedDifference(QPoint(351, 202)));
    canvas->PanBy(QPointF(-400, -250));
    QVERIFY(DetailShown(canvas));
    QVERIFY(coloursAreExact());
  }

  // The wheel zooms about the pointer: the photo pixel under it stays under it, from the whole
  // photo up to 8 screen pixels per photo pixel, and back.
  void wheelZoomKeepsThePixelUnderThePointer() {
    PictureView* view = OpenView(Example("infinite-sea.jpg"));
    QVERIFY(view != nullptr);
    swelox::ui::PictureCanvas* canvas = view->canvas();
    const double fit = canvas->zoom();
    QCOMPARE(fit, canvas->fitZoom());
    for (const QPointF picture :
         {QPointF(2048.5, 575.5), QPointF(300.25, 1100.75), QPointF(4000.5, 20.5)}) {
      canvas->Fit();
      const QPointF pointer = canvas->ToView(picture);
      double previous = canvas->zoom();
      for (int notches : {1, 3, 5, 8, -2, 10, -30}) {
        Wheel(canvas, pointer, notches);
        const double zoom = canvas->zoom();
        QVERIFY(zoom <= swelox::ui::PictureCanvas::kMostZoom + 1e-9 && zoom >= fit - 1e-9);
        QVERIFY(notches > 0 ? zoom >= previous : zoom <= previous);
        if (zoom > fit) {
          const QPointF under = canvas->ToPicture(pointer);
          QVERIFY2(
              std::abs(under.x() - picture.x()) < 1e-6 && std::abs(under.y() - picture.y()) < 1e-6,
              qPrintable(
                  QStringLiteral("%1,%2 at zoom %3").arg(under.x()).arg(under.y()).arg(zoom)));
        }
        previous = zoom;
      }
      QCOMPARE(canvas->zoom(), fit);  // zoomed out as far as it goes: the whole photo
    }
    // The most zoom is 8 screen pixels per photo pixel.
    Wheel(canvas, canvas->ToView(QPointF(100, 100)), 60);
    QCOMPARE(canvas->zoom(), swelox::ui::PictureCanvas::kMostZoom);
  }

  // Keys: + and - zoom, 0 fits the whole photo, 1 shows one photo pixel per screen pixel; the
  // middle button and Space with the left button pan, and leave the region alone.
  void keysZoomAndTheMouseOrSpacePans() {
    PictureView* view = OpenView(Example("infinite-sea.jpg"));
    QVERIFY(view != nullptr);
    swelox::ui::PictureCanvas* canvas = view->canvas();
    const double fit = canvas->zoom();
    QTest::keyClick(canvas, Qt::Key_Plus);
    QVERIFY(canvas->zoom() > fit);
    const double once = canvas->zoom();
    QTest::keyClick(canvas, Qt::Key_Minus);
    QVERIFY(canvas->zoom() < once);
    QTest::keyClick(canvas, Qt::Key_1);
    QCOMPARE(canvas->zoom(), 1.0);
    QTest::keyClick(canvas, Qt::Key_0);
    QCOMPARE(canvas->zoom(), fit);
    QCOMPARE(canvas->ToView(QPointF(0, 0)).x(), (canvas->width() - 4096 * fit) / 2);

    QTest::keyClick(canvas, Qt::Key_1);
    const QString region = window_->Region->text();
    const QPoint from(400, 200), to(300, 150);
    const QPointF before = canvas->ToPicture(from);
    QTest::mousePress(canvas, Qt::MiddleButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, to, canvas->mapToGlobal(to), Qt::NoButton, Qt::MiddleButton,
                     Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    QTest::mouseRelease(canvas, Qt::MiddleButton, Qt::NoModifier, to);
    // The photo followed the pointer: what was under `from` is under `to` now.
    QCOMPARE(canvas->ToPicture(to), before);

    QTest::keyPress(canvas, Qt::Key_Space);
    const QPointF again = canvas->ToPicture(to);
    QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, to);
    QMouseEvent back(QEvent::MouseMove, from, canvas->mapToGlobal(from), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &back);
    QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, from);
    QTest::keyRelease(canvas, Qt::Key_Space);
    QCOMPARE(canvas->ToPicture(from), again);
    QCOMPARE(window_->Region->text(), region);  // panning is no region drag
  }

  // Page Down and Page Up (and the buttons) walk the run's photos in order; the figures follow.
  // In the run's order: as chosen, or as the run sorted them.
  void steppingWalksTheRunInOrder_data() {
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<int>("order");  // the Order box's entry
    QTest::addColumn<QStringList>("photos");
    const QString a = Example("by-the-water.jpg"), b = Example("evening-glow-lake.jpg"),
                  c = Example("summer-night-lake.jpg");
    QTest::newRow("as chosen") << QStringList{a, b, c} << 0 << QStringList{a, b, c};
    QTest::newRow("by name") << QStringList{c, a, b} << 1 << QStringList{a, b, c};
  }
  void steppingWalksTheRunInOrder() {
    QFETCH(QStringList, chosen);
    QFETCH(int, order);
    QFETCH(QStringList, photos);
    window_->OrderBox->setCurrentIndex(order);
    Script({chosen});
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window_->Running());
    const QStringList rows = Lines(window_->Memo1->toPlainText()).mid(1);
    QCOMPARE(rows.size(), 3);
    QTest::mouseClick(window_->ShowBtn, Qt::LeftButton);
    PictureView* view = window_->View();
    QVERIFY(view != nullptr && QTest::qWaitForWindowExposed(view) && Settled(view));
    QCOMPARE(view->runPhotos(), photos);
    QVERIFY(!view->previousButton()->isEnabled());

    // The view shows the rows' own size, not the one the run left grown in the fields.
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("30"));
    QCOMPARE(view->LatticeSize(), std::make_pair(QStringLiteral("15"), QStringLiteral("12")));
    auto expect = [&](int k) {
      QCOMPARE(view->path(), photos[k]);
      const QStringList row = rows[k].split(QLatin1Char('\t'));
      QCOMPARE(QString::fromStdString(Row(photos[k], "15", "12", std::nullopt)), rows[k]);
      QVERIFY(view->map() != nullptr);
      QVERIFY(view->figures()->text().startsWith(
          QStringLiteral("meanDiff %1   RMS %2   nDiffs %3").arg(row[4], row[5], row[6])));
    };
    expect(0);
    if (QTest::currentTestFailed()) return;
    QTest::keyClick(view->canvas(), Qt::Key_PageDown);
    QVERIFY(Settled(view));
    expect(1);
    QTest::mouseClick(view->nextButton(), Qt::LeftButton);
    QVERIFY(Settled(view));
    expect(2);
    QVERIFY(!view->nextButton()->isEnabled());
    QTest::keyClick(view->canvas(), Qt::Key_PageDown);  // the last: stays
    QVERIFY(Settled(view));
    expect(2);
    QTest::keyClick(view->canvas(), Qt::Key_PageUp);
    QVERIFY(Settled(view));
    expect(1);
    QTest::mouseClick(view->previousButton(), Qt::LeftButton);
    QVERIFY(Settled(view));
    expect(0);
  }

  // Once a photo of the run is shown, the next one is decoded ahead and its map laid: Page Down
  // shows that photo, even once its file is gone, and lays it again for new settings without
  // reading the file.
  void thePhotoPreparedAheadIsTheOneShown() {
    QStringList photos;
    for (const char* name : {"by-the-water.jpg", "infinite-sea.jpg", "summer-night-lake.jpg"}) {
      const QString copy = temp_.filePath(QString::fromLatin1(name));
      QVERIFY(QFile::copy(Example(name), copy));
      photos << copy;
    }
    const QString second = photos[1];
    const QStringList wide =
        QString::fromStdString(Row(second, "15", "12", std::nullopt)).split(QLatin1Char('\t'));
    const QStringList narrow =
        QString::fromStdString(Row(second, "7", "5", std::nullopt)).split(QLatin1Char('\t'));
    PictureView* view = OpenView(photos[0]);
    QVERIFY(view != nullptr);
    view->SetRunPhotos(photos);
    view->Open(photos[0]);
    QVERIFY(Settled(view));
    QTRY_COMPARE_WITH_TIMEOUT(view->preparedPath(), second, 20000);
    QVERIFY(QFile::remove(second));

    QTest::keyClick(view->canvas(), Qt::Key_PageDown);
    QVERIFY(Settled(view));
    QCOMPARE(view->path(), second);
    QVERIFY(view->map() != nullptr);
    QVERIFY(view->figures()->text().startsWith(
        QStringLiteral("meanDiff %1   RMS %2   nDiffs %3").arg(wide[4], wide[5], wide[6])));
    window_->WidthEdit->setText(QStringLiteral("7"));
    window_->HighEdit->setText(QStringLiteral("5"));
    QVERIFY(Settled(view));
    QVERIFY(view->figures()->text().startsWith(
        QStringLiteral("meanDiff %1   RMS %2   nDiffs %3").arg(narrow[4], narrow[5], narrow[6])));
    // Back to the first, which was not kept: decoded again from its file.
    QTest::keyClick(view->canvas(), Qt::Key_PageUp);
    QVERIFY(Settled(view));
    QCOMPARE(view->path(), photos[0]);
    QVERIFY(view->map() != nullptr);
  }

  // With the box ticked, every photo of the run is coloured on one scale, up to the largest
  // difference shown so far; unticked, each on its own. The choice is kept for the next view.
  void oneColourScaleHoldsAcrossPhotos() {
    const QStringList photos{Example("darkest-hour-lake.jpg"), Example("infinite-sea.jpg")};
    PictureView* view = OpenView(photos[0]);
    QVERIFY(view != nullptr);
    view->SetRunPhotos(photos);
    QVERIFY(!view->sharedScale()->isChecked());
    auto largestOf = [&](int k) {
      view->Open(photos[k]);
      if (!Settled(view) || view->map() == nullptr) return -1;
      return int(view->map()->largest);
    };
    const int first = largestOf(0), second = largestOf(1);
    QVERIFY(first > 0 && second > 0 && first != second);
    QCOMPARE(view->canvas()->scaleTop(), second);  // each its own

    view->sharedScale()->setChecked(true);
    QCOMPARE(view->canvas()->scaleTop(), second);  // shared from the photo shown on
    QCOMPARE(largestOf(0), first);
    QCOMPARE(view->canvas()->scaleTop(), std::max(first, second));
    QCOMPARE(largestOf(1), second);
    QCOMPARE(view->canvas()->scaleTop(), std::max(first, second));

    view->Clear();  // a new run: its own scale
    view->SetRunPhotos(photos);
    QCOMPARE(largestOf(0), first);
    QCOMPARE(view->canvas()->scaleTop(), first);

    swelox::ui::SettingsModel settings;
    QVERIFY(PictureView(settings).sharedScale()->isChecked());
    view->sharedScale()->setChecked(false);
    QCOMPARE(largestOf(1), second);
    QCOMPARE(view->canvas()->scaleTop(), second);
    QVERIFY(!PictureView(settings).sharedScale()->isChecked());
  }

  // What goes wrong on the worker reaches the view as the error itself, its kind kept, and shows
  // as the error box would word it.
  void workerErrorsKeepTheirKind() {
    const QString text = temp_.filePath(QStringLiteral("notes.jpg"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a photo") > 0);
    file.close();
    struct Case {
      QString path;
      uint64_t budget;
      swelox::ErrorKind kind;
    };
    const Case cases[] = {
        {text, uint64_t{1} << 30, swelox::ErrorKind::Decode},
        {temp_.filePath(QStringLiteral("missing.jpg")), uint64_t{1} << 30,
         swelox::ErrorKind::InputOutput},
        {Example("by-the-water.jpg"), 1000, swelox::ErrorKind::OutOfMemory},
    };
    for (const Case& c : cases) {
      swelox::ui::PictureWork work(c.budget);
      std::optional<swelox::Error> failed;
      connect(&work, &swelox::ui::PictureWork::photoFailed,
              [&](const QString&, const swelox::Error& e) { failed = e; });
      swelox::ui::MapRequest request;
      request.path = c.path;
      work.Request(request);
      QTRY_VERIFY_WITH_TIMEOUT(failed.has_value(), 20000);
      QCOMPARE(int(failed->kind()), int(c.kind));
    }

    // A region outside the photo: the map's problem, of the decode's kind, as the status line.
    swelox::ui::PictureWork work(uint64_t{1} << 30);
    std::optional<swelox::ui::LaidMap> laid;
    connect(&work, &swelox::ui::PictureWork::mapReady,
            [&](const swelox::ui::LaidMap& l) { laid = l; });
    swelox::ui::MapRequest request;
    request.path = Example("by-the-water.jpg");
    request.size = swelox::RectangleSize::Checked(15, 12);
    request.region = swelox::PixelRegion{0, 0, 90000, 10};
    work.Request(request);
    QTRY_VERIFY_WITH_TIMEOUT(laid.has_value(), 20000);
    QVERIFY(laid->map == nullptr && laid->problem.has_value());
    QCOMPARE(int(laid->problem->kind()), int(swelox::ErrorKind::Decode));

    PictureView* view = OpenView(text);
    QVERIFY(view != nullptr);
    QCOMPARE(view->status()->text(), QStringLiteral("JPEG error #53."));
  }

  // The worker's decode hands its rows to a second thread, which forms the brightness, the
  // colours and the map of the lattice asked for as the rows come: each is what a decode alone
  // and the lattice laid afterwards give, for a colour and a grey photo, pooled or not.
  void theMapLaidAlongTheDecodeIsTheMapOfTheDecodedPhoto() {
    const swelox::test::TempDir dir;
    struct Photo {
      std::string path;
      std::string djpegOptions;
    };
    const Photo photos[] = {
        {swelox::test::EncodeWithCjpeg(
             dir, "colour.jpg", swelox::test::RandomRaster(611, 347, 5, true), "-sample 2x2"),
         ""},
        {swelox::test::EncodeWithCjpeg(dir, "grey.jpg",
                                       swelox::test::RandomRaster(333, 250, 9, true), "", true),
         "-colors 236"},
    };
    struct Lattice {
      int w, h;
      std::optional<swelox::PixelRegion> region;
      swelox::Direction direction;
      QSize overviewLimit;
    };
    const Lattice lattices[] = {
        {15, 12, std::nullopt, swelox::Direction::Below, QSize(1600, 1200)},
        {4, 9, swelox::PixelRegion{17, 5, 301, 203}, swelox::Direction::Right, QSize(1600, 1200)},
        {1, 1, std::nullopt, swelox::Direction::Below, QSize(40, 30)},  // pooled
    };
    for (const Photo& p : photos) {
      const swelox::BrightnessPicture brightness = swelox::DecodeBrightness(p.path);
      const swelox::test::Raster pixels = swelox::test::DecodeWithDjpeg(p.path, p.djpegOptions);
      for (const Lattice& l : lattices) {
        swelox::ui::PictureWork work(uint64_t{1} << 30);
        std::shared_ptr<const swelox::ui::DecodedPhoto> photo;
        std::optional<swelox::ui::LaidMap> laid;
        connect(&work, &swelox::ui::PictureWork::photoReady,
                [&](std::shared_ptr<const swelox::ui::DecodedPhoto> d) { photo = d; });
        connect(&work, &swelox::ui::PictureWork::mapReady,
                [&](const swelox::ui::LaidMap& m) { laid = m; });
        swelox::ui::MapRequest request;
        request.path = QString::fromStdString(p.path);
        request.size = swelox::RectangleSize::Checked(l.w, l.h);
        request.region = l.region;
        request.direction = l.direction;
        request.overviewLimit = l.overviewLimit;
        work.Request(request);
        QTRY_VERIFY_WITH_TIMEOUT(laid.has_value() && photo != nullptr, 20000);
        QVERIFY(laid->map != nullptr);

        QCOMPARE(photo->brightness.width, brightness.width);
        QVERIFY(photo->brightness.values == brightness.values);
        QCOMPARE(photo->colour.size(), QSize(pixels.width, pixels.height));
        int32_t wrong = 0;
        for (int32_t y = 0; y < pixels.height; ++y) {
          const auto* line = reinterpret_cast<const QRgb*>(photo->colour.constScanLine(y));
          for (int32_t x = 0; x < pixels.width; ++x) {
            const uint8_t* rgb = pixels.pixel(x, y);
            wrong += line[x] != qRgb(rgb[0], rgb[1], rgb[2]);
          }
        }
        QCOMPARE(wrong, 0);

        const swelox::NoiseMap exact = swelox::MapNoise(brightness, l.region, *request.size,
                                                        l.direction, {}, request.CellLimit());
        const swelox::NoiseMap& shown = *laid->map;
        QVERIFY(shown.figures == exact.figures);
        QVERIFY(shown.figures.nDiffs > 0);
        QCOMPARE(shown.largest, exact.largest);
        QCOMPARE(shown.cells.pool, exact.cells.pool);
        QVERIFY(shown.cells.values == exact.cells.values);
        if (l.overviewLimit.width() < 100) QVERIFY(shown.cells.pool > 1);
      }
    }
  }

  // Viridis: lightness rises at every step, so that more difference always reads lighter, and the
  // ends are far apart.
  void colourScaleLightnessRises() {
    const auto& scale = swelox::ui::ViridisScale();
    for (size_t k = 1; k < scale.size(); ++k) {
      QVERIFY2(swelox::ui::Lightness(scale[k]) > swelox::ui::Lightness(scale[k - 1]),
               qPrintable(QStringLiteral("step %1").arg(k)));
    }
    QVERIFY(swelox::ui::Lightness(scale.back()) - swelox::ui::Lightness(scale.front()) > 70);
    QCOMPARE(swelox::ui::ScaleStep(0, 100), 0);
    QCOMPARE(swelox::ui::ScaleStep(100, 100), 255);
    QCOMPARE(swelox::ui::ScaleStep(50, 100), 127);
    QCOMPARE(swelox::ui::ScaleStep(7, 0), 0);
  }

  // A header claiming 65500 x 65500 pixels is refused from its header: with the address space
  // limited to a little more than the program already has, any allocation of the picture's size
  // would fail with another message.
  void aPhotoTooLargeIsRefusedBeforeAnyDecode() {
    const QString bomb = swelox::test::SlowPhoto(temp_.path());
    QVERIFY(QFileInfo(bomb).size() < 1024);
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);

    rlimit old{};
    QVERIFY(::getrlimit(RLIMIT_AS, &old) == 0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    QVERIFY(statm.open(QIODevice::ReadOnly));
    const rlim_t pages = statm.readAll().split(' ').front().toULongLong();
    rlimit limited = old;
    limited.rlim_cur = pages * rlim_t(::sysconf(_SC_PAGESIZE)) + (256u << 20);
    QVERIFY(::setrlimit(RLIMIT_AS, &limited) == 0);
    view->Open(bomb);
    const bool settled = Settled(view);
    ::setrlimit(RLIMIT_AS, &old);
    QVERIFY(settled);
    QCOMPARE(view->status()->text(),
             QStringLiteral("The photo is 65500 x 65500 pixels: the view would need 20457.5 MiB "
                            "for it, more than the 2048.0 MiB that a decode may take. It is not "
                            "decoded."));
    QVERIFY(view->map() == nullptr);
    // The fields change, the refusal stays; another photo opens as before.
    window_->WidthEdit->setText(QStringLiteral("1"));
    QVERIFY(Settled(view));
    QVERIFY(view->status()->text().startsWith(QStringLiteral("The photo is 65500 x 65500")));
    view->Open(Example("by-the-water.jpg"));
    QVERIFY(Settled(view));
    QVERIFY(view->map() != nullptr);
  }

  // While a 12-megapixel photo decodes and its lattice is laid, and while it is zoomed into, the
  // window's thread keeps turning: no gap between two ticks of a 5 ms timer is longer than 50 ms
  // of the wall clock. Timed alone (app.PictureView.WindowKeepsTurning), so that no other test
  // takes the processor from it; its own CPU time is printed beside the gaps. A progress bar shows
  // for the long work.
  void decodingNeverHoldsUpTheWindow() {
    if (qEnvironmentVariableIsEmpty("SWELOX_TIMED")) {
      QSKIP("timed on its own, with nothing else running");
    }
    QTemporaryDir dir;
    const QString big = MakePhoto(dir.filePath(QStringLiteral("big.jpg")), 4000, 3000);
    QVERIFY(!big.isEmpty());
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    window_->WidthEdit->setText(QStringLiteral("2"));
    window_->HighEdit->setText(QStringLiteral("2"));
    QVERIFY(Settled(view));

    // The window thread's own CPU time, in milliseconds.
    auto working = [] {
      timespec t{};
      ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
      return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    };
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    double lastWork = working(), longestWork = 0;
    bool progressShown = false;
    QTimer ticker;
    ticker.setInterval(5);
    connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      longest = std::max(longest, now - last);
      last = now;
      const double work = working();
      longestWork = std::max(longestWork, work - lastWork);
      lastWork = work;
      progressShown = progressShown || view->progress()->isVisible();
    });
    clock.start();
    ticker.start();
    view->Open(big);
    // Changes while it decodes: the newest wins.
    QTest::qWait(30);
    window_->WidthEdit->setText(QStringLiteral("3"));
    window_->WidthEdit->setText(QStringLiteral("4"));
    QVERIFY(Settled(view));
    const qint64 settledAfter = clock.elapsed();
    // Zoomed in, the view is laid again in detail; then panned step by step.
    swelox::ui::PictureCanvas* canvas = view->canvas();
    Wheel(canvas, QPointF(200, 150), 6);
    QVERIFY(DetailShown(canvas));
    for (int k = 0; k < 10; ++k) {
      canvas->PanBy(QPointF(-30, -20));
      QTest::qWait(10);
    }
    QVERIFY(DetailShown(canvas));
    QTest::qWait(20);
    ticker.stop();
    qInfo(
        "between ticks in %lld ms: the window's thread worked at most %.1f ms, waited at most "
        "%lld ms",
        clock.elapsed(), longestWork, longest);
    QVERIFY2(longest <= 50, qPrintable(QStringLiteral("a gap of %1 ms").arg(longest)));
    QVERIFY(view->map() != nullptr);
    QCOMPARE(view->map()->columns, (4000 - 2) / 4);
    const QStringList row =
        QString::fromStdString(Row(big, "4", "2", std::nullopt)).split(QLatin1Char('\t'));
    QCOMPARE(QString::number(view->map()->figures.meanDiff), row[4]);
    QCOMPARE(QString::number(view->map()->figures.nDiffs), row[6]);
    // The bar shows 200 ms after the request; the ticker looks every 5 ms.
    if (settledAfter > 300) QVERIFY(progressShown);
  }

  // Whatever the text, the view's lines do not widen it.
  // The map's opacity is kept when the slider is let go or the view hides, not at each value a
  // drag passes; a new view starts from the value kept.
  void opacityIsKeptWhenLetGoOrHidden() {
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    const QString key = QStringLiteral("view/mapOpacity");
    const int before = swelox::ui::SettingsStore().value(key, -1).toInt();
    QSlider* slider = view->opacity();
    slider->setSliderDown(true);
    for (const int value : {10, 20, 30}) slider->setValue(value);
    QCOMPARE(swelox::ui::SettingsStore().value(key, -1).toInt(), before);
    slider->setSliderDown(false);  // released
    QCOMPARE(swelox::ui::SettingsStore().value(key).toInt(), 30);
    slider->setValue(55);  // as the wheel does
    QCOMPARE(swelox::ui::SettingsStore().value(key).toInt(), 30);
    view->hide();
    QCOMPARE(swelox::ui::SettingsStore().value(key).toInt(), 55);
    PictureView again(*window_->Model);
    QCOMPARE(again.opacity()->value(), 55);
  }

  void longTextsAreElided() {
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    const int width = view->width();
    view->status()->setText(QString(400, QLatin1Char('x')));
    view->adjustSize();
    QVERIFY(view->width() <= width);
    QVERIFY(view->status()->shownText().size() < 400);
    QVERIFY(view->status()->shownText().contains(QChar(0x2026)));
  }
};

QTEST_MAIN(PictureViewTest)
#include "PictureViewTest.moc"
