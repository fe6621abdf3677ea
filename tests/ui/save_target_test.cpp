// The save dialog's same-drive question, whichever way the folder came in:
// typed into the path field or chosen with the chooser. Against real mounts
// of the image being read (an ntfs-3g FUSE mount and a mount of a loop
// device), driving the real dialog through the file page: nothing may be
// written into the mount unless the user keeps the folder.
#include <unistd.h>
#include <QApplication>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "core/operation_busy.h"
#include "model/partition_texts.h"
#include "ui/file_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/my_save_file_dlg.h"
#include "ui/quorvel_app.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

// What the test was written to check cannot be skipped under CI.
#define SKIP_OR_FAIL(why)                                 \
  do {                                                    \
    if (CiRequiresAll()) QFAIL(qPrintable(QString(why))); \
    QSKIP(qPrintable(QString(why)));                      \
  } while (0)

namespace {

const QString kQuestion = QStringLiteral("将文件放回原分区行为危险\r\n希望重新选择");

QPushButton* ButtonNamed(QWidget* dialog, const QString& text) {
  for (QPushButton* b : dialog->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

// Every entry below root, files and folders, with sizes: what a save would add.
QStringList Listing(const QString& root) {
  QStringList names;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    names << it.filePath().mid(root.size()) + QLatin1Char(' ') + QString::number(it.fileInfo().size());
  }
  names.sort();
  return names;
}

// A mount made for one test, undone on every way out (a failed QVERIFY too).
struct ScopedMount {
  QString point;
  ~ScopedMount() {
    if (point.isEmpty()) return;
    if (!RunTool(QStringLiteral("umount"), {point})) RunTool(QStringLiteral("umount"), {QStringLiteral("-l"), point});
  }
};
struct ScopedLoop {
  QString device;
  ~ScopedLoop() {
    if (!device.isEmpty()) RunTool(QStringLiteral("losetup"), {QStringLiteral("-d"), device});
  }
};

// Answers whatever modal window comes up next, one step per window: each
// step gets the window. Its timers die with it.
class ModalDriver : public QObject {
 public:
  using Step = std::function<void(QWidget* window)>;
  void Run(std::vector<Step> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    last_ = nullptr;
    Poll();
  }
  bool Done() const { return next_ == steps_.size(); }

 private:
  void Poll() {
    if (Done()) return;
    QWidget* window = QApplication::activeModalWidget();
    // Each step waits for a window other than the one the last step answered,
    // or for the same dialog shown again after a nested box closed.
    if (!window || !window->isVisible() || (window == last_ && lastWasBox_)) {
      QTimer::singleShot(20, this, [this] { Poll(); });
      return;
    }
    last_ = window;
    lastWasBox_ = qobject_cast<QMessageBox*>(window) != nullptr;
    Step step = steps_[next_++];
    // The step may open a nested modal loop: keep polling meanwhile.
    QTimer::singleShot(20, this, [this] { Poll(); });
    step(window);
  }
  std::vector<Step> steps_;
  size_t next_ = 0;
  QWidget* last_ = nullptr;
  bool lastWasBox_ = false;
};

}  // namespace

class SaveTargetTest : public QObject {
  Q_OBJECT

  // The save dialog alone, with every folder on the source.
  struct Dialog {
    CMySaveFileDlg dialog;
    int asked = 0, picks = 0;
    QString pick;  // what the chooser returns ("" : cancelled)
    Dialog() {
      dialog.isOnSourceDrive = [](const std::string&) { return true; };
      dialog.pickFolder = [this](QWidget*, const QString&) { return ++picks, pick; };
    }
  };

