#include "ui/search_disk_part_dlg.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/artwork.h"
#include "ui/xp_button.h"

namespace quorvel {

namespace {
const char* const kTitle = "扫描丢失磁盘分区";
const char* const kQuick = "快速扫描";
const char* const kPrecise = "精确扫描(慢)";
const char* const kOk = "确定";
const char* const kCancel = "取消";
}  // namespace

CSearchDiskPart::CSearchDiskPart(uint32_t tracksPerCylinder, QWidget* parent)
    : QDialog(parent), tracksPerCylinder_(tracksPerCylinder) {
  setWindowTitle(QString::fromUtf8(kTitle));
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);

  quick_ = new QRadioButton(QString::fromUtf8(kQuick), this);
  precise_ = new QRadioButton(QString::fromUtf8(kPrecise), this);
  for (QRadioButton* button : {quick_, precise_}) {
    // White text on the dialog's brush; the dot inside the white circle stays dark.
    QPalette radio = button->palette();
    radio.setColor(QPalette::WindowText, Qt::white);
    radio.setColor(QPalette::Text, ColorRef(Colours::kDialogBrush));
    button->setPalette(radio);
  }
  quick_->setChecked(true);
  ok_ = new CXPButton(QString::fromUtf8(kOk), this);
  ok_->setDefault(true);
  cancel_ = new CXPButton(QString::fromUtf8(kCancel), this);
  connect(ok_, &QPushButton::clicked, this, &CSearchDiskPart::accept);
  connect(cancel_, &QPushButton::clicked, this, &CSearchDiskPart::reject);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  layout->setSpacing(12);
  auto* modes = new QHBoxLayout();
  modes->addWidget(quick_);
  modes->addSpacing(24);
  modes->addWidget(precise_);
  modes->addStretch();
  layout->addLayout(modes);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(340, 120)));
}

void CSearchDiskPart::accept() {
  mode_ = quick_->isChecked() ? kQuickLostScan : kPreciseLostScan;
  QDialog::accept();
}

void CSearchDiskPart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kDialogBrush));
}

}  // namespace quorvel
