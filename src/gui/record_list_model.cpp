#include "gui/record_list_model.h"

#include <QBrush>
#include <QColor>
#include <QMetaObject>
#include <algorithm>

#include "gui/gbk.h"

namespace torvane {

RecordListModel::RecordListModel(CardStores* stores, RecordStore* store, QStringList captions, QObject* parent)
    : QAbstractTableModel(parent), stores_(stores), store_(store), captions_(std::move(captions)) {}

bool RecordListModel::Refresh(std::size_t position, const std::string& text) {
  if (stores_ && filledAt_ && error_.isEmpty() && position == position_ && text == text_ && !to_) {
    const auto mark = stores_->WriteMark();
    if (mark && *mark == *filledAt_) return true;
  }
  return Fill(position, text, true);
}

bool RecordListModel::Fill(std::size_t position, const std::string& text, bool keepTicks) {
  return Load(position, text, std::nullopt, keepTicks);
}

bool RecordListModel::FillBetween(std::size_t position, const std::string& from, const std::string& to) {
  return Load(position, from, to, false);
}

bool RecordListModel::Load(std::size_t position, const std::string& text, const std::optional<std::string>& to,
                           bool keepTicks) {
  std::optional<std::vector<RecordNumber>> numbers;
  // Taken first: a write during the read moves it, so the next refresh reads again.
  const auto mark = stores_ ? stores_->WriteMark() : std::nullopt;
  if (store_) numbers = to ? store_->SelectNumbersBetween(position, text, *to) : store_->SelectNumbers(position, text);
  position_ = position;
  text_ = text;
  to_ = to;
  filledAt_ = numbers ? mark : std::nullopt;
  beginResetModel();
  ClearPages();
  failureSignalled_ = false;
  if (numbers) {
    error_.clear();
    numbers_ = std::move(*numbers);
  } else {
    error_ = store_ ? FromGbk(LastStoreError()) : QStringLiteral(u"卡密库未打开");
    numbers_.clear();
  }
  if (keepTicks) {
    std::vector<RecordNumber> kept;
    std::set_intersection(ticked_.begin(), ticked_.end(), numbers_.begin(), numbers_.end(), std::back_inserter(kept));
    ticked_ = std::move(kept);
  } else {
    ticked_.clear();
  }
  endResetModel();
  return numbers.has_value();
}

void RecordListModel::PauseReads() { paused_ = true; }

void RecordListModel::ResumeReads() {
  paused_ = false;
  ClearPages();
  if (!numbers_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

RecordNumber RecordListModel::NumberAt(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= numbers_.size()) return 0;
  return numbers_[static_cast<std::size_t>(row)];
}

std::optional<std::vector<std::string>> RecordListModel::FieldsAt(int row) const {
  const RecordNumber number = NumberAt(row);
  if (number == 0 || !store_) return std::nullopt;
  return store_->ReadRecord(number);
}

void RecordListModel::TickAll(bool on) {
  if (on) {
    ticked_ = numbers_;
  } else {
    ticked_.clear();
  }
  if (!numbers_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
}

std::vector<RecordNumber> RecordListModel::TickedNumbers() const { return ticked_; }

bool RecordListModel::IsTicked(int row) const {
  const RecordNumber number = NumberAt(row);
  return number != 0 && std::binary_search(ticked_.begin(), ticked_.end(), number);
}

int RecordListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(numbers_.size());
}

int RecordListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

void RecordListModel::ClearPages() const {
  pages_.clear();
  pageIndex_.clear();
}

const RecordListModel::Page* RecordListModel::PageOf(int row) const {
  const int page = row / kPageRows;
  if (auto it = pageIndex_.find(page); it != pageIndex_.end()) {
    pages_.splice(pages_.begin(), pages_, it->second);
    return &pages_.front().second;
  }
  if (paused_ || !store_) return nullptr;
  const std::size_t first = static_cast<std::size_t>(page) * kPageRows;
  const std::size_t last = std::min(numbers_.size(), first + kPageRows);
  std::vector<RecordNumber> wanted(numbers_.begin() + static_cast<std::ptrdiff_t>(first),
                                   numbers_.begin() + static_cast<std::ptrdiff_t>(last));
  auto records = store_->ReadRecords(wanted);
  if (!records) {
    // Signalled once per fill, after this paint: the pane shows the reason instead of the rows.
    if (!failureSignalled_) {
      failureSignalled_ = true;
      auto* self = const_cast<RecordListModel*>(this);
      self->error_ = FromGbk(LastStoreError());
      QMetaObject::invokeMethod(self, [self, reason = self->error_] { emit self->readFailed(reason); },
                                Qt::QueuedConnection);
    }
    return nullptr;
  }
  Page rows;
  rows.reserve(records->size());
  for (const auto& record : *records) {
    QStringList cells;
    if (record) {
      cells.reserve(static_cast<qsizetype>(record->size()));
      for (const std::string& field : *record) cells << FromGbk(field);
    }
    rows.push_back(std::move(cells));
  }
  pages_.emplace_front(page, std::move(rows));
  pageIndex_[page] = pages_.begin();
  while (pages_.size() > kPagesKept) {
    pageIndex_.erase(pages_.back().first);
    pages_.pop_back();
  }
  return &pages_.front().second;
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  if (role == Qt::CheckStateRole) {
    if (index.column() != 0) return {};
    return IsTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::ForegroundRole) return {};
  const Page* page = PageOf(index.row());
  if (!page) return {};
  const QStringList& cells = (*page)[static_cast<std::size_t>(index.row() % kPageRows)];
  if (role == Qt::ForegroundRole) return cells.isEmpty() ? QVariant(QBrush(QColor(0x99, 0x99, 0x99))) : QVariant();
  // A record taken or deleted since the list was filled.
  if (cells.isEmpty()) return index.column() == 0 && role == Qt::DisplayRole ? QStringLiteral(u"(已不存在)") : QVariant();
  return index.column() < cells.size() ? cells[index.column()] : QString();
}

bool RecordListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0) return false;
  const RecordNumber number = NumberAt(index.row());
  if (number == 0) return false;
  const bool on = value.toInt() == Qt::Checked;
  auto at = std::lower_bound(ticked_.begin(), ticked_.end(), number);
  const bool was = at != ticked_.end() && *at == number;
  if (on == was) return true;
  if (on) {
    ticked_.insert(at, number);
  } else {
    ticked_.erase(at);
  }
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= captions_.size()) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return captions_[section];
}

Qt::ItemFlags RecordListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

}  // namespace torvane
