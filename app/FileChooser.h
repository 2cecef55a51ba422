// The multi-selection file chooser (OpenDialog1): shows the platform's open-file dialog modally
// and keeps the full paths of the files the user chose.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QWidget;

namespace swelox::ui {

// One showing of an open-file dialog for existing files, pre-filled with `prefill`: the chosen
// paths in the dialog's order, or nothing when the user cancelled. The program uses the Qt
// dialog below; tests script their own answers.
class FileDialog {
 public:
  virtual ~FileDialog() = default;
  virtual std::optional<QStringList> Run(QWidget* owner, const QString& prefill) = 0;
};

// QFileDialog: several existing files or folders, no title, no filter. Qt's own dialog is placed
// centred across and a third of the way down the screen of the active window; a native one goes
// where the platform puts it.
class QtFileDialog : public FileDialog {
 public:
  std::optional<QStringList> Run(QWidget* owner, const QString& prefill) override;
};

class FileChooser {
 public:
  explicit FileChooser(QWidget* owner, std::unique_ptr<FileDialog> dialog = nullptr);
  ~FileChooser();

  // Shows the dialog modally: true when the user confirmed a selection that holds a photo; a
  // chosen folder stands for the photos in it (not its subfolders'). The floating-point
  // environment is the same afterwards as before, whatever the dialog did to it.
  bool ChooseFiles();
  // The full paths of the last ChooseFiles, in the dialog's order; empty after a cancel.
  const QStringList& ChosenFiles() const { return chosen_; }

  void SetDialog(std::unique_ptr<FileDialog> dialog);
  // What the dialog opens with: the first path of the last selection, or a folder.
  const QString& Prefill() const { return firstOfLastSelection_; }
  void SetPrefill(const QString& path) { firstOfLastSelection_ = path; }

 private:
  QWidget* owner_;
  std::unique_ptr<FileDialog> dialog_;
  QStringList chosen_;
  QString firstOfLastSelection_;
};

}  // namespace swelox::ui
