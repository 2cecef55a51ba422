// The application object: the program's name, icon and hint timing, and the error box for every
// error that escapes an event handler.
#pragma once

#include <QApplication>

namespace swelox::ui {

inline constexpr const char* kApplicationName = "Swelox";

class Application : public QApplication {
 public:
  Application(int& argc, char** argv);

  // Delivers one event; an error raised while handling it ends that handler and is shown.
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace swelox::ui
