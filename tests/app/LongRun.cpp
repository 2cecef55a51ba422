// The program's window busy with a run that would last for hours, for a test that closes it from
// outside as a window manager would. Prints how many rows the run wrote before it ended.
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/Application.h"
#include "app/Main.h"
#include "toolkit/QtFixture.h"

int main(int argc, char** argv) {
  // Settings the window remembers go to a folder of the test's own.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  swelox::ui::Application application(argc, argv);
  TF window;
  swelox::test::ScriptedFileDialog::Log log;
  const QStringList photos = {swelox::test::Example("by-the-water.jpg"),
                              swelox::test::Example("evening-glow-lake.jpg")};
  window.OpenDialog1->SetDialog(std::make_unique<swelox::test::ScriptedFileDialog>(
      log, std::deque<std::optional<QStringList>>{photos}));
  // 12 grows by 1 % to 12.12, which rounds back to 12: every run alike, and no end in sight.
  window.LoopsEdit->setText("1000000");
  window.WidthIncrementEdit->setText("0");
  window.HeightIncrementEdit->setText("1");
  window.show();
  QTimer::singleShot(0, &window, [&] { window.ProcessBtn->click(); });
  const int status = application.exec();
  std::printf("%d rows\n", int(swelox::test::Lines(window.Memo1->toPlainText()).size()) - 1);
  return status;
}
