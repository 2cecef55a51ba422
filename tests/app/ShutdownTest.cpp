// Closing the main window ends the program: at once when idle, and promptly when a run is under
// way, with the rows shown so far.
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include "app/Application.h"
#include "app/Main.h"
#include "toolkit/QtFixture.h"

using swelox::test::Example;
using swelox::test::Lines;
using swelox::test::RecordingErrorBox;
using swelox::test::ScriptedFileDialog;

namespace {

class PaintCounter : public QObject {
 public:
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

}  // namespace

class ShutdownTest : public swelox::test::WindowFixture {
  Q_OBJECT

 private:
  // Runs the event loop as the program does; 1 if it had to be stopped from outside.
  static int RunEventLoop() {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(15000);
    return QCoreApplication::exec();
  }

 private Q_SLOTS:
  void closingWhenIdleEndsTheProgram() {
    TF window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(50, &window, &QWidget::close);
    QCOMPARE(RunEventLoop(), 0);
    QVERIFY(!window.isVisible());
    QVERIFY(shown_.empty());
  }

  void closingDuringARunStopsPromptly() {
    TF window;
    ScriptedFileDialog::Log log;
    const QStringList names = {"by-the-water.jpg", "evening-glow-lake.jpg",
                               "summer-night-lake.jpg"};
    QStringList paths;
    for (const QString& name : names) paths << Example(name.toUtf8().constData());
    window.OpenDialog1->SetDialog(
        std::make_unique<ScriptedFileDialog>(log, std::deque<std::optional<QStringList>>{paths}));
    // 100 % growth would soon make rectangles too large to fit: 1 % keeps every run alike.
    window.LoopsEdit->setText("100000");
    window.WidthIncrementEdit->setText("0");
    window.HeightIncrementEdit->setText("1");
    // At the first row the window is made wider, as a user would drag its edge; the close request
    // comes once 100 rows show. Both reach the window through its event loop, during the run.
    const int width = window.width();
    QElapsedTimer sinceClose;
    connect(window.Memo1, &QPlainTextEdit::blockCountChanged, &window, [&](int blocks) {
      if (blocks >= 3 && window.width() == width) {
        QMetaObject::invokeMethod(
            &window, [&] { window.resize(width + 40, window.height()); }, Qt::QueuedConnection);
      }
      if (blocks < 102 || sinceClose.isValid()) return;
      sinceClose.start();
      QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
    });
    // Rows that come faster than the screen refreshes are painted together.
    PaintCounter paints;
    window.Memo1->viewport()->installEventFilter(&paints);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(0, &window, [&] { QTest::mouseClick(window.ProcessBtn, Qt::LeftButton); });
    QCOMPARE(RunEventLoop(), 0);
    QVERIFY(sinceClose.isValid());
    QVERIFY2(sinceClose.elapsed() < 2000, qPrintable(QString::number(sinceClose.elapsed())));
    QVERIFY(!window.isVisible());
    QVERIFY(shown_.empty());
    QCOMPARE(log.calls, 1);

    // The rows shown are the first ones of the run, in order, and far from all 300003 of them.
    QStringList lines = Lines(window.Memo1->toPlainText());
    QVERIFY(lines.size() >= 101);
    lines.pop_front();
    QVERIFY2(lines.size() < 100000, qPrintable(QString::number(lines.size())));
    QCOMPARE(window.width(), width + 40);
    QVERIFY2(
        paints.count >= 1 && paints.count < lines.size() / 4,
        qPrintable(QStringLiteral("%1 paints for %2 rows").arg(paints.count).arg(lines.size())));
    for (int i = 0; i < lines.size(); ++i) {
      QVERIFY2(lines[i].endsWith("\t" + names[i % 3]), qPrintable(lines[i]));
    }
  }

  // Closed while every job decodes a photo that would take tens of seconds: the event loop ends
  // at once and the window, its run stopped and its thread joined, is gone within 3 s.
  void closingInsideASlowDecodeEndsSoon() {
    QTemporaryDir dir;
    QStringList paths;
    for (int k = 0; k <= QThread::idealThreadCount(); ++k) {
      paths << swelox::test::SlowPhoto(dir.path(), QStringLiteral("slow%1.jpg").arg(k));
    }
    auto window = std::make_unique<TF>();
    ScriptedFileDialog::Log log;
    window->OpenDialog1->SetDialog(
        std::make_unique<ScriptedFileDialog>(log, std::deque<std::optional<QStringList>>{paths}));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QElapsedTimer sinceClose;
    QTimer::singleShot(0, window.get(), [&] { window->ProcessBtn->click(); });
    QTimer::singleShot(500, window.get(), [&] {
      QVERIFY(window->Running());
      sinceClose.start();
      window->close();
    });
    QCOMPARE(RunEventLoop(), 0);
    window.reset();
    QVERIFY(sinceClose.isValid());
    QVERIFY2(sinceClose.elapsed() < 3000, qPrintable(QString::number(sinceClose.elapsed())));
    QVERIFY(shown_.empty());
  }
};

int main(int argc, char** argv) {
  // Settings the window remembers go to a folder of the test's own.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  swelox::ui::Application application(argc, argv);
  ShutdownTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ShutdownTest.moc"
