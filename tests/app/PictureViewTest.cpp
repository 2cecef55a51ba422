// The Region field and the picture view, driven as a user would: runs on a region, the field's
// errors, the view's figures against the row, and the mouse on the outline and the map.
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "analysis/ImageAnalysis.h"
#include "analysis/Region.h"
#include "app/Controls.h"
#include "app/Main.h"
#include "app/PictureView.h"
#include "toolkit/QtFixture.h"

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

  // The view on the example photo, opened through "Show..." with the chooser.
  PictureView* OpenView(const QString& photo) {
    Script({QStringList{photo}});
    QTest::mouseClick(window_->ShowBtn, Qt::LeftButton);
    PictureView* view = window_->View();
    if (view == nullptr) return nullptr;
    view->resize(900, 500);
    view->show();
    if (!QTest::qWaitForWindowExposed(view)) return nullptr;
    return view;
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

      const auto region = swelox::ParseRegion(s.region);
      const QStringList row =
          QString::fromStdString(Row(photo, s.width, s.height, region,
                                     s.right ? swelox::Direction::Right : swelox::Direction::Below))
              .split(QLatin1Char('\t'));
      const auto& map = view->map();
      QVERIFY(map.has_value());
      // The figures shown are the row's; the map holds exactly the row's comparisons.
      QCOMPARE(QString::number(map->figures.meanDiff), row[4]);
      QCOMPARE(QString::number(map->figures.rms), row[5]);
      QCOMPARE(QString::number(map->figures.nDiffs), row[6]);
      QCOMPARE(qsizetype(map->comparisons.size()), row[6].toLongLong());
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
    QVERIFY(!view->map().has_value());
    QCOMPARE(view->status()->text(), QStringLiteral("'12x' is not a valid region (WxH+X+Y)"));
    window_->Region->setText(QStringLiteral("10x10+1495+0"));
    QCOMPARE(view->status()->text(),
             QStringLiteral("The region 10x10+1495+0 does not lie inside the picture of 1500 x "
                            "230 pixels."));
    window_->Region->clear();
    window_->WidthEdit->setText(QStringLiteral("x"));
    QCOMPARE(view->status()->text(), QStringLiteral("'x' is not a valid integer value."));
    window_->WidthEdit->setText(QStringLiteral("15"));
    QVERIFY(view->map().has_value());
    QVERIFY(shown_.empty());
  }

  void mouseMovesResizesAndDrawsTheRegion() {
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    window_->Region->setText(QStringLiteral("400x100+300+60"));
    // The canvas shows 1500 pixels in fewer points: a drag moves by whole pixels, near the
    // distance dragged.
    const double pixel =
        1 / (view->canvas()->ToView(QPointF(1, 0)).x() - view->canvas()->ToView(QPointF(0, 0)).x());
    auto near = [pixel](int got, int wanted) { return std::abs(got - wanted) <= pixel + 1; };

    Drag(view, QPointF(500, 110), QPointF(700, 140));  // inside: moves
    swelox::PixelRegion r = *swelox::ParseRegion(window_->Region->text().toStdString());
    QCOMPARE(r.width, 400);
    QCOMPARE(r.height, 100);
    QVERIFY2(near(r.x, 500) && near(r.y, 90), qPrintable(window_->Region->text()));
    QCOMPARE(view->canvas()->region(), r);
    QCOMPARE(view->map()->width, 400);

    Drag(view, QPointF(r.x + 400, r.y + 100), QPointF(r.x + 600, r.y + 120));  // corner: resizes
    const swelox::PixelRegion resized = *swelox::ParseRegion(window_->Region->text().toStdString());
    QCOMPARE(resized.x, r.x);
    QCOMPARE(resized.y, r.y);
    QVERIFY2(near(resized.width, 600) && near(resized.height, 120),
             qPrintable(window_->Region->text()));

    Drag(view, QPointF(1200, 200), QPointF(5000, 5000));  // outside: a new one, kept inside
    r = *swelox::ParseRegion(window_->Region->text().toStdString());
    QVERIFY2(near(r.x, 1200) && near(r.y, 200), qPrintable(window_->Region->text()));
    QCOMPARE(r.x + r.width, 1500);
    QCOMPARE(r.y + r.height, 230);
    QCOMPARE(view->map()->width, r.width);
  }

  void pointingAtARectangleShowsItsDifference() {
    PictureView* view = OpenView(Example("by-the-water.jpg"));
    QVERIFY(view != nullptr);
    window_->WidthEdit->setText(QStringLiteral("60"));
    window_->HighEdit->setText(QStringLiteral("40"));
    const auto& map = view->map();
    QVERIFY(map && map->comparisons.size() > 3);
    swelox::ui::PictureCanvas* canvas = view->canvas();
    for (size_t k : {size_t(0), map->comparisons.size() / 2, map->comparisons.size() - 1}) {
      const swelox::ComparedRectangle& c = map->comparisons[k];
      const QPoint at = canvas->ToView(QPointF(c.x + 30.5, c.y + 20.5)).toPoint();
      QMouseEvent move(QEvent::MouseMove, at, canvas->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                       Qt::NoModifier);
      QApplication::sendEvent(canvas, &move);
      QCOMPARE(view->status()->text(), QStringLiteral("difference %1").arg(c.difference));
    }
  }
};

QTEST_MAIN(PictureViewTest)
#include "PictureViewTest.moc"
