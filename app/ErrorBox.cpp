// The error box and the one place where the errors of handlers are caught.
#include "app/ErrorBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <new>

#include "core/Errors.h"

namespace swelox::ui {
namespace {

std::unique_ptr<ErrorBox>& CurrentBox() {
  static std::unique_ptr<ErrorBox> box = std::make_unique<MessageErrorBox>();
  return box;
}

}  // namespace

void MessageErrorBox::Show(const QString& caption, const QString& text) {
  QWidget* owner = QApplication::activeWindow();
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, owner);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

std::unique_ptr<ErrorBox> InstallErrorBox(std::unique_ptr<ErrorBox> box) {
  std::swap(CurrentBox(), box);
  return box;
}

std::optional<QString> ErrorText(std::exception_ptr error) {
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const SilentAbort&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    message = kOutOfMemory;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  return QString::fromStdString(WithFullStop(message));
}

void ShowHandlerError(std::exception_ptr error) {
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  if (const std::optional<QString> text = ErrorText(error)) {
    CurrentBox()->Show(QCoreApplication::applicationName(), *text);
  }
}

}  // namespace swelox::ui
