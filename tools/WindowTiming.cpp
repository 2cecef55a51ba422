// Times the window on a set of photos, as a user would run it: the start button, a chooser that
// confirms the given files at once, and the time from that confirmation to the last row shown.
// Usage: swelox_WindowTiming [--repeats N] [--times K] FILE...
// Prints the milliseconds of each of the K runs (default 1) on one line, and the row count.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <cstring>

#include "app/Application.h"
#include "app/Main.h"
#include "app/RunController.h"
#include "toolkit/QtFixture.h"

int main(int argc, char** argv) {
  swelox::ui::Application application(argc, argv);
  QString repeats = QStringLiteral("0");
  int times = 1;
  QStringList files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeats") == 0 && i + 1 < argc) {
      repeats = QString::fromLocal8Bit(argv[++i]);
    } else if (std::strcmp(argv[i], "--times") == 0 && i + 1 < argc) {
      times = std::atoi(argv[++i]);
    } else {
      files << QString::fromLocal8Bit(argv[i]);
    }
  }
  if (files.isEmpty() || times < 1) {
    std::fprintf(stderr, "usage: %s [--repeats N] [--times K] FILE...\n", argv[0]);
    return 2;
  }

  TF window;
  window.show();
  QCoreApplication::processEvents();
  QElapsedTimer sinceConfirm;
  swelox::test::ScriptedFileDialog::Log log;
  for (int k = 0; k < times; ++k) {
    window.WidthEdit->setText(QStringLiteral("15"));
    window.HighEdit->setText(QStringLiteral("12"));
    window.LoopsEdit->setText(repeats);
    window.OpenDialog1->SetDialog(std::make_unique<swelox::test::ScriptedFileDialog>(
        log, std::deque<std::optional<QStringList>>{files}, [&] { sinceConfirm.start(); }));
    window.ProcessBtn->click();
    QEventLoop untilFinished;
    QObject::connect(window.Run, &swelox::ui::RunController::finished, &untilFinished,
                     &QEventLoop::quit, Qt::QueuedConnection);
    if (window.Running()) untilFinished.exec();
    QCoreApplication::processEvents();  // the last rows painted
    std::printf("%lld ", static_cast<long long>(sinceConfirm.elapsed()));
  }
  std::printf("ms, %d rows\n", int(swelox::test::Lines(window.Memo1->toPlainText()).size()) - 1);
  return 0;
}
