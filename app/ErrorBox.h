// The error box: every error that escapes a handler ends that handler and is shown to the user
// in a modal message box; the program then goes on with whatever was already done.
#pragma once

#include <QString>
#include <QStringList>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/Errors.h"

namespace swelox::ui {

// Shows one message to the user. The program uses the stop box below; tests put a recorder in
// its place.
class ErrorBox {
 public:
  virtual ~ErrorBox() = default;
  // `details`, when not empty, is the full text of a message too long to show whole.
  virtual void Show(const QString& caption, const QString& text, const QString& details) = 0;
};

// The platform's message box with the stop icon and one OK button, over the active window. It
// blocks input to the program's windows but not its event loop: rows go on arriving meanwhile.
// One box shows at a time; messages that come while it shows wait for it to be dismissed.
class MessageErrorBox : public ErrorBox {
 public:
  void Show(const QString& caption, const QString& text, const QString& details) override;
};

// Puts `box` in place of the current error box and gives back the one it replaces.
std::unique_ptr<ErrorBox> InstallErrorBox(std::unique_ptr<ErrorBox> box);

// The text the user sees for an error, or nothing for one that is dropped silently.
std::optional<QString> ErrorText(const Error& error);
std::optional<QString> ErrorText(std::exception_ptr error);

// Reports an error that ended a handler: releases any mouse grab, drops a silent abort, and
// shows the message with its full stop, under the application's name.
void ShowHandlerError(std::exception_ptr error);

// Shows `text` in the error box under the application's name.
void ShowErrorText(const QString& text, const QString& details = QString());

// An error raised by a photo: the message with its full stop, and on a second line the photo
// with the decoder's own explanation where it gave one.
QString PhotoErrorText(const Error& error, const QString& photo);

// One box for the photos that a run skipped, each with its error.
void ShowFailureList(const std::vector<std::pair<QString, Error>>& failures);

// Runs one handler to its end or to its first error, which is shown in the error box. Every
// handler of the program runs through here: the slots through Guarded, the events through the
// application's notify.
template <typename Handler>
void RunHandler(Handler&& handler) {
  try {
    std::forward<Handler>(handler)();
  } catch (...) {
    ShowHandlerError(std::current_exception());
  }
}

// A slot that runs `handler` through RunHandler, so that no error travels back into Qt.
template <typename Handler>
auto Guarded(Handler handler) {
  return [handler = std::move(handler)]() { RunHandler(handler); };
}

}  // namespace swelox::ui
