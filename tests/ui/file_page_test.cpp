// The file page on the demo disk: filling the folder tree, listing folders,
// pushing check marks down, the filter, the save commands and their refusals.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "core/operation_busy.h"
#include "model/partition_texts.h"
#include "recover/partition_launch.h"
#include "ui/artwork.h"
#include "ui/file_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/my_save_file_dlg.h"
#include "ui/quorvel_app.h"
#include "ui/save_selection.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {
using Row = CTreeListCtrl::Row;
const QColor kRed = ColorRef(255);

QStringList ListNames(CTreeListCtrl* list) {
  QStringList names;
  for (Row r = list->GetRootItem(); r; r = list->GetNextSiblingItem(r)) names << list->GetItemText(r, 0);
  return names;
}

FatFileEntry* FatEntryOf(CTreeListCtrl* tree, Row row) { return tree->GetItemData(row).value<FileRowKey>().fat; }
}  // namespace

class FilePageTest : public QObject {
  Q_OBJECT

  DiskList disks_;
  std::unique_ptr<CFileDlg> page_;
  QString diskName_;

  CTreeListCtrl* Left() { return page_->LeftTree(); }
  CTreeListCtrl* Right() { return page_->RightList(); }
  bool Idle() { return !OperationBusy().load() && page_->WorkersIdle(); }

  void Expand(const QString& partition) {
    QString refusal;
    QVERIFY2(page_->ExpandPartition(diskName_, partition, &refusal), qPrintable(refusal));
    QVERIFY(WaitUntil([&] { return Idle(); }));
  }

  Row RootFolder() { return ChildNamed(Left(), Left()->GetRootItem(), QStringLiteral("根目录")); }

