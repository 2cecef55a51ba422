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
#include <set>

#include "analysis/BatchRun.h"
#include "analysis/GrowingTable.h"
#include "analysis/PhotoFolders.h"
#include "app/DayChart.h"
#include "app/Main.h"
#include "app/PictureView.h"
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
    for (const char* name :
         {"by-the-water.jpg", "darkest-hour-lake.jpg", "summer-night-lake.jpg"}) {
      arguments << Example(name);
    }
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
    // Each test starts from the first start's settings, whatever the one before it kept.
    window_->WidthEdit->setText(QStringLiteral("15"));
    window_->HighEdit->setText(QStringLiteral("12"));
    window_->LoopsEdit->setText(QStringLiteral("0"));
  }

  void rowsEqualABatchRunAndARestartGoesOnWithoutDuplicates() {
    window_->LoopsEdit->setText(QStringLiteral("1"));  // two runs: two rows a photo
    window_->FollowBox->setChecked(true);
    StartWatch();
    QVERIFY(window_->Running());
    QVERIFY(!window_->WidthEdit->isEnabled());  // the settings stay as the watch started
    QVERIFY(!window_->WatchBtn->isEnabled());
    // In chunks with pauses (read only once closed), under temporary names, and a burst.
    QVERIFY(Camera(QStringLiteral("tethered:2,renamed:3,burst:4"), 0));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 2 * 9, 30000);
    // The view follows the newest photo, the chart grows and marks it.
    const QString newest = QDir(folder_).filePath(QStringLiteral("capt0008.jpg"));
    QTRY_VERIFY_WITH_TIMEOUT(window_->View() && window_->View()->path() == newest, 10000);
    QVERIFY(window_->ChartBtn->isEnabled());  // during the watch, once rows are there
    window_->ChartBtn->click();
    QVERIFY(window_->Chart() != nullptr);
    QCOMPARE(window_->Chart()->chart()->results().size(), size_t(18));
    QVERIFY(window_->Chart()->chart()->newestMarked());

    window_->ProcessBtn->click();  // Stop
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    QVERIFY(window_->WidthEdit->isEnabled());
    // The fields keep the sizes the watch started from, which its table holds.
    QCOMPARE(window_->WidthEdit->text(), QStringLiteral("15"));
    QVERIFY(!window_->Unsaved());  // the rows are in the table
    QVERIFY2(window_->WarningsLbl->text().startsWith(
                 QStringLiteral("The watch was stopped after 9 photos")),
             qPrintable(window_->WarningsLbl->text()));
    const swelox::Dataset stopped =
        swelox::ReadTableDescriptor(QFile::encodeName(table_).toStdString());
    QCOMPARE(int(stopped.end.status), int(swelox::RunEnd::Status::Stopped));
    QCOMPARE(stopped.end.rows, int64_t(18));

    const QStringList shown = Lines(window_->Memo1->toPlainText()).mid(1);
    QCOMPARE(RowsOfTable(table_), shown);
    QStringList sortedShown = shown;
    sortedShown.sort();
    QCOMPARE(sortedShown, BatchRows());

    // Started again: the photos there are held already; the camera's next ones are appended.
    StartWatch();
    QVERIFY(window_->Running());
    QVERIFY(Camera(QStringLiteral("renamed:2,tethered:1"), 9));
    QTRY_COMPARE_WITH_TIMEOUT(ShownRows(), 2 * 3, 30000);
    window_->ProcessBtn->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->Running(), 10000);
    QStringList rows = RowsOfTable(table_);
    rows.sort();
    QCOMPARE(rows, BatchRows());
    const QStringList sources = SourcesOfTable(table_);
    QCOMPARE(sources.size(), qsizetype(24));
    QCOMPARE(qsizetype(std::set<QString>(sources.begin(), sources.end()).size()), sources.size());
    QVERIFY(shown_.empty());  // no error box
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
