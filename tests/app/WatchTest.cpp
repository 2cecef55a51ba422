// The window's watch of a folder against the simulated camera (tests/live/camera.py): the rows it
// shows and appends to its table equal a batch run's over the same photos (so no photo was read
// in part), Stop leaves the table whole and says so in its descriptor, and a watch started again
// on the same folder and table goes on without a photo measured twice.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <numeric>
#include <set>

#include "analysis/BatchRun.h"
#include "analysis/GrowingTable.h"
#include "analysis/PhotoFolders.h"
#include "app/DayChart.h"
#include "app/ElidedLabel.h"
#include "app/Main.h"
#include "app/PictureView.h"
#include "app/RunController.h"
#include "app/RunResults.h"
#include "app/SettingsModel.h"
#include "toolkit/QtFixture.h"

using swelox::test::Example;
using swelox::test::Lines;

namespace {

// The rows of a batch run, as text.
class Collect : public swelox::BatchListener {
 public:
  void Line(const std::string& line) override { lines.push_back(line); }
  void Progress(const std::string&) override {}
  void FileFailed(const std::string& path, const swelox::Error& error) override {
    lines.push_back("failed " + path + ": " + error.what());
  }
  std::vector<std::string> lines;
};

// A table's records without the photo columns (run, source, bytes, modified, damaged): the row
// as the window shows it.
QStringList RowsOfTable(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QString text = QString::fromUtf8(file.readAll());
  QStringList rows;
  const QStringList lines = Lines(text);
  for (qsizetype k = 1; k < lines.size(); ++k) {
    QStringList fields = lines[k].split(QLatin1Char('\t'));
    fields.resize(std::max<qsizetype>(0, fields.size() - 5));
    rows << fields.join(QLatin1Char('\t'));
  }
  return rows;
}

QStringList SourcesOfTable(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList sources;
  const QStringList lines = Lines(QString::fromUtf8(file.readAll()));
  for (qsizetype k = 1; k < lines.size(); ++k) {
    const QStringList fields = lines[k].split(QLatin1Char('\t'));
    if (fields.size() >= 4)
      sources << fields[fields.size() - 4] + QLatin1Char('#') + fields[fields.size() - 5];
  }
  return sources;
}

// Everything a record tells but whether it was read back.
QStringList Records(const std::vector<swelox::ui::PhotoResult>& rows) {
  QStringList records;
  for (const swelox::ui::PhotoResult& r : rows) {
    records << QStringList{r.path,
                           r.name,
                           QString::number(r.run),
                           QString::number(r.rectangleWidth),
                           QString::number(r.rectangleHeight),
                           QString::number(r.meanDiff),
                           QString::number(r.rms),
                           QString::number(r.nDiffs),
                           r.time ? r.time->toString(Qt::ISODate) : QStringLiteral("no time"),
                           QString::number(r.order),
                           QString::number(int(r.quality)),
                           r.text}
                   .join(QLatin1Char('|'));
  }
  return records;
}

int HeldRows(const std::vector<swelox::ui::PhotoResult>& rows) {
  return int(std::count_if(rows.begin(), rows.end(), [](const auto& r) { return r.held; }));
}

const QString kWaiting = QStringLiteral("Stop   Waiting for the next photo");
const QString kStart = QStringLiteral("Select set of images and start the analysis");

}  // namespace

class WatchTest : public swelox::test::WindowFixture {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> place_;  // each test's own folder and table
  QString folder_, table_;
  swelox::RunSettings started_;  // the settings as the watch started

