// quorvel-gui: the desktop face of Quorvel.
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

#include "ui/gui_arguments.h"
#include "ui/quorvel_app.h"

namespace {

QtMessageHandler g_qtMessages = nullptr;

// Qt ends the process with a fatal message when no window system can be
// reached (an unreachable display, say): say why in our words and leave
// with a status instead of an abort.
void StartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    std::fputs(quorvel::NoWindowMessage(text.toStdString()).c_str(), stderr);
    std::_Exit(2);
  }
  if (g_qtMessages) g_qtMessages(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  quorvel::GuiArguments arguments;
  std::string message;
  switch (quorvel::ParseGuiArguments(argc, argv, arguments, message)) {
    case quorvel::GuiStart::kDone:
      std::fputs(message.c_str(), stdout);
      return 0;
    case quorvel::GuiStart::kUsageError:
      std::fputs(message.c_str(), stderr);
      return 1;
    case quorvel::GuiStart::kRun:
      break;
  }
  const std::string noDisplay = quorvel::MissingDisplayReason(argc, argv);
  if (!noDisplay.empty()) {
    std::fputs(quorvel::NoWindowMessage(noDisplay).c_str(), stderr);
    return 2;
  }
  g_qtMessages = qInstallMessageHandler(StartupMessage);
  quorvel::CQuorvelApp app(argc, argv, arguments);
  qInstallMessageHandler(g_qtMessages);
  return app.InitInstance();
}
