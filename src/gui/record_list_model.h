// A list window's rows over one card store: the record numbers of the rows are read at a fill, the
// fields of the rows page by page as they come into view, so a million records show at once. Each
// row has a check box in its first column; the ticks are record numbers, kept in the model.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <array>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/record_store.h"

namespace torvane {

class RecordListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // store is one of stores (both may be null: no store open, every fill fails). captions: one per
  // field, in field order.
  RecordListModel(CardStores* stores, RecordStore* store, QStringList captions, QObject* parent = nullptr);

  // Replaces the rows by the records whose field at position equals text (position 0: every record),
  // in store order. keepTicks keeps the ticks of records that are listed again; otherwise none is
  // ticked. False on a store failure: the list is then empty and Error() says why.
  bool Fill(std::size_t position, const std::string& text, bool keepTicks = false);
  // Replaces the rows by the records whose field at position lies in [from, to) by byte order (a
  // date range over a sortable time field), in store order; no record is ticked. False as for Fill.
  bool FillBetween(std::size_t position, const std::string& from, const std::string& to);
  // Fill keeping the ticks, but without reading when the rows already are this list and neither
  // store was written since they were read (a refresh after a run that changed nothing).
  bool Refresh(std::size_t position, const std::string& text);
  // Why the last fill or page read failed (empty when it did not).
  const QString& Error() const { return error_; }

  // While paused, rows not read yet show empty and nothing is read from the store (a long write
  // holds it); Resume reads what is in view again.
  void PauseReads();
  void ResumeReads();

  RecordNumber NumberAt(int row) const;
  // The fields of the row's record (GBK); nullopt when it no longer exists or cannot be read.
  std::optional<std::vector<std::string>> FieldsAt(int row) const;

  void TickAll(bool on);
  // Ticked records in row order.
  std::vector<RecordNumber> TickedNumbers() const;
  std::size_t TickedCount() const { return ticked_.size(); }
  bool IsTicked(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // A page of rows could not be read; reason names the file.
  void readFailed(const QString& reason);

 private:
  static constexpr int kPageRows = 128;
  static constexpr std::size_t kPagesKept = 48;
  // One page of rows as shown; an empty row is a record that no longer exists.
  using Page = std::vector<QStringList>;

  // Fill's work; with to, the rows are the range [text, to) of the field at position.
  bool Load(std::size_t position, const std::string& text, const std::optional<std::string>& to, bool keepTicks);
  const Page* PageOf(int row) const;
  void ClearPages() const;

  CardStores* stores_;
  RecordStore* store_;
  // What the rows are and the stores' mark when they were read (none after a failure).
  std::size_t position_ = 0;
  std::string text_;
  std::optional<std::string> to_;
  std::optional<std::array<std::int64_t, 3>> filledAt_;
  QStringList captions_;
  std::vector<RecordNumber> numbers_;  // ascending, as the store orders its records
  std::vector<RecordNumber> ticked_;   // ascending subset of numbers_
  QString error_;
  bool paused_ = false;
  // Pages read so far, most recently used first.
  mutable std::list<std::pair<int, Page>> pages_;
  mutable std::unordered_map<int, std::list<std::pair<int, Page>>::iterator> pageIndex_;
  mutable bool failureSignalled_ = false;
};

}  // namespace torvane