  void StartWatch() {
    started_ = window_->Model->ToRunSettings();
    window_->SetWatchDialogs({[this](QWidget*, const QString&) { return folder_; },
                              [this](QWidget*, const QString&) { return table_; }});
    QTest::mouseClick(window_->WatchBtn, Qt::LeftButton);
  }
  QStringList sources_;  // the photos the camera writes, in turn
  // The camera writes `plan` (its photos numbered from `first`) and ends.
  bool Camera(const QString& plan, int first) {
    QProcess camera;
    QStringList arguments{QStringLiteral(SWELOX_CAMERA),
                          QStringLiteral("--to"),
                          folder_,
                          QStringLiteral("--plan"),
                          plan,
                          QStringLiteral("--first"),
                          QString::number(first),
                          QStringLiteral("--chunk-bytes"),
                          QStringLiteral("8000"),
                          QStringLiteral("--pause-ms"),
                          QStringLiteral("15"),
                          QStringLiteral("--from")};
    arguments << sources_;
    camera.start(QStringLiteral(SWELOX_PYTHON3), arguments);
    if (!camera.waitForStarted()) return false;
    // The window's thread turns while the camera writes.
    QElapsedTimer waited;
    waited.start();
    while (camera.state() != QProcess::NotRunning && waited.elapsed() < 60000) QTest::qWait(20);
    return camera.exitStatus() == QProcess::NormalExit && camera.exitCode() == 0;
  }
  int ShownRows() const { return int(Lines(window_->Memo1->toPlainText()).size()) - 1; }
  // A batch run of the watch's settings over the folder's photos, its rows sorted: a watch gives
  // each batch's runs together, a batch run each run over all the photos.
  QStringList BatchRows() const {
    swelox::BatchOptions options;
    options.settings = started_;
    options.files.push_back(QFile::encodeName(folder_).toStdString());
    swelox::FolderTally tally;
    swelox::ExpandFolders(options.files, false, tally);
    Collect rows;
    swelox::RunBatch(options, rows);
    QStringList lines;
    for (size_t k = 1; k < rows.lines.size(); ++k) lines << QString::fromStdString(rows.lines[k]);
    lines.sort();
    return lines;
  }

 private Q_SLOTS:
  void init() {
    QVERIFY(OpenWindow());
    place_ = std::make_unique<QTemporaryDir>();
    folder_ = place_->filePath(QStringLiteral("camera"));
    table_ = place_->filePath(QStringLiteral("day.tsv"));
    QDir().mkpath(folder_);
    sources_.clear();
    for (const char* name :
         {"by-the-water.jpg", "darkest-hour-lake.jpg", "summer-night-lake.jpg"}) {
      sources_ << Example(name);
    }
    // Each test starts from the first start's settings, whatever the one before it kept.
    window_->WidthEdit->setText(QStringLiteral("15"));
    window_->HighEdit->setText(QStringLiteral("12"));
    window_->LoopsEdit->setText(QStringLiteral("0"));
  }

  // The photos the camera writes record when they were taken (written by exiftool), as a
  // camera's do.
  bool TimedSources() {
    const char* times[] = {"2026:06:14 07:30:00", "2026:06:14 07:31:00", "2026:06:14 07:32:00"};
    for (qsizetype k = 0; k < sources_.size(); ++k) {
      const QString copy = place_->filePath(QStringLiteral("source%1.jpg").arg(k));
      if (!QFile::copy(sources_[k], copy)) return false;
      QProcess exiftool;
      exiftool.start(QStringLiteral("exiftool"),
                     {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                      QStringLiteral("-DateTimeOriginal=") + QLatin1String(times[k]), copy});
      if (!exiftool.waitForFinished(30000) || exiftool.exitCode() != 0) return false;
      sources_[k] = copy;
    }
    return true;
  }

