#pragma once
// A scripted walk through the windows for screenshots (hidden option
// --demo-script): before each picture it prints "SHOT <name>" on stdout and
// waits for a line on stdin, so an outside tool can take the picture.
#include <QObject>
#include <QString>
#include <functional>

namespace quorvel {

class CQuorvelDlg;

class ScreenshotScript : public QObject {
  Q_OBJECT

 public:
  explicit ScreenshotScript(CQuorvelDlg* window);
  // Starts the walk once the event loop runs.
  void Start();

 private:
  void Run();
  // The deep scan of a wiped disk (an image with no partition rows), when one
  // is open: its progress dialog, the rows it adds, "Extra Found Files".
  void DeepScanShots();
  // The deep scan's result saved with "保存", then function 5 with its menu
  // and the file opened again on the disk.
  void ScanFileShots();
  // Format recovery's rebuilt tree, the same FAT volume as it stands
  // afterwards, the save refusals and Qt's own dialogs in Chinese.
  void UsabilityShots();
  // Runs the disk page's main action on the partition row whose disk row
  // text ends with diskSuffix and whose type starts with type, under
  // function; waits for the file page. False when there is no such row.
  bool OpenPartition(int function, const QString& diskSuffix, const QString& type);
  void Shot(const QString& name);
  bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

  CQuorvelDlg* window_;
};

}  // namespace quorvel
