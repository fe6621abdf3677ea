#include "ui/my_right_treelist_ctrl.h"

namespace quorvel {

CMyRightTreelistCtrl::CMyRightTreelistCtrl(QWidget* parent) : CTreeListCtrl(parent) {
  SetCheckBoxes(true);
  setRootIsDecorated(false);  // a flat list
  const struct {
    const char* heading;
    int width;
  } columns[] = {{"名称", 200},     {"状态", 100},         {"大小", 50},   {"创建时间", 150},
                 {"修改时间", 150}, {"文件读取时间", 150}, {"文件号", 50}, {"文件父号", 50}};
  for (const auto& column : columns) InsertColumn(QString::fromUtf8(column.heading), column.width);
  // Numbers and times in full: sizes of many gigabytes, 32-bit record and
  // cluster numbers, the time pattern.
  const QString time = QStringLiteral("0000-00-00 00:00:00");
  SetColumnWidth(kSizeColumn, FittingWidth(kSizeColumn, {QStringLiteral("000000000000")}));
  for (int c : {kFileNumberColumn, kParentNumberColumn})
    SetColumnWidth(c, FittingWidth(c, {QStringLiteral("0000000000")}));
  for (int c : {kCreateColumn, kModifyColumn, kAccessColumn}) SetColumnWidth(c, FittingWidth(c, {time}));
  // Numbers are easier to read right-aligned.
  for (int c : {kSizeColumn, kFileNumberColumn, kParentNumberColumn})
    headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
}

}  // namespace quorvel
