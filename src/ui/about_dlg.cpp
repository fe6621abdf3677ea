#include "ui/about_dlg.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/artwork.h"
#include "ui/xp_button.h"

namespace quorvel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("关于 Quorvel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(64, 64));
  auto* name = new QLabel(QStringLiteral("<b>Quorvel 数据恢复</b>"), this);
  auto* version = new QLabel(QStringLiteral("版本 0.1  ·  2026"), this);
  auto* note = new QLabel(QStringLiteral("只读访问源磁盘: 恢复的文件只写入您选择的目标文件夹。"), this);
  for (QLabel* l : {name, version, note}) l->setStyleSheet(QStringLiteral("color: white;"));
  note->setWordWrap(true);
  auto* ok = new CXPButton(QStringLiteral("确定"), this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(icon, 0, Qt::AlignHCenter);
  layout->addWidget(name, 0, Qt::AlignHCenter);
  layout->addWidget(version, 0, Qt::AlignHCenter);
  layout->addWidget(note);
  layout->addWidget(ok, 0, Qt::AlignRight);
  setFixedWidth(360);
}

void CAboutDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kDialogBrush));
}

}  // namespace quorvel
