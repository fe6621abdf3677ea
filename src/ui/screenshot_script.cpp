#include "ui/screenshot_script.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QSocketNotifier>
#include <QTimer>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "core/operation_busy.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/hex_view_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/progress_dlg.h"
#include "ui/quorvel_dlg.h"

namespace quorvel {

namespace {

// Passes a worker's reports on, and holds the worker at its second position
// report until released, so the progress dialog can be pictured mid-run.
class HoldingSink : public ProgressSink {
 public:
  explicit HoldingSink(ProgressSink* inner) : inner_(inner) {}
  void Range(uint64_t upper, uint64_t step) override { inner_->Range(upper, step); }
  void Step() override { inner_->Step(); }
  void Pos(uint64_t position) override {
    inner_->Pos(position);
    if (position != 1) return;
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = true;
    released_.wait(lock, [this] { return release_; });
  }
  void Text(const std::string& text) override { inner_->Text(text); }
  void Close() override { inner_->Close(); }
  bool Held() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    release_ = true;
    released_.notify_all();
  }

 private:
  ProgressSink* inner_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false, release_ = false;
};

}  // namespace

ScreenshotScript::ScreenshotScript(CQuorvelDlg* window) : QObject(window), window_(window) {}

void ScreenshotScript::Start() { QTimer::singleShot(800, this, &ScreenshotScript::Run); }

bool ScreenshotScript::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void ScreenshotScript::Shot(const QString& name) {
  // Let the windows paint before the picture is taken.
  WaitFor([] { return false; }, 400);
  std::printf("SHOT %s\n", name.toUtf8().constData());
  std::fflush(stdout);
  QEventLoop loop;
  QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
    char c;
    while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n') {
    }
    loop.quit();
  });
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  loop.exec();
}

void ScreenshotScript::Run() {
  CHdDlg* disks = window_->DiskPage();
  CFileDlg* files = window_->FilePage();
  CTreeListCtrl* tree = disks->Tree();
  window_->ChooseFunction(0);

  // The last disk is the image given on the command line; take its first
  // FAT partition (a FAT volume lists deleted files by name).
  CTreeListCtrl::Row target = nullptr;
  for (CTreeListCtrl::Row d = tree->GetRootItem(); d; d = tree->GetNextSiblingItem(d)) {
    for (CTreeListCtrl::Row p = tree->GetChildItem(d); p; p = tree->GetNextSiblingItem(p)) {
      QString type = tree->GetItemText(p, CHDTreeListCtrl::kTypeColumn);
      if (type.startsWith(QStringLiteral("FAT"))) {
        target = p;
        break;
      }
    }
  }
  if (target) tree->SelectItem(target);
  Shot(QStringLiteral("disk_page"));

  if (target) {
    bool finished = false;
    connect(files, &CFileDlg::RunFinished, this, [&finished](bool) { finished = true; });
    disks->OnMainAction();
    WaitFor([&] { return finished && !OperationBusy().load(); }, 60000);
    // Open the root folder and tick the deleted files.
    CTreeListCtrl* left = files->LeftTree();
    CTreeListCtrl::Row root = left->GetChildItem(left->GetRootItem());
    CTreeListCtrl::Row shown = root;
    // The "docs" folder holds normal and deleted files side by side.
    for (CTreeListCtrl::Row r = left->GetChildItem(root); r; r = left->GetNextSiblingItem(r))
      if (left->GetItemText(r, 0) == QStringLiteral("docs")) shown = r;
    if (root) left->Expand(root);
    if (shown) {
      left->Expand(shown);
      left->SelectItem(shown);
      files->ShowFolder(shown);
    }
    CTreeListCtrl* right = files->RightList();
    CTreeListCtrl::Row firstDeleted = nullptr;
    for (CTreeListCtrl::Row r = right->GetRootItem(); r; r = right->GetNextSiblingItem(r)) {
      if (right->GetItemText(r, CMyRightTreelistCtrl::kStateColumn) == QStringLiteral("已删除文件")) {
        right->SetCheck(r, 1);
        if (!firstDeleted) firstDeleted = r;
      }
    }
    if (firstDeleted) right->SelectItem(firstDeleted);
  }
  Shot(QStringLiteral("file_page"));

  // The progress dialog as a save shows it halfway.
  CProgressDlg* progress = files->ProgressDialog();
  progress->StartOperation(QStringLiteral("保存文件"), QStringLiteral("正在保存文件，请稍等..."));
  progress->move(window_->geometry().center() - progress->rect().center());
  progress->OnProgressRange(100, 1);
  progress->OnProgressPos(46);
  progress->OnProgressText(QStringLiteral("1.25 MB被保存"));
  Shot(QStringLiteral("progress_dialog"));
  progress->hide();

  files->runHexDialog = [this](CHEXVIEWDLG& dialog) {
    dialog.move(window_->geometry().center() - dialog.rect().center());
    dialog.show();
    Shot(QStringLiteral("hex_view"));
    dialog.accept();
  };
  files->HexView();
  UsabilityShots();
  DeepScanShots();
  ScanFileShots();
  std::printf("DONE\n");
  std::fflush(stdout);
  window_->close();
}

