// The window's tests' fixture: scripted stand-ins for the file chooser's dialog and the error
// box, a main window made afresh for each test, and the sample photos.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/ErrorBox.h"
#include "app/FileChooser.h"
#include "app/Main.h"

namespace swelox::test {

// Answers each showing of the dialog with the next scripted answer (a cancel when none is left)
// and remembers how it was asked.
class ScriptedFileDialog : public ui::FileDialog {
 public:
  struct Log {
    int calls = 0;
    QStringList prefills;
  };

  ScriptedFileDialog(Log& log, std::deque<std::optional<QStringList>> answers,
                     std::function<void()> whileOpen = nullptr)
      : log_(log), answers_(std::move(answers)), whileOpen_(std::move(whileOpen)) {}

  std::optional<QStringList> Run(QWidget*, const QString& prefill) override {
    ++log_.calls;
    log_.prefills << prefill;
    if (whileOpen_) whileOpen_();
    if (answers_.empty() || !answers_.front()) {
      if (!answers_.empty()) answers_.pop_front();
      return std::nullopt;
    }
    const QStringList answer = *answers_.front();
    answers_.pop_front();
    return answer;
  }

 private:
  Log& log_;
  std::deque<std::optional<QStringList>> answers_;
  std::function<void()> whileOpen_;
};

// Records the boxes that would have been shown.
class RecordingErrorBox : public ui::ErrorBox {
 public:
  struct Shown {
    QString caption;
    QString text;
    QString details;
  };
  explicit RecordingErrorBox(std::vector<Shown>& shown) : shown_(shown) {}
  void Show(const QString& caption, const QString& text, const QString& details) override {
    shown_.push_back({caption, text, details});
  }

 private:
  std::vector<Shown>& shown_;
};

// The base of a window test: while it exists, error boxes are recorded in `shown_` and the
// window's settings live in a folder of its own; `OpenWindow` makes and shows a fresh main window
// whose chooser answers what `Script` says.
class WindowFixture : public QObject {
 public:
  WindowFixture();
  ~WindowFixture() override;

 protected:
  // Forgets the boxes and the chooser's log of the last test and shows a new main window.
  bool OpenWindow();
  void Script(std::deque<std::optional<QStringList>> answers,
              std::function<void()> whileOpen = nullptr);

  std::unique_ptr<TF> window_;
  std::vector<RecordingErrorBox::Shown> shown_;
  ScriptedFileDialog::Log chooser_;
  QTemporaryDir temp_;  // for the test's own files

 private:
  QTemporaryDir config_;
  std::unique_ptr<ui::ErrorBox> programBox_;
};

// The full path of a photo in examples/.
QString Example(const char* name);

// A photo of a few hundred bytes in `folder` that takes tens of seconds to decode: a grey picture
// that claims 65500 x 65500 pixels and ends where its scan data would begin.
QString SlowPhoto(const QString& folder, const QString& name = QStringLiteral("slow.jpg"));

// The lines of a text whose every line ends with a line break (the last, empty piece dropped).
QStringList Lines(const QString& text);

}  // namespace swelox::test
