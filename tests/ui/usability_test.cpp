// What a new user meets first: quorvel-gui's own command line and a missing
// display, the disk page saying why disks are missing, the save dialog's
// refusals and done text, readable column widths and Qt's dialogs in Chinese.
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "ui/artwork.h"
#include "ui/disk_list_problems.h"
#include "ui/file_dlg.h"
#include "ui/gui_arguments.h"
#include "ui/hd_dlg.h"
#include "ui/my_left_treelist_ctrl.h"
#include "ui/my_right_treelist_ctrl.h"
#include "ui/my_save_file_dlg.h"
#include "ui/quorvel_app.h"
#include "ui/quorvel_dlg.h"
#include "ui/save_selection.h"
#include "ui_test_support.h"

using namespace quorvel;
using namespace quorvel::uitest;

namespace {

const QColor kRed = ColorRef(255);

// argv for ParseGuiArguments; the strings live as long as the object.
struct Argv {
  std::vector<std::string> words;
  std::vector<char*> pointers;
  explicit Argv(std::initializer_list<const char*> list) : words(list.begin(), list.end()) {
    words.insert(words.begin(), "quorvel-gui");
    for (std::string& w : words) pointers.push_back(w.data());
  }
  int argc() const { return static_cast<int>(pointers.size()); }
  char** argv() { return pointers.data(); }
};

GuiStart Parse(std::initializer_list<const char*> list, GuiArguments& out, std::string& message) {
  Argv a(list);
  return ParseGuiArguments(a.argc(), a.argv(), out, message);
}

// Sets (or with null unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
    old_ = qgetenv(name);
    if (value)
      qputenv(name, value);
    else
      qunsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      qputenv(name_, old_);
    else
      qunsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

QString GuiProgram() { return QFileInfo(QStringLiteral(QUORVEL_CLI)).dir().filePath(QStringLiteral("quorvel-gui")); }

int HeadingWidth(CTreeListCtrl* tree, int column) {
  return tree->header()->fontMetrics().horizontalAdvance(tree->headerItem()->text(column));
}

}  // namespace

class UsabilityTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { CQuorvelApp::SetUpLook(); }

  // Plain arguments are images like --image; Qt's own options are left for
  // Qt; help and version end the start; a mistake is named.
  void GuiArgumentsAreRead() {
    GuiArguments args;
    std::string message;
    QCOMPARE(Parse({"a.img", "--image", "-b.img", "-platform", "offscreen", "c.img", "--", "--d.img"}, args, message),
             GuiStart::kRun);
    QCOMPARE(args.images, (std::vector<std::string>{"a.img", "-b.img", "c.img", "--d.img"}));
    QVERIFY(args.physicalDisks && !args.demoScript);

    GuiArguments hidden;
    QCOMPARE(Parse({"--no-physical-disks", "--demo-script"}, hidden, message), GuiStart::kRun);
    QVERIFY(!hidden.physicalDisks && hidden.demoScript);

    GuiArguments other;
    QCOMPARE(Parse({"--version"}, other, message), GuiStart::kDone);
    QVERIFY(message.rfind("quorvel-gui ", 0) == 0);
    QCOMPARE(Parse({"-h"}, other, message), GuiStart::kDone);
    QVERIFY(message.find("IMAGE") != std::string::npos && message.find("--image FILE") != std::string::npos);
    QCOMPARE(Parse({"--imag"}, other, message), GuiStart::kUsageError);
    QVERIFY(message.find("unknown option --imag") != std::string::npos);
    QCOMPARE(Parse({"--image"}, other, message), GuiStart::kUsageError);
    QVERIFY(message.find("--image needs a file") != std::string::npos);
  }

  // Which platform and display Qt would use, judged before Qt is started.
  void MissingDisplayIsFoundBeforeQt() {
    ScopedEnv display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr);
    {
      ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
      Argv none({});
      QVERIFY(!MissingDisplayReason(none.argc(), none.argv()).empty());
      Argv offscreen({"-platform", "offscreen"});
      QVERIFY(MissingDisplayReason(offscreen.argc(), offscreen.argv()).empty());
      Argv x11({"-display", ":7"});
      QVERIFY(MissingDisplayReason(x11.argc(), x11.argv()).empty());
      ScopedEnv set("WAYLAND_DISPLAY", "wayland-0");
      QVERIFY(MissingDisplayReason(none.argc(), none.argv()).empty());
    }
    ScopedEnv xcb("QT_QPA_PLATFORM", "xcb");
    Argv none({});
    QVERIFY(MissingDisplayReason(none.argc(), none.argv()).find("DISPLAY") != std::string::npos);
  }

  // The program itself: no display gives a message and status 2 instead of
  // Qt's abort; --version and a wrong option need no display at all.
  void GuiProgramWithoutDisplay() {
    if (!QFileInfo::exists(GuiProgram())) QSKIP("quorvel-gui was not built");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    auto run = [&](const QStringList& args) {
      QProcess gui;
      gui.setProcessEnvironment(env);
      gui.start(GuiProgram(), args);
      gui.waitForFinished(30000);
      return std::make_pair(gui.exitStatus() == QProcess::NormalExit ? gui.exitCode() : -1,
                            gui.readAllStandardOutput() + gui.readAllStandardError());
    };
    auto [status, out] = run({QStringLiteral("--no-physical-disks"), QStringLiteral("/nonexistent.img")});
    QCOMPARE(status, 2);
    QVERIFY2(out.contains("cannot open a window") && out.contains("xvfb-run"), out.constData());
    std::tie(status, out) = run({QStringLiteral("--version")});
    QCOMPARE(status, 0);
    QVERIFY(out.startsWith("quorvel-gui "));
    std::tie(status, out) = run({QStringLiteral("--bogus")});
    QCOMPARE(status, 1);
    QVERIFY(out.contains("unknown option --bogus"));
  }

  // The reasons as the disk enumeration and the image opening give them,
  // worded for the status line; a permission problem says what helps.
  void ListProblemTexts() {
    QCOMPARE(DiskOpenProblem("/dev/sda: Permission denied"), QStringLiteral("磁盘 /dev/sda 无法打开 (权限不足)"));
    QCOMPARE(ImageOpenProblem(QStringLiteral("lost.img"), "/x/lost.img: No such file or directory"),
             QStringLiteral("镜像文件 lost.img 无法打开 (文件不存在)"));
    QCOMPARE(ImageOpenProblem(QStringLiteral("odd.img"), "/x/odd.img: strange"),
             QStringLiteral("镜像文件 odd.img 无法打开 (strange)"));
    QCOMPARE(ListProblemsText({}, false), QString());
    QVERIFY(ListProblemsText({}, true).contains(QStringLiteral("没有找到可读取的磁盘")));
    const QString text = ListProblemsText(
        {DiskOpenProblem("/dev/sda: Permission denied"), DiskOpenProblem("/dev/sdb: Permission denied")}, false);
    QVERIFY(text.startsWith(QStringLiteral("警告: 磁盘 /dev/sda")) && text.contains(QStringLiteral("/dev/sdb")));
    QCOMPARE(text.count(QStringLiteral("root")), 1);
  }

  // The disk page keeps saying why disks are missing, in red, whichever
  // function is chosen; an image that cannot be opened says why.
  void DiskPageSaysWhyItIsEmpty() {
    DiskList disks;
    CQuorvelDlg window(disks);
    window.show();
    window.ChooseFunction(0);
    QVERIFY(window.DiskPage()->StatusText().contains(QStringLiteral("没有找到可读取的磁盘")));
    QCOMPARE(window.DiskPage()->StatusColour(), kRed);
    window.DiskPage()->SetListProblems({DiskOpenProblem("/dev/sda: Permission denied")});
    window.ChooseFunction(3);
    QCOMPARE(window.DiskPage()->StatusText(),
             QStringLiteral("警告: 磁盘 /dev/sda 无法打开 (权限不足); 读取物理磁盘需要 root 权限或 disk 组"));
    QCOMPARE(window.DiskPage()->StatusColour(), kRed);
    window.DiskPage()->OpenImageFile(QStringLiteral("/nonexistent/lost.img"));
    QCOMPARE(window.DiskPage()->StatusText(),
             QStringLiteral("错误: 无法打开镜像文件 /nonexistent/lost.img (文件不存在)"));
    QTemporaryDir dir;
    window.DiskPage()->OpenImageFile(dir.path());
    QVERIFY2(window.DiskPage()->StatusText().endsWith(QStringLiteral("(不是磁盘或镜像文件)")),
             qPrintable(window.DiskPage()->StatusText()));
  }

  // OK is refused inside the dialog, which stays open, for a folder nothing
  // can be saved into; a usable one clears the refusal.
  void SaveDialogRefusesUnusableTargets() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a file"));
    QFile(file).open(QIODevice::WriteOnly);
    CMySaveFileDlg dialog;
    dialog.show();
    struct Case {
      QString path, refusal;
    } cases[] = {{QStringLiteral("   "), QStringLiteral("警告: 请选择保存路径!")},
                 {QStringLiteral("relative/out"), QStringLiteral("警告: 请填写完整的保存路径 (以 / 开头)!")},
                 {file, QStringLiteral("警告: 保存路径不是文件夹!")}};
    for (const Case& c : cases) {
      dialog.PathEdit()->setText(c.path);
      dialog.accept();
      QCOMPARE(dialog.RefusalText(), c.refusal);
      QVERIFY(dialog.isVisible());
      QCOMPARE(dialog.TargetFolder(), QString());
    }
    // A folder still to be made is fine: the save creates it.
    dialog.PathEdit()->setText(dir.filePath(QStringLiteral("new")));
    dialog.accept();
    QCOMPARE(dialog.RefusalText(), QString());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.TargetFolder(), dir.filePath(QStringLiteral("new")));
  }

  // The save-done line names the folder and what is missing or incomplete.
  void SaveDoneTextNamesFolderAndShortfalls() {
    SaveSummary summary;
    summary.filesWritten = 12;
    summary.bytesWritten = 2048;
    bool warning = true;
    std::string text = SaveDoneText(summary, "/home/u/out", warning);
    QVERIFY(!warning);
    QVERIFY2(text.rfind("保存完成: 12 个文件, ", 0) == 0, text.c_str());
    QVERIFY(QString::fromStdString(text).endsWith(QStringLiteral("; 保存到 /home/u/out")));
    summary.filesIncomplete = 2;
    summary.emptyNoSignature = 1;
    summary.skippedWriteFailed = 4;
    text = SaveDoneText(summary, "/out", warning);
    QVERIFY(warning);
    QVERIFY2(text.find("其中 3 个不完整") != std::string::npos && text.find("4 个未能保存") != std::string::npos,
             text.c_str());
    summary.stopped = true;
    text = SaveDoneText(summary, "/out", warning);
    QVERIFY(warning);
    QCOMPARE(QString::fromStdString(text), QStringLiteral("警告: 保存已停止, 已完整保存 10 个文件到 /out"));
  }

  // Headings and numbers are readable at the page's default size: "File Id"
  // and "Create Time" in full, the list's sizes and numbers in full.
  void ColumnWidthsFitHeadingsAndNumbers() {
    DiskList disks;
    CFileDlg page(disks);
    for (QSize size : {QSize(1000, 600), QSize(720, 500)}) {
      page.resize(size);
      page.show();
      QTest::qWait(10);
      auto* left = page.LeftTree();
      for (int c : {CMyLeftTreelistCtrl::kFileIdColumn, CMyLeftTreelistCtrl::kCreateTimeColumn})
        QVERIFY2(left->columnWidth(c) >= HeadingWidth(left, c) + 8, qPrintable(left->headerItem()->text(c)));
      QVERIFY(left->columnWidth(CMyLeftTreelistCtrl::kNameColumn) >= 160);
    }
    page.resize(1200, 700);
    QTest::qWait(10);
    auto* left = page.LeftTree();
    QVERIFY(left->columnWidth(CMyLeftTreelistCtrl::kCreateTimeColumn) >=
            left->fontMetrics().horizontalAdvance(QStringLiteral("2024-12-31 23:59:59")));
    auto* right = page.RightList();
    QVERIFY(right->columnWidth(CMyRightTreelistCtrl::kSizeColumn) >=
            right->fontMetrics().horizontalAdvance(QStringLiteral("123456789012")));
    QVERIFY(right->columnWidth(CMyRightTreelistCtrl::kFileNumberColumn) >=
            right->fontMetrics().horizontalAdvance(QStringLiteral("4294967295")));
  }

  // Qt's own buttons and dialogs read in Chinese.
  void QtDialogsSpeakChinese() {
    if (!QFileInfo::exists(QStringLiteral("/usr/share/qt6/translations/qtbase_zh_CN.qm")))
      QSKIP("qt6-translations-l10n is not installed");
    QVERIFY(CQuorvelApp::LoadQtTranslations());
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("t"),
                    QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "&Open"), QStringLiteral("打开(&O)"));
  }
};

QTEST_MAIN(UsabilityTest)
#include "usability_test.moc"
