#pragma once
// The application object: splash, disk enumeration, then the main window,
// run modally; closing it ends the program.
#include <QApplication>
#include <QString>
#include <QStringList>
#include <memory>

#include "model/disk_records.h"
#include "ui/gui_arguments.h"

namespace quorvel {

class CQuorvelDlg;

class CQuorvelApp : public QApplication {
  Q_OBJECT

 public:
  CQuorvelApp(int& argc, char** argv, const GuiArguments& arguments);
  ~CQuorvelApp() override;

  // Returns the process exit code.
  int InitInstance();
  DiskList& Disks() { return disks_; }
  CQuorvelDlg* MainWindow() const { return mainWindow_; }

  // Applies the application font (a CJK font) and icon, and Qt's own
  // Chinese texts for its dialogs; shared with the tests.
  static void SetUpLook();
  // Installs Qt's Chinese translations ("确定", "取消", "打开" in its file
  // and message dialogs); false when they are not installed.
  static bool LoadQtTranslations();

 private:
  DiskList disks_;
  CQuorvelDlg* mainWindow_ = nullptr;
  GuiArguments arguments_;
};

}  // namespace quorvel
