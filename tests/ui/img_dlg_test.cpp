// The imaging dialog: its checks and messages, the picker, the two target
// modes, and real copies from a disk with unreadable sectors (faulty_image_fs)
// with the bad-sector list beside the dialog.
#include <sys/mount.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstring>
#include <memory>
#include <set>

#include "core/operation_busy.h"
#include "faulty_mount.h"
#include "imaging/mapfile.h"
#include "ui/bad_sector_list.h"
#include "ui/img_dlg.h"
#include "ui/quorvel_app.h"
#include "ui/text_progress_ctrl.h"
#include "ui/xp_button.h"
#include "ui_test_support.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {

constexpr uint64_t kMiB = 0x100000;

// Every sector carries its number; an MBR with one partition from sector 2048.
QByteArray MakeDisk(uint64_t size) {
  QByteArray bytes(static_cast<int>(size), '\0');
  for (uint64_t s = 0; s < size / 512; ++s) {
    char* sector = bytes.data() + s * 512;
    for (int i = 0; i < 512; ++i) sector[i] = static_cast<char>(s * 3 + i);
    std::memcpy(sector + 8, &s, sizeof s);
  }
  const uint32_t start = 2048, count = static_cast<uint32_t>(size / 512 - 2048);
  char* entry = bytes.data() + 446;
  std::memset(entry, 0, 64);
  entry[4] = 0x07;
  std::memcpy(entry + 8, &start, 4);
  std::memcpy(entry + 12, &count, 4);
  bytes[510] = static_cast<char>(0x55);
  bytes[511] = static_cast<char>(0xAA);
  return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The faulty file system's log of reads ("OFFSET SIZE RESULT" lines).
int LogLines(const std::string& log) { return static_cast<int>(ReadFile(QString::fromStdString(log)).count('\n')); }
std::vector<std::pair<uint64_t, uint64_t>> LogReads(const std::string& log, int from) {
  std::vector<std::pair<uint64_t, uint64_t>> reads;
  const QList<QByteArray> lines = ReadFile(QString::fromStdString(log)).split('\n');
  for (int i = from; i < lines.size(); ++i) {
    QList<QByteArray> words = lines[i].split(' ');
    if (words.size() == 3) reads.push_back({words[0].toULongLong(), words[1].toULongLong()});
  }
  return reads;
}

}  // namespace

class ImgDlgTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  DiskList disks_;
  std::unique_ptr<CImgDlg> dlg_;
  QStringList errors_, infos_, questions_;
  bool answer_ = true;
  int shotsTaken_ = 0;
  QString imagePath_;
  QByteArray image_;

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

  // Starts and waits for the run to end; the status it ended with.
  int RunToEnd() {
    QSignalSpy finished(dlg_.get(), &CImgDlg::RunFinished);
    dlg_->OnStart();
    if (!dlg_->Running()) return -1;
    if (!finished.wait(120000)) return -2;
    return finished.takeFirst().at(0).toInt();
  }

  // With QUORVEL_SHOT_DIR set: the dialog as drawn, and under an X server
  // (tests/gui/imaging_screenshots.sh) the whole screen as well.
  void Shot(const QString& name) {
    QByteArray shots = qgetenv("QUORVEL_SHOT_DIR");
    if (shots.isEmpty()) return;
    QString base = QString::fromLocal8Bit(shots) + QLatin1Char('/') + name;
    dlg_->grab().save(base + QStringLiteral(".png"));
    if (!qgetenv("DISPLAY").isEmpty()) {
      QTest::qWait(300);
      QProcess::execute(QStringLiteral("import"),
                        {QStringLiteral("-window"), QStringLiteral("root"), base + QStringLiteral("-screen.png")});
    }
  }

  void Reset() {
    errors_.clear();
    infos_.clear();
    questions_.clear();
    answer_ = true;
    dlg_->SourceStartEdit()->setText(QStringLiteral("0"));
    dlg_->TargetStartEdit()->setText(QStringLiteral("0"));
  }

  // The copy at offset holds the source's sectors [first, first + count),
  // bad ones as 0x20.
  void CompareCopy(const QByteArray& copy, qint64 offset, uint64_t first, uint64_t count,
                   const std::set<uint64_t>& bad) {
    QVERIFY(copy.size() >= offset + static_cast<qint64>(count * 512));
    const QByteArray filler(512, 0x20);
    for (uint64_t s = 0; s < count; ++s) {
      QByteArray got = copy.mid(offset + static_cast<qint64>(s * 512), 512);
      if (bad.count(first + s))
        QVERIFY2(got == filler, qPrintable(QStringLiteral("bad sector %1 not filled").arg(first + s)));
      else
        QVERIFY2(got == image_.mid(static_cast<qint64>((first + s) * 512), 512),
                 qPrintable(QStringLiteral("sector %1 differs").arg(first + s)));
    }
  }

 private slots:
  void initTestCase() {
    CQuorvelApp::SetUpLook();
    QVERIFY(dir_.isValid());
    // The records of runs onto disks go to the data folder: keep them here.
    qputenv("XDG_DATA_HOME", dir_.path().toUtf8());
    image_ = MakeDisk(4 * kMiB);
    imagePath_ = Path(QStringLiteral("plain.img"));
    QVERIFY(WriteFile(imagePath_, image_));
    QVERIFY(quorvel::OpenImageFile(disks_, imagePath_.toStdString()));
    dlg_ = std::make_unique<CImgDlg>(disks_);
    dlg_->showError = [this](const QString& text) { errors_ << text; };
    dlg_->showInfo = [this](const QString& text) {
      infos_ << text;
      // The dialog as the user sees it when the copy is done.
      if (dlg_->BadListShown()) Shot(QStringLiteral("imaging-done-") + QString::number(++shotsTaken_));
    };
    dlg_->confirm = [this](const QString& question) {
      questions_ << question;
      return answer_;
    };
  }

  void cleanupTestCase() {
    dlg_.reset();
    OperationBusy().store(false);
  }

  // The start-up state: "到磁盘" checked, the file controls off, the list
  // hidden and the dialog as wide as its separator.
  void StartUpState() {
    dlg_->ShowWithSource(QStringLiteral("plain.img,Partition0"));
    QVERIFY(dlg_->ToDiskRadio()->isChecked());
    QVERIFY(dlg_->TargetEdit()->isEnabled());
    QVERIFY(!dlg_->FileEdit()->isEnabled());
    QVERIFY(!dlg_->BrowseButton()->isEnabled());
    QVERIFY(!dlg_->BadListShown());
    QVERIFY(dlg_->SectorsDoneCaption()->isHidden());
    QCOMPARE(dlg_->CountEdit()->text(), QString::number(4 * kMiB / 512 - 2048));
    QCOMPARE(dlg_->windowTitle(), QStringLiteral("镜像"));
    dlg_->SetToDisk(false);
    QVERIFY(!dlg_->TargetEdit()->isEnabled());
    QVERIFY(dlg_->FileEdit()->isEnabled());
    QVERIFY(dlg_->BrowseButton()->isEnabled());
    dlg_->chooseFile = [this] { return Path(QStringLiteral("chosen.img")); };
    dlg_->ChooseFile();
    QCOMPARE(dlg_->FileEdit()->text(), Path(QStringLiteral("chosen.img")));
  }

  // The checks run in order, each with its own message, and nothing is
  // copied when one fails.
  void ChecksInOrder() {
    Reset();
    dlg_->SourceEdit()->clear();
    dlg_->OnStart();
    dlg_->SourceEdit()->setText(QStringLiteral("plain.img"));
    dlg_->CountEdit()->clear();
    dlg_->OnStart();
    dlg_->CountEdit()->setText(QString::number(4 * kMiB / 512));
    dlg_->SourceStartEdit()->clear();
    dlg_->OnStart();
    dlg_->SourceStartEdit()->setText(QStringLiteral("0"));
    dlg_->SetToDisk(true);
    dlg_->TargetEdit()->clear();
    dlg_->OnStart();
    dlg_->TargetEdit()->setText(QStringLiteral("plain.img"));
    dlg_->TargetStartEdit()->clear();
    dlg_->OnStart();
    dlg_->SetToDisk(false);
    dlg_->FileEdit()->clear();
    dlg_->OnStart();
    QCOMPARE(errors_,
             QStringList({QStringLiteral("请选择源磁盘信息"), QStringLiteral("请填写源磁盘镜像大小"),
                          QStringLiteral("请填写源磁盘镜像起始扇区"), QStringLiteral("请选择目标磁盘信息"),
                          QStringLiteral("请填写目标磁盘镜像起始扇区"), QStringLiteral("请选择目标文件路径")}));
    QVERIFY(!dlg_->Running());
    QVERIFY(!OperationBusy().load());
    QVERIFY(!QFile::exists(Path(QStringLiteral("chosen.img"))));
  }

  // The picker: a click shows it under the edit, a double click writes
  // "disk,partition" and (for the source) the sector count, a second click hides it.
  void PickerWritesTheSelection() {
    dlg_->SetToDisk(true);
    QTest::mouseClick(dlg_->SourceEdit(), Qt::LeftButton);
    QTreeWidget* picker = dlg_->Picker();
    QVERIFY(picker->isVisible());
    QCOMPARE(picker->width(), dlg_->SourceEdit()->width());
    QCOMPARE(picker->height(), dlg_->SourceEdit()->height() * 4);
    QTreeWidgetItem* disk = picker->topLevelItem(0);
    QCOMPARE(disk->text(0), QStringLiteral("plain.img"));
    QCOMPARE(disk->child(0)->text(0), QStringLiteral("Partition0"));
    dlg_->Pick(disk->child(0));
    QVERIFY(!picker->isVisible());
    QCOMPARE(dlg_->SourceEdit()->text(), QStringLiteral("plain.img,Partition0"));
    QCOMPARE(dlg_->CountEdit()->text(), QString::number(4 * kMiB / 512 - 2048));
    QTest::mouseClick(dlg_->TargetEdit(), Qt::LeftButton);
    QVERIFY(picker->isVisible());
    QTest::mouseClick(dlg_->TargetEdit(), Qt::LeftButton);
    QVERIFY(!picker->isVisible());
    QTest::mouseClick(dlg_->TargetEdit(), Qt::LeftButton);
    dlg_->Pick(picker->topLevelItem(0));
    QCOMPARE(dlg_->TargetEdit()->text(), QStringLiteral("plain.img"));
    QCOMPARE(dlg_->CountEdit()->text(), QString::number(4 * kMiB / 512 - 2048));  // only the source sets it
  }

  // A target on the source is refused before anything is opened for writing.
  void TargetOnTheSourceIsRefused() {
    Reset();
    dlg_->SourceEdit()->setText(QStringLiteral("plain.img"));
    dlg_->SetToDisk(true);
    dlg_->TargetEdit()->setText(QStringLiteral("plain.img"));
    dlg_->CountEdit()->setText(QStringLiteral("100"));
    dlg_->TargetStartEdit()->setText(QStringLiteral("4000"));
    dlg_->OnStart();
    QCOMPARE(errors_.size(), 1);
    QVERIFY(errors_[0].startsWith(QStringLiteral("目标位于源磁盘上")));
    QVERIFY(questions_.isEmpty());
    dlg_->SetToDisk(false);
    dlg_->FileEdit()->setText(imagePath_);
    dlg_->OnStart();
    QCOMPARE(errors_.size(), 2);
    QCOMPARE(ReadFile(imagePath_), image_);
  }

  // A source with unreadable sectors to a file: the list appears beside the
  // dialog with one row per bad sector, the count reaches the total, "镜像完毕"
  // is shown, and the image holds every readable sector.
  void CopiesAndListsBadSectors() {
    QString why = QString::fromStdString(test::FaultyMount::Unavailable());
    if (!why.isEmpty() && test::FaultyMount::Required()) QFAIL(qPrintable(why));
    if (!why.isEmpty()) QSKIP(qPrintable(why));
    test::FaultyMount mount(imagePath_.toStdString(), Path(QStringLiteral("mnt")).toStdString(),
                            {{2048 + 3}, {4096, 2}, {8191}});
    QVERIFY2(mount.ok(), mount.error().c_str());
    QVERIFY(quorvel::OpenImageFile(disks_, mount.path()));
    Reset();
    dlg_->ShowWithSource(QStringLiteral("disk.img"));
    QCOMPARE(dlg_->CountEdit()->text(), QString::number(4 * kMiB / 512));
    dlg_->SetToDisk(false);
    dlg_->FileEdit()->setText(Path(QStringLiteral("copy.img")));
    QCOMPARE(RunToEnd(), static_cast<int>(ImagingOutcome::Status::kDone));
    QCOMPARE(infos_, QStringList{QStringLiteral("镜像完毕")});
    QVERIFY(errors_.isEmpty());
    QVERIFY(!OperationBusy().load());
    QVERIFY(dlg_->BadListShown());
    BadSectorList* list = dlg_->BadSectors();
    QCOMPARE(list->rowCount(), 4);
    QCOMPARE(list->headerData(0, Qt::Horizontal).toString(), QStringLiteral("坏扇区数目"));
    QCOMPARE(list->headerData(1, Qt::Horizontal).toString(), QStringLiteral("坏扇区扇区号"));
    QCOMPARE(list->data(list->index(0, 0)).toString(), QStringLiteral("第1个坏扇区"));
    QCOMPARE(list->data(list->index(0, 1)).toString(), QStringLiteral("2051"));
    QCOMPARE(list->data(list->index(2, 1)).toString(), QStringLiteral("4097"));
    QCOMPARE(list->data(list->index(3, 0)).toString(), QStringLiteral("第4个坏扇区"));
    QCOMPARE(list->data(list->index(3, 1)).toString(), QStringLiteral("8191"));
    QCOMPARE(dlg_->SectorsDoneLabel()->text(), QString::number(4 * kMiB / 512));
    QVERIFY(!dlg_->SectorsDoneCaption()->isHidden());
    QCOMPARE(dlg_->Bar()->GetPos(), dlg_->Bar()->GetUpper());
    QVERIFY(!dlg_->isVisible());  // the dialog closes when the copy is done
    CompareCopy(ReadFile(Path(QStringLiteral("copy.img"))), 0, 0, 4 * kMiB / 512, {2051, 4096, 4097, 8191});
    QCOMPARE(ReadFile(imagePath_), image_);

    // To an image "disk", after the question naming it: its partition,
    // at a target start sector. Declining writes nothing.
    QByteArray blank(static_cast<int>(4 * kMiB), static_cast<char>(0xAB));
    QVERIFY(WriteFile(Path(QStringLiteral("blank.img")), blank));
    QVERIFY(quorvel::OpenImageFile(disks_, Path(QStringLiteral("blank.img")).toStdString()));
    Reset();
    dlg_->ShowWithSource(QStringLiteral("disk.img,Partition0"));
    dlg_->SetToDisk(true);
    dlg_->TargetEdit()->setText(QStringLiteral("blank.img"));
    dlg_->TargetStartEdit()->setText(QStringLiteral("8"));
    answer_ = false;
    dlg_->OnStart();
    QVERIFY(!dlg_->Running());
    QCOMPARE(questions_.size(), 1);
    QVERIFY(questions_[0].contains(QStringLiteral("blank.img")));
    QCOMPARE(ReadFile(Path(QStringLiteral("blank.img"))), blank);
    answer_ = true;
    QCOMPARE(RunToEnd(), static_cast<int>(ImagingOutcome::Status::kDone));
    QCOMPARE(dlg_->BadSectors()->rowCount(), 4);  // a new run starts a new list
    QByteArray written = ReadFile(Path(QStringLiteral("blank.img")));
    CompareCopy(written, 8 * 512, 2048, 4 * kMiB / 512 - 2048, {2051, 4096, 4097, 8191});
    QCOMPARE(written.left(8 * 512), blank.left(8 * 512));
    QCOMPARE(written.size(), blank.size());
    disks_.pop_back();
    disks_.pop_back();
  }

  // "停止" during a rescue: it ends after the current read, no "镜像完毕", the
  // bar back at 0, the dialog closed, and the mapfile beside the image says
  // what is done. "开始" on the same image then asks to resume, and goes on
  // where it stopped: nothing finished is read again, and the image ends as
  // a run never stopped makes it. A finished record starts a new run.
  void StopThenResume() {
    QString why = QString::fromStdString(test::FaultyMount::Unavailable());
    if (!why.isEmpty() && test::FaultyMount::Required()) QFAIL(qPrintable(why));
    if (!why.isEmpty()) QSKIP(qPrintable(why));
    std::string log = Path(QStringLiteral("slow.log")).toStdString();
    test::FaultyMount mount(imagePath_.toStdString(), Path(QStringLiteral("slow")).toStdString(), {{100}, {5000, 3}}, 4,
                            log);
    QVERIFY2(mount.ok(), mount.error().c_str());
    QVERIFY(quorvel::OpenImageFile(disks_, mount.path()));
    Reset();
    dlg_->ShowWithSource(QStringLiteral("disk.img"));
    dlg_->SetToDisk(false);
    const QString copy = Path(QStringLiteral("stopped.img"));
    const QString map = copy + QStringLiteral(".map");
    dlg_->FileEdit()->setText(copy);
    QSignalSpy finished(dlg_.get(), &CImgDlg::RunFinished);
    dlg_->OnStart();
    QVERIFY(dlg_->Running());
    QVERIFY(OperationBusy().load());
    QVERIFY(!dlg_->StartButton()->isEnabled());
    QVERIFY(!dlg_->SourceEdit()->isEnabled());
    QVERIFY(WaitUntil([&] { return LogLines(log) >= 20 && !dlg_->RescuedLabel()->text().isEmpty(); }));
    QCOMPARE(dlg_->PhaseLabel()->text(), QStringLiteral("复制 第1遍"));
    QVERIFY(dlg_->RateLabel()->text().endsWith(QStringLiteral("/s")));
    Shot(QStringLiteral("imaging-running"));
    QTest::mouseClick(dlg_->StopButton(), Qt::LeftButton);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.takeFirst().at(0).toInt(), static_cast<int>(ImagingOutcome::Status::kStopped));
    QVERIFY(infos_.isEmpty());
    QCOMPARE(dlg_->Bar()->GetPos(), 0);
    QVERIFY(!dlg_->isVisible());
    QVERIFY(!OperationBusy().load());
    Mapfile atStop;
    std::string error;
    QVERIFY2(ReadMapfile(map.toStdString(), atStop, error), error.c_str());
    QVERIFY(atStop.FinishedBytes(0, 4 * kMiB) > 0);
    QVERIFY(atStop.FinishedBytes(0, 4 * kMiB) < 4 * kMiB);
    QVERIFY(atStop.currentStatus != '+');

    // Again: the question names the record; yes resumes.
    Reset();
    dlg_->ShowWithSource(QStringLiteral("disk.img"));
    dlg_->SetToDisk(false);
    dlg_->FileEdit()->setText(copy);
    const int readsBefore = LogLines(log);
    QCOMPARE(RunToEnd(), static_cast<int>(ImagingOutcome::Status::kDone));
    QCOMPARE(questions_.size(), 1);
    QVERIFY(questions_[0].contains(map));
    QVERIFY(questions_[0].contains(QStringLiteral("继续")));
    QCOMPARE(infos_, QStringList{QStringLiteral("镜像完毕")});
    for (const auto& [offset, size] : LogReads(log, readsBefore))
      QVERIFY2(atStop.BlockAt(offset).status != '+' || offset == 0,
               qPrintable(QStringLiteral("read again at %1").arg(offset)));
    CompareCopy(ReadFile(copy), 0, 0, 4 * kMiB / 512, {100, 5000, 5001, 5002});
    QCOMPARE(dlg_->BadSectors()->rowCount(), 4);
    for (int row = 0; row < 4; ++row)  // in sector order, though trimming found 5002 before 5001
      QCOMPARE(dlg_->BadSectors()->SectorAt(row), (std::vector<uint64_t>{100, 5000, 5001, 5002}[row]));
    QCOMPARE(dlg_->PhaseLabel()->text(), QStringLiteral("完成"));
    QCOMPARE(dlg_->BadAreasLabel()->text().left(2), QStringLiteral("2 "));

    // The record now says finished: the next run starts anew without asking.
    Reset();
    dlg_->ShowWithSource(QStringLiteral("disk.img"));
    dlg_->SetToDisk(false);
    dlg_->FileEdit()->setText(copy);
    QCOMPARE(RunToEnd(), static_cast<int>(ImagingOutcome::Status::kDone));
    QVERIFY(questions_.isEmpty());
    CompareCopy(ReadFile(copy), 0, 0, 4 * kMiB / 512, {100, 5000, 5001, 5002});
    disks_.pop_back();
  }

  // The list stays in sector order whatever order the sectors come in, each
  // listed once, runs merged across what came before and after.
  void BadListKeepsSectorOrder() {
    BadSectorList list;
    list.Append({10, 12, 13});
    list.Append({11, 5, 12, UINT64_MAX});
    list.Append({20, 21});
    list.Append({14});
    QCOMPARE(list.rowCount(), 8);
    const std::vector<uint64_t> expected = {5, 10, 11, 12, 13, 14, 20, 21};
    for (int row = 0; row < 8; ++row) QCOMPARE(list.SectorAt(static_cast<uint64_t>(row)), expected[row]);
    QCOMPARE(list.data(list.index(7, 0)).toString(), QStringLiteral("第8个坏扇区"));
  }

  // A target on a full file system: the copy stops with "磁盘有坏道，请重新选择
  // 目标文件", is not called done, and the dialog stays for another choice.
  void FullTargetIsNotDone() {
    QString small = Path(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(small));
    if (::mount("tmpfs", small.toUtf8().constData(), "tmpfs", 0, "size=1m") != 0) QSKIP("cannot mount a tmpfs here");
    Reset();
    dlg_->ShowWithSource(QStringLiteral("plain.img"));
    dlg_->SetToDisk(false);
    dlg_->FileEdit()->setText(small + QStringLiteral("/full.img"));
    int status = RunToEnd();
    ::umount2(small.toUtf8().constData(), MNT_DETACH);
    QCOMPARE(status, static_cast<int>(ImagingOutcome::Status::kWriteFailed));
    QCOMPARE(errors_, QStringList{QStringLiteral("磁盘有坏道，请重新选择目标文件")});
    QVERIFY(infos_.isEmpty());
    QVERIFY(dlg_->isVisible());
    QVERIFY(dlg_->StartButton()->isEnabled());
    QVERIFY(dlg_->FileEdit()->isEnabled());
    QVERIFY(!OperationBusy().load());
    dlg_->close();
  }
};

QTEST_MAIN(ImgDlgTest)
#include "img_dlg_test.moc"
