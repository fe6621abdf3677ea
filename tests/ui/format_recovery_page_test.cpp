// Format recovery through the main window, as a user runs it: "格式化恢复"
// ends on the folders rebuilt from the old directory sectors, and a healthy
// volume it ran on is still shown as it stands under "文件删除恢复".
#include <QTest>
#include <memory>

#include "core/operation_busy.h"
#include "ui/file_dlg.h"
#include "ui/hd_dlg.h"
#include "ui/hd_tree_list_ctrl.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/quorvel_app.h"
#include "ui/quorvel_dlg.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {
using Row = CTreeListCtrl::Row;

// The first row below parent (at any depth) with this name.
Row FindBelow(CTreeListCtrl* tree, Row parent, const QString& name) {
  for (Row r = tree->GetChildItem(parent); r; r = tree->GetNextSiblingItem(r)) {
    if (tree->GetItemText(r, 0) == name) return r;
    if (Row found = FindBelow(tree, r, name)) return found;
  }
  return nullptr;
}

QStringList ChildNames(CTreeListCtrl* tree, Row parent) {
  QStringList names;
  for (Row r = tree->GetChildItem(parent); r; r = tree->GetNextSiblingItem(r)) names << tree->GetItemText(r, 0);
  return names;
}
}  // namespace

class FormatRecoveryPageTest : public QObject {
  Q_OBJECT

  DiskList disks_;
  std::unique_ptr<CQuorvelDlg> window_;

  CFileDlg* FilePage() { return window_->FilePage(); }
  CTreeListCtrl* Left() { return FilePage()->LeftTree(); }
  Row RootFolder() { return FindBelow(Left(), Left()->GetRootItem(), QStringLiteral("根目录")); }

  // Runs the chosen function's main action on the first FAT32 partition of
  // the image whose row text ends with image, and waits for the run.
  void Open(int function, const QString& image) {
    window_->ChooseFunction(function);
    CTreeListCtrl* tree = window_->DiskPage()->Tree();
    Row target = nullptr;
    for (Row d = tree->GetRootItem(); d && !target; d = tree->GetNextSiblingItem(d)) {
      if (!tree->GetItemText(d, 0).endsWith(image)) continue;
      for (Row p = tree->GetChildItem(d); p && !target; p = tree->GetNextSiblingItem(p))
        if (tree->GetItemText(p, CHDTreeListCtrl::kTypeColumn).startsWith(QStringLiteral("FAT32"))) target = p;
    }
    QVERIFY2(target, qPrintable(image));
    tree->SelectItem(target);
    bool finished = false;
    QMetaObject::Connection done =
        connect(FilePage(), &CFileDlg::RunFinished, this, [&finished](bool) { finished = true; });
    window_->DiskPage()->OnMainAction();
    QVERIFY(WaitUntil([&] { return finished && !OperationBusy().load() && FilePage()->WorkersIdle(); }, 120000));
    disconnect(done);
    QVERIFY(FilePage()->isVisible());
  }

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    if (!HaveFixture("format_fat32.img") || !HaveFixture("demo.img")) QSKIP("format_fat32.img/demo.img not built");
    QVERIFY(quorvel::OpenImageFile(disks_, FixturePath("format_fat32.img")));
    QVERIFY(quorvel::OpenImageFile(disks_, FixturePath("demo.img")));
    window_ = std::make_unique<CQuorvelDlg>(disks_);
    window_->show();
  }

  void cleanupTestCase() { window_.reset(); }

  // On a quick-formatted volume the page shows the old folders and their
  // files when the sweep ends; the status says what it rebuilt from.
  void FormattedVolumeShowsRebuiltTree() {
    Open(1, QStringLiteral("format_fat32.img"));
    QVERIFY2(FilePage()->StatusText().startsWith(QStringLiteral("格式化恢复完成: 按 ")),
             qPrintable(FilePage()->StatusText()));
    // Each old folder is named by its first cluster; below it the names survive.
    Row reports = FindBelow(Left(), Left()->GetRootItem(), QStringLiteral("reports"));
    QVERIFY(reports);
    QCOMPARE(Left()->GetItemText(Left()->GetParentItem(reports), 0), QStringLiteral("3"));
    QVERIFY(FindBelow(Left(), Left()->GetRootItem(), QStringLiteral("家庭聚会")));
    // The same volume as it stands (function "文件删除恢复"): no old folders.
    Open(0, QStringLiteral("format_fat32.img"));
    QVERIFY(!FindBelow(Left(), Left()->GetRootItem(), QStringLiteral("reports")));
    // And rebuilt again when format recovery is chosen once more.
    Open(1, QStringLiteral("format_fat32.img"));
    QVERIFY(FindBelow(Left(), Left()->GetRootItem(), QStringLiteral("reports")));
  }

  // A healthy volume after format recovery: "文件删除恢复" shows its own
  // named folders, not the numbered ones rebuilt from the recorded sectors.
  void HealthyVolumeStaysAsItStands() {
    Open(0, QStringLiteral("demo.img"));
    const QStringList before = ChildNames(Left(), RootFolder());
    QVERIFY(before.contains(QStringLiteral("docs")) && before.contains(QStringLiteral("旧文件夹")));
    Open(1, QStringLiteral("demo.img"));
    Open(0, QStringLiteral("demo.img"));
    QCOMPARE(ChildNames(Left(), RootFolder()), before);
  }
};

QTEST_MAIN(FormatRecoveryPageTest)
#include "format_recovery_page_test.moc"
