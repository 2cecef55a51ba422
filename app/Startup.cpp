// Qt's messages during the start of the application.
#include "app/Startup.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace swelox::ui {
namespace {

struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};

QtMessageHandler previous = nullptr;
std::vector<HeldMessage> held;
QString reason;  // the platform's first complaint: why no window could open

void Hold(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const QByteArray category(context.category != nullptr ? context.category : "");
  if (type == QtFatalMsg) {
    const QString why =
        reason.isEmpty() ? QStringLiteral("no Qt platform plugin could be initialised") : reason;
    std::fprintf(stderr,
                 "swelox: the window cannot open: %s; swelox-cli analyses photos without one\n",
                 why.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(1);
  }
  if (reason.isEmpty() && type == QtWarningMsg && category.startsWith("qt.qpa")) reason = text;
  held.push_back({type, category, text});
}

}  // namespace

StartupMessages::StartupMessages() {
  held.clear();
  reason.clear();
  previous = qInstallMessageHandler(Hold);
}

StartupMessages::~StartupMessages() {
  qInstallMessageHandler(previous);
  if (previous != nullptr) {
    for (const HeldMessage& message : held) {
      const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
      previous(message.type, context, message.text);
    }
  }
  held.clear();
}

}  // namespace swelox::ui