  void rowsEqualABatchRunAndARestartGoesOnWithoutDuplicates() {
    QVERIFY(TimedSources());
    window_->LoopsEdit->setText(QStringLiteral("1"));  // two runs: two rows a photo
    window_->FollowBox->setChecked(true);
    StartWatch();
    QVERIFY(window_->Running());
    QVERIFY(!window_->WidthEdit->isEnabled());  // the settings stay as the watch started
    QVERIFY(!window_->WatchBtn->isEnabled());
    // The folder is empty: the watch waits, and says so.
    QTRY_COMPARE_WITH_TIMEOUT(window_->ProcessBtn->text(), kWaiting, 10000);
    // In chunks with pauses (read only once closed), under temporary names, and a burst.
    QVERIFY(Camera(QStringLiteral("tethered:2,renamed:3,burst:4"), 0));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 2 * 9, 30000);
    // Measured, the photos leave no progress caption behind while the watch waits.
    QTRY_COMPARE_WITH_TIMEOUT(window_->ProcessBtn->text(), kWaiting, 10000);
    // The view follows the newest photo at the size of its newest row, whose figures it shows;
    // the chart grows and marks it.
    const QString newest = QDir(folder_).filePath(QStringLiteral("capt0008.jpg"));
    QTRY_VERIFY_WITH_TIMEOUT(window_->View() && window_->View()->path() == newest, 10000);
    swelox::ui::PictureView* view = window_->View();
    QCOMPARE(view->LatticeSize(), std::make_pair(QStringLiteral("30"), QStringLiteral("24")));
    QTRY_VERIFY_WITH_TIMEOUT(!view->busy() && view->map(), 10000);
    const swelox::ui::PhotoResult& newestRow = window_->Results->rows().back();
    QCOMPARE(newestRow.path, newest);
    QCOMPARE(view->map()->figures.meanDiff, int32_t(newestRow.meanDiff));
    QCOMPARE(view->map()->figures.rms, int32_t(newestRow.rms));
    QCOMPARE(view->map()->figures.nDiffs, int32_t(newestRow.nDiffs));
    QVERIFY(window_->ChartBtn->isEnabled());  // during the watch, once rows are there
    window_->ChartBtn->click();
    QVERIFY(window_->Chart() != nullptr);
    QCOMPARE(window_->Chart()->chart()->results().size(), size_t(18));
    QVERIFY(window_->Chart()->chart()->newestMarked());
    QVERIFY(window_->Chart()->chart()->timeAxis());

