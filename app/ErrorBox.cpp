// The error box and the one place where the errors of handlers are caught.
#include "app/ErrorBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <deque>

#include "core/Errors.h"

namespace swelox::ui {
namespace {

std::unique_ptr<ErrorBox>& CurrentBox() {
  static std::unique_ptr<ErrorBox> box = std::make_unique<MessageErrorBox>();
  return box;
}

}  // namespace

namespace {

struct Message {
  QString caption, text, details;
};

// The messages waiting for the box that shows now; the box, while one shows.
std::deque<Message>& Waiting() {
  static std::deque<Message> waiting;
  return waiting;
}
QPointer<QMessageBox>& Showing() {
  static QPointer<QMessageBox> showing;
  return showing;
}

void ShowNext() {
  if (Showing() || Waiting().empty()) return;
  const Message m = Waiting().front();
  Waiting().pop_front();
  auto* box = new QMessageBox(QMessageBox::Critical, m.caption, m.text, QMessageBox::Ok,
                              QApplication::activeWindow());
  if (!m.details.isEmpty()) box->setDetailedText(m.details);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  QObject::connect(box, &QObject::destroyed, [] {
    // After the box has gone: the next one, if any, from the event loop.
    QTimer::singleShot(0, [] { ShowNext(); });
  });
  Showing() = box;
  box->show();  // no nested event loop: the program goes on while it shows
}

}  // namespace

void MessageErrorBox::Show(const QString& caption, const QString& text, const QString& details) {
  Waiting().push_back({caption, text, details});
  ShowNext();
}

std::unique_ptr<ErrorBox> InstallErrorBox(std::unique_ptr<ErrorBox> box) {
  std::swap(CurrentBox(), box);
  return box;
}

std::optional<QString> ErrorText(const Error& error) {
  if (error.kind() == ErrorKind::Stopped) return std::nullopt;
  return QString::fromStdString(WithFullStop(error.what()));
}

std::optional<QString> ErrorText(std::exception_ptr error) {
  return ErrorText(ErrorFromException(error));
}

void ShowHandlerError(std::exception_ptr error) {
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  if (const std::optional<QString> text = ErrorText(error)) ShowErrorText(*text);
}

void ShowErrorText(const QString& text, const QString& details) {
  CurrentBox()->Show(QCoreApplication::applicationName(), text, details);
}

QString PhotoErrorText(const Error& error, const QString& photo) {
  QString text = QString::fromStdString(WithFullStop(error.what())) + QLatin1Char('\n') + photo;
  if (!error.detail().empty())
    text += QStringLiteral(": ") + QString::fromStdString(error.detail());
  return text;
}

void ShowFailureList(const std::vector<std::pair<QString, Error>>& failures) {
  // Up to this many show in the box itself; all of them under "Show Details...".
  constexpr size_t kShownFailures = 15;
  QStringList lines;
  for (const auto& [photo, error] : failures) {
    QString line =
        photo + QStringLiteral(": ") + QString::fromStdString(WithFullStop(error.what()));
    if (!error.detail().empty()) {
      line += QStringLiteral(" (") + QString::fromStdString(error.detail()) + QLatin1Char(')');
    }
    lines << line;
  }
  QString text = failures.size() == 1
                     ? QStringLiteral("1 photo failed and was skipped:")
                     : QStringLiteral("%1 photos failed and were skipped:").arg(failures.size());
  for (size_t k = 0; k < std::min(failures.size(), kShownFailures); ++k) {
    text += QLatin1Char('\n') + lines[static_cast<qsizetype>(k)];
  }
  QString details;
  if (failures.size() > kShownFailures) {
    text += QStringLiteral("\n... and %1 more.").arg(failures.size() - kShownFailures);
    details = lines.join(QLatin1Char('\n'));
  }
  ShowErrorText(text, details);
}

}  // namespace swelox::ui
