#pragma once
// The imaging dialog ("镜像"): rescues a disk or partition to another disk or
// to an image file on its own thread, shows the rescue's phase, what it has
// rescued, its bad areas and read rate, and lists every unreadable sector
// beside the dialog as it is found. Each run keeps a ddrescue mapfile (beside
// an image file, or in the application's data folder for a disk), so a
// stopped rescue resumes where it was.
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "core/scan_progress.h"
#include "imaging/imaging_job.h"
#include "model/disk_records.h"
#include "ui/worker_thread.h"

class QLabel;
class QLineEdit;
class QRadioButton;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class QFrame;

namespace quorvel {

class BadSectorList;
class CImgDlgReports;
class CTextProgressCtrl;
class CXPButton;
struct ImagingReport;

class CImgDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CImgDlg(DiskList& disks, QWidget* parent = nullptr);
  ~CImgDlg() override;

  // Shows the dialog with the source preset to the disk page's selection
  // ("disk" or "disk,partition") and its sector count.
  void ShowWithSource(const QString& sourceText);
  // "开始": the checks, then the imaging thread.
  void OnStart();
  // "停止": the copy ends after the current block or sector.
  void OnStop();
  // "到磁盘" / "到文件".
  void SetToDisk(bool toDisk);
  // A click on the source or target edit: shows the picker under it, or
  // hides it again.
  void TogglePicker(QLineEdit* owner);
  // A double click in the picker: the selection goes into the edit.
  void Pick(QTreeWidgetItem* item);
  // "...": the image file chooser.
  void ChooseFile();
  bool Running() const { return running_; }
  // Stops a running copy and waits for its thread (the main window closing).
  void StopAndWait();

  // The message boxes and the file chooser; replaceable so tests can answer.
  std::function<void(const QString& text)> showError;  // title "error"
  std::function<void(const QString& text)> showInfo;
  std::function<bool(const QString& question)> confirm;
  std::function<QString()> chooseFile;

  QRadioButton* ToDiskRadio() const { return toDisk_; }
  QRadioButton* ToFileRadio() const { return toFile_; }
  QLineEdit* SourceEdit() const { return source_; }
  QLineEdit* SourceStartEdit() const { return sourceStart_; }
  QLineEdit* CountEdit() const { return count_; }
  QLineEdit* TargetEdit() const { return target_; }
  QLineEdit* TargetStartEdit() const { return targetStart_; }
  QLineEdit* FileEdit() const { return file_; }
  CXPButton* BrowseButton() const { return browse_; }
  CXPButton* StartButton() const { return start_; }
  CXPButton* StopButton() const { return stop_; }
  CTextProgressCtrl* Bar() const { return bar_; }
  QLabel* SectorsDoneLabel() const { return sectorsDone_; }
  QLabel* SectorsDoneCaption() const { return sectorsDoneCaption_; }
  QLabel* PhaseLabel() const { return phase_; }
  QLabel* RescuedLabel() const { return rescued_; }
  QLabel* BadAreasLabel() const { return badAreas_; }
  QLabel* RateLabel() const { return rate_; }
  QTableView* BadList() const { return badView_; }
  BadSectorList* BadSectors() const { return badList_; }
  QTreeWidget* Picker() const { return picker_; }
  bool BadListShown() const;
  // The plan of the last run started (for tests).
  const ImagingPlan& LastPlan() const { return plan_; }
  // Where the run of a plan keeps its mapfile: beside an image file
  // ("IMAGE.map"), for a disk in the application's data folder.
  static QString MapfilePathFor(const ImagingPlan& plan);

 signals:
  // A run ended (after its messages were shown).
  void RunFinished(int status);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;

 private:
  void FillPicker();
  void SetInputsEnabled(bool enabled);
  void ShowBadList(bool shown);
  void OnReport(const ImagingReport& report);
  void OnFinished(const ImagingOutcome& outcome);
  bool BuildJob(ImagingJob& job);
  // Reads the plan's mapfile and asks whether to resume it; false when the
  // user cancelled or the mapfile cannot be kept.
  bool PrepareMapfile(ImagingJob& job, Mapfile& map, bool& resume);
  void ShowStatus(const RescueStatus& status);

  DiskList& disks_;
  QRadioButton* toDisk_ = nullptr;
  QRadioButton* toFile_ = nullptr;
  QLineEdit* source_ = nullptr;
  QLineEdit* sourceStart_ = nullptr;
  QLineEdit* count_ = nullptr;
  QLineEdit* target_ = nullptr;
  QLineEdit* targetStart_ = nullptr;
  QLineEdit* file_ = nullptr;
  QLabel* targetLabel_ = nullptr;
  QLabel* targetStartLabel_ = nullptr;
  QLabel* fileLabel_ = nullptr;
  CXPButton* browse_ = nullptr;
  CXPButton* start_ = nullptr;
  CXPButton* stop_ = nullptr;
  CTextProgressCtrl* bar_ = nullptr;
  QLabel* sectorsDone_ = nullptr;
  QLabel* sectorsDoneCaption_ = nullptr;
  QLabel* phase_ = nullptr;
  QLabel* rescued_ = nullptr;
  QLabel* badAreas_ = nullptr;
  QLabel* rate_ = nullptr;
  QFrame* separator_ = nullptr;
  QTableView* badView_ = nullptr;
  BadSectorList* badList_ = nullptr;
  QTreeWidget* picker_ = nullptr;
  QLineEdit* pickerOwner_ = nullptr;

  std::unique_ptr<ScanProgress> progress_;
  std::unique_ptr<CImgDlgReports> reports_;
  WorkerPool workers_;
  ImagingPlan plan_;
  bool running_ = false;
  bool closeWhenDone_ = false;
};

}  // namespace quorvel
