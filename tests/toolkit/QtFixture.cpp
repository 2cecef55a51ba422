#include "toolkit/QtFixture.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include "toolkit/JpegCraft.h"

namespace swelox::test {

WindowFixture::WindowFixture()
    : programBox_(ui::InstallErrorBox(std::make_unique<RecordingErrorBox>(shown_))) {
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
}

WindowFixture::~WindowFixture() {
  window_.reset();
  ui::InstallErrorBox(std::move(programBox_));
}

bool WindowFixture::OpenWindow() {
  shown_.clear();
  chooser_ = {};
  window_ = std::make_unique<TF>();
  // A test that closes the window after a run means to discard its results.
  window_->SetCloseQuestion([](QWidget*) { return TF::CloseAnswer::Discard; });
  window_->show();
  return QTest::qWaitForWindowExposed(window_.get());
}

void WindowFixture::Script(std::deque<std::optional<QStringList>> answers,
                           std::function<void()> whileOpen) {
  window_->OpenDialog1->SetDialog(
      std::make_unique<ScriptedFileDialog>(chooser_, std::move(answers), std::move(whileOpen)));
}

QString Example(const char* name) {
  return QDir(QStringLiteral(SWELOX_EXAMPLES)).absoluteFilePath(QString::fromUtf8(name));
}

QString SlowPhoto(const QString& folder, const QString& name) {
  const Bytes jpeg = GreyClaim(65500, 65500);
  const QString path = QDir(folder).filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char*>(jpeg.data()),
                                                     qint64(jpeg.size())) != qint64(jpeg.size())) {
    return {};
  }
  return path;
}

QStringList Lines(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
  return lines;
}

}  // namespace swelox::test
