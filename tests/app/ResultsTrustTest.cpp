// What makes the window's results a dataset to trust: the sizes kept for the next start are the
// ones a run started from, the picture view and the chart show a row's own size, rows without
// comparisons stay off the chart and damaged ones are marked, closing asks before results are
// lost, a photo that fails is listed once, a stopped run says so, and a save writes the Data
// Package descriptor beside the table.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "analysis/Dataset.h"
#include "app/DayChart.h"
#include "app/Main.h"
#include "app/PictureView.h"
#include "toolkit/QtFixture.h"

using swelox::test::Example;
using swelox::ui::DayChart;

class ResultsTrustTest : public swelox::test::WindowFixture {
  Q_OBJECT

 private:
  void Run(const QStringList& photos) {
    Script({photos});
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 60000);
  }
  // A copy of an example photo cut to `fraction` of its bytes: libjpeg fills in the rest.
  QString CutPhoto(const QString& name, double fraction) {
    QFile whole(Example("by-the-water.jpg"));
    if (!whole.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = whole.readAll();
    QFile cut(temp_.filePath(name));
    if (!cut.open(QIODevice::WriteOnly)) return {};
    cut.write(bytes.left(qsizetype(double(bytes.size()) * fraction)));
    return cut.fileName();
  }
  DayChart* OpenChart() {
    window_->ChartBtn->click();
    if (!QTest::qWaitForWindowExposed(window_->Chart())) return nullptr;
    window_->Chart()->chart()->repaint();
    return window_->Chart()->chart();
  }
  static QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

 private Q_SLOTS:
  // Each test starts from the first start's sizes, whatever the one before it kept.
  void init() {
    QVERIFY(OpenWindow());
    window_->WidthEdit->setText(QStringLiteral("15"));
    window_->HighEdit->setText(QStringLiteral("12"));
  }
  void cleanup() { window_.reset(); }

  // With the defaults a run grows the rectangle to 30 x 24: the fields show it and a line beside
  // them says the next run starts there, but the next start of the program starts from 15 x 12
  // again. Sizes typed after the run are the ones kept.
  void theNextStartMeasuresWhatTheLastRunStartedFrom() {
    QVERIFY(window_->NextRunLbl->isHidden());
    Run({Example("by-the-water.jpg")});
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("30"));
    QCOMPARE(window_->HighEdit->text(), QStringLiteral("24"));
    QVERIFY(window_->NextRunLbl->isVisible());
    QCOMPARE(window_->NextRunLbl->text(), QStringLiteral("Next run: 30 x 24"));
    QVERIFY(window_->NextRunLbl->toolTip().contains(QStringLiteral("15 x 12")));
    window_->SaveResultsTo(temp_.filePath(QStringLiteral("saved.tsv")));
    window_->close();
    window_ = std::make_unique<TF>();
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("15"));
    QCOMPARE(window_->HighEdit->text(), QStringLiteral("12"));
    QVERIFY(window_->NextRunLbl->isHidden());

    window_->show();
    Run({Example("by-the-water.jpg")});
    window_->WidthEdit->setText(QStringLiteral("20"));
    QVERIFY(window_->NextRunLbl->isHidden());
    window_->SaveResultsTo(temp_.filePath(QStringLiteral("saved.tsv")));
    window_->close();
    window_ = std::make_unique<TF>();
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("20"));
    QCOMPARE(window_->HighEdit->text(), QStringLiteral("24"));
  }

  // "Show..." after a run lays the lattice of the first row, 15 x 12, not the grown size, and a
  // point of the chart its own row's; neither writes the fields. Typing a size makes the view
  // follow the fields again.
  void theViewShowsARowsOwnSize() {
    window_->LoopsEdit->setText(QStringLiteral("1"));
    Run({Example("by-the-water.jpg"), Example("evening-glow-lake.jpg")});
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("60"));
    window_->ShowBtn->click();
    swelox::ui::PictureView* view = window_->View();
    QVERIFY(view != nullptr);
    QCOMPARE(view->path(), Example("by-the-water.jpg"));
    using Size = std::pair<QString, QString>;
    QCOMPARE(view->LatticeSize(), Size("15", "12"));
    DayChart* chart = OpenChart();
    QVERIFY(chart != nullptr);
    QCOMPARE(chart->points().size(), size_t(4));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, chart->points()[3].at.toPoint());
    QCOMPARE(view->path(), Example("evening-glow-lake.jpg"));
    QCOMPARE(view->LatticeSize(), Size("30", "24"));
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("60"));
    QCOMPARE(window_->HighEdit->text(), QStringLiteral("48"));
    window_->WidthEdit->setText(QStringLiteral("7"));
    QCOMPARE(view->LatticeSize(), Size("7", "48"));
  }

  // A photo smaller than the rectangle gives a row of quality none, which the chart leaves out and
  // counts under it; a cut photo's point is marked as damaged.
  void theChartLeavesOutRowsWithoutComparisonsAndMarksDamagedOnes() {
    const QString small = temp_.filePath(QStringLiteral("small.jpg"));
    QVERIFY(QImage(Example("by-the-water.jpg")).copy(0, 0, 10, 10).save(small, "JPEG", 95));
    const QString cut = CutPhoto(QStringLiteral("cut.jpg"), 0.5);
    window_->LoopsEdit->setText(QStringLiteral("1"));
    Run({Example("by-the-water.jpg"), small, cut});
    QVERIFY(shown_.empty());
    DayChart* chart = OpenChart();
    QVERIFY(chart != nullptr);
    QCOMPARE(chart->results().size(), size_t(4));  // two runs of two photos
    QCOMPARE(chart->leftOut(), 2);
    QCOMPARE(window_->Chart()->leftOut()->text(),
             QStringLiteral("2 rows without comparisons (nDiffs 0) are not drawn."));
    QVERIFY(window_->Chart()->leftOut()->isVisible());
    for (const swelox::ui::PhotoResult& r : chart->results()) QVERIFY(r.path != small);
    QCOMPARE(chart->results()[1].path, cut);
    QCOMPARE(chart->results()[1].quality, swelox::Quality::Damaged);
    QVERIFY(chart->Describe(1).contains(QStringLiteral("damaged")));
    QVERIFY(!chart->Describe(0).contains(QStringLiteral("damaged")));
    // The red ring of the damaged point.
    const QImage image = chart->grab().toImage();
    const QPointF at = chart->points()[1].at + QPointF(6, 0);
    bool red = false;
    for (int dx = -1; dx <= 1; ++dx) {
      const QColor c = image.pixelColor(int(at.x()) + dx, int(at.y()));
      red = red || (c.red() > 150 && c.green() < 100 && c.blue() < 100);
    }
    QVERIFY(red);
  }

  // Closing with results that were not saved asks: Cancel keeps the window, Save saves and
  // closes (a cancelled save keeps it too), Discard closes. Once saved, closing asks nothing.
  void closingAsksBeforeResultsAreLost() {
    std::vector<TF::CloseAnswer> answers;
    int asked = 0;
    auto ask = [&](QWidget*) {
      ++asked;
      const TF::CloseAnswer answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    };
    window_->SetCloseQuestion(ask);
    QVERIFY(window_->close());  // nothing to lose yet
    QCOMPARE(asked, 0);
    window_->show();
    Run({Example("by-the-water.jpg")});
    QVERIFY(window_->Unsaved());

    answers = {TF::CloseAnswer::Cancel};
    QVERIFY(!window_->close());
    QVERIFY(window_->isVisible());
    QString saveAs;
    window_->SetSaveDialog([&](QWidget*) { return saveAs; });
    answers = {TF::CloseAnswer::Save};  // and the save is cancelled
    QVERIFY(!window_->close());
    QVERIFY(window_->isVisible());
    saveAs = temp_.filePath(QStringLiteral("day.tsv"));
    answers = {TF::CloseAnswer::Save};
    QVERIFY(window_->close());
    QCOMPARE(Read(saveAs), window_->Memo1->toPlainText().toUtf8());
    QCOMPARE(asked, 3);

    window_->show();
    QVERIFY(!window_->Unsaved());
    QVERIFY(window_->close());
    QCOMPARE(asked, 3);
    window_->show();
    Run({Example("by-the-water.jpg")});
    answers = {TF::CloseAnswer::Discard};
    QVERIFY(window_->close());
    QCOMPARE(asked, 4);
  }

  // Two failing photos over three runs: listed and counted once each.
  void aFailingPhotoIsListedOnce() {
    const QString bad = temp_.filePath(QStringLiteral("words.jpg"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a photo\n") > 0);
    file.close();
    const QString missing = temp_.filePath(QStringLiteral("missing.jpg"));
    window_->SkipBox->setChecked(true);
    window_->LoopsEdit->setText(QStringLiteral("2"));
    Run({bad, Example("by-the-water.jpg"), missing, bad});
    QCOMPARE(int(shown_.size()), 1);
    const QStringList lines = shown_[0].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("2 photos failed and were skipped:"));
    QVERIFY(lines[1].startsWith(bad + QStringLiteral(": ")));
    QVERIFY(lines[2].startsWith(missing + QStringLiteral(": ")));
  }

  // A stopped run says so under the results until the next run, and its descriptor says it was
  // stopped and how many photos were measured.
  void aStoppedRunSaysSo() {
    const QString slow = swelox::test::SlowPhoto(temp_.path());
    Script({QStringList{Example("by-the-water.jpg"), slow, Example("evening-glow-lake.jpg")}});
    QTest::mouseClick(window_->ProcessBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window_->Memo1->toPlainText().contains("by-the-water.jpg"), 20000);
    window_->StopRun();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 20000);
    QVERIFY(window_->WarningsLbl->isVisible());
    QCOMPARE(window_->WarningsLbl->text(),
             QStringLiteral("The run was stopped after 1 of 3 photos."));
    const QString saved = temp_.filePath(QStringLiteral("stopped.csv"));
    window_->SaveResultsTo(saved);
    const swelox::Dataset read = swelox::ReadDescriptor(
        Read(temp_.filePath(QStringLiteral("stopped.datapackage.json"))).toStdString());
    QCOMPARE(read.end.status, swelox::RunEnd::Status::Stopped);
    QCOMPARE(read.end.photos, int64_t(3));
    QCOMPARE(read.end.photosMeasured, int64_t(1));
    QCOMPARE(read.end.rows, int64_t(1));
    QCOMPARE(read.format, swelox::TableFormat::Csv);
    QCOMPARE(read.tablePath, std::string("stopped.csv"));

    Run({Example("by-the-water.jpg")});
    QVERIFY(window_->WarningsLbl->isHidden());
  }

  // "Save results..." writes the descriptor beside the table: the settings the run started from
  // (not the grown sizes), the program and decoder, the times, the outcome and its counts.
  void savingWritesTheDescriptor() {
    const QString small = temp_.filePath(QStringLiteral("small.jpg"));
    QVERIFY(QImage(Example("by-the-water.jpg")).copy(0, 0, 10, 10).save(small, "JPEG", 95));
    const QString cut = CutPhoto(QStringLiteral("cut.jpg"), 0.5);
    const QString missing = temp_.filePath(QStringLiteral("missing.jpg"));
    window_->SkipBox->setChecked(true);
    window_->LoopsEdit->setText(QStringLiteral("1"));
    window_->Region->setText(QStringLiteral("8x8+1+1"));
    window_->Region->setText(QString());
    Run({Example("by-the-water.jpg"), small, cut, missing});
    const QString saved = temp_.filePath(QStringLiteral("day.tsv"));
    window_->SetSaveDialog([&](QWidget*) { return saved; });
    window_->SaveBtn->click();
    QVERIFY(shown_.size() == 1);  // the list of the failure only
    QCOMPARE(Read(saved), window_->Memo1->toPlainText().toUtf8());
    const QByteArray text = Read(temp_.filePath(QStringLiteral("day.datapackage.json")));
    const swelox::Dataset read = swelox::ReadDescriptor(text.toStdString());
    QCOMPARE(read.tablePath, std::string("day.tsv"));
    QCOMPARE(read.settings.width, std::string("15"));
    QCOMPARE(read.settings.height, std::string("12"));
    QCOMPARE(read.settings.repeats, std::string("1"));
    QCOMPARE(read.end.status, swelox::RunEnd::Status::Complete);
    QCOMPARE(read.end.photos, int64_t(4));
    QCOMPARE(read.end.photosMeasured, int64_t(3));
    QCOMPARE(read.end.photosFailed, int64_t(1));
    QCOMPARE(read.end.photosDamaged, int64_t(1));
    QCOMPARE(read.end.rows, int64_t(6));
    QCOMPARE(QString::fromStdString(read.program), QStringLiteral("swelox " SWELOX_VERSION));
    QVERIFY(!read.decoder.empty() && !read.idct.empty());
    QVERIFY(!read.started.empty() && read.started <= read.ended);
  }
};

QTEST_MAIN(ResultsTrustTest)
#include "ResultsTrustTest.moc"
