#pragma once
// The imaging dialog's bad-sector list: one row per unreadable sector, in
// sector order, "第%d个坏扇区" and the sector number. Sectors are kept as
// runs, so a dead stretch of disk costs one entry however many rows it shows.
#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

namespace quorvel {

class BadSectorList : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit BadSectorList(QObject* parent = nullptr);

  // Adds sectors found (in any order); the list stays in sector order and
  // lists each sector once.
  void Append(const std::vector<uint64_t>& sectors);
  void Clear();
  uint64_t Count() const { return count_; }
  // The sector shown in row (0-based).
  uint64_t SectorAt(uint64_t row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  struct Run {
    uint64_t firstRow;
    uint64_t firstSector;
    uint64_t count;
  };
  void Insert(const std::vector<uint64_t>& sectors);
  std::vector<Run> runs_;
  uint64_t count_ = 0;
};

}  // namespace quorvel
