// The day chart: the rows read back, their points in value and order, the axis of capture times or
// of the run's order, a click that opens the picture view on the photo and size of its row, and
// the chart saved as PNG and SVG.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QtTest>

#include "app/DayChart.h"
#include "app/ElidedLabel.h"
#include "app/Main.h"
#include "app/PictureView.h"
#include "app/RunTable.h"
#include "app/SettingsModel.h"
#include "toolkit/QtFixture.h"

using swelox::test::Example;
using swelox::test::Lines;
using swelox::ui::DayChart;
using swelox::ui::PhotoResult;

class DayChartTest : public swelox::test::WindowFixture {
  Q_OBJECT

 private:
  static std::vector<PhotoResult> Results(const QStringList& times) {
    std::vector<PhotoResult> results;
    for (int k = 0; k < times.size(); ++k) {
      PhotoResult r;
      r.name = QStringLiteral("p%1.jpg").arg(k);
      r.path = QStringLiteral("/photos/") + r.name;
      r.rectangleWidth = 15;
      r.rectangleHeight = 12;
      r.meanDiff = 10 + k * 7 % 5;
      r.rms = 20 + k;
      r.nDiffs = 40;
      r.time = swelox::ui::ParseCaptureTime(times[k]);
      r.order = k;
      r.quality = swelox::Quality::Ok;
      results.push_back(r);
    }
    return results;
  }

 private Q_SLOTS:
  void init() { QVERIFY(OpenWindow()); }
  void cleanup() { window_.reset(); }

  // The capture times as the records carry them, and as the Time column writes them.
  void captureTimesAreRead() {
    QVERIFY(!swelox::ui::ParseCaptureTime(QStringLiteral("   ")));
    QVERIFY(!swelox::ui::ParseCaptureTime(QStringLiteral("yesterday")));
    QCOMPARE(swelox::ui::ParseCaptureTime(QStringLiteral("2026-06-14 23:59:59"))->time(),
             QTime(23, 59, 59));
    QCOMPARE(swelox::ui::ParseCaptureTime(QStringLiteral("2026-07-14T09:31:07.25+01:00"))
                 ->toString(Qt::ISODate),
             QStringLiteral("2026-07-14T09:31:07Z"));
  }

