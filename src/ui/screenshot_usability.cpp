// The screenshot walk's pictures of the usability points: format recovery's
// own page, a healthy volume shown as it stands after it, the save
// refusals and Qt's dialogs in the application's language.
#include <QFileDialog>
#include <QMessageBox>

#include "core/operation_busy.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_save_file_dlg.h"
#include "ui/quorvel_dlg.h"
#include "ui/screenshot_script.h"

namespace quorvel {

bool ScreenshotScript::OpenPartition(int function, const QString& diskSuffix, const QString& type) {
  CHdDlg* disks = window_->DiskPage();
  CFileDlg* files = window_->FilePage();
  CTreeListCtrl* tree = disks->Tree();
  window_->ChooseFunction(function);
  CTreeListCtrl::Row target = nullptr;
  for (CTreeListCtrl::Row d = tree->GetRootItem(); d && !target; d = tree->GetNextSiblingItem(d)) {
    if (!tree->GetItemText(d, 0).endsWith(diskSuffix)) continue;
    for (CTreeListCtrl::Row p = tree->GetChildItem(d); p && !target; p = tree->GetNextSiblingItem(p))
      if (tree->GetItemText(p, CHDTreeListCtrl::kTypeColumn).startsWith(type)) target = p;
  }
  if (!target) return false;
  tree->SelectItem(target);
  bool finished = false;
  QMetaObject::Connection done = connect(files, &CFileDlg::RunFinished, this, [&finished](bool) { finished = true; });
  disks->OnMainAction();
  WaitFor([&] { return finished && !OperationBusy().load(); }, 120000);
  disconnect(done);
  return finished;
}

void ScreenshotScript::UsabilityShots() {
  CFileDlg* files = window_->FilePage();
  CTreeListCtrl* left = files->LeftTree();
  // Opens "根目录" and shows its first subfolder in the list.
  auto showFirstFolder = [&] {
    CTreeListCtrl::Row root = left->GetChildItem(left->GetRootItem());
    if (!root) return;
    left->Expand(root);
    CTreeListCtrl::Row first = left->GetChildItem(root);
    if (!first) first = root;
    left->Expand(first);
    left->SelectItem(first);
    files->ShowFolder(first);
  };

  // A quick-formatted volume: the page shows the folders rebuilt from the
  // directory sectors when the sweep ends.
  if (OpenPartition(1, QStringLiteral("format_fat32.img"), QStringLiteral("FAT32"))) {
    showFirstFolder();
    Shot(QStringLiteral("format_recovery"));
  }
  // A healthy volume after format recovery: numbered folders there, its own
  // named folders on "文件删除恢复".
  if (OpenPartition(1, QStringLiteral("demo.img"), QStringLiteral("FAT32"))) {
    showFirstFolder();
    Shot(QStringLiteral("healthy_format_recovery"));
  }
  if (OpenPartition(0, QStringLiteral("demo.img"), QStringLiteral("FAT32"))) {
    showFirstFolder();
    Shot(QStringLiteral("healthy_after_format_recovery"));
  }

  // "多选保存" with nothing ticked says so before any folder is asked for.
  left->SetCheck(left->GetRootItem(), 0);
  files->MultiSelectSave(true);
  Shot(QStringLiteral("multi_select_nothing_ticked"));

  // OK with no folder: refused inside the dialog, which stays open.
  left->SetCheck(left->GetChildItem(left->GetRootItem()), 1);
  files->runSaveDialog = [this](CMySaveFileDlg& dialog) {
    dialog.show();
    dialog.move(window_->geometry().center() - dialog.rect().center());
    dialog.accept();
    Shot(QStringLiteral("save_dialog_no_folder"));
    dialog.reject();
    return false;
  };
  files->MultiSelectSave(true);
  files->runSaveDialog = nullptr;
  left->SetCheck(left->GetRootItem(), 0);

  // Qt's own dialogs speak the application's language.
  QMessageBox question(QMessageBox::Question, QStringLiteral("Recover"),
                       QStringLiteral("将文件放回原分区行为危险\r\n希望重新选择"),
                       QMessageBox::Ok | QMessageBox::Cancel, window_);
  question.show();
  question.move(window_->geometry().center() - question.rect().center());
  Shot(QStringLiteral("qt_message_box"));
  question.close();
  QFileDialog open(window_, QStringLiteral("打开镜像文件"), QString(),
                   QStringLiteral("Img files(*.img);;All files(*)"));
  open.setOption(QFileDialog::DontUseNativeDialog);
  open.show();
  open.move(window_->geometry().center() - open.rect().center());
  Shot(QStringLiteral("qt_file_dialog"));
  open.close();
}

}  // namespace quorvel
