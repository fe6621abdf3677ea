// The disk page's function 4: the imaging dialog, created on first use and
// preset with the selected disk or partition.
#include "imaging/imaging_texts.h"
#include "ui/hd_dlg.h"
#include "ui/img_dlg.h"

namespace quorvel {

void CHdDlg::OpenImagingDialog(const QString& source) {
  if (imgDlg_ && imgDlg_->Running()) return SetStatus(QString::fromUtf8(kImagingBusy), true);
  if (!imgDlg_) imgDlg_ = new CImgDlg(disks_, this);
  imgDlg_->ShowWithSource(source);
}

void CHdDlg::StopImaging() {
  if (imgDlg_) imgDlg_->StopAndWait();
}

}  // namespace quorvel
