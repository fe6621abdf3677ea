#include "ui/my_save_file_dlg.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>

#include "ui/artwork.h"
#include "ui/xp_button.h"

namespace quorvel {

namespace {
const char* const kTitle = "Recover";
const char* const kPathLabel = "输出路径:";
const char* const kUseFat = "是否以FAT做参考";
const char* const kDeleted = "恢复删除文件";
const char* const kNormal = "恢复正常文件";
const char* const kChooseTitle = "请选择存储路径";
const char* const kSameDrive = "将文件放回原分区行为危险\r\n希望重新选择";
const char* const kSameDriveShort = "将文件放回原分区行为危险";
const char* const kNoTarget = "警告: 请选择保存路径!";
const char* const kRelativeTarget = "警告: 请填写完整的保存路径 (以 / 开头)!";
const char* const kTargetNotFolder = "警告: 保存路径不是文件夹!";
}  // namespace

CMySaveFileDlg::CMySaveFileDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(kTitle));
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);

  auto* label = new QLabel(QString::fromUtf8(kPathLabel), this);
  path_ = new QLineEdit(this);
  path_->setMinimumWidth(300);
  auto* browse = new CXPButton(QStringLiteral(">"), this);
  browse->setFixedWidth(36);
  connect(browse, &QPushButton::clicked, this, &CMySaveFileDlg::ChooseFolder);
  fatBox_ = new QCheckBox(QString::fromUtf8(kUseFat), this);
  deletedBox_ = new QCheckBox(QString::fromUtf8(kDeleted), this);
  normalBox_ = new QCheckBox(QString::fromUtf8(kNormal), this);
  for (QCheckBox* box : {fatBox_, deletedBox_, normalBox_}) box->setStyleSheet(QStringLiteral("color: white;"));
  fatBox_->setChecked(true);
  deletedBox_->setChecked(true);
  normalBox_->setChecked(true);
  auto* ok = new CXPButton(QStringLiteral("确定"), this);
  ok->setDefault(true);
  auto* cancel = new CXPButton(QStringLiteral("取消"), this);
  connect(ok, &QPushButton::clicked, this, &CMySaveFileDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CMySaveFileDlg::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 18, 20, 16);
  layout->setSpacing(12);
  auto* pathRow = new QHBoxLayout();
  pathRow->addWidget(label);
  pathRow->addWidget(path_, 1);
  pathRow->addWidget(browse);
  layout->addLayout(pathRow);
  auto* boxes = new QHBoxLayout();
  boxes->addWidget(fatBox_);
  boxes->addWidget(deletedBox_);
  boxes->addWidget(normalBox_);
  boxes->addStretch();
  layout->addLayout(boxes);
  refusal_ = new QLabel(this);
  refusal_->setStyleSheet(QStringLiteral("color: #FF6060; font-weight: bold;"));
  refusal_->hide();
  layout->addWidget(refusal_);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);

  pickFolder = [](QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
  };
}

void CMySaveFileDlg::SetExpansionMode(int mode) {
  // The FAT is a reference for FAT volumes only.
  fatBox_->setVisible(mode != 1);
  fatBox_->setChecked(mode == 0 || mode == 2);
}

void CMySaveFileDlg::SetRecoverDeleted(bool on) { deletedBox_->setChecked(on); }
void CMySaveFileDlg::SetRecoverNormal(bool on) { normalBox_->setChecked(on); }

bool CMySaveFileDlg::OnSource(const QString& folder) const {
  return isOnSourceDrive && isOnSourceDrive(folder.toStdString());
}

bool CMySaveFileDlg::AskChooseAgain() {
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(kTitle), QString::fromUtf8(kSameDrive),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Ok);
  // Closing the box is no consent to write into the source.
  box.setEscapeButton(QMessageBox::Ok);
  box.exec();
  return box.clickedButton() != box.button(QMessageBox::Cancel);
}

void CMySaveFileDlg::ChooseFolder() {
  for (;;) {
    QString path = pickFolder ? pickFolder(this, QString::fromUtf8(kChooseTitle)) : QString();
    if (path.isEmpty()) return;  // the browser was cancelled: keep what the field holds
    if (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    if (!OnSource(path)) {
      path_->setText(path);
      return;
    }
    if (!AskChooseAgain()) {
      path_->setText(path);  // the user insists
      keptOnSource_ = path;
      return;
    }
  }
}

QString CMySaveFileDlg::RefusalText() const { return refusal_->isHidden() ? QString() : refusal_->text(); }

void CMySaveFileDlg::accept() {
  const QString folder = path_->text().trimmed();
  const char* refusal = nullptr;
  if (folder.isEmpty())
    refusal = kNoTarget;
  else if (QDir::isRelativePath(folder))
    refusal = kRelativeTarget;
  else if (QFileInfo::exists(folder) && !QFileInfo(folder).isDir())
    refusal = kTargetNotFolder;
  if (refusal) {
    refusal_->setText(QString::fromUtf8(refusal));
    refusal_->show();
    path_->setFocus();
    return;
  }
  // A typed folder is asked about as a chosen one is, before anything is
  // written; one the user already chose to keep is not asked about twice.
  if (folder != keptOnSource_ && OnSource(folder)) {
    if (AskChooseAgain()) {
      ChooseFolder();
      // The dialog stays open either way: a new folder is confirmed with OK.
      refusal_->setText(QString::fromUtf8(kSameDriveShort));
      refusal_->setVisible(path_->text().trimmed() == folder);
      path_->setFocus();
      return;
    }
    keptOnSource_ = folder;
  }
  refusal_->hide();
  targetFolder_ = folder;
  useFat_ = !fatBox_->isHidden() && fatBox_->isChecked();
  recoverDeleted_ = deletedBox_->isChecked();
  recoverNormal_ = normalBox_->isChecked();
  QDialog::accept();
}

void CMySaveFileDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kDialogBrush));
}

}  // namespace quorvel