  // Types folder and presses OK, then answers the question with button.
  static void TypeAndAnswer(Dialog& d, const QString& folder, QMessageBox::StandardButton button, bool escape = false) {
    ModalDriver driver;
    driver.Run({[&](QWidget* box) {
      ++d.asked;
      QCOMPARE(qobject_cast<QMessageBox*>(box)->text(), kQuestion);
      if (escape)
        QTest::keyClick(box, Qt::Key_Escape);
      else
        qobject_cast<QMessageBox*>(box)->button(button)->click();
    }});
    d.dialog.PathEdit()->clear();
    QTest::keyClicks(d.dialog.PathEdit(), folder);
    ButtonNamed(&d.dialog, QStringLiteral("确定"))->click();
    QVERIFY(driver.Done());
  }

 private slots:
  void initTestCase() { CQuorvelApp::SetUpLook(); }

  // A typed folder on the source asks the chooser's question. OK, and closing
  // the box, mean "choose again": the chooser opens and the dialog stays open
  // with the folder marked; Cancel keeps the folder; a kept folder is not
  // asked about again. A folder off the source is taken without a word.
  void TypedFolderAsksAsTheChooserDoes() {
    for (bool escape : {false, true}) {
      Dialog d;
      d.dialog.show();
      TypeAndAnswer(d, QStringLiteral("/mnt/image/out"), QMessageBox::Ok, escape);
      QCOMPARE(d.asked, 1);
      QCOMPARE(d.picks, 1);
      QVERIFY(d.dialog.isVisible());
      QCOMPARE(d.dialog.result(), int(QDialog::Rejected));
      QCOMPARE(d.dialog.RefusalText(), QStringLiteral("将文件放回原分区行为危险"));
      QCOMPARE(d.dialog.PathEdit()->text(), QStringLiteral("/mnt/image/out"));
    }
    {
      Dialog d;
      d.dialog.show();
      TypeAndAnswer(d, QStringLiteral("/mnt/image/out"), QMessageBox::Cancel);
      QCOMPARE(d.dialog.result(), int(QDialog::Accepted));
      QCOMPARE(d.dialog.TargetFolder(), QStringLiteral("/mnt/image/out"));
      QCOMPARE(d.picks, 0);
      d.dialog.show();
      d.dialog.accept();  // the same folder again: no second question
      QCOMPARE(d.asked, 1);
    }
    {
      // Chosen, kept with Cancel, then OK: asked once, not twice.
      Dialog d;
      d.pick = QStringLiteral("/mnt/image/");
      ModalDriver driver;
      driver.Run(
          {[&](QWidget* box) { ++d.asked, qobject_cast<QMessageBox*>(box)->button(QMessageBox::Cancel)->click(); }});
      d.dialog.ChooseFolder();
      QVERIFY(driver.Done());
      QCOMPARE(d.dialog.PathEdit()->text(), QStringLiteral("/mnt/image"));
      d.dialog.accept();
      QCOMPARE(d.asked, 1);
      QCOMPARE(d.dialog.TargetFolder(), QStringLiteral("/mnt/image"));
    }
    {
      Dialog d;
      d.dialog.isOnSourceDrive = [](const std::string&) { return false; };
      d.dialog.PathEdit()->setText(QStringLiteral("/elsewhere"));
      d.dialog.accept();
      QCOMPARE(d.dialog.result(), int(QDialog::Accepted));
      QCOMPARE(d.asked + d.picks, 0);
    }
  }

