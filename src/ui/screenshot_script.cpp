#include "ui/screenshot_script.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

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
  std::printf("DONE\n");
  std::fflush(stdout);
  window_->close();
}

}  // namespace quorvel
