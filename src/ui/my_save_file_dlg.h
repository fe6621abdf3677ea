#pragma once
// The save-target dialog ("Recover"): output folder with its chooser, and the
// three save options. A folder on the source is asked about before it is
// taken, whether it was chosen or typed.
#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quorvel {

class CXPButton;

class CMySaveFileDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CMySaveFileDlg(QWidget* parent = nullptr);

  // Set by the caller before the dialog runs.
  void SetExpansionMode(int mode);  // 1 (NTFS) hides the FAT box
  void SetRecoverDeleted(bool on);
  void SetRecoverNormal(bool on);
  // True when writing into a folder could reach the source being saved from.
  std::function<bool(const std::string& folder)> isOnSourceDrive;
  // Shows the folder browser; empty when nothing was chosen. Replaceable so
  // tests can answer it.
  std::function<QString(QWidget* parent, const QString& title)> pickFolder;

  // Results, read after OK.
  QString TargetFolder() const { return targetFolder_; }
  bool UseFatReference() const { return useFat_; }
  bool RecoverDeleted() const { return recoverDeleted_; }
  bool RecoverNormal() const { return recoverNormal_; }

  // Button ">": the folder chooser with its same-drive question.
  void ChooseFolder();
  QLineEdit* PathEdit() const { return path_; }
  QCheckBox* FatBox() const { return fatBox_; }
  QCheckBox* DeletedBox() const { return deletedBox_; }
  QCheckBox* NormalBox() const { return normalBox_; }
  // Why OK did not close the dialog (the red line above the buttons), or "".
  QString RefusalText() const;

 public slots:
  // OK: reads the folder and the three boxes. A folder that cannot be saved
  // into (none given, a relative path, an existing file) is refused here and
  // the dialog stays open. A folder on the source asks the chooser's
  // question: OK (choose again) opens the chooser and the dialog stays open,
  // Cancel keeps the folder.
  void accept() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLineEdit* path_ = nullptr;
  QCheckBox* fatBox_ = nullptr;
  QCheckBox* deletedBox_ = nullptr;
  QCheckBox* normalBox_ = nullptr;
  // The same-drive question; true when the user chooses again.
  bool AskChooseAgain();
  bool OnSource(const QString& folder) const;

  QLabel* refusal_ = nullptr;
  QString targetFolder_;
  QString keptOnSource_;  // a folder on the source the user chose to keep
  bool useFat_ = true, recoverDeleted_ = true, recoverNormal_ = true;
};

}  // namespace quorvel
