// The file chooser: the dialog, its placement and the floating-point environment around it.
#include "app/FileChooser.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <cfenv>

#include "analysis/PhotoFolders.h"
#include "app/Placement.h"

namespace swelox::ui {
namespace {

class ChooserDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;

 protected:
  void showEvent(QShowEvent* event) override {
    QFileDialog::showEvent(event);  // places the dialog over its owner first
    if (event->spontaneous() || testAttribute(Qt::WA_DontShowOnScreen)) return;  // native
    QWidget* reference =
        QApplication::activeWindow() ? QApplication::activeWindow() : parentWidget();
    QScreen* screen = reference ? reference->screen() : this->screen();
    move(ChooserOrigin(screen->geometry(), frameGeometry().size()));
  }

 public:
  // Open with a folder selected takes the folder (its photos) instead of going into it; a
  // double click still goes in.
  void accept() override {
    const QStringList chosen = selectedFiles();
    const bool anyFolder = std::any_of(chosen.begin(), chosen.end(),
                                       [](const QString& path) { return QFileInfo(path).isDir(); });
    const bool allThere = std::all_of(chosen.begin(), chosen.end(),
                                      [](const QString& path) { return QFileInfo::exists(path); });
    if (anyFolder && allThere) return QDialog::accept();
    QFileDialog::accept();
  }
};

// Saves the floating-point environment and puts it back, with no exception pending.
class FloatingPointEnvironment {
 public:
  FloatingPointEnvironment() { std::fegetenv(&saved_); }
  ~FloatingPointEnvironment() {
    std::fesetenv(&saved_);
    std::feclearexcept(FE_ALL_EXCEPT);
  }
  FloatingPointEnvironment(const FloatingPointEnvironment&) = delete;
  FloatingPointEnvironment& operator=(const FloatingPointEnvironment&) = delete;

 private:
  std::fenv_t saved_;
};

}  // namespace

std::optional<QStringList> QtFileDialog::Run(QWidget* owner, const QString& prefill) {
  // A file path as the start directory opens its folder with the file selected.
  ChooserDialog dialog(owner, QString(), prefill);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedFiles();
}

FileChooser::FileChooser(QWidget* owner, std::unique_ptr<FileDialog> dialog)
    : owner_(owner), dialog_(dialog ? std::move(dialog) : std::make_unique<QtFileDialog>()) {}

FileChooser::~FileChooser() = default;

bool FileChooser::ChooseFiles() {
  chosen_.clear();
  std::optional<QStringList> picked;
  {
    FloatingPointEnvironment environment;
    picked = dialog_->Run(owner_, firstOfLastSelection_);
  }
  if (!picked || picked->isEmpty()) return false;
  firstOfLastSelection_ = picked->front();
  // A chosen folder stands for its photos, in natural order, as on swelox-cli's command line.
  PathList paths;
  for (const QString& path : *picked) paths.push_back(QFile::encodeName(path).toStdString());
  FolderTally tally;
  ExpandFolders(paths, false, tally);
  for (const std::string& path : paths) {
    chosen_.push_back(QFile::decodeName(QByteArray::fromStdString(path)));
  }
  return !chosen_.isEmpty();
}

void FileChooser::SetDialog(std::unique_ptr<FileDialog> dialog) { dialog_ = std::move(dialog); }

}  // namespace swelox::ui
