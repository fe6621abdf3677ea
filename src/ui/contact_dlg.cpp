#include "ui/contact_dlg.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/artwork.h"
#include "ui/xp_button.h"

namespace quorvel {

CContactDlg::CContactDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("技术支持"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  auto* text = new QLabel(QStringLiteral("<b>Quorvel 技术支持</b><br><br>"
                                         "请在项目的问题跟踪中描述: 磁盘或镜像的类型、分区的文件系统、<br>"
                                         "所用的功能以及状态栏显示的提示。<br><br>"
                                         "命令行工具 <tt>quorvel</tt> 可以在无图形界面的机器上完成同样的恢复。"),
                          this);
  text->setStyleSheet(QStringLiteral("color: white;"));
  auto* ok = new CXPButton(QStringLiteral("确定"), this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(text);
  layout->addWidget(ok, 0, Qt::AlignRight);
}

void CContactDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColorRef(Colours::kDialogBrush));
}

}  // namespace quorvel
