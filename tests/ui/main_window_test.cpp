// The main window and the disk page: function switching, refusals, menus,
// dragging and maximising.
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <memory>

#include "core/operation_busy.h"
#include "ui/animate_button.h"
#include "ui/artwork.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/img_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/quorvel_app.h"
#include "ui/quorvel_dlg.h"
#include "ui/xp_button.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {
const QColor kRed = ColorRef(255);
const QColor kGreen = ColorRef(0x32C832);

CTreeListCtrl::Row PartitionRow(CTreeListCtrl* tree, const QString& text) {
  for (auto* d = tree->GetRootItem(); d; d = tree->GetNextSiblingItem(d))
    for (auto* p = tree->GetChildItem(d); p; p = tree->GetNextSiblingItem(p))
      if (tree->GetItemText(p, 0) == text) return p;
  return nullptr;
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  DiskList disks_;
  std::unique_ptr<CQuorvelDlg> window_;

  CHdDlg* DiskPage() { return window_->DiskPage(); }
  CFileDlg* FilePage() { return window_->FilePage(); }
  bool Idle() { return !OperationBusy().load() && FilePage()->WorkersIdle(); }

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    if (!HaveFixture("demo.img")) QSKIP("demo.img was not built");
    QVERIFY(quorvel::OpenImageFile(disks_, FixturePath("demo.img")));
    window_ = std::make_unique<CQuorvelDlg>(disks_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanupTestCase() {
    OperationBusy().store(false);
    window_.reset();
  }

  // The disk tree shows the five columns, the partitions' size and type texts.
  void DiskTreeRows() {
    CTreeListCtrl* tree = DiskPage()->Tree();
    QCOMPARE(tree->GetColumnCount(), 5);
    QCOMPARE(tree->headerItem()->text(0), QStringLiteral("磁盘"));
    QCOMPARE(tree->headerItem()->text(4), QStringLiteral("大小"));
    auto* fat32 = PartitionRow(tree, QStringLiteral("Partition1"));
    QVERIFY(fat32);
    QCOMPARE(tree->GetItemText(fat32, CHDTreeListCtrl::kTypeColumn), QStringLiteral("FAT32"));
    QCOMPARE(tree->GetItemText(fat32, CHDTreeListCtrl::kLabelColumn), QStringLiteral("DEMO-FAT32"));
    QCOMPARE(tree->GetItemText(fat32, CHDTreeListCtrl::kSizeColumn), QStringLiteral("48.0 MB"));
    QCOMPARE(tree->GetItemTextColor(fat32), QColor(Qt::black));  // from the partition table
    auto* disk = tree->GetParentItem(fat32);
    QCOMPARE(tree->GetItemText(disk, CHDTreeListCtrl::kStartColumn), QStringLiteral("0"));
  }

  // Refusals of the disk page: busy, no selection, a disk row where a
  // partition is needed (the page must not switch), a partition where a disk is needed.
  void DiskPageRefusals() {
    window_->ChooseFunction(0);
    CTreeListCtrl* tree = DiskPage()->Tree();
    tree->clearSelection();
    DiskPage()->OnMainAction();
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 没有选择的项目"));
    QCOMPARE(DiskPage()->StatusColour(), kRed);

    tree->SelectItem(tree->GetRootItem());
    DiskPage()->OnMainAction();
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请正确选择分区"));
    QVERIFY(DiskPage()->isVisible());
    QVERIFY(!FilePage()->isVisible());

    tree->SelectItem(PartitionRow(tree, QStringLiteral("Partition1")));
    OperationBusy().store(true);
    DiskPage()->OnMainAction();
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请等待当前操作完成"));
    QCOMPARE(DiskPage()->StatusColour(), kRed);
    window_->ChooseFunction(2);
    DiskPage()->OnScan();
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请等待当前操作完成"));
    OperationBusy().store(false);
    QVERIFY(!FilePage()->isVisible());

    DiskPage()->OnScan();  // a partition row for the lost-partition scan
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请正确选择磁盘!"));
    window_->ChooseFunction(5);
    DiskPage()->OnMainAction();  // opening a scan result needs a disk row
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请正确选择磁盘"));
  }

  // A double-click on a disk row in function 0 refuses and stays on the disk
  // page; on a partition row it opens the file page.
  void DoubleClickRows() {
    window_->ChooseFunction(0);
    CTreeListCtrl* tree = DiskPage()->Tree();
    QRect diskRect = tree->visualItemRect(tree->GetRootItem());
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, diskRect.center());
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请正确选择分区"));
    QVERIFY(DiskPage()->isVisible());
    QRect partRect = tree->visualItemRect(PartitionRow(tree, QStringLiteral("Partition2")));
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, partRect.center());
    QVERIFY(WaitUntil([&] { return Idle(); }));
    QVERIFY(FilePage()->isVisible());
    QCOMPARE(FilePage()->PartitionName(), QStringLiteral("Partition2"));
    QCOMPARE(window_->ShownPartition(), QStringLiteral("Partition2"));
    window_->ChooseFunction(0);
  }

  // Function 4 hands the selection to the imaging dialog: "disk,partition".
  void ImagingHandOff() {
    window_->ChooseFunction(4);
    CTreeListCtrl* tree = DiskPage()->Tree();
    tree->SelectItem(PartitionRow(tree, QStringLiteral("Partition1")));
    DiskPage()->OnMainAction();
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("镜像操作"));
    QCOMPARE(DiskPage()->StatusColour(), kGreen);
    CImgDlg* dialog = DiskPage()->ImagingDialog();
    QVERIFY(dialog && dialog->isVisible());
    const QString disk = tree->GetItemText(tree->GetRootItem(), 0);
    QCOMPARE(dialog->SourceEdit()->text(), disk + QStringLiteral(",Partition1"));
    for (const PartitionRecord& p : disks_.front().partitions)
      if (p.name == "Partition1") QCOMPARE(dialog->CountEdit()->text(), QString::number(p.sectorCount));
    dialog->close();
    // A disk row presets the whole disk; the dialog is made once.
    tree->SelectItem(tree->GetRootItem());
    DiskPage()->OnMainAction();
    QCOMPARE(DiskPage()->ImagingDialog(), dialog);
    QCOMPARE(dialog->SourceEdit()->text(), disk);
    QCOMPARE(dialog->CountEdit()->text(), QString::number(disks_.front().sizeBytes / 512));
    dialog->close();
    window_->ChooseFunction(0);
  }

  // A function button returns to the disk page and frees the lists (and the
  // tree) of the partition shown before.
  void FunctionButtonsSwitchPagesAndDiscard() {
    window_->ChooseFunction(0);
    CTreeListCtrl* tree = DiskPage()->Tree();
    tree->SelectItem(PartitionRow(tree, QStringLiteral("Partition1")));
    DiskPage()->OnMainAction();
    QVERIFY(WaitUntil([&] { return Idle(); }));
    QVERIFY(FilePage()->isVisible());
    QVERIFY(!DiskPage()->isVisible());
    QVERIFY(FilePage()->LeftTree()->GetRootItem());
    QVERIFY(FilePage()->RightList()->GetRootItem());
    PartitionRecord* partition = FilePage()->Partition();
    QVERIFY(partition);
    QVERIFY(!partition->tree->fatRoot.children.empty());

    QTest::mouseClick(window_->FunctionButton(1), Qt::LeftButton);
    QCOMPARE(window_->Function(), 1);
    QVERIFY(DiskPage()->isVisible());
    QVERIFY(!FilePage()->isVisible());
    QCOMPARE(FilePage()->LeftTree()->GetRootItem(), nullptr);
    QCOMPARE(FilePage()->RightList()->GetRootItem(), nullptr);
    QVERIFY(partition->tree->fatRoot.children.empty());
    QCOMPARE(window_->PanelTitle(), QStringLiteral("格式化恢复"));
    QCOMPARE(window_->PanelHint(), QStringLiteral("双击分区或点击扫描按钮"));
    QCOMPARE(DiskPage()->MainButton()->text(), QStringLiteral("扫描"));
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("状态提示..."));
    QCOMPARE(DiskPage()->StatusColour(), kGreen);
    QVERIFY(window_->FunctionButton(1)->isChecked());
    QVERIFY(!window_->FunctionButton(0)->isChecked());

    // The buttons each function shows under the tree.
    QTest::mouseClick(window_->FunctionButton(3), Qt::LeftButton);
    QVERIFY(DiskPage()->ScanButton()->isVisible() && DiskPage()->StopButton()->isVisible() &&
            DiskPage()->SaveButton()->isVisible());
    QTest::mouseClick(window_->FunctionButton(5), Qt::LeftButton);
    QVERIFY(DiskPage()->StopButton()->isVisible() && !DiskPage()->ScanButton()->isVisible());
    QCOMPARE(DiskPage()->MainButton()->text(), QStringLiteral("打开"));
    QTest::mouseClick(window_->FunctionButton(4), Qt::LeftButton);
    QVERIFY(!DiskPage()->StopButton()->isVisible());
    QCOMPARE(DiskPage()->MainButton()->text(), QStringLiteral("镜像"));
  }

  // "上一步" returns to the disk page and empties the lists.
  void BackButton() {
    window_->ChooseFunction(0);
    CTreeListCtrl* tree = DiskPage()->Tree();
    tree->SelectItem(PartitionRow(tree, QStringLiteral("Partition0")));
    DiskPage()->OnMainAction();
    QVERIFY(WaitUntil([&] { return Idle(); }));
    QVERIFY(FilePage()->isVisible());
    emit FilePage()->BackRequested();
    QVERIFY(DiskPage()->isVisible());
  }

  // The context menu appears only in functions 2 to 5 and greys what does not apply.
  void ContextMenuGreying() {
    CTreeListCtrl* tree = DiskPage()->Tree();
    auto* diskRow = tree->GetRootItem();
    auto* partRow = tree->GetChildItem(diskRow);
    auto enabled = [](QMenu* menu) {
      QMap<QString, bool> states;
      for (QAction* a : menu->actions())
        if (!a->isSeparator()) states[a->text()] = a->isEnabled();
      return states;
    };
    window_->ChooseFunction(0);
    QCOMPARE(DiskPage()->BuildContextMenu(partRow), nullptr);
    window_->ChooseFunction(2);
    QCOMPARE(DiskPage()->BuildContextMenu(partRow), nullptr);  // disk rows only
    std::unique_ptr<QMenu> menu(DiskPage()->BuildContextMenu(diskRow));
    auto s = enabled(menu.get());
    QVERIFY(!s["深度扫描"] && !s["镜像功能"] && s["扫描丢失分区"] && s["打开镜像文件"]);
    window_->ChooseFunction(3);
    menu.reset(DiskPage()->BuildContextMenu(partRow));
    s = enabled(menu.get());
    QVERIFY(!s["镜像功能"] && !s["扫描丢失分区"] && !s["打开镜像文件"] && s["深度扫描"]);
    window_->ChooseFunction(4);
    menu.reset(DiskPage()->BuildContextMenu(diskRow));
    s = enabled(menu.get());
    QVERIFY(!s["深度扫描"] && !s["扫描丢失分区"] && !s["打开扫描结果"] && !s["保存扫描结果"] && s["打开镜像文件"]);
    window_->ChooseFunction(5);
    menu.reset(DiskPage()->BuildContextMenu(diskRow));
    s = enabled(menu.get());
    QVERIFY(s["打开扫描结果"] && !s["保存扫描结果"] && !s["打开镜像文件"] && !s["镜像功能"]);
  }

  // An image opened twice is listed once; an unreadable one is refused in red.
  void OpenImageTwiceAndBadImage() {
    window_->ChooseFunction(0);
    int before = DiskPage()->Tree()->topLevelItemCount();
    DiskPage()->OpenImageFile(QString::fromStdString(FixturePath("demo.img")));
    QCOMPARE(DiskPage()->Tree()->topLevelItemCount(), before);
    DiskPage()->OpenImageFile(QStringLiteral("/nonexistent/disk.img"));
    QVERIFY(DiskPage()->StatusText().startsWith(QStringLiteral("错误: ")));
    QCOMPARE(DiskPage()->StatusColour(), kRed);
  }

  // The borderless window moves when dragged by its top band, not below it.
  void DragByTopBand() {
    QVERIFY(window_->IsCaptionPoint(QPoint(400, 10)));
    QVERIFY(window_->IsCaptionPoint(QPoint(400, 199)));
    QVERIFY(!window_->IsCaptionPoint(QPoint(400, 200)));
    window_->move(50, 50);
    QPoint start = window_->pos();
    // Over the banner art, between the function buttons and the links.
    QTest::mousePress(window_.get(), Qt::LeftButton, {}, QPoint(800, 12));
    QTest::mouseMove(window_.get(), QPoint(840, 22));
    QTest::mouseRelease(window_.get(), Qt::LeftButton, {}, QPoint(840, 22));
    QTRY_COMPARE(window_->pos(), start + QPoint(40, 10));
    // Below the band (over the page area) nothing moves.
    start = window_->pos();
    QTest::mousePress(window_.get(), Qt::LeftButton, {}, QPoint(800, 260));
    QTest::mouseMove(window_.get(), QPoint(840, 300));
    QTest::mouseRelease(window_.get(), Qt::LeftButton, {}, QPoint(840, 300));
    QCOMPARE(window_->pos(), start);
  }

  // A second press of the maximise button restores the previous size.
  void MaximiseToggles() {
    QSize normal = window_->size();
    QTest::mouseClick(window_->MaximiseButton(), Qt::LeftButton);
    QTRY_VERIFY(window_->isMaximized());
    QTest::mouseClick(window_->MaximiseButton(), Qt::LeftButton);
    QTRY_VERIFY(!window_->isMaximized());
    QTRY_COMPARE(window_->size(), normal);
    // The window buttons follow the right edge.
    QCOMPARE(window_->CloseButton()->x(), window_->width() - 30);
    QCOMPARE(window_->MinimiseButton()->x(), window_->width() - 80);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
