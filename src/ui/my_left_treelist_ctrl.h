#pragma once
// The file page's folder tree: partition row, special folders, their folders.
#include "ui/tree_list_ctrl.h"

namespace quorvel {

class CMyLeftTreelistCtrl : public CTreeListCtrl {
  Q_OBJECT

 public:
  enum Column { kNameColumn = 0, kFileIdColumn, kCreateTimeColumn };
  explicit CMyLeftTreelistCtrl(QWidget* parent = nullptr);

  // Shares width pixels out: "File Id" and "Create Time" as wide as their
  // headings and values need, the names the rest. When that leaves the names
  // too little, "Create Time" gives way down to its heading (the full time
  // is the cell's tooltip) before the view scrolls sideways.
  void FitColumns(int width);
};

}  // namespace quorvel
