#include "ui/quorvel_app.h"

#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

#include "ui/artwork.h"
#include "ui/disk_list_problems.h"
#include "ui/hd_dlg.h"
#include "ui/quorvel_dlg.h"
#include "ui/screenshot_script.h"
#include "ui/splash_window.h"
#include "volumes/disk_enumeration.h"

namespace quorvel {

CQuorvelApp::CQuorvelApp(int& argc, char** argv, const GuiArguments& arguments)
    : QApplication(argc, argv), arguments_(arguments) {
  setApplicationName(QStringLiteral("Quorvel"));
  SetUpLook();
}

CQuorvelApp::~CQuorvelApp() { delete mainWindow_; }

void CQuorvelApp::SetUpLook() {
  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setPixelSize(13);
  QApplication::setFont(font);
  QApplication::setWindowIcon(AppIcon());
  LoadQtTranslations();
}

bool CQuorvelApp::LoadQtTranslations() {
  static QTranslator* translator = nullptr;
  if (translator) return true;
  auto* loaded = new QTranslator(QCoreApplication::instance());
  const QLocale chinese(QLocale::Chinese, QLocale::China);
  if (!loaded->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete loaded;
    return false;
  }
  QCoreApplication::installTranslator(loaded);
  translator = loaded;
  return true;
}

int CQuorvelApp::InitInstance() {
  QStringList problems;
  {
    CSplashWindow splash;
    splash.ShowNow();
    if (arguments_.physicalDisks) {
      std::vector<std::string> unreadable;
      EnumerateDisks(disks_, &unreadable);
      for (const std::string& why : unreadable) problems << DiskOpenProblem(why);
    }
    for (const std::string& image : arguments_.images) {
      const std::string path = QFileInfo(QString::fromStdString(image)).absoluteFilePath().toStdString();
      std::string why;
      if (OpenImageFile(disks_, path, &why)) continue;
      std::fprintf(stderr, "quorvel-gui: cannot open image %s\n", why.empty() ? image.c_str() : why.c_str());
      problems << ImageOpenProblem(QString::fromStdString(image), why);
    }
  }
  mainWindow_ = new CQuorvelDlg(disks_);
  mainWindow_->DiskPage()->SetListProblems(problems);
  if (arguments_.demoScript) (new ScreenshotScript(mainWindow_))->Start();
  mainWindow_->exec();
  return 0;
}

}  // namespace quorvel
