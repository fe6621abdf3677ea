#include "ui/my_left_treelist_ctrl.h"

#include <QStyle>
#include <algorithm>

#include "ui/artwork.h"

namespace quorvel {

CMyLeftTreelistCtrl::CMyLeftTreelistCtrl(QWidget* parent) : CTreeListCtrl(parent) {
  SetCheckBoxes(true);
  InsertColumn(QStringLiteral("磁盘分区"), 100);
  InsertColumn(QStringLiteral("File Id"), 60);
  InsertColumn(QStringLiteral("Create Time"), 140);
  SetColumnDefaultText(kCreateTimeColumn, QStringLiteral("600|700|800"));
  SetImageList(TreeImageList());
}

void CMyLeftTreelistCtrl::FitColumns(int width) {
  constexpr int kNameMinimum = 160;
  const int idWidth = FittingWidth(kFileIdColumn, {QStringLiteral("0000000")});
  const int timeFull = FittingWidth(kCreateTimeColumn, {QStringLiteral("0000-00-00 00:00:00")});
  const int timeHeading = FittingWidth(kCreateTimeColumn);
  // What the rows can use: the frame and a vertical scroll bar take their share.
  const int usable = width - 2 * frameWidth() - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int timeWidth = std::clamp(usable - idWidth - kNameMinimum, timeHeading, timeFull);
  SetColumnWidth(kFileIdColumn, idWidth);
  SetColumnWidth(kCreateTimeColumn, timeWidth);
  SetColumnWidth(kNameColumn, std::max(kNameMinimum, usable - idWidth - timeWidth));
}

}  // namespace quorvel
