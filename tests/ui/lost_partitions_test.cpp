// Function 2 "扫描丢失分区" end to end on a disk whose MBR was wiped: the
// scan-mode dialog, the progress dialog with its partition count, the found
// partitions in green on the disk page, and opening one of them.
// With QUORVEL_SHOTS=DIR (run under Xvfb with QT_QPA_PLATFORM=xcb) the screen
// is saved at the interesting moments.
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "core/operation_busy.h"
#include "ui/artwork.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/progress_dlg.h"
#include "ui/quorvel_app.h"
#include "ui/quorvel_dlg.h"
#include "ui/search_disk_part_dlg.h"
#include "ui/xp_button.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {

void Shot(const QString& name) {
  const QString dir = qEnvironmentVariable("QUORVEL_SHOTS");
  if (dir.isEmpty() || !QGuiApplication::primaryScreen()) return;
  QTest::qWait(300);
  QGuiApplication::primaryScreen()->grabWindow(0).save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QStringList ChildTexts(CTreeListCtrl* tree, CTreeListCtrl::Row disk) {
  QStringList texts;
  for (auto* p = tree->GetChildItem(disk); p; p = tree->GetNextSiblingItem(p)) texts << tree->GetItemText(p, 0);
  return texts;
}

CTreeListCtrl::Row DiskRow(CTreeListCtrl* tree, const QString& identity) {
  for (auto* d = tree->GetRootItem(); d; d = tree->GetNextSiblingItem(d))
    if (tree->GetItemText(d, 0) == identity) return d;
  return nullptr;
}

CTreeListCtrl::Row ChildRow(CTreeListCtrl* tree, CTreeListCtrl::Row disk, const QString& text) {
  for (auto* p = tree->GetChildItem(disk); p; p = tree->GetNextSiblingItem(p))
    if (tree->GetItemText(p, 0) == text) return p;
  return nullptr;
}

}  // namespace

class LostPartitionsTest : public QObject {
  Q_OBJECT

  DiskList disks_;
  std::unique_ptr<CQuorvelDlg> window_;
  QString tempDir_;

  CHdDlg* DiskPage() { return window_->DiskPage(); }
  bool Idle() { return !OperationBusy().load() && window_->FilePage()->WorkersIdle(); }

  // Runs function 2 on a disk row, answering the mode dialog with `precise`.
  bool Scan(const QString& identity, bool precise, bool* dialogShown = nullptr) {
    window_->ChooseFunction(2);
    CTreeListCtrl* tree = DiskPage()->Tree();
    tree->SelectItem(DiskRow(tree, identity));
    DiskPage()->runSearchDialog = [&](CSearchDiskPart& dialog) {
      if (dialogShown) *dialogShown = true;
      dialog.show();
      Shot(QStringLiteral("lost_mode_dialog"));
      (precise ? dialog.PreciseButton() : dialog.QuickButton())->setChecked(true);
      QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
      return dialog.result() == QDialog::Accepted;
    };
    QSignalSpy finished(DiskPage(), &CHdDlg::LostPartitionScanFinished);
    DiskPage()->OnScan();
    // The signal comes while the worker still holds the busy flag.
    return (finished.wait(120000) || !finished.isEmpty()) && WaitUntil([&] { return Idle(); });
  }

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    if (!HaveFixture("lost-mbr.img")) QSKIP("lost-mbr.img was not built");
    QVERIFY(quorvel::OpenImageFile(disks_, FixturePath("lost-mbr.img")));
    QVERIFY(quorvel::OpenImageFile(disks_, FixturePath("lost-aligned.img")));
    window_ = std::make_unique<CQuorvelDlg>(disks_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanupTestCase() {
    if (window_) QVERIFY(WaitUntil([&] { return Idle(); }));
    window_.reset();
    if (!tempDir_.isEmpty()) QDir(tempDir_).removeRecursively();
  }

  // The dialog starts on quick and gives the mode of the checked button only on OK.
  void ModeDialog() {
    CSearchDiskPart dialog(255);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("扫描丢失磁盘分区"));
    QVERIFY(dialog.QuickButton()->isChecked());
    QCOMPARE(dialog.QuickButton()->text(), QStringLiteral("快速扫描"));
    QCOMPARE(dialog.PreciseButton()->text(), QStringLiteral("精确扫描(慢)"));
    QCOMPARE(dialog.OkButton()->text(), QStringLiteral("确定"));
    QCOMPARE(dialog.CancelButton()->text(), QStringLiteral("取消"));
    dialog.PreciseButton()->setChecked(true);
    QCOMPARE(dialog.Mode(), kQuickLostScan);
    dialog.accept();
    QCOMPARE(dialog.Mode(), kPreciseLostScan);
    QCOMPARE(dialog.TracksPerCylinder(), 255u);
  }

