// The file chooser: the dialog, its placement and the floating-point environment around it.
#include "app/FileChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QScreen>
#include <QShowEvent>
#include <cfenv>

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
  chosen_ = *picked;
  firstOfLastSelection_ = chosen_.front();
  return true;
}

void FileChooser::SetDialog(std::unique_ptr<FileDialog> dialog) { dialog_ = std::move(dialog); }

}  // namespace swelox::ui
