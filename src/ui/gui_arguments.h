#pragma once
// The command line of quorvel-gui, read before any Qt object exists so that
// help, the version and a missing display are answered without a window
// system (Qt aborts inside QApplication when it finds no display).
#include <string>
#include <vector>

namespace quorvel {

struct GuiArguments {
  std::vector<std::string> images;  // --image FILE and plain arguments, in order
  bool physicalDisks = true;        // --no-physical-disks (hidden): images only
  bool demoScript = false;          // --demo-script (hidden): scripted screenshots
};

enum class GuiStart {
  kRun,         // open the window
  kDone,        // help or version printed: exit 0
  kUsageError,  // message says why: exit 1
};

// Reads argv. Qt's own options (-platform NAME, -display NAME, -style NAME,
// -reverse) are left for Qt. message holds the help, the version or the error.
GuiStart ParseGuiArguments(int argc, char** argv, GuiArguments& out, std::string& message);

// Why Qt would find no display for the platform it is going to use, or ""
// when there should be one. Looks at -platform / -display in argv and at
// QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY.
std::string MissingDisplayReason(int argc, char** argv);

// The message (and its hint) shown instead of a window.
std::string NoWindowMessage(const std::string& reason);

}  // namespace quorvel