    window_->ProcessBtn->click();  // Stop
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    QCOMPARE(window_->ProcessBtn->text(), kStart);
    QVERIFY(window_->WidthEdit->isEnabled());
    // The fields keep the sizes the watch started from, which its table holds.
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("15"));
    QVERIFY(!window_->Unsaved());  // the rows are in the table
    QCOMPARE(window_->WarningsLbl->text(),
             QStringLiteral("The watch was stopped after 9 photos; the rows are in day.tsv."));
    const swelox::Dataset stopped =
        swelox::ReadTableDescriptor(QFile::encodeName(table_).toStdString());
    QCOMPARE(int(stopped.end.status), int(swelox::RunEnd::Status::Stopped));
    QCOMPARE(stopped.end.rows, int64_t(18));

    const QStringList shown = Lines(window_->Memo1->toPlainText()).mid(1);
    QCOMPARE(RowsOfTable(table_), shown);
    QStringList sortedShown = shown;
    sortedShown.sort();
    QCOMPARE(sortedShown, BatchRows());
    const QStringList measured = Records(window_->Results->rows());
    QCOMPARE(HeldRows(window_->Results->rows()), 0);

    // Started again: the rows the table holds are shown first, as they were measured (the
    // capture times read from the photos, since the table has no Time column), on the chart too;
    // the photos there are not measured again, the camera's next ones are appended.
    StartWatch();
    QVERIFY(window_->Running());
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 2 * 9, 10000);
    QCOMPARE(Lines(window_->Memo1->toPlainText()).mid(1), shown);
    QVERIFY(Camera(QStringLiteral("renamed:2,tethered:1"), 9));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 2 * 12, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(window_->Chart()->chart()->results().size(), size_t(24), 10000);
    QVERIFY(window_->Chart()->chart()->timeAxis());
    const std::vector<swelox::ui::PhotoResult>& all = window_->Results->rows();
    QCOMPARE(HeldRows(all), 18);
    QCOMPARE(Records(all).mid(0, 18), measured);
    QVERIFY(std::all_of(all.begin(), all.begin() + 18, [](const auto& r) { return r.held; }));
    // The new photos are numbered on after the held ones.
    QCOMPARE(all[18].order, 9);
    QCOMPARE(all.back().order, 11);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    QCOMPARE(window_->WarningsLbl->text(),
             QStringLiteral("The watch was stopped after 3 photos; the rows are in day.tsv, "
                            "which held 9 photos before."));
    QCOMPARE(window_->Results->photos().size(), qsizetype(12));
    QCOMPARE(RowsOfTable(table_), Lines(window_->Memo1->toPlainText()).mid(1));
    QStringList rows = RowsOfTable(table_);
    rows.sort();
    QCOMPARE(rows, BatchRows());
    const QStringList sources = SourcesOfTable(table_);
    QCOMPARE(sources.size(), qsizetype(24));
    QCOMPARE(qsizetype(std::set<QString>(sources.begin(), sources.end()).size()), sources.size());
    QVERIFY(shown_.empty());  // no error box
  }

  // A comma-separated table with the Time and Quality columns, gone on with: its rows come back
  // as the records the watch made of them, times from the Time column. The picture view, emptied
  // as the watch begins, says how to open a photo once it has ended.
  void aCsvTableIsShownWholeWhenTheWatchGoesOn() {
    table_ = place_->filePath(QStringLiteral("day.csv"));
    window_->Model->setColumns({swelox::Column::Time, swelox::Column::Quality});
    QVERIFY(TimedSources());
    StartWatch();
    QVERIFY(Camera(QStringLiteral("burst:3"), 0));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 3, 30000);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    const QString shown = window_->Memo1->toPlainText();
    const QStringList measured = Records(window_->Results->rows());
    QVERIFY(window_->Results->rows().front().time.has_value());
    window_->ShowBtn->click();  // the view on the first photo
    QVERIFY(window_->View() != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->View()->busy(), 10000);

    StartWatch();  // nothing new comes
    QVERIFY(window_->Running());
    QCOMPARE(window_->View()->path(), QString());
    QVERIFY(window_->View()->status()->text().startsWith(QStringLiteral("A new run")));
    QTRY_COMPARE_WITH_TIMEOUT(window_->ProcessBtn->text(), kWaiting, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(window_->Memo1->toPlainText(), shown, 10000);
    QCOMPARE(Records(window_->Results->rows()), measured);
    QCOMPARE(HeldRows(window_->Results->rows()), 3);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    QCOMPARE(window_->WarningsLbl->text(),
             QStringLiteral("The watch was stopped after 0 photos; the rows are in day.csv, "
                            "which held 3 photos before."));
    QCOMPARE(window_->View()->status()->text(),
             QStringLiteral("The run has ended: \"Show...\" or Page Down opens its first photo."));
    QCOMPARE(window_->View()->runPhotos().size(), qsizetype(3));
    QVERIFY(shown_.empty());
  }

  // A stop that cut a photo's runs short: started again, the watch measures that photo again
  // and shows each of its rows once, with the other photo's rows read back.
  void aPhotoCutShortIsShownOnceWhenTheWatchGoesOn() {
    window_->LoopsEdit->setText(QStringLiteral("1"));  // two runs: two rows a photo
    StartWatch();
    QVERIFY(Camera(QStringLiteral("burst:2"), 0));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 4, 30000);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    const QStringList measured = Records(window_->Results->rows());
    // The table loses its last row: the second run's row of one photo.
    QFile file(table_);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    bytes.chop(1);
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    QCOMPARE(RowsOfTable(table_).size(), qsizetype(3));

    StartWatch();
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 4, 30000);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    const std::vector<swelox::ui::PhotoResult>& rows = window_->Results->rows();
    QCOMPARE(HeldRows(rows), 2);  // the whole photo's
    QCOMPARE(rows[0].path, rows[1].path);
    QVERIFY(rows[0].held && rows[1].held && !rows[2].held && !rows[3].held);
    QCOMPARE(rows[2].path, rows[3].path);
    QCOMPARE(rows[2].order, 1);
    QCOMPARE(window_->Results->photos().size(), qsizetype(2));
    QStringList again = Records(rows), before = measured;
    again.sort();
    before.sort();
    QCOMPARE(again, before);
    QStringList table = RowsOfTable(table_), shown = Lines(window_->Memo1->toPlainText()).mid(1);
    QCOMPARE(table.size(), qsizetype(4));
    table.sort();
    shown.sort();
    QCOMPARE(table, shown);
  }

  // Rows that come together (here a table's 300 rows read back at once) reach the window a
  // bounded number at a time, in order, the event loop turning between them.
  void manyRowsAtOnceComeInTurnsOfTheLoop() {
    QImage small(32, 24, QImage::Format_Grayscale8);
    for (int y = 0; y < small.height(); ++y) {
      for (int x = 0; x < small.width(); ++x) small.setPixel(x, y, qRgb(x * 7, y * 9, 0));
    }
    constexpr int kPhotos = 300;
    for (int k = 0; k < kPhotos; ++k) {
      QVERIFY(small.save(QDir(folder_).filePath(QStringLiteral("p%1.jpg").arg(k)), "JPEG", 90));
    }
    StartWatch();
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), kPhotos, 60000);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    const QStringList measured = Records(window_->Results->rows());

    std::vector<size_t> turns;  // the rows handed over in each turn
    int ticksBetween = 0;       // a timer's ticks between the first turn and the last
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
      if (!turns.empty() && int(std::accumulate(turns.begin(), turns.end(), size_t(0))) < kPhotos)
        ++ticksBetween;
    });
    tick.start(0);
    connect(
        window_->Run, &swelox::ui::RunController::rowsReady,
        [&](const std::vector<swelox::ui::PhotoResult>& rows) { turns.push_back(rows.size()); });
    StartWatch();
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), kPhotos, 30000);
    tick.stop();
    QCOMPARE(std::accumulate(turns.begin(), turns.end(), size_t(0)), size_t(kPhotos));
    QVERIFY(turns.size() >= size_t(kPhotos) / swelox::ui::RunController::kMostRowsPerTurn);
    QVERIFY(*std::max_element(turns.begin(), turns.end()) <=
            swelox::ui::RunController::kMostRowsPerTurn);
    QVERIFY(ticksBetween > 0);
    QCOMPARE(Records(window_->Results->rows()), measured);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
  }

  // The window is closed during a watch: the thread ends, the table is whole and its descriptor
  // says the watch was stopped.
  void closingDuringAWatchLeavesTheTableWhole() {
    StartWatch();
    QVERIFY(Camera(QStringLiteral("burst:3"), 0));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 3, 30000);
    window_->close();
    window_.reset();  // joins the watch's thread
    QCOMPARE(RowsOfTable(table_).size(), qsizetype(3));
    QFile file(table_);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith('\n'));
    const swelox::Dataset dataset =
        swelox::ReadTableDescriptor(QFile::encodeName(table_).toStdString());
    QCOMPARE(int(dataset.end.status), int(swelox::RunEnd::Status::Stopped));
  }

  // A table made with other settings is refused with the difference, and left as it was.
  void aTableOfOtherSettingsIsRefused() {
    StartWatch();
    QVERIFY(Camera(QStringLiteral("burst:1"), 0));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 1, 30000);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    const QStringList before = RowsOfTable(table_);

    window_->WidthEdit->setText(QStringLiteral("31"));
    StartWatch();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    QCOMPARE(shown_.size(), size_t(1));
    QVERIFY2(shown_[0].text.contains(QStringLiteral("was made with other settings")),
             qPrintable(shown_[0].text));
    QCOMPARE(RowsOfTable(table_), before);
  }

  // A folder that cannot be watched is said so, and no table is begun.
  void aMissingFolderIsAnErrorAndNoTable() {
    folder_ = place_->filePath(QStringLiteral("no-such-folder"));
    StartWatch();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    QCOMPARE(shown_.size(), size_t(1));
    QVERIFY2(shown_[0].text.startsWith(QStringLiteral("Cannot watch folder")),
             qPrintable(shown_[0].text));
    QVERIFY(!QFile::exists(table_));
  }
};

QTEST_MAIN(WatchTest)
#include "WatchTest.moc"
