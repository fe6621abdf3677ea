#pragma once
// The application object: splash, disk enumeration, then the main window,
// run modally; closing it ends the program.
#include <QApplication>
#include <QString>
#include <QStringList>
#include <memory>

#include "model/disk_records.h"

namespace quorvel {

class CQuorvelDlg;

class CQuorvelApp : public QApplication {
  Q_OBJECT

 public:
  CQuorvelApp(int& argc, char** argv);
  ~CQuorvelApp() override;

  // Returns the process exit code.
  int InitInstance();
  DiskList& Disks() { return disks_; }
  CQuorvelDlg* MainWindow() const { return mainWindow_; }

  // Applies the application font (a CJK font) and icon; shared with the tests.
  static void SetUpLook();

 private:
  bool ParseArguments(QString& error);

  DiskList disks_;
  CQuorvelDlg* mainWindow_ = nullptr;
  QStringList images_;
  bool physicalDisks_ = true;
  bool demoScript_ = false;
};

}  // namespace quorvel