  // Answers the save dialog with a folder and the given kinds.
  void AnswerSaveDialog(const QString& folder, bool deleted = true, bool normal = true) {
    page_->runSaveDialog = [folder, deleted, normal](CMySaveFileDlg& dialog) {
      dialog.PathEdit()->setText(folder);
      dialog.DeletedBox()->setChecked(deleted);
      dialog.NormalBox()->setChecked(normal);
      dialog.accept();
      return true;
    };
  }

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    if (!HaveFixture("demo.img")) QSKIP("demo.img was not built");
    QVERIFY(quorvel::OpenImageFile(disks_, FixturePath("demo.img")));
    diskName_ = QString::fromStdString(disks_.back().Identity());
    page_ = std::make_unique<CFileDlg>(disks_);
    page_->resize(1000, 600);
    page_->show();
  }

  void cleanupTestCase() { page_.reset(); }

  // Expanding a FAT32 partition fills the folder tree below the partition
  // row: folders only, deleted ones red with their own image, and the file
  // list shows the partition's top level.
  void ExpandFillsFolderTree() {
    Expand(QStringLiteral("Partition1"));
    QCOMPARE(page_->Mode(), kExpandFat32);
    Row partition = Left()->GetRootItem();
    QCOMPARE(Left()->GetItemText(partition, 0), QStringLiteral("Partition1"));
    QCOMPARE(Left()->GetItemImage(partition), kImageDisk);
    Row root = RootFolder();
    QVERIFY(root);
    Row docs = ChildNamed(Left(), root, QStringLiteral("docs"));
    Row old = ChildNamed(Left(), root, QStringLiteral("旧文件夹"));
    QVERIFY(docs && old && ChildNamed(Left(), root, QStringLiteral("照片")));
    QCOMPARE(Left()->GetItemTextColor(old), kRed);
    QCOMPARE(Left()->GetItemImage(old), kImageDeletedFolder);
    QCOMPARE(Left()->GetItemImage(docs), kImageFolder);
    QVERIFY(ChildNamed(Left(), docs, QStringLiteral("?ld")));
    QVERIFY(!ChildNamed(Left(), docs, QStringLiteral("note1.txt")));  // files get no row
    // The list: the partition row's children as folders with size 0.
    Row listed = ChildNamed(Right(), nullptr, QStringLiteral("根目录"));
    QVERIFY(listed);
    QCOMPARE(Right()->GetItemText(listed, CMyRightTreelistCtrl::kStateColumn), QStringLiteral("正常文件夹"));
    QCOMPARE(Right()->GetItemText(listed, CMyRightTreelistCtrl::kSizeColumn), QStringLiteral("0"));
    QCOMPARE(Right()->GetItemText(listed, CMyRightTreelistCtrl::kCreateColumn),
             Left()->GetItemText(root, CMyLeftTreelistCtrl::kCreateTimeColumn));
  }

  // Listing a folder: subfolders with rows, files with their columns, deleted
  // rows red, a FAT file's read time showing its write time.
  void ShowFolderListsEntries() {
    Row docs = ChildNamed(Left(), RootFolder(), QStringLiteral("docs"));
    page_->ShowFolder(docs);
    QStringList names = ListNames(Right());
    QVERIFY(names.contains(QStringLiteral("note1.txt")));
    QVERIFY(names.contains(QStringLiteral("?ote2.txt")));
    QVERIFY(names.contains(QStringLiteral("?ld")));
    Row deleted = ChildNamed(Right(), nullptr, QStringLiteral("?ote2.txt"));
    QCOMPARE(Right()->GetItemText(deleted, CMyRightTreelistCtrl::kStateColumn), QStringLiteral("已删除文件"));
    QCOMPARE(Right()->GetItemTextColor(deleted), kRed);
    Row note1 = ChildNamed(Right(), nullptr, QStringLiteral("note1.txt"));
    QCOMPARE(Right()->GetItemText(note1, CMyRightTreelistCtrl::kSizeColumn), QStringLiteral("3692"));
    QCOMPARE(Right()->GetItemText(note1, CMyRightTreelistCtrl::kAccessColumn),
             Right()->GetItemText(note1, CMyRightTreelistCtrl::kModifyColumn));
    QCOMPARE(Right()->GetItemText(note1, CMyRightTreelistCtrl::kParentNumberColumn),
             Left()->GetItemText(docs, CMyLeftTreelistCtrl::kFileIdColumn));
    QVERIFY(!note1->icon(0).isNull());
  }

  // A checked folder pushes its mark to every listed child and stores it; an
  // unchecked one clears them; a partly checked one shows each child's own mark.
  void ShowFolderCheckPropagation() {
    Row root = RootFolder();
    Left()->SetCheck(root, 1);
    page_->ShowFolder(root);
    QVERIFY(Right()->GetRootItem());
    for (Row r = Right()->GetRootItem(); r; r = Right()->GetNextSiblingItem(r)) {
      QCOMPARE(Right()->GetCheck(r), 1);
      QCOMPARE(int(GetCheckState(FatEntryOf(Right(), r)->flags)), 1);
    }
    Left()->SetCheck(root, 0);
    page_->ShowFolder(root);
    for (Row r = Right()->GetRootItem(); r; r = Right()->GetNextSiblingItem(r)) {
      QCOMPARE(Right()->GetCheck(r), 0);
      QCOMPARE(int(GetCheckState(FatEntryOf(Right(), r)->flags)), 0);
    }
    // The user ticks one file in the list and one subfolder in the tree.
    Right()->SelectItem(ChildNamed(Right(), nullptr, QStringLiteral("?cratch.txt")));
    ChildNamed(Right(), nullptr, QStringLiteral("?cratch.txt"))->setCheckState(0, Qt::Checked);
    ChildNamed(Left(), root, QStringLiteral("docs"))->setCheckState(0, Qt::Checked);
    QCOMPARE(Left()->GetCheck(root), 2);
    page_->ShowFolder(root);
    QCOMPARE(Right()->GetCheck(ChildNamed(Right(), nullptr, QStringLiteral("?cratch.txt"))), 1);
    QCOMPARE(Right()->GetCheck(ChildNamed(Right(), nullptr, QStringLiteral("docs"))), 1);
    QCOMPARE(Right()->GetCheck(ChildNamed(Right(), nullptr, QStringLiteral("照片"))), 0);
    QCOMPARE(int(GetCheckState(FatEntryOf(Left(), root)->flags)), 2);
    Left()->SetCheck(root, 0);
    page_->ShowFolder(root);
  }

  // The filter box and the two switches decide which files are listed.
  void FilterAndSwitches() {
    Row docs = ChildNamed(Left(), RootFolder(), QStringLiteral("docs"));
    Left()->SelectItem(docs);
    page_->ShowFolder(docs);
    page_->SetNameFilter(QStringLiteral("note"));
    QStringList names = ListNames(Right());
    QVERIFY(names.contains(QStringLiteral("note1.txt")));
    QVERIFY(!names.contains(QStringLiteral("报告.txt")));
    QVERIFY(names.contains(QStringLiteral("?ld")));  // folders are not filtered
    page_->SetNameFilter(QString());
    page_->SetListSwitches(false, true);
    QVERIFY(!ListNames(Right()).contains(QStringLiteral("?ote2.txt")));
    QVERIFY(ListNames(Right()).contains(QStringLiteral("note1.txt")));
    page_->SetListSwitches(true, false);
    QVERIFY(ListNames(Right()).contains(QStringLiteral("?ote2.txt")));
    QVERIFY(!ListNames(Right()).contains(QStringLiteral("note1.txt")));
    page_->SetNameFilter(QStringLiteral("0"));  // "0": no filter, switches ignored
    QVERIFY(ListNames(Right()).contains(QStringLiteral("note1.txt")));
    page_->SetNameFilter(QString());
    page_->SetListSwitches(true, true);
  }

  // Refusals of the save commands, in the page's status line in red.
  void SaveRefusals() {
    OperationBusy().store(true);
    page_->SingleSelectSave(false);
    QCOMPARE(page_->StatusText(), QStringLiteral("警告: 请等待当前操作完成!"));
    QCOMPARE(page_->StatusColour(), kRed);
    page_->MultiSelectSave(true);
    QCOMPARE(page_->StatusText(), QStringLiteral("警告: 请等待当前操作完成!"));
    OperationBusy().store(false);
    Right()->clearSelection();
    page_->SingleSelectSave(false);
    QCOMPARE(page_->StatusText(), QStringLiteral("警告: 请选择保存对象!"));
    Right()->SelectItem(Right()->GetRootItem());
    AnswerSaveDialog(QString());
    page_->SingleSelectSave(false);
    QCOMPARE(page_->StatusText(), QStringLiteral("警告: 请选择保存路径!"));
    // "多选保存" with nothing ticked says so before any folder is asked for.
    int asked = 0;
    page_->runSaveDialog = [&asked](CMySaveFileDlg&) { return ++asked, false; };
    page_->MultiSelectSave(false);
    QCOMPARE(page_->StatusText(), QStringLiteral("警告: 请选择保存对象!"));
    QCOMPARE(page_->StatusColour(), kRed);
    page_->MultiSelectSave(true);
    QCOMPARE(page_->StatusText(), QStringLiteral("警告: 请选择保存对象!"));
    QCOMPARE(asked, 0);
    // Something ticked but no folder given: the dialog itself refuses OK.
    Left()->SetCheck(RootFolder(), 1);
    AnswerSaveDialog(QString());
    page_->MultiSelectSave(true);
    QCOMPARE(page_->StatusText(), QStringLiteral("警告: 请选择保存路径!"));
    Left()->SetCheck(Left()->GetRootItem(), 0);
  }

  // The page's marks become the save's selection: a ticked row stands for its
  // subtree, a partly ticked folder is descended into, and the carved-files
  // folder counts when ticked and a carved file lies inside the partition.
  void CheckedRowsBecomeTheSelection() {
    PartitionRecord partition;
    partition.fsKind = FsKind::kFat32;
    partition.startSector = 100;
    partition.sectorCount = 50;
    FatFileEntry& root = partition.tree->fatRoot;
    root.name = "根目录";
    SetEntryState(root.flags, kFolder);
    SetCheckState(root.flags, kPartlyChecked);
    FatFileEntry ticked, unticked;
    ticked.name = "ticked";
    unticked.name = "unticked";
    SetEntryState(ticked.flags, kFile);
    SetEntryState(unticked.flags, kFile);
    SetCheckState(ticked.flags, kChecked);
    root.children = {ticked, unticked};
    DiskRecord disk;
    disk.carvedFiles[120] = CarvedFile{0, 10, "a.jpg", "jpg"};
    std::vector<SelectedEntry> selection = CollectCheckedEntries(partition, &disk);
    QCOMPARE(selection.size(), size_t{1});
    QCOMPARE(QString::fromStdString(selection[0].fat->name), QStringLiteral("ticked"));
    QCOMPARE(selection[0].folderChain, std::vector<std::string>{"根目录"});
    disk.extraFoundFiles.state = kChecked;
    selection = CollectCheckedEntries(partition, &disk);
    QCOMPARE(selection.size(), size_t{2});
    QVERIFY(selection[1].carvedFolder);
    partition.startSector = 200;  // the carved file now lies before the partition
    QCOMPARE(CollectCheckedEntries(partition, &disk).size(), size_t{1});
  }

  // The status after a save says what was not saved whole.
  void SaveStatusCountsIncompleteFiles() {
    SaveSummary summary;
    summary.filesWritten = 5;
    summary.bytesWritten = 2048;
    bool warning = true;
    QCOMPARE(QString::fromStdString(SaveDoneText(summary, "/out", warning)),
             QStringLiteral("保存完成: 5 个文件, 2.00 KB被保存; 保存到 /out"));
    QVERIFY(!warning);
    summary.filesIncomplete = 2;
    summary.skippedWriteFailed = 1;
    QCOMPARE(QString::fromStdString(SaveDoneText(summary, "/out", warning)),
             QStringLiteral("保存完成: 5 个文件, 2.00 KB被保存, 其中 2 个不完整, 1 个未能保存; 保存到 /out"));
    QVERIFY(warning);
    summary.stopped = true;
    QCOMPARE(QString::fromStdString(SaveDoneText(summary, "/out", warning)),
             QStringLiteral("警告: 保存已停止, 已完整保存 3 个文件到 /out"));
  }

  void SingleSaveSpaceMessage() {
    QCOMPARE(QString::fromStdString(SingleSaveSpaceText(50ull << 20)),
             QStringLiteral("即将保存 50.0 MB,磁盘空间不够！"));
    QCOMPARE(QString::fromStdString(SingleSaveSpaceText(80ull << 10)),
             QStringLiteral("即将保存 80.0 KB,磁盘空间不够！"));
    QCOMPARE(QString::fromStdString(SingleSaveSpaceText(5ull << 30)), QStringLiteral("即将保存 5.0 GB,磁盘空间不够！"));
  }

  // Multi-select save of ticked list rows writes what `quorvel save` writes
  // for the same entries, byte for byte, deleted files included.
  void MultiSelectSaveMatchesCli() {
    QTemporaryDir gui, cli;
    Row docs = ChildNamed(Left(), RootFolder(), QStringLiteral("docs"));
    Left()->SelectItem(docs);
    page_->ShowFolder(docs);
    ChildNamed(Right(), nullptr, QStringLiteral("note1.txt"))->setCheckState(0, Qt::Checked);
    ChildNamed(Right(), nullptr, QStringLiteral("?ote2.txt"))->setCheckState(0, Qt::Checked);
    ChildNamed(Right(), nullptr, QStringLiteral("报告.txt"))->setCheckState(0, Qt::Checked);
    AnswerSaveDialog(gui.path());
    page_->MultiSelectSave(false);
    QVERIFY(WaitUntil([&] { return Idle() && !page_->LastSaveSummary().isEmpty(); }));
    QCOMPARE(page_->StatusColour(), ColorRef(0x32C832));
    // The done line says how many and where to look for them.
    QVERIFY2(page_->StatusText().startsWith(QStringLiteral("保存完成: 3 个文件, ")) &&
                 page_->StatusText().endsWith(QStringLiteral("; 保存到 ") + gui.path()),
             qPrintable(page_->StatusText()));

    CommandResult r = RunQuorvel(
        {QStringLiteral("save"), QString::fromStdString(FixturePath("demo.img")), QStringLiteral("Partition1"),
         QStringLiteral("--to"), cli.path(), QStringLiteral("--path"), QStringLiteral("根目录/docs/note1.txt"),
         QStringLiteral("--path"), QStringLiteral("根目录/docs/?ote2.txt"), QStringLiteral("--path"),
         QStringLiteral("根目录/docs/报告.txt"), QStringLiteral("--allow-same-disk"), QStringLiteral("--quiet")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QMap<QString, QByteArray> guiFiles = TreeHashes(gui.path());
    QCOMPARE(guiFiles.size(), 3);
    QVERIFY(guiFiles.contains(QStringLiteral("根目录/docs/note1.txt")));
    QCOMPARE(guiFiles, TreeHashes(cli.path()));
    // The deleted file came back with its content, not as zeros.
    QFile note2(gui.path() + QStringLiteral("/根目录/docs/$ote2.txt"));
    QVERIFY(note2.open(QIODevice::ReadOnly));
    QVERIFY(note2.readAll().startsWith("line 1 of note 2"));
  }

  // Multi-select from the folder tree: a ticked folder stands for its whole
  // subtree, as `quorvel save --path` of that folder.
  void TreeMultiSelectMatchesCli() {
    QTemporaryDir gui, cli;
    Row docs = ChildNamed(Left(), RootFolder(), QStringLiteral("docs"));
    Left()->SetCheck(RootFolder(), 0);
    docs->setCheckState(0, Qt::Checked);
    AnswerSaveDialog(gui.path());
    page_->MultiSelectSave(true);
    QVERIFY(WaitUntil([&] { return Idle(); }));
    CommandResult r =
        RunQuorvel({QStringLiteral("save"), QString::fromStdString(FixturePath("demo.img")),
                    QStringLiteral("Partition1"), QStringLiteral("--to"), cli.path(), QStringLiteral("--path"),
                    QStringLiteral("根目录/docs"), QStringLiteral("--allow-same-disk"), QStringLiteral("--quiet")});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QMap<QString, QByteArray> guiFiles = TreeHashes(gui.path());
    QVERIFY(guiFiles.contains(QStringLiteral("根目录/docs/old/$raft.txt")) ||
            guiFiles.contains(QStringLiteral("根目录/docs/$ld/$raft.txt")));
    QCOMPARE(guiFiles, TreeHashes(cli.path()));
    docs->setCheckState(0, Qt::Unchecked);
  }

  // A target inside a mount of the source image raises the same-drive
  // question from the save command's folder chooser; OK reopens the chooser,
  // Cancel keeps the folder (without its trailing "/").
  void SameDriveQuestion() {
    if (!HaveFixture("ntfs.img")) QSKIP("ntfs.img was not built");
    QTemporaryDir mount;
    QString image = QString::fromStdString(FixturePath("ntfs.img"));
    if (!RunTool(QStringLiteral("ntfs-3g"), {QStringLiteral("-o"), QStringLiteral("ro"), image, mount.path()}))
      QSKIP("ntfs-3g cannot mount here (no FUSE)");
    struct Unmount {
      QString path;
      ~Unmount() {
        if (!RunTool(QStringLiteral("fusermount3"), {QStringLiteral("-u"), path}) &&
            !RunTool(QStringLiteral("fusermount"), {QStringLiteral("-u"), path}))
          RunTool(QStringLiteral("umount"), {path});
      }
    } unmount{mount.path()};

    DiskList disks;
    QVERIFY(quorvel::OpenImageFile(disks, image.toStdString()));
    QVERIFY(!disks.back().partitions.empty());
    CFileDlg page(disks);
    QString refusal;
    QString partition = QString::fromStdString(PartitionRowTexts(disks.back()).front());
    QVERIFY2(page.ExpandPartition(QString::fromStdString(disks.back().Identity()), partition, &refusal),
             qPrintable(refusal));
    QVERIFY(WaitUntil([&] { return !OperationBusy().load() && page.WorkersIdle(); }));
    page.RightList()->SelectItem(page.RightList()->GetRootItem());

    QString question, kept;
    int answers = 0, picks = 0;
    std::function<void()> answer = [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        QTimer::singleShot(20, answer);
        return;
      }
      question = box->text();
      ++answers;
      box->button(answers == 1 ? QMessageBox::Ok : QMessageBox::Cancel)->click();
      if (answers == 1) QTimer::singleShot(20, answer);
    };
    page.runSaveDialog = [&](CMySaveFileDlg& dialog) {
      dialog.pickFolder = [&](QWidget*, const QString& title) {
        ++picks;
        if (title != QStringLiteral("请选择存储路径")) return QString();
        return mount.path() + QLatin1Char('/');
      };
      QTimer::singleShot(20, answer);
      dialog.ChooseFolder();
      kept = dialog.PathEdit()->text();
      return false;  // cancel the save itself: nothing is written into the mount
    };
    page.SingleSelectSave(false);
    QCOMPARE(question, QStringLiteral("将文件放回原分区行为危险\r\n希望重新选择"));
    QCOMPARE(answers, 2);
    QCOMPARE(picks, 2);
    QCOMPARE(kept, mount.path());
  }

  // The save dialog starts from the page's switches and hides the FAT box for NTFS.
  void SaveDialogStartUp() {
    CMySaveFileDlg dialog;
    dialog.SetExpansionMode(1);
    QVERIFY(dialog.FatBox()->isHidden());
    dialog.SetExpansionMode(0);
    QVERIFY(!dialog.FatBox()->isHidden() && dialog.FatBox()->isChecked());
    dialog.SetRecoverDeleted(false);
    dialog.SetRecoverNormal(true);
    dialog.PathEdit()->setText(QStringLiteral("/tmp/x"));
    dialog.accept();
    QVERIFY(!dialog.RecoverDeleted() && dialog.RecoverNormal() && dialog.UseFatReference());
    QCOMPARE(dialog.TargetFolder(), QStringLiteral("/tmp/x"));
  }

  // An NTFS partition lists through the record sweep the same way.
  void ExpandNtfs() {
    Expand(QStringLiteral("Partition0"));
    QCOMPARE(page_->Mode(), kExpandNtfs);
    Row root = RootFolder();
    QVERIFY(root);
    Row docs = ChildNamed(Left(), root, QStringLiteral("docs"));
    QVERIFY(docs);
    page_->ShowFolder(docs);
    QVERIFY(ListNames(Right()).contains(QStringLiteral("note1.txt")));
    Row deleted = ChildNamed(Right(), nullptr, QStringLiteral("note2.txt"));
    QVERIFY(deleted);
    QCOMPARE(Right()->GetItemTextColor(deleted), kRed);
  }
};

QTEST_MAIN(FilePageTest)
#include "file_page_test.moc"
