#include "ui/quorvel_app.h"

#include <QFileInfo>
#include <QFont>
#include <QMessageBox>
#include <cstdio>

#include "ui/artwork.h"
#include "ui/quorvel_dlg.h"
#include "ui/screenshot_script.h"
#include "ui/splash_window.h"
#include "volumes/disk_enumeration.h"

namespace quorvel {

namespace {
const char* const kUsage =
    "usage: quorvel-gui [--image FILE]...\n"
    "  --image FILE   also open FILE as a disk image (may be repeated)\n";
}

CQuorvelApp::CQuorvelApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Quorvel"));
  SetUpLook();
}

CQuorvelApp::~CQuorvelApp() { delete mainWindow_; }

void CQuorvelApp::SetUpLook() {
  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setPixelSize(13);
  QApplication::setFont(font);
  QApplication::setWindowIcon(AppIcon());
}

bool CQuorvelApp::ParseArguments(QString& error) {
  QStringList args = arguments();
  for (int i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QStringLiteral("--image") && i + 1 < args.size()) {
      images_ << args[++i];
    } else if (arg == QStringLiteral("--no-physical-disks")) {  // hidden: images only
      physicalDisks_ = false;
    } else if (arg == QStringLiteral("--demo-script")) {  // hidden: scripted screenshots
      demoScript_ = true;
    } else if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
      error = QString::fromUtf8(kUsage);
      return false;
    } else {
      error = QStringLiteral("unknown argument: ") + arg + QLatin1Char('\n') + QString::fromUtf8(kUsage);
      return false;
    }
  }
  return true;
}

int CQuorvelApp::InitInstance() {
  QString error;
  if (!ParseArguments(error)) {
    std::fputs(error.toUtf8().constData(), stderr);
    return error.startsWith(QStringLiteral("usage")) ? 0 : 1;
  }
  {
    CSplashWindow splash;
    splash.ShowNow();
    if (physicalDisks_) EnumerateDisks(disks_);
    for (const QString& image : images_) {
      std::string why;
      if (!OpenImageFile(disks_, QFileInfo(image).absoluteFilePath().toStdString(), &why))
        std::fprintf(stderr, "quorvel-gui: cannot open image %s\n", why.c_str());
    }
  }
  mainWindow_ = new CQuorvelDlg(disks_);
  if (demoScript_) (new ScreenshotScript(mainWindow_))->Start();
  mainWindow_->exec();
  return 0;
}

}  // namespace quorvel