  // Skipping a failing a/IMG_1.jpg, the good b/IMG_1.jpg keeps its own path: the chart places,
  // names and opens b's photo, not the one of the same name that failed.
  void aRowKeepsItsOwnPhotoWhenANamesakeFails() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("a")) &&
            QDir(dir.path()).mkpath(QStringLiteral("b")));
    const QString a = dir.filePath(QStringLiteral("a/IMG_1.jpg"));
    const QString b = dir.filePath(QStringLiteral("b/IMG_1.jpg"));
    QFile broken(a);
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a photo") > 0);
    broken.close();
    QVERIFY(QFile::copy(Example("by-the-water.jpg"), b));
    TF& window = *window_;
    window.SkipBox->setChecked(true);
    window.LoopsEdit->setText(QStringLiteral("1"));
    Script({QStringList{a, b}});
    QTest::mouseClick(window.ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 20000);
    shown_.clear();  // the list of the failure
    QTest::mouseClick(window.ChartBtn, Qt::LeftButton);
    QVERIFY(QTest::qWaitForWindowExposed(window.Chart()));
    DayChart* chart = window.Chart()->chart();
    chart->repaint();
    QCOMPARE(chart->results().size(), size_t(2));
    for (const PhotoResult& r : chart->results()) {
      QCOMPARE(r.path, b);
      QCOMPARE(r.order, 1);
    }
    QCOMPARE(chart->results()[1].run, 1);
    QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, chart->points()[0].at.toPoint());
    QVERIFY(window.View() != nullptr);
    QCOMPARE(window.View()->path(), b);
  }

  // Two mornings: the line of a series stops at the night and goes on the next morning, and the
  // highest point with its ring keeps clear of the frame.
  void aLineDoesNotCrossTheNight() {
    DayChart chart;
    chart.resize(900, 420);
    std::vector<PhotoResult> results =
        Results({QStringLiteral("2026:06:14 08:00:00"), QStringLiteral("2026:06:14 08:10:00"),
                 QStringLiteral("2026:06:14 08:20:00"), QStringLiteral("2026:06:15 08:00:00"),
                 QStringLiteral("2026:06:15 08:10:00"), QStringLiteral("2026:06:15 08:20:00")});
    for (PhotoResult& r : results) r.meanDiff = 50;
    results[1].meanDiff = 100;  // the highest, on a whole step of the axis
    results[1].quality = swelox::Quality::Damaged;
    chart.SetResults(results);
    const QImage image = chart.grab().toImage();
    const auto& p = chart.points();
    QCOMPARE(p.size(), size_t(6));
    auto coloured = [&](QPointF at) {
      for (int dy = -2; dy <= 2; ++dy) {
        const QColor c = image.pixelColor(int(at.x()), int(at.y()) + dy);
        if (c.saturation() > 100) return true;
      }
      return false;
    };
    QVERIFY(coloured((p[4].at + p[5].at) / 2));   // ten minutes apart: joined
    QVERIFY(!coloured((p[2].at + p[3].at) / 2));  // the night: not joined
    // Above the highest point's ring (radius 6) the frame is still some way off.
    const int x = int(p[1].at.x());
    for (int y = int(p[1].at.y()) - 8; y > int(p[1].at.y()) - 14; --y) {
      QVERIFY2(image.pixelColor(x, y).lightness() > 150, qPrintable(QString::number(y)));
    }
  }

  // A watch's day: thousands of points, each drawn where points() says (the dots are stamped
  // from one image above a few hundred), on the widget and in a PNG; the newest in an orange
  // ring only when asked for, and a saved SVG still draws every point as an ellipse.
  void aWatchsThousandsOfPointsAreDrawnWhereTheyAreAndTheNewestRinged() {
    QStringList times;
    for (int k = 0; k < 2000; ++k) {
      times << QDateTime(QDate(2026, 6, 14), QTime(6, 0))
                   .addSecs(k * 20)
                   .toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    }
    std::vector<PhotoResult> results = Results(times);
    for (size_t k = 0; k < results.size(); ++k) results[k].meanDiff = 30 + long(k % 40);
    DayChart chart;
    chart.resize(900, 420);
    chart.SetResults(results);
    const auto colouredNear = [](const QImage& image, QPointF at, auto isColour) {
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          if (isColour(image.pixelColor(int(at.x()) + dx, int(at.y()) + dy))) return true;
        }
      }
      return false;
    };
    const auto blue = [](QColor c) { return c.blue() > 120 && c.red() < 90; };
    const auto orange = [](QColor c) { return c.red() > 200 && c.green() > 90 && c.blue() < 60; };
    QImage image = chart.grab().toImage();
    QCOMPARE(chart.points().size(), size_t(2000));
    // The dot covers its point on every side, where the line through it cannot on all four.
    for (size_t k = 0; k < 2000; k += 97) {
      const QPointF at = chart.points()[k].at;
      for (const QPointF side : {QPointF(2, 0), QPointF(-2, 0), QPointF(0, 2), QPointF(0, -2)}) {
        QVERIFY2(blue(image.pixelColor((at + side).toPoint())), qPrintable(QString::number(k)));
      }
    }
    const QPointF newest = chart.points().back().at;
    QVERIFY(!colouredNear(image, newest + QPointF(8, 0), orange));
    chart.SetNewestMarked(true);
    image = chart.grab().toImage();
    QVERIFY(colouredNear(image, newest + QPointF(8, 0), orange));

    QTemporaryDir dir;
    const QString svg = dir.filePath(QStringLiteral("day.svg"));
    swelox::ui::DayChartWindow window;
    window.chart()->SetResults(results);
    QVERIFY(window.SaveImage(svg));
    QFile file(svg);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("<image"));  // vector ellipses, no stamped pictures
  }

  // A new run empties the chart and the picture view of the last run before its first row.
  void aNewRunClearsTheChartAndTheView() {
    TF& window = *window_;
    Script({QStringList{Example("by-the-water.jpg")}});
    QTest::mouseClick(window.ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window.Running());
    QTest::mouseClick(window.ChartBtn, Qt::LeftButton);
    QVERIFY(QTest::qWaitForWindowExposed(window.Chart()));
    window.ShowBtnClick();
    QVERIFY(!window.Chart()->chart()->results().empty());
    QCOMPARE(window.View()->path(), Example("by-the-water.jpg"));
    Script({QStringList{swelox::test::SlowPhoto(temp_.path())}});
    QTest::mouseClick(window.ProcessBtn, Qt::LeftButton);
    QVERIFY(window.Running());
    QVERIFY(window.Chart()->chart()->results().empty());
    QVERIFY(window.View()->path().isEmpty());
    QVERIFY(window.View()->map() == nullptr);
    QVERIFY(window.View()->runPhotos().isEmpty());
    window.StopRun();
    QTRY_VERIFY_WITH_TIMEOUT(!window.Running(), 20000);
  }

  // The date under the axis is the photos' own: a night's photos from 00:00 on 14 July are of
  // 14 July, although the margin before the first reaches back into 13 July, and their ticks are
  // times alone; photos on both sides of midnight put the date on every tick, and the title names
  // the first day and the last.
  void theAxisNamesThePhotosDay() {
    QTemporaryDir dir;
    auto svgText = [&](const QStringList& times) {
      swelox::ui::DayChartWindow window;
      window.chart()->SetResults(Results(times));
      const QString path = dir.filePath(QStringLiteral("chart.svg"));
      if (!window.SaveImage(path)) return QString();
      QFile file(path);
      return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    QStringList night;
    for (int minutes = 0; minutes <= 291; minutes += 3) {
      night << QStringLiteral("2026:07:14 %1:%2:00")
                   .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                   .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    }
    const QString one = svgText(night);
    QVERIFY(one.contains(QStringLiteral("Capture time (14 Jul 2026)")));
    QCOMPARE(one.count(QStringLiteral(" Jul")), 1);  // the title's alone
    const QString two =
        svgText({QStringLiteral("2026:07:13 23:10:00"), QStringLiteral("2026:07:14 00:50:00")});
    QVERIFY(two.contains(QStringLiteral("Capture time (13 Jul 2026 to 14 Jul 2026)")));
    QVERIFY(two.count(QStringLiteral(" Jul")) > 2);
  }

  // With every capture time the x axis is time: a photo taken earlier stands further left
  // whatever its place in the run. One photo without a time puts them all in the run's order,
  // and the axis says so.
  void theAxisIsTimeOnlyWhenEveryPhotoHasOne() {
    DayChart chart;
    chart.resize(800, 400);
    chart.SetResults(
        Results({QStringLiteral("2026:06:14 10:00:00"), QStringLiteral("2026:06:14 08:00:00"),
                 QStringLiteral("2026:06:14 12:30:00")}));
    QVERIFY(chart.timeAxis());
    QCOMPARE(chart.xAxisTitle(), QStringLiteral("Capture time"));
    QVERIFY(chart.grab().width() > 0);  // paints, and places the points
    const auto& p = chart.points();
    QCOMPARE(p.size(), size_t(3));
    QVERIFY(p[1].at.x() < p[0].at.x() && p[0].at.x() < p[2].at.x());
    // Two hours and two and a half hours apart: the distances keep the proportion.
    QVERIFY(std::abs((p[0].at.x() - p[1].at.x()) / (p[2].at.x() - p[0].at.x()) - 2 / 2.5) < 0.01);

    chart.SetResults(Results(
        {QStringLiteral("2026:06:14 10:00:00"), QString(), QStringLiteral("2026:06:14 08:00:00")}));
    QVERIFY(!chart.timeAxis());
    QVERIFY(chart.xAxisTitle().contains(QStringLiteral("order")));
    chart.grab();
    QVERIFY(chart.points()[0].at.x() < chart.points()[1].at.x() &&
            chart.points()[1].at.x() < chart.points()[2].at.x());
  }

  // A run's photos with EXIF capture times (written by exiftool): the chart takes them from the
  // photos, and stands each point at its time, whatever the photo's place in the run.
  void captureTimesComeFromThePhotos() {
    QTemporaryDir dir;
    const struct {
      const char* example;
      const char* time;
    } photos[] = {{"by-the-water.jpg", "2026:06:14 11:00:00"},
                  {"evening-glow-lake.jpg", "2026:06:14 07:30:00"},
                  {"summer-night-lake.jpg", "2026:06:14 09:45:30"}};
    QStringList paths;
    for (const auto& p : photos) {
      const QString path = dir.filePath(QString::fromLatin1(p.example));
      QVERIFY(QFile::copy(Example(p.example), path));
      QProcess exiftool;
      exiftool.start(QStringLiteral("exiftool"),
                     {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                      QStringLiteral("-DateTimeOriginal=") + QLatin1String(p.time), path});
      QVERIFY(exiftool.waitForFinished(30000) && exiftool.exitCode() == 0);
      paths << path;
    }
    TF& window = *window_;
    Script({paths});
    QTest::mouseClick(window.ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window.Running());
    QTest::mouseClick(window.ChartBtn, Qt::LeftButton);
    QVERIFY(QTest::qWaitForWindowExposed(window.Chart()));
    DayChart* chart = window.Chart()->chart();
    chart->repaint();
    QVERIFY(chart->timeAxis());
    QCOMPARE(chart->results()[1].time->time(), QTime(7, 30));
    const auto& p = chart->points();
    QCOMPARE(p.size(), size_t(3));
    QVERIFY(p[1].at.x() < p[2].at.x() && p[2].at.x() < p[0].at.x());
  }

  // The window's time settings reach the run and its chart: with a camera zone, a clock shift and
  // UTC, a photo that records its own offset (+05:00) comes before two that record none, though
  // its clock read later; the chart stands each point at the corrected time, as the Time column
  // writes it.
  void theChartTakesTheCorrectedTimes() {
    QTemporaryDir dir;
    const struct {
      const char* example;
      QStringList tags;
    } photos[] = {{"by-the-water.jpg",
                   {"-DateTimeOriginal=2026:06:14 09:00:00", "-OffsetTimeOriginal=+05:00"}},
                  {"evening-glow-lake.jpg", {"-DateTimeOriginal=2026:06:14 07:30:00"}},
                  {"summer-night-lake.jpg", {"-DateTimeOriginal=2026:06:14 09:45:30"}}};
    QStringList paths;
    for (const auto& p : photos) {
      const QString path = dir.filePath(QString::fromLatin1(p.example));
      QVERIFY(QFile::copy(Example(p.example), path));
      QCOMPARE(
          QProcess::execute(QStringLiteral("exiftool"),
                            QStringList{"-q", "-overwrite_original"} + p.tags + QStringList{path}),
          0);
      paths << path;
    }
    TF& window = *window_;
    window.CameraZoneEdit->setText(QStringLiteral("+01:00"));
    window.ClockShiftEdit->setText(QStringLiteral("00:10:00"));
    window.UtcBox->setChecked(true);
    window.Model->setColumns({swelox::Column::Time});
    Script({paths});
    QTest::mouseClick(window.ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window.Running());
    QVERIFY(window.Memo1->toPlainText().contains(QStringLiteral("\t2026-06-14T04:10:00Z\n")));
    QTest::mouseClick(window.ChartBtn, Qt::LeftButton);
    QVERIFY(QTest::qWaitForWindowExposed(window.Chart()));
    DayChart* chart = window.Chart()->chart();
    chart->repaint();
    QVERIFY(chart->timeAxis());
    const QTime corrected[] = {QTime(4, 10), QTime(6, 40), QTime(8, 55, 30)};
    for (size_t k = 0; k < 3; ++k) QCOMPARE(chart->results()[k].time->time(), corrected[k]);
    const auto& p = chart->points();
    QCOMPARE(p.size(), size_t(3));
    QVERIFY(p[0].at.x() < p[1].at.x() && p[1].at.x() < p[2].at.x());
  }

  // After a run of two sizes over three photos: one point per row, in the rows' order, with the
  // row's meanDiff (or RMS); a series per size; a click opens the picture view on the row's photo
  // at the row's size, whose figures are then the row's.
  void pointsAreTheRowsAndAClickOpensTheirPhoto() {
    TF& window = *window_;
    const QStringList photos = {Example("by-the-water.jpg"), Example("evening-glow-lake.jpg"),
                                Example("summer-night-lake.jpg")};
    Script({photos});
    QVERIFY(!window.ChartBtn->isEnabled());
    window.LoopsEdit->setText(QStringLiteral("1"));
    QTest::mouseClick(window.ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY(!window.Running());
    QVERIFY(shown_.empty());
    const QStringList rows = Lines(window.Memo1->toPlainText()).mid(1);
    QCOMPARE(rows.size(), 6);
    QVERIFY(window.ChartBtn->isEnabled());
    QTest::mouseClick(window.ChartBtn, Qt::LeftButton);
    swelox::ui::DayChartWindow* chartWindow = window.Chart();
    QVERIFY(chartWindow != nullptr && QTest::qWaitForWindowExposed(chartWindow));
    DayChart* chart = chartWindow->chart();
    chart->repaint();

    QCOMPARE(chart->series().size(), size_t(2));
    QCOMPARE(chart->series()[0], QSize(15, 12));
    QCOMPARE(chart->series()[1], QSize(30, 24));
    QVERIFY(!chart->timeAxis());
    for (int measure : {0, 1}) {
      chartWindow->measureChoice()->setCurrentIndex(measure);
      chart->repaint();
      QCOMPARE(chart->points().size(), size_t(rows.size()));
      for (int k = 0; k < rows.size(); ++k) {
        const QStringList cells = rows[k].split(QLatin1Char('\t'));
        const DayChart::Point& p = chart->points()[size_t(k)];
        QCOMPARE(QString::number(p.value), cells[measure == 0 ? 4 : 5]);
        QCOMPARE(p.series, k < 3 ? 0 : 1);
        QCOMPARE(chart->results()[size_t(k)].path, photos[k % 3]);
        // The same photo in both runs stands at the same place across; higher is more.
        QCOMPARE(p.at.x(), chart->points()[size_t(k % 3)].at.x());
      }
    }
    const auto& p = chart->points();
    QVERIFY(p[0].at.x() < p[1].at.x() && p[1].at.x() < p[2].at.x());
    for (size_t a = 0; a < p.size(); ++a) {
      for (size_t b = 0; b < p.size(); ++b) {
        if (p[a].value > p[b].value) QVERIFY(p[a].at.y() < p[b].at.y());
      }
    }

    // Pointing tells the row; a click opens its photo at its size.
    const int row = 4;  // evening-glow-lake.jpg at 30 x 24
    QTest::mouseMove(chart, p[row].at.toPoint());
    QMouseEvent over(QEvent::MouseMove, p[row].at, chart->mapToGlobal(p[row].at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(chart, &over);
    QVERIFY(chartWindow->status()->text().startsWith(QStringLiteral("evening-glow-lake.jpg")));
    QVERIFY(chartWindow->status()->text().contains(QStringLiteral("rectangle 30 x 24")));
    window.WidthEdit->setText(QStringLiteral("7"));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, p[row].at.toPoint());
    swelox::ui::PictureView* view = window.View();
    QVERIFY(view != nullptr);
    QCOMPARE(view->path(), photos[1]);
    // The view lays the row's own size; the fields keep what they hold.
    QCOMPARE(view->LatticeSize(), std::make_pair(QStringLiteral("30"), QStringLiteral("24")));
    QCOMPARE(window.WidthEdit->text(), QStringLiteral("7"));
    QCOMPARE(window.HighEdit->text(), QStringLiteral("48"));
    QTRY_VERIFY_WITH_TIMEOUT(!view->busy(), 20000);
    const QStringList cells = rows[row].split(QLatin1Char('\t'));
    QVERIFY(view->figures()->text().startsWith(
        QStringLiteral("meanDiff %1   RMS %2   nDiffs %3").arg(cells[4], cells[5], cells[6])));

    // Saved as PNG and as SVG; a folder that does not exist is told, not hidden.
    QTemporaryDir dir;
    QVERIFY(chartWindow->SaveImage(dir.filePath(QStringLiteral("day.png")), QSize(640, 360)));
    QCOMPARE(QImage(dir.filePath(QStringLiteral("day.png"))).size(), QSize(640, 360));
    QVERIFY(chartWindow->SaveImage(dir.filePath(QStringLiteral("day.svg")), QSize(640, 360)));
    QSvgRenderer svg(dir.filePath(QStringLiteral("day.svg")));
    QVERIFY(svg.isValid());
    const QString nowhere = dir.filePath(QStringLiteral("missing/day.png"));
    QVERIFY(!chartWindow->SaveImage(nowhere));
    QCOMPARE(chartWindow->status()->text(), QStringLiteral("Could not write %1.").arg(nowhere));
  }
};

QTEST_MAIN(DayChartTest)
#include "DayChartTest.moc"
