#include "ui/gui_arguments.h"

#include <cstdlib>
#include <cstring>

#include "core/version.h"

namespace quorvel {

namespace {

const char* const kUsage =
    "usage: quorvel-gui [IMAGE...] [--image FILE]...\n"
    "\n"
    "The desktop application: the machine's disks and the given image files, read-only.\n"
    "\n"
    "  IMAGE, --image FILE   also open FILE as a disk image (raw image or device; repeatable)\n"
    "  --version             print the version and exit\n"
    "  -h, --help            show this help and exit\n"
    "\n"
    "It needs a display (X11 or Wayland); without one use the `quorvel` command line, or run it\n"
    "under xvfb-run. Reading physical disks needs read permission on /dev/NAME (root, or the disk\n"
    "group).\n";

// Qt's options that take a value; Qt itself reads them in QApplication.
bool IsQtOptionWithValue(const std::string& arg) {
  return arg == "-platform" || arg == "-display" || arg == "-style" || arg == "-stylesheet" ||
         arg == "-qwindowgeometry" || arg == "-qwindowtitle";
}

// The value of a Qt option with a value in argv, or null.
const char* QtOption(int argc, char** argv, const char* name) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  return nullptr;
}

bool Set(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value;
}

}  // namespace

GuiStart ParseGuiArguments(int argc, char** argv, GuiArguments& out, std::string& message) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      out.images.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--image") {
      if (i + 1 >= argc) {
        message = std::string("quorvel-gui: --image needs a file\n") + kUsage;
        return GuiStart::kUsageError;
      }
      out.images.push_back(argv[++i]);
    } else if (arg == "--no-physical-disks") {
      out.physicalDisks = false;
    } else if (arg == "--demo-script") {
      out.demoScript = true;
    } else if (arg == "--help" || arg == "-h") {
      message = kUsage;
      return GuiStart::kDone;
    } else if (arg == "--version") {
      message = std::string("quorvel-gui ") + kQuorvelVersion + "\n";
      return GuiStart::kDone;
    } else if (IsQtOptionWithValue(arg) && i + 1 < argc) {
      ++i;
    } else if (arg == "-reverse") {
    } else {
      message = "quorvel-gui: unknown option " + arg + "\n" + kUsage;
      return GuiStart::kUsageError;
    }
  }
  return GuiStart::kRun;
}

std::string MissingDisplayReason(int argc, char** argv) {
  const char* platform = QtOption(argc, argv, "-platform");
  if (!platform) platform = std::getenv("QT_QPA_PLATFORM");
  const std::string name = platform ? platform : "";
  const bool x11 = Set("DISPLAY") || QtOption(argc, argv, "-display");
  if (name.empty()) {
    if (x11 || Set("WAYLAND_DISPLAY")) return std::string();
    return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
  }
  if (name.rfind("xcb", 0) == 0 && !x11) return "no display: DISPLAY is not set";
  // Wayland finds its socket on its own; offscreen, vnc and the others need no display.
  return std::string();
}

std::string NoWindowMessage(const std::string& reason) {
  return "quorvel-gui: cannot open a window (" + reason +
         ").\n"
         "Run it on a desktop session or under xvfb-run, or use the command line: quorvel --help\n";
}

}  // namespace quorvel
