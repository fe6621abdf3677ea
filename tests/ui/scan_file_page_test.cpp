// Scan-result files on the disk page: "保存" after a deep scan writes the
// disk's file, and a new run of the application (a fresh disk list and
// window) gets the found partitions back through function 5 ("打开扫描信息")
// and expands them without scanning; refusals, a file of another disk and a
// damaged file say so in the status line.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "core/operation_busy.h"
#include "scanfile/scan_file_writer.h"
#include "ui/artwork.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/quorvel_app.h"
#include "ui/quorvel_dlg.h"
#include "ui/xp_button.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {
using Row = CTreeListCtrl::Row;

QStringList ChildTexts(CTreeListCtrl* tree, Row parent) {
  QStringList texts;
  for (Row r = tree->GetChildItem(parent); r; r = tree->GetNextSiblingItem(r)) texts << tree->GetItemText(r, 0);
  return texts;
}

// One run of the application on the wiped disk.
struct Session {
  DiskList disks;
  std::unique_ptr<CQuorvelDlg> window;
  QString diskName;

  bool Open() {
    if (!quorvel::OpenImageFile(disks, FixturePath("deep_wiped.img"))) return false;
    diskName = QString::fromStdString(disks.back().Identity());
    window = std::make_unique<CQuorvelDlg>(disks);
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
  }
  CHdDlg* Page() { return window->DiskPage(); }
  Row DiskRow() { return ChildNamed(Page()->Tree(), nullptr, diskName); }
  bool Idle() {
    return !OperationBusy().load() && window->FilePage()->WorkersIdle() && Page()->ScanIdle() && Page()->WorkersIdle();
  }
};
}  // namespace

class ScanFilePageTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString saved_;
  std::unique_ptr<Session> scanned_;

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    if (!HaveFixture("deep_wiped.img")) QSKIP("deep_wiped.img was not built");
    saved_ = dir_.path() + QStringLiteral("/wiped.rvz_scn");
    scanned_ = std::make_unique<Session>();
    QVERIFY(scanned_->Open());
  }

  void cleanupTestCase() {
    OperationBusy().store(false);
    scanned_.reset();
  }

  // "保存" needs a disk row; cancelling the dialog says so in green.
  void SaveRefusals() {
    Session& s = *scanned_;
    s.window->ChooseFunction(3);
    QVERIFY(s.Page()->SaveButton()->isVisible());
    s.Page()->Tree()->clearSelection();
    s.Page()->Tree()->setCurrentItem(nullptr);
    s.Page()->OnSaveScanResult();
    QCOMPARE(s.Page()->StatusText(), QStringLiteral("警告: 没有选择磁盘"));
    QCOMPARE(s.Page()->StatusColour(), ColorRef(Colours::kStatusRed));

    QString suggested;
    s.Page()->chooseSaveScanFile = [&](const QString& name) {
      suggested = name;
      return QString();
    };
    s.Page()->Tree()->SelectItem(s.DiskRow());
    QTest::mouseClick(s.Page()->SaveButton(), Qt::LeftButton);
    QCOMPARE(suggested, s.diskName + QStringLiteral(".rvz_scn"));
    QCOMPARE(s.Page()->StatusText(), QStringLiteral("保存扫描信息被取消"));
    QCOMPARE(s.Page()->StatusColour(), ColorRef(Colours::kStatusGreen));

    // The source image itself is never overwritten.
    s.Page()->chooseSaveScanFile = [](const QString&) { return QString::fromStdString(FixturePath("deep_wiped.img")); };
    s.Page()->OnSaveScanResult();
    QVERIFY(s.Page()->StatusText().startsWith(QStringLiteral("警告: 扫描信息不能保存在源磁盘上")));
  }

  // After the deep scan, "保存" writes what the disk holds, byte for byte
  // what the writer makes of it; a partition row is refused.
  void SaveAfterDeepScan() {
    Session& s = *scanned_;
    s.window->ChooseFunction(3);
    CTreeListCtrl* tree = s.Page()->Tree();
    tree->SelectItem(s.DiskRow());
    s.Page()->OnScan();
    QVERIFY(WaitUntil([&] { return s.Idle(); }));
    QVERIFY(tree->GetChildItem(s.DiskRow()));

    tree->SelectItem(tree->GetChildItem(s.DiskRow()));
    s.Page()->OnSaveScanResult();
    QCOMPARE(s.Page()->StatusText(), QStringLiteral("警告: 请正确选择磁盘"));

    s.Page()->chooseSaveScanFile = [&](const QString&) { return saved_; };
    tree->SelectItem(s.DiskRow());
    s.Page()->OnSaveScanResult();
    QVERIFY(WaitUntil([&] { return s.Idle(); }));
    QCOMPARE(s.Page()->StatusText(), QStringLiteral("保存扫描信息结束"));
    QCOMPARE(s.Page()->StatusColour(), ColorRef(Colours::kStatusGreen));
    QFile file(saved_);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().toStdString(), ScanResultText(s.disks.back()));
  }

  // A new run: function 5 opens the file on the disk row, the row gets the
  // found partitions with the scan's colours, and a found NTFS volume
  // expands from them without any scan.
  void OpenInNewRun() {
    Session fresh;
    QVERIFY(fresh.Open());
    fresh.window->ChooseFunction(5);
    QCOMPARE(fresh.Page()->MainButton()->text(), QStringLiteral("打开"));
    QVERIFY(fresh.Page()->StopButton()->isVisible());
    QVERIFY(!fresh.Page()->SaveButton()->isVisible());
    CTreeListCtrl* tree = fresh.Page()->Tree();
    QVERIFY(ChildTexts(tree, fresh.DiskRow()).isEmpty());

    bool asked = false;
    fresh.Page()->chooseOpenScanFile = [&] {
      asked = true;
      return QString();
    };
    tree->SelectItem(fresh.DiskRow());
    QTest::mouseClick(fresh.Page()->MainButton(), Qt::LeftButton);
    QVERIFY(asked);
    QCOMPARE(fresh.Page()->StatusText(), QStringLiteral("打开扫描信息被取消"));

    fresh.Page()->chooseOpenScanFile = [&] { return saved_; };
    QTest::mouseClick(fresh.Page()->MainButton(), Qt::LeftButton);
    QVERIFY(WaitUntil([&] { return fresh.Idle(); }));
    QCOMPARE(fresh.Page()->StatusText(), QStringLiteral("打开扫描信息结束"));
    QCOMPARE(ChildTexts(tree, fresh.DiskRow()), ChildTexts(scanned_->Page()->Tree(), scanned_->DiskRow()));
    for (Row r = tree->GetChildItem(fresh.DiskRow()); r; r = tree->GetNextSiblingItem(r)) {
      Row was = ChildNamed(scanned_->Page()->Tree(), scanned_->DiskRow(), tree->GetItemText(r, 0));
      QCOMPARE(tree->GetItemTextColor(r), scanned_->Page()->Tree()->GetItemTextColor(was));
      QCOMPARE(tree->GetItemText(r, CHDTreeListCtrl::kTypeColumn),
               scanned_->Page()->Tree()->GetItemText(was, CHDTreeListCtrl::kTypeColumn));
    }
    // A partition row in function 5 is not a disk.
    tree->SelectItem(tree->GetChildItem(fresh.DiskRow()));
    fresh.Page()->OnMainAction();
    QCOMPARE(fresh.Page()->StatusText(), QStringLiteral("警告: 请正确选择磁盘"));

    QString ntfs;
    for (const PartitionRecord& p : fresh.disks.back().partitions)
      if (IsNtfsKind(p.fsKind) && p.originCode == 2) ntfs = QString::fromStdString(p.name);
    QVERIFY(!ntfs.isEmpty());
    fresh.window->ChooseFunction(0);
    tree->SelectItem(ChildNamed(tree, fresh.DiskRow(), ntfs));
    fresh.Page()->OnMainAction();
    QVERIFY(WaitUntil([&] { return fresh.Idle(); }));
    CTreeListCtrl* left = fresh.window->FilePage()->LeftTree();
    Row root = ChildNamed(left, left->GetRootItem(), QStringLiteral("根目录"));
    QVERIFY(root);
    QVERIFY(ChildNamed(left, root, QStringLiteral("docs")));
    fresh.window->ChooseFunction(5);
    OperationBusy().store(false);
  }

  // A file of another disk changes nothing; a damaged one loads what is
  // whole and says where it broke, in red.
  void OtherDiskAndDamagedFiles() {
    Session fresh;
    QVERIFY(fresh.Open());
    fresh.window->ChooseFunction(5);
    CTreeListCtrl* tree = fresh.Page()->Tree();
    QFile in(saved_);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    const QString other = dir_.path() + QStringLiteral("/other.rvz_scn");
    QFile out(other);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray("another.img") + bytes.mid(bytes.indexOf("\r\n")));
    out.close();
    fresh.Page()->chooseOpenScanFile = [&] { return other; };
    tree->SelectItem(fresh.DiskRow());
    fresh.Page()->OnOpenScanResult();
    QVERIFY(WaitUntil([&] { return fresh.Idle(); }));
    QCOMPARE(fresh.Page()->StatusText(), QStringLiteral("警告: 不是该磁盘的信息"));
    QCOMPARE(fresh.Page()->StatusColour(), ColorRef(Colours::kStatusRed));
    QVERIFY(ChildTexts(tree, fresh.DiskRow()).isEmpty());
    QVERIFY(fresh.disks.back().directorySectors.empty());

    // Cut inside the second partition block.
    const QString cut = dir_.path() + QStringLiteral("/cut.rvz_scn");
    QFile damaged(cut);
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    const qsizetype second = bytes.indexOf("-----partition-----", bytes.indexOf("-----partition-----") + 1);
    damaged.write(bytes.left(second + 40));
    damaged.close();
    fresh.Page()->chooseOpenScanFile = [&] { return cut; };
    fresh.Page()->OnOpenScanResult();
    QVERIFY(WaitUntil([&] { return fresh.Idle(); }));
    QVERIFY2(fresh.Page()->StatusText().startsWith(QStringLiteral("错误: 扫描信息文件已损坏")),
             qPrintable(fresh.Page()->StatusText()));
    QVERIFY(fresh.Page()->StatusText().contains(QStringLiteral("行")));
    QCOMPARE(ChildTexts(tree, fresh.DiskRow()), QStringList{QStringLiteral("Partition0")});
  }
};

QTEST_MAIN(ScanFilePageTest)
#include "scan_file_page_test.moc"
