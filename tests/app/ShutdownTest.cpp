// Closing the main window ends the program: at once when idle, and after the current photo
// when a run is under way.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/Application.h"
#include "app/Main.h"
#include "tests/app/TestSupport.h"

using swelox::test::Example;
using swelox::test::Lines;
using swelox::test::RecordingErrorBox;
using swelox::test::ScriptedFileDialog;

class ShutdownTest : public QObject {
  Q_OBJECT

 private:
  std::vector<RecordingErrorBox::Shown> shown_;
  std::unique_ptr<swelox::ui::ErrorBox> programBox_;

  // Runs the event loop as the program does; 1 if it had to be stopped from outside.
  static int RunEventLoop() {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(15000);
    return QCoreApplication::exec();
  }

 private Q_SLOTS:
  void initTestCase() {
    programBox_ = swelox::ui::InstallErrorBox(std::make_unique<RecordingErrorBox>(shown_));
  }
  void cleanupTestCase() { swelox::ui::InstallErrorBox(std::move(programBox_)); }

  void closingWhenIdleEndsTheProgram() {
    TF window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(50, &window, &QWidget::close);
    QCOMPARE(RunEventLoop(), 0);
    QVERIFY(!window.isVisible());
    QVERIFY(shown_.empty());
  }

  void closingDuringARunStopsAfterTheCurrentPhoto() {
    TF window;
    ScriptedFileDialog::Log log;
    const QStringList paths = {Example("by-the-water.jpg"), Example("evening-glow-lake.jpg"),
                               Example("summer-night-lake.jpg")};
    // The request is posted while the chooser is open and arrives once the first photo's
    // caption shows, so that photo is the one under way.
    window.OpenDialog1->SetDialog(std::make_unique<ScriptedFileDialog>(
        log, std::deque<std::optional<QStringList>>{paths},
        [&] { QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection); }));
    window.LoopsEdit->setText("100");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(0, &window, [&] { QTest::mouseClick(window.ProcessBtn, Qt::LeftButton); });
    QCOMPARE(RunEventLoop(), 0);
    QVERIFY(!window.isVisible());
    QVERIFY(shown_.empty());
    const QStringList lines = Lines(window.Memo1->toPlainText());
    QCOMPARE(lines.size(), 2);  // the header and the photo under way
    QVERIFY(lines[1].endsWith("\tby-the-water.jpg"));
    QCOMPARE(log.calls, 1);
    QCOMPARE(window.ProcessBtn->text(), QStringLiteral("1 of 3   Run1"));
  }
};

int main(int argc, char** argv) {
  swelox::ui::Application application(argc, argv);
  ShutdownTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ShutdownTest.moc"
