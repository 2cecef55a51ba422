// While the window's application object starts: Qt's messages are held back, and the fatal one
// that ends a start without a display to open (a DISPLAY naming no reachable X server) becomes one
// line and exit status 1, instead of an abort and a hint to reinstall.
#pragma once

namespace swelox::ui {

class StartupMessages {
 public:
  StartupMessages();
  // Hands what was held back to the handler before, in order, and restores it.
  ~StartupMessages();
  StartupMessages(const StartupMessages&) = delete;
  StartupMessages& operator=(const StartupMessages&) = delete;
};

}  // namespace swelox::ui