void ScreenshotScript::DeepScanShots() {
  // A disk without partition rows (a wiped one) gets the deep scan.
  CHdDlg* disks = window_->DiskPage();
  CFileDlg* files = window_->FilePage();
  CTreeListCtrl* tree = disks->Tree();
  window_->ChooseFunction(3);
  CTreeListCtrl::Row wiped = nullptr;
  for (CTreeListCtrl::Row d = tree->GetRootItem(); d; d = tree->GetNextSiblingItem(d))
    if (!tree->GetChildItem(d)) wiped = d;
  if (!wiped) return;
  tree->SelectItem(wiped);

  ScanProgress& progress = files->ProgressDialog()->Progress();
  ProgressSink* dialogSink = progress.sink;
  HoldingSink holding(dialogSink);
  progress.sink = &holding;
  bool finished = false;
  connect(disks, &CHdDlg::DeepScanFinished, this, [&finished](const DeepScanOutcome&) { finished = true; });
  disks->OnScan();
  CProgressDlg* dialog = files->ProgressDialog();
  dialog->move(window_->geometry().center() - dialog->rect().center());
  if (WaitFor([&] { return holding.Held(); }, 60000)) Shot(QStringLiteral("deep_scan_progress"));
  holding.Release();
  WaitFor([&] { return finished && !OperationBusy().load() && disks->ScanIdle(); }, 120000);
  progress.sink = dialogSink;
  tree->Expand(wiped);
  Shot(QStringLiteral("deep_scan_rows"));

  // The volume found by its NTFS boot sector, opened on the file page with
  // the carved files under "Extra Found Files".
  CTreeListCtrl::Row ntfs = nullptr;
  for (CTreeListCtrl::Row p = tree->GetChildItem(wiped); p; p = tree->GetNextSiblingItem(p))
    if (!ntfs && tree->GetItemText(p, CHDTreeListCtrl::kTypeColumn) == QStringLiteral("NTFS")) ntfs = p;
  if (!ntfs) return;
  tree->SelectItem(ntfs);
  bool opened = false;
  connect(files, &CFileDlg::RunFinished, this, [&opened](bool) { opened = true; });
  disks->OnMainAction();
  WaitFor([&] { return opened && !OperationBusy().load(); }, 60000);
  CTreeListCtrl* left = files->LeftTree();
  for (CTreeListCtrl::Row r = left->GetChildItem(left->GetRootItem()); r; r = left->GetNextSiblingItem(r)) {
    if (left->GetItemText(r, 0) != QStringLiteral("Extra Found Files")) continue;
    left->SelectItem(r);
    files->ShowFolder(r);
    CTreeListCtrl* right = files->RightList();
    int n = 0;
    for (CTreeListCtrl::Row f = right->GetRootItem(); f && n < 3; f = right->GetNextSiblingItem(f), ++n)
      right->SetCheck(f, 1);
  }
  Shot(QStringLiteral("extra_found_files"));
}

void ScreenshotScript::ScanFileShots() {
  CHdDlg* disks = window_->DiskPage();
  CTreeListCtrl* tree = disks->Tree();
  window_->ChooseFunction(3);
  // The disk the deep scan ran over: the last one, now with found rows.
  CTreeListCtrl::Row scanned = nullptr;
  for (CTreeListCtrl::Row d = tree->GetRootItem(); d; d = tree->GetNextSiblingItem(d))
    if (tree->GetItemText(d, 0) == disks->LastScannedDisk()) scanned = d;
  if (!scanned) return;
  const QString path = QDir::tempPath() + QStringLiteral("/quorvel-screenshot.rvz_scn");
  bool finished = false;
  connect(disks, &CHdDlg::ScanFileFinished, this, [&finished] { finished = true; });
  disks->chooseSaveScanFile = [&path](const QString&) { return path; };
  tree->SelectItem(scanned);
  disks->OnSaveScanResult();
  WaitFor([&] { return finished && !OperationBusy().load() && disks->WorkersIdle(); }, 60000);
  Shot(QStringLiteral("scan_file_saved"));

  window_->ChooseFunction(5);
  tree->SelectItem(scanned);
  std::unique_ptr<QMenu> menu(disks->BuildContextMenu(scanned));
  if (menu) {
    menu->popup(tree->viewport()->mapToGlobal(tree->visualItemRect(scanned).center()));
    Shot(QStringLiteral("scan_file_menu"));
    menu->close();
  }
  finished = false;
  disks->chooseOpenScanFile = [&path] { return path; };
  disks->OnOpenScanResult();
  WaitFor([&] { return finished && !OperationBusy().load() && disks->WorkersIdle(); }, 60000);
  Shot(QStringLiteral("scan_file_opened"));
  QFile::remove(path);
}

}  // namespace quorvel
