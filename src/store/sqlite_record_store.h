// One store file's records on the shared connection: the cursor (go first, skip, find, append,
// modify, mark deleted, pack) and the whole-set operations the windows and commands use (select,
// append many, delete, read and write by number, modify fields of many), each under the stores'
// lock. The same class serves the inventory and the sent records; its schema says which table.
// Used only inside src/store.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/record_store.h"
#include "store/store_connection.h"
#include "store/store_schema.h"

namespace torvane::store_sqlite {

class CardStoresImpl;

class SqliteRecordStore final : public RecordStore {
 public:
  SqliteRecordStore(CardStoresImpl& owner, const StoreSchema& schema, std::filesystem::path path);

  std::size_t FieldCount() const override { return schema_.fieldCount; }
  std::filesystem::path FilePath() const override { return path_; }

  std::int64_t RecordCount() override;
  void GoFirst() override;
  void Skip(std::int64_t count) override;
  bool AtEnd() override;
  RecordNumber CurrentRecordNumber() override;
  bool GoToRecordNumber(RecordNumber number) override;
  std::string ReadField(std::size_t position) override;
  bool FindNext(std::size_t position, const std::string& text) override;
  RecordNumber AppendRecord(const std::vector<std::string>& fields) override;
  bool ModifyRecord(const std::vector<std::string>& fields) override;
  bool MarkDeleted() override;
  void Pack() override;

  std::vector<std::vector<std::string>> Select(std::size_t position, const std::string& text,
                                               std::vector<RecordNumber>* numbers) override;
  std::size_t AppendMany(const std::vector<std::vector<std::string>>& records,
                         const std::function<void(std::size_t)>& progress) override;
  std::size_t DeleteRecords(const std::vector<RecordNumber>& numbers) override;
  std::optional<std::vector<std::string>> ReadRecord(RecordNumber number) override;
  bool WriteRecord(RecordNumber number, const std::vector<std::string>& fields) override;
  std::optional<std::size_t> ModifyFieldsOf(const std::vector<RecordNumber>& numbers,
                                            const std::vector<std::optional<std::string>>& values) override;
  std::optional<std::vector<RecordNumber>> SelectNumbers(std::size_t position, const std::string& text) override;
  std::optional<std::vector<RecordNumber>> SelectNumbersBetween(std::size_t position, const std::string& from,
                                                                const std::string& to) override;
  std::optional<std::vector<std::optional<std::vector<std::string>>>> ReadRecords(
      const std::vector<RecordNumber>& numbers) override;

  // Qualified table name, e.g. main.cards.
  const std::string& table() const { return table_; }
  // The file has the first layout (only the base fields) and is only read: the later fields read
  // as empty. Set when the stores are opened read-only on such a file.
  void ReadBaseFieldsOnly();
  // The SQL that reads the field at position (1-based): its column, or x'' for a field the file lacks.
  std::string Column(std::size_t position) const;

 private:
  enum class Where { kBefore, kOn, kAfter };

  bool ValidPosition(std::size_t position) const {
    if (position >= 1 && position <= schema_.fieldCount) return true;
    SetError("no field " + std::to_string(position));
    return false;
  }
  // Every field, or the base fields only: the later ones are then left empty by an append and
  // unchanged by a write.
  bool ValidFields(const std::vector<std::string>& fields) const {
    if (fields.size() == schema_.fieldCount || fields.size() == schema_.baseFieldCount) return true;
    SetError("expected " + std::to_string(schema_.fieldCount) + " fields, got " + std::to_string(fields.size()));
    return false;
  }
  std::vector<std::string> ReadRow(Query& q, int firstColumn) {
    std::vector<std::string> row;
    row.reserve(schema_.fieldCount);
    for (std::size_t i = 0; i < schema_.fieldCount; ++i) row.push_back(q.Text(firstColumn + static_cast<int>(i)));
    return row;
  }
  // Puts the cursor on a record, or off the records at one end.
  void MoveTo(RecordNumber number) {
    where_ = Where::kOn;
    current_ = number;
  }
  void MoveOff(Where end) {
    where_ = end;
    current_ = 0;
  }
  // Record number of the first record > or >= from (ascending) or < from (descending); 0 when none.
  RecordNumber Neighbour(const char* op, RecordNumber from, std::int64_t offset, bool descending);
  // Whether the record exists; false also on a failure, with the error set.
  bool ExistsLocked(RecordNumber number);
  // The columns of the records whose field at position equals ?1 (position 0: all), in store order.
  // The record numbers a prepared query of "rn" yields, in its order; nullopt (and the error set) on failure.
  std::optional<std::vector<RecordNumber>> CollectNumbers(Query& q);
  std::string SelectSql(const std::string& columns, std::size_t position) const;
  std::optional<std::vector<std::string>> ReadLocked(RecordNumber number);
  bool WriteLocked(RecordNumber number, const std::vector<std::string>& fields);

  CardStoresImpl& owner_;
  const StoreSchema& schema_;
  std::filesystem::path path_;
  std::string table_;
  std::string fields_;
  std::string insert_;  // a whole record
  bool baseFieldsOnly_ = false;
  Where where_ = Where::kBefore;
  RecordNumber current_ = 0;
};

}  // namespace torvane::store_sqlite
