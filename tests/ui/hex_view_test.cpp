// The hex viewer: loading a file's bytes from a FAT volume made here with
// mkfs.fat and mtools, the sector layout, keys, editing and the clipboard.
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "core/operation_busy.h"
#include "model/partition_texts.h"
#include "ui/file_dlg.h"
#include "ui/hex_edit.h"
#include "ui/hex_view_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/quorvel_app.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {
using Row = CTreeListCtrl::Row;

QByteArray Pattern(int size, int seed) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

Row ListRow(CTreeListCtrl* list, const QString& name) {
  for (Row r = list->GetRootItem(); r; r = list->GetNextSiblingItem(r))
    if (list->GetItemText(r, 0).compare(name, Qt::CaseInsensitive) == 0) return r;
  return nullptr;
}
}  // namespace

class HexViewTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString image_;
  QByteArray thousand_, exact_, fragmented_, deleted_;
  DiskList disks_;
  std::unique_ptr<CFileDlg> page_;

  // Opens a file of the volume's root folder in the viewer and hands the
  // running dialog to check.
  void View(const QString& name, const std::function<void(CHEXVIEWDLG&)>& check) {
    Row row = ListRow(page_->RightList(), name);
    QVERIFY2(row, qPrintable(name));
    page_->RightList()->SelectItem(row);
    bool shown = false;
    page_->runHexDialog = [&](CHEXVIEWDLG& dialog) {
      shown = true;
      check(dialog);
    };
    page_->HexView();
    QVERIFY(shown);
  }

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    // A FAT16 volume with a 1000-byte file, a 512-byte file, and a file whose
    // clusters are split around another file's.
    thousand_ = Pattern(1000, 1);
    exact_ = Pattern(512, 2);
    fragmented_ = Pattern(6000, 3);
    deleted_ = Pattern(7000, 6);
    QString d = dir_.path();
    QVERIFY(WriteFile(d + "/THOUSAND.BIN", thousand_) && WriteFile(d + "/EXACT.BIN", exact_) &&
            WriteFile(d + "/A.BIN", Pattern(2048, 4)) && WriteFile(d + "/B.BIN", Pattern(4096, 5)) &&
            WriteFile(d + "/FRAG.BIN", fragmented_) && WriteFile(d + "/DEL.BIN", deleted_));
    image_ = d + "/fat16.img";
    if (!RunTool("mkfs.fat", {"-F", "16", "-s", "4", "-C", image_, "16384"})) QSKIP("mkfs.fat is not installed");
    QVERIFY(RunTool("mcopy", {"-i", image_, d + "/THOUSAND.BIN", d + "/EXACT.BIN", d + "/A.BIN", d + "/B.BIN", "::/"}));
    QVERIFY(RunTool("mdel", {"-i", image_, "::/A.BIN"}));
    QVERIFY(RunTool("mcopy", {"-i", image_, d + "/FRAG.BIN", d + "/DEL.BIN", "::/"}));
    QVERIFY(RunTool("mdel", {"-i", image_, "::/DEL.BIN"}));

    QVERIFY(quorvel::OpenImageFile(disks_, image_.toStdString()));
    QVERIFY(!disks_.back().partitions.empty());
    page_ = std::make_unique<CFileDlg>(disks_);
    QString refusal;
    QString partition = QString::fromStdString(PartitionRowTexts(disks_.back()).front());
    QVERIFY2(page_->ExpandPartition(QString::fromStdString(disks_.back().Identity()), partition, &refusal),
             qPrintable(refusal));
    QVERIFY(WaitUntil([&] { return !OperationBusy().load() && page_->WorkersIdle(); }));
    CTreeListCtrl* left = page_->LeftTree();
    Row root = left->GetChildItem(left->GetRootItem());
    QVERIFY(root);
    page_->ShowFolder(root);
  }

  void cleanupTestCase() { page_.reset(); }

  // A 1000-byte file shows 1024 bytes (two sectors, the rest zeros), one
  // separator "1 sec" and the title "2 sector".
  void ThousandByteFile() {
    View("THOUSAND.BIN", [&](CHEXVIEWDLG& dialog) {
      QCOMPARE(dialog.windowTitle(), QStringLiteral("2 sector"));
      const QByteArray& data = dialog.HexEdit()->Data();
      QCOMPARE(data.size(), 1024);
      QCOMPARE(data.left(1000), thousand_);
      QCOMPARE(data.mid(1000), QByteArray(24, '\0'));
      QCOMPARE(dialog.HexEdit()->SeparatorLabels(), QStringList{QStringLiteral("1 sec")});
    });
  }

  // Exactly one sector: no separator line at its end.
  void ExactSectorHasNoSeparator() {
    View("EXACT.BIN", [&](CHEXVIEWDLG& dialog) {
      QCOMPARE(dialog.windowTitle(), QStringLiteral("1 sector"));
      QCOMPARE(dialog.HexEdit()->Data(), exact_);
      QVERIFY(dialog.HexEdit()->SeparatorLabels().isEmpty());
    });
  }

  // A file whose clusters are not contiguous is read along its FAT chain.
  void FragmentedFileFollowsChain() {
    View("FRAG.BIN",
         [&](CHEXVIEWDLG& dialog) { QCOMPARE(dialog.HexEdit()->Data().left(fragmented_.size()), fragmented_); });
  }

  // A deleted file has no chain left: its clusters are read contiguously, so
  // the view shows all of it rather than its first cluster and zeros.
  void DeletedFileReadContiguously() {
    View("?EL.BIN", [&](CHEXVIEWDLG& dialog) {
      QCOMPARE(dialog.HexEdit()->Data().size(), 7168);
      QCOMPARE(dialog.HexEdit()->Data().left(deleted_.size()), deleted_);
    });
  }

  // Typing changes only the copy in memory: the image stays as it was.
  void EditsStayInMemory() {
    QByteArray before = FileSha256(image_);
    View("THOUSAND.BIN", [&](CHEXVIEWDLG& dialog) {
      CHexEdit* hex = dialog.HexEdit();
      hex->setFocus();
      QTest::keyClicks(hex, "ff");
      QCOMPARE(uint8_t(hex->Data()[0]), uint8_t(0xFF));
      QTest::keyClick(hex, Qt::Key_Delete);
      QCOMPARE(hex->Data().size(), 1023);
    });
    QCOMPARE(FileSha256(image_), before);
  }

  // The list's menu greys "Hex查看" on folder rows.
  void HexMenuGreyedOnFolders() {
    page_->ShowFolder(page_->LeftTree()->GetRootItem());  // the special folders, as folder rows
    Row folder = page_->RightList()->GetRootItem();
    QVERIFY(folder);
    std::unique_ptr<QMenu> menu(page_->BuildRightMenu(folder));
    QAction* hex = menu->actions().last();
    QCOMPARE(hex->text(), QStringLiteral("Hex查看"));
    QVERIFY(!hex->isEnabled());
    page_->ShowFolder(page_->LeftTree()->GetChildItem(page_->LeftTree()->GetRootItem()));
    menu.reset(page_->BuildRightMenu(ListRow(page_->RightList(), "EXACT.BIN")));
    QVERIFY(menu->actions().last()->isEnabled());
  }

  // The command line shows the same bytes as the viewer.
  void CliShowsTheSameBytes() {
    CommandResult r = RunQuorvel({"hex", image_, "0", "根目录/THOUSAND.BIN", "--raw"});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.out.size(), 1024);
    QCOMPARE(r.out.left(1000), thousand_);
    r = RunQuorvel({"hex", image_, "0", "根目录/THOUSAND.BIN"});
    QVERIFY(r.out.startsWith("2 sector\n"));
    QVERIFY(r.out.contains("\n1 sec "));
    r = RunQuorvel({"hex", image_, "--sectors", "0", "1", "--raw"});
    QCOMPARE(r.out.size(), 512);
    QCOMPARE(uint8_t(r.out[510]), uint8_t(0x55));
  }

  // Copy in the ASCII pane of 41 00 42 gives "A.B" as text and the three raw
  // bytes as "BinaryData"; in the hex pane the text is the hex digits.
  void ClipboardCopy() {
    CHexEdit hex;
    hex.SetData(QByteArray("A\0B", 3));
    hex.SetPane(CHexEdit::kAsciiPane);
    hex.SelectAll();
    hex.Copy();
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    QVERIFY(mime);
    QCOMPARE(mime->text(), QStringLiteral("A.B"));
    QCOMPARE(mime->data(QStringLiteral("BinaryData")), QByteArray("A\0B", 3));
    hex.SetPane(CHexEdit::kHexHigh);
    hex.Copy();
    QCOMPARE(QApplication::clipboard()->mimeData()->text(), QStringLiteral("41 00 42 "));
    // Paste prefers the raw bytes and inserts them at the caret.
    hex.SetSelection(-1, -1);
    hex.SetEditPos(1);
    hex.Paste();
    QCOMPARE(hex.Data(), QByteArray("AA\0B\0B", 6));
    // Cut is copy and delete.
    hex.SetSelection(0, 2);
    hex.Cut();
    QCOMPARE(hex.Data(), QByteArray("\0B\0B", 4));
    QCOMPARE(QApplication::clipboard()->mimeData()->data(QStringLiteral("BinaryData")), QByteArray("AA"));
  }

  // Keys: Tab switches panes, hex digits set the nibbles, Insert adds bytes,
  // Page Down at the last page leaves the view where it is.
  void Keys() {
    CHexEdit hex;
    hex.SetBytesPerRow(16);
    hex.resize(600, 200);
    hex.show();
    QVERIFY(QTest::qWaitForWindowExposed(&hex));
    hex.SetData(QByteArray(4096, '\0'));
    QCOMPARE(hex.CurrentPane(), CHexEdit::kHexHigh);
    QTest::keyClicks(&hex, "4a");
    QCOMPARE(uint8_t(hex.Data()[0]), uint8_t(0x4A));
    QCOMPARE(hex.EditPos(), 1);
    QTest::keyClick(&hex, Qt::Key_Tab);
    QCOMPARE(hex.CurrentPane(), CHexEdit::kAsciiPane);
    QTest::keyClicks(&hex, "Z");
    QCOMPARE(hex.Data()[1], 'Z');
    QTest::keyClick(&hex, Qt::Key_Insert);
    QCOMPARE(hex.Data().size(), 4097);
    QTest::keyClick(&hex, Qt::Key_Backspace);
    QCOMPARE(hex.Data().size(), 4096);
    for (int i = 0; i < 100; ++i) QTest::keyClick(&hex, Qt::Key_PageDown);
    int64_t last = hex.TopIndex();
    QVERIFY(last > 0);
    QCOMPARE(last, (4096 / 16 - hex.RowsPerPage()) * 16);
    QTest::keyClick(&hex, Qt::Key_PageDown);
    QCOMPARE(hex.TopIndex(), last);
    QTest::keyClick(&hex, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(hex.EditPos(), 0);
    // The separators count the sector that follows them.
    QCOMPARE(hex.SeparatorLabels().size(), 7);
    QCOMPARE(hex.SeparatorLabels().last(), QStringLiteral("7 sec"));
    QVERIFY(hex.VisibleLines().size() > 1);
  }
};

QTEST_MAIN(HexViewTest)
#include "hex_view_test.moc"