  // Cancel ends silently: no scan, no message, the busy flag free again.
  void CancelEndsSilently() {
    window_->ChooseFunction(2);
    CTreeListCtrl* tree = DiskPage()->Tree();
    auto* disk = DiskRow(tree, QStringLiteral("lost-mbr.img"));
    tree->SelectItem(disk);
    bool asked = false;
    DiskPage()->runSearchDialog = [&](CSearchDiskPart& dialog) {
      asked = true;
      QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
      return dialog.result() == QDialog::Accepted;
    };
    DiskPage()->OnScan();
    QVERIFY(asked);
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("状态提示..."));
    QVERIFY(!OperationBusy().load());
    QVERIFY(ChildTexts(tree, disk).isEmpty());
  }

  // The quick scan from the context menu: every volume of the wiped disk
  // gets a green row with its label, type and size; the progress dialog
  // shows the count; a partition row is refused.
  void QuickScanFromTheMenuAddsGreenRows() {
    window_->ChooseFunction(2);
    CTreeListCtrl* tree = DiskPage()->Tree();
    auto* disk = DiskRow(tree, QStringLiteral("lost-mbr.img"));
    tree->SelectItem(disk);
    std::unique_ptr<QMenu> menu(DiskPage()->BuildContextMenu(disk));
    QAction* lost = nullptr;
    for (QAction* a : menu->actions())
      if (a->text() == QStringLiteral("扫描丢失分区")) lost = a;
    QVERIFY(lost && lost->isEnabled());
    bool asked = false;
    DiskPage()->runSearchDialog = [&](CSearchDiskPart& dialog) {
      asked = true;
      dialog.accept();
      return true;
    };
    QSignalSpy finished(DiskPage(), &CHdDlg::LostPartitionScanFinished);
    lost->trigger();
    QVERIFY(finished.wait(120000) || !finished.isEmpty());
    QVERIFY(asked);
    QCOMPARE(finished.front().front().toBool(), true);
    QVERIFY(WaitUntil([&] { return Idle(); }));
    QCOMPARE(ChildTexts(tree, disk),
             QStringList({"Partition0", "Partition1", "Partition2", "Partition3", "Partition4", "Partition5"}));
    CProgressDlg* progress = DiskPage()->ProgressDialog();
    QCOMPARE(progress->windowTitle(), QStringLiteral("扫描丢失分区"));
    QCOMPARE(progress->CaptionText(), QStringLiteral("已经找到6个分区,继续扫描,稍等..."));
    QVERIFY(!progress->isVisible());
    auto* ntfs = ChildRow(tree, disk, QStringLiteral("Partition2"));
    QCOMPARE(tree->GetItemText(ntfs, CHDTreeListCtrl::kLabelColumn), QStringLiteral("TAIL-NTFS"));
    QCOMPARE(tree->GetItemText(ntfs, CHDTreeListCtrl::kTypeColumn), QStringLiteral("NTFS"));
    QCOMPARE(tree->GetItemText(ntfs, CHDTreeListCtrl::kSizeColumn), QStringLiteral("23.5 MB"));
    auto* fat16 = ChildRow(tree, disk, QStringLiteral("Partition3"));
    QCOMPARE(tree->GetItemText(fat16, CHDTreeListCtrl::kLabelColumn), QStringLiteral("LOG16"));
    QCOMPARE(tree->GetItemText(fat16, CHDTreeListCtrl::kTypeColumn), QStringLiteral("FAT16"));
    for (auto* p = tree->GetChildItem(disk); p; p = tree->GetNextSiblingItem(p))
      QCOMPARE(tree->GetItemTextColor(p), ColorRef(0x8000));
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("扫描完成, 找到6个新分区"));
    tree->SelectItem(fat16);
    Shot(QStringLiteral("lost_disk_page"));

    // A partition row is not a disk.
    DiskPage()->OnScan();
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请正确选择磁盘!"));
    QCOMPARE(DiskPage()->BuildContextMenu(fat16), nullptr);

    // A second scan finds the same volumes and adds no row.
    QVERIFY(Scan(QStringLiteral("lost-mbr.img"), false));
    QCOMPARE(ChildTexts(tree, disk).size(), 6);
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("扫描完成, 找到0个新分区"));
  }

  // A found partition opens like any other: function 2's main action
  // expands it into the file page.
  void FoundPartitionExpands() {
    window_->ChooseFunction(2);
    CTreeListCtrl* tree = DiskPage()->Tree();
    auto* disk = DiskRow(tree, QStringLiteral("lost-mbr.img"));
    QVERIFY(disk);
    tree->SelectItem(ChildRow(tree, disk, QStringLiteral("Partition3")));
    DiskPage()->OnMainAction();
    QVERIFY(WaitUntil([&] { return Idle(); }));
    CFileDlg* files = window_->FilePage();
    QVERIFY2(files->isVisible(), qPrintable(DiskPage()->StatusText()));
    QCOMPARE(files->PartitionName(), QStringLiteral("Partition3"));
    CTreeListCtrl* left = files->LeftTree();
    auto* root = ChildRow(left, left->GetRootItem(), QStringLiteral("根目录"));
    QVERIFY(root);
    left->SelectItem(root);
    files->ShowFolder(root);
    QStringList names;
    for (auto* r = files->RightList()->GetRootItem(); r; r = files->RightList()->GetNextSiblingItem(r))
      names << files->RightList()->GetItemText(r, 0);
    QVERIFY2(names.contains(QStringLiteral("docs")), qPrintable(names.join(QLatin1Char(','))));
    Shot(QStringLiteral("lost_file_page"));
    window_->ChooseFunction(2);
  }

  // The precise pass on a large disk: the count shows while it runs, "停止"
  // ends it, and what it found up to then stays on the disk page.
  void StopKeepsWhatThePrecisePassFound() {
    tempDir_ = QDir::tempPath() + QStringLiteral("/quorvel-lost-ui");
    QDir().mkpath(tempDir_);
    const QString big = tempDir_ + QStringLiteral("/big-lost.img");
    QFile::remove(big);
    // 32 GiB, sparse, starting with the wiped disk: the pass reads zeros for
    // a long time after the volumes.
    QVERIFY(RunTool(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("32G"), big}));
    QVERIFY(RunTool(QStringLiteral("dd"), {QStringLiteral("if=") + QString::fromStdString(FixturePath("lost-mbr.img")),
                                           QStringLiteral("of=") + big, QStringLiteral("bs=1M"),
                                           QStringLiteral("conv=notrunc,sparse"), QStringLiteral("status=none")}));
    window_->ChooseFunction(2);
    DiskPage()->OpenImageFile(big);
    CTreeListCtrl* tree = DiskPage()->Tree();
    auto* disk = DiskRow(tree, QStringLiteral("big-lost.img"));
    QVERIFY(disk);
    tree->SelectItem(disk);
    DiskPage()->runSearchDialog = [&](CSearchDiskPart& dialog) {
      dialog.PreciseButton()->setChecked(true);
      dialog.accept();
      return true;
    };
    QSignalSpy finished(DiskPage(), &CHdDlg::LostPartitionScanFinished);
    DiskPage()->OnScan();
    CProgressDlg* progress = DiskPage()->ProgressDialog();
    QVERIFY(WaitUntil([&] { return progress->CaptionText() == QStringLiteral("已经找到5个分区,继续扫描,稍等..."); }));
    QVERIFY(progress->isVisible());
    QVERIFY(finished.isEmpty());
    Shot(QStringLiteral("lost_progress"));
    QTest::mouseClick(progress->StopButton(), Qt::LeftButton);
    QVERIFY(finished.wait(60000) || !finished.isEmpty());
    QCOMPARE(finished.front().front().toBool(), false);
    QVERIFY(WaitUntil([&] { return Idle(); }));
    QCOMPARE(ChildTexts(tree, disk).size(), 5);
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("扫描已停止, 找到5个新分区"));
  }
};

QTEST_MAIN(LostPartitionsTest)
#include "lost_partitions_test.moc"
