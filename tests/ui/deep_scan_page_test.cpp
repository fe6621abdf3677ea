// Function 3 ("深度扫描") on a disk whose volumes were wiped: the scan from the
// disk page with its progress dialog, the rows it adds, browsing a found
// volume, and the carved files under "Extra Found Files" saved and viewed.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "core/operation_busy.h"
#include "ui/artwork.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/hex_edit.h"
#include "ui/hex_view_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/my_save_file_dlg.h"
#include "ui/progress_dlg.h"
#include "ui/quorvel_app.h"
#include "ui/quorvel_dlg.h"
#include "ui/xp_button.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {
using Row = CTreeListCtrl::Row;

QByteArray Planted(const QString& file) {
  QFile f(QString::fromStdString(FixturePath("carving/")) + file);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

class DeepScanPageTest : public QObject {
  Q_OBJECT

  DiskList disks_;
  std::unique_ptr<CQuorvelDlg> window_;
  QString diskName_;

  CHdDlg* DiskPage() { return window_->DiskPage(); }
  CFileDlg* FilePage() { return window_->FilePage(); }
  bool Idle() { return !OperationBusy().load() && FilePage()->WorkersIdle() && DiskPage()->ScanIdle(); }
  Row DiskRow() { return ChildNamed(DiskPage()->Tree(), nullptr, diskName_); }

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    if (!HaveFixture("carving_volumes.img")) QSKIP("carving_volumes.img was not built");
    QVERIFY(quorvel::OpenImageFile(disks_, FixturePath("carving_volumes.img")));
    diskName_ = QString::fromStdString(disks_.back().Identity());
    window_ = std::make_unique<CQuorvelDlg>(disks_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

  void cleanupTestCase() {
    OperationBusy().store(false);
    window_.reset();
  }

  // The scan button on the disk row: the progress dialog titled "深度扫描" reports
  // sectors, then only the new partitions get rows, coloured by origin.
  void ScanAddsFoundPartitionRows() {
    window_->ChooseFunction(3);
    CTreeListCtrl* tree = DiskPage()->Tree();
    QCOMPARE(tree->GetChildItem(DiskRow()), nullptr);  // the table was wiped
    tree->SelectItem(DiskRow());
    CProgressDlg* dialog = FilePage()->ProgressDialog();
    QTest::mouseClick(DiskPage()->ScanButton(), Qt::LeftButton);
    QVERIFY(WaitUntil([&] { return Idle(); }));
    // The dialog was titled for the scan, showed its sector count, and closed.
    QCOMPARE(dialog->windowTitle(), QStringLiteral("深度扫描"));
    QCOMPARE(dialog->CaptionText(), QStringLiteral("正在扫描，请稍等..."));
    QVERIFY(dialog->ProgressTextShown().endsWith(QStringLiteral("扇区被扫描")));
    QVERIFY(!dialog->isVisible());
    QVERIFY2(DiskPage()->StatusText().startsWith(QStringLiteral("深度扫描完成")), qPrintable(DiskPage()->StatusText()));
    QCOMPARE(DiskPage()->LastScannedDisk(), diskName_);

    const DiskRecord& disk = disks_.back();
    int rows = 0;
    for (Row r = tree->GetChildItem(DiskRow()); r; r = tree->GetNextSiblingItem(r)) ++rows;
    QCOMPARE(rows, static_cast<int>(disk.partitions.size()));
    Row fat = ChildNamed(tree, DiskRow(), QStringLiteral("Partition0"));
    QVERIFY(fat);
    QCOMPARE(tree->GetItemText(fat, CHDTreeListCtrl::kTypeColumn), QStringLiteral("FAT32"));
    QCOMPARE(tree->GetItemTextColor(fat), ColorRef(Colours::kFoundByScan));  // its boot sector
    for (Row r = tree->GetChildItem(DiskRow()); r; r = tree->GetNextSiblingItem(r)) {
      const PartitionRecord* p = nullptr;
      for (const PartitionRecord& q : disk.partitions)
        if (QString::fromStdString(q.name) == tree->GetItemText(r, 0)) p = &q;
      QVERIFY(p);
      if (p->originCode == 1) QCOMPARE(tree->GetItemTextColor(r), ColorRef(Colours::kStatusRed));
    }

    // Scanning again adds no second row for the same partitions.
    tree->SelectItem(DiskRow());
    DiskPage()->OnScan();
    QVERIFY(WaitUntil([&] { return Idle(); }));
    int again = 0;
    for (Row r = tree->GetChildItem(DiskRow()); r; r = tree->GetNextSiblingItem(r)) ++again;
    QCOMPARE(again, rows);
  }

  // While a scan runs, the scan button refuses; the context menu offers "深度扫描".
  void BusyRefusalAndMenu() {
    window_->ChooseFunction(3);
    CTreeListCtrl* tree = DiskPage()->Tree();
    tree->SelectItem(DiskRow());
    OperationBusy().store(true);
    DiskPage()->OnScan();
    QCOMPARE(DiskPage()->StatusText(), QStringLiteral("警告: 请等待当前操作完成"));
    OperationBusy().store(false);
    std::unique_ptr<QMenu> menu(DiskPage()->BuildContextMenu(tree->GetChildItem(DiskRow())));
    QVERIFY(menu);
    bool deepEnabled = false;
    for (QAction* a : menu->actions())
      if (a->text() == QStringLiteral("深度扫描")) deepEnabled = a->isEnabled();
    QVERIFY(deepEnabled);
  }

  // A found NTFS volume opens by double-click; its "Extra Found Files" lists
  // the carved files, which save byte-exact one by one and show in the viewer.
  void BrowseFoundVolumeAndSaveCarvedFiles() {
    window_->ChooseFunction(3);
    CTreeListCtrl* tree = DiskPage()->Tree();
    const DiskRecord& disk = disks_.back();
    QString ntfs;
    for (const PartitionRecord& p : disk.partitions)
      if (IsNtfsKind(p.fsKind) && p.originCode == 2) ntfs = QString::fromStdString(p.name);
    QVERIFY(!ntfs.isEmpty());
    Row row = ChildNamed(tree, DiskRow(), ntfs);
    QVERIFY(row);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(row).center());
    QVERIFY(WaitUntil([&] { return Idle(); }));
    QVERIFY(FilePage()->isVisible());

    CTreeListCtrl* left = FilePage()->LeftTree();
    Row extra = ChildNamed(left, left->GetRootItem(), QStringLiteral("Extra Found Files"));
    QVERIFY(extra);
    left->SelectItem(extra);
    FilePage()->ShowFolder(extra);
    CTreeListCtrl* right = FilePage()->RightList();
    int listed = 0;
    Row jpeg = nullptr;
    for (Row r = right->GetRootItem(); r; r = right->GetNextSiblingItem(r)) {
      ++listed;
      QCOMPARE(right->GetItemText(r, CMyRightTreelistCtrl::kStateColumn), QStringLiteral("已删除文件"));
      QCOMPARE(right->GetItemText(r, 7), QStringLiteral("Extra Found Files"));
      if (right->GetItemText(r, 2) == QString::number(Planted(QStringLiteral("photo_jfif.jpg")).size()) && !jpeg)
        jpeg = r;
    }
    QCOMPARE(listed, static_cast<int>(disk.carvedFiles.size()));  // the whole disk's
    QVERIFY(jpeg);

    // One ticked carved file, saved from the list.
    QTemporaryDir target;
    FilePage()->runSaveDialog = [&](CMySaveFileDlg& dialog) {
      dialog.PathEdit()->setText(target.path());
      dialog.accept();
      return true;
    };
    right->SetCheck(jpeg, 1);
    FilePage()->MultiSelectSave(false);
    QVERIFY(WaitUntil([&] { return Idle(); }));
    const QString name = right->GetItemText(jpeg, 0);
    QFile saved(target.path() + QStringLiteral("/Extra Found Files/") + name);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), Planted(QStringLiteral("photo_jfif.jpg")));
    QDir files(target.path() + QStringLiteral("/Extra Found Files"));
    QCOMPARE(files.entryList(QDir::Files).size(), 1);  // only the ticked one

    // The selected carved row alone, by "单选保存".
    QTemporaryDir single;
    FilePage()->runSaveDialog = [&](CMySaveFileDlg& dialog) {
      dialog.PathEdit()->setText(single.path());
      dialog.accept();
      return true;
    };
    right->SelectItem(jpeg);
    FilePage()->SingleSelectSave(false);
    QVERIFY(WaitUntil([&] { return Idle(); }));
    QCOMPARE(QDir(single.path() + QStringLiteral("/Extra Found Files")).entryList(QDir::Files), QStringList{name});

    // The hex viewer shows the carved file's bytes.
    bool shown = false;
    FilePage()->runHexDialog = [&](CHEXVIEWDLG& dialog) {
      shown = true;
      QCOMPARE(dialog.HexEdit()->Data().left(4), Planted(QStringLiteral("photo_jfif.jpg")).left(4));
      QVERIFY(dialog.HexEdit()->Data().size() >= Planted(QStringLiteral("photo_jfif.jpg")).size());
    };
    FilePage()->HexView();
    QVERIFY(shown);
    window_->ChooseFunction(3);
  }
};

QTEST_MAIN(DeepScanPageTest)
#include "deep_scan_page_test.moc"
