// Start-up settings of the application, and its last line of defence against errors.
#include "app/Application.h"

#include <QIcon>
#include <QProxyStyle>

#include "app/ErrorBox.h"

namespace swelox::ui {
namespace {

// Hints show after the pointer has rested for 500 ms (each label hides its own after 2500 ms).
class HintTimingStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_ToolTip_WakeUpDelay) return 500;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(kApplicationName);
  setDesktopFileName(QStringLiteral("swelox"));
  setWindowIcon(QIcon(QStringLiteral(":/swelox.png")));
  setStyle(new HintTimingStyle);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  bool handled = false;
  RunHandler([&] { handled = QApplication::notify(receiver, event); });
  return handled;
}

}  // namespace swelox::ui