  // A folder typed into the save dialog inside an ntfs-3g mount of the image
  // being read (single save), and inside a mount of a loop device backed by
  // it (multi-select save): the question comes up before anything is written;
  // choosing again, then cancelling the dialog, leaves the mount as it was.
  void TypedFolderInsideMountsOfTheSource() {
    if (!HaveFixture("ntfs.img")) QSKIP("ntfs.img was not built");
    if (::geteuid() != 0) SKIP_OR_FAIL("mounting needs root");
    if (::access("/dev/fuse", R_OK | W_OK) != 0) SKIP_OR_FAIL("no /dev/fuse");
    QTemporaryDir work;
    // A copy, mounted read-write: a save that went ahead would land in it.
    const QString image = work.path() + QStringLiteral("/source.img");
    QVERIFY(RunTool(QStringLiteral("cp"),
                    {QStringLiteral("--sparse=always"), QString::fromStdString(FixturePath("ntfs.img")), image}));
    for (bool throughLoop : {false, true}) {
      const QString point = work.path() + (throughLoop ? QStringLiteral("/loop") : QStringLiteral("/fuse"));
      QVERIFY(QDir().mkpath(point));
      ScopedLoop loop;
      ScopedMount mount;
      QString device = image;
      if (throughLoop) {
        QByteArray out;
        if (!RunTool(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), image}, &out))
          SKIP_OR_FAIL("no loop device");
        loop.device = device = QString::fromUtf8(out).trimmed();
      }
      if (!RunTool(QStringLiteral("ntfs-3g"), {device, point})) SKIP_OR_FAIL("ntfs-3g cannot mount here");
      mount.point = point;
      // An existing folder, so that free space is no reason to refuse.
      const QString typed = point + QStringLiteral("/recovered");
      QVERIFY(QDir().mkpath(typed));
      const QStringList before = Listing(point);
      QVERIFY(!before.isEmpty());

      DiskList disks;
      QVERIFY(quorvel::OpenImageFile(disks, image.toStdString()));
      CFileDlg page(disks);
      QString refusal;
      const QString partition = QString::fromStdString(PartitionRowTexts(disks.back()).front());
      QVERIFY2(page.ExpandPartition(QString::fromStdString(disks.back().Identity()), partition, &refusal),
               qPrintable(refusal));
      QVERIFY(WaitUntil([&] { return !OperationBusy().load() && page.WorkersIdle(); }));
      // The root folder's "docs": small enough for the free space of the mount.
      page.ShowFolder(ChildNamed(page.LeftTree(), page.LeftTree()->GetRootItem(), QStringLiteral("根目录")));
      CTreeListCtrl* list = page.RightList();
      const CTreeListCtrl::Row docs = ChildNamed(list, nullptr, QStringLiteral("docs"));
      QVERIFY(docs);

      QString question;
      int picks = 0;
      bool accepted = true;
      ModalDriver driver;
      page.runSaveDialog = [&](CMySaveFileDlg& dialog) {
        dialog.pickFolder = [&](QWidget*, const QString&) { return ++picks, QString(); };
        driver.Run({
            [&](QWidget* window) {
              auto* d = qobject_cast<CMySaveFileDlg*>(window);
              QVERIFY(d);
              QTest::keyClicks(d->PathEdit(), typed);
              ButtonNamed(d, QStringLiteral("确定"))->click();
            },
            [&](QWidget* box) {
              question = qobject_cast<QMessageBox*>(box)->text();
              // Only the same-drive question is answered "choose again".
              qobject_cast<QMessageBox*>(box)
                  ->button(question == kQuestion ? QMessageBox::Ok : QMessageBox::Cancel)
                  ->click();
            },
            [&](QWidget* window) {
              // Back in the dialog, which is still open: cancel it.
              QVERIFY(qobject_cast<CMySaveFileDlg*>(window));
              ButtonNamed(window, QStringLiteral("取消"))->click();
            },
        });
        accepted = dialog.exec() == QDialog::Accepted;
        return accepted;
      };
      if (throughLoop) {
        list->SetCheck(docs, 1);
        page.MultiSelectSave(false);
      } else {
        list->SelectItem(docs);
        page.SingleSelectSave(false);
      }
      QVERIFY(WaitUntil([&] { return !OperationBusy().load() && page.WorkersIdle(); }));
      QCOMPARE(Listing(point), before);
      QVERIFY(driver.Done());
      QCOMPARE(question, kQuestion);
      QCOMPARE(picks, 1);
      QVERIFY(!accepted);
    }
  }
};

QTEST_MAIN(SaveTargetTest)
#include "save_target_test.moc"
