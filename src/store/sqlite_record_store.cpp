// The record store of one file: cursor and whole-set operations on its table.
#include "store/sqlite_record_store.h"

#include <climits>

#include "store/card_stores_impl.h"

namespace torvane {

namespace store_sqlite {

SqliteRecordStore::SqliteRecordStore(CardStoresImpl& owner, const StoreSchema& schema, std::filesystem::path path)
    : owner_(owner),
      schema_(schema),
      path_(std::move(path)),
      table_(std::string(schema.schemaName) + "." + schema.tableName),
      fields_(FieldList(schema.fieldCount)),
      insert_(InsertSql(schema)) {}

void SqliteRecordStore::ReadBaseFieldsOnly() {
  baseFieldsOnly_ = true;
  fields_.clear();
  for (std::size_t i = 1; i <= schema_.fieldCount; ++i) fields_ += (i > 1 ? "," : "") + Column(i);
}

std::string SqliteRecordStore::Column(std::size_t position) const {
  if (baseFieldsOnly_ && position > schema_.baseFieldCount) return "x''";
  return "f" + std::to_string(position);
}

std::int64_t SqliteRecordStore::RecordCount() {
  auto lock = owner_.Lock(schema_);
  Query q(owner_.db().Prepare("SELECT count(*) FROM " + table_));
  if (!q.ok()) return 0;
  if (q.Step() != SQLITE_ROW) {
    SetError(StepError(owner_.db()));
    return 0;
  }
  return q.Int(0);
}

RecordNumber SqliteRecordStore::Neighbour(const char* op, RecordNumber from, std::int64_t offset, bool descending) {
  Query q(owner_.db().Prepare("SELECT rn FROM " + table_ + " WHERE rn " + op + " ?1 ORDER BY rn" +
                              (descending ? " DESC" : "") + " LIMIT 1 OFFSET ?2"));
  if (!q.ok()) return 0;
  q.Bind(1, from);
  q.Bind(2, offset);
  int rc = q.Step();
  if (rc == SQLITE_ROW) return q.Int(0);
  if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  return 0;
}

void SqliteRecordStore::GoFirst() {
  auto lock = owner_.Lock(schema_);
  RecordNumber first = Neighbour(">", 0, 0, false);
  if (first > 0) MoveTo(first);
  else MoveOff(Where::kAfter);
}

void SqliteRecordStore::Skip(std::int64_t count) {
  auto lock = owner_.Lock(schema_);
  if (count == 0) return;
  if (count > 0) {
    if (where_ == Where::kAfter) return;
    RecordNumber from = where_ == Where::kOn ? current_ : 0;
    RecordNumber next = Neighbour(">", from, count - 1, false);
    if (next > 0) MoveTo(next);
    else MoveOff(Where::kAfter);
  } else {
    if (where_ == Where::kBefore) return;
    RecordNumber from = where_ == Where::kOn ? current_ : INT64_MAX;
    RecordNumber previous = Neighbour("<", from, -count - 1, true);
    if (previous > 0) MoveTo(previous);
    else MoveOff(Where::kBefore);
  }
}

bool SqliteRecordStore::AtEnd() {
  auto lock = owner_.Lock(schema_);
  return where_ == Where::kAfter;
}

RecordNumber SqliteRecordStore::CurrentRecordNumber() {
  auto lock = owner_.Lock(schema_);
  if (where_ != Where::kOn) return 0;
  return ExistsLocked(current_) ? current_ : 0;
}

bool SqliteRecordStore::ExistsLocked(RecordNumber number) {
  Query q(owner_.db().Prepare("SELECT 1 FROM " + table_ + " WHERE rn = ?1"));
  if (!q.ok()) return false;
  q.Bind(1, number);
  int rc = q.Step();
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  return false;
}

bool SqliteRecordStore::GoToRecordNumber(RecordNumber number) {
  auto lock = owner_.Lock(schema_);
  if (ExistsLocked(number)) {
    MoveTo(number);
    return true;
  }
  MoveOff(Where::kAfter);
  return false;
}

std::string SqliteRecordStore::ReadField(std::size_t position) {
  auto lock = owner_.Lock(schema_);
  if (where_ != Where::kOn || !ValidPosition(position)) return {};
  Query q(owner_.db().Prepare("SELECT " + Column(position) + " FROM " + table_ + " WHERE rn = ?1"));
  if (!q.ok()) return {};
  q.Bind(1, current_);
  int rc = q.Step();
  if (rc == SQLITE_ROW) return q.Text(0);
  if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  return {};
}

bool SqliteRecordStore::FindNext(std::size_t position, const std::string& text) {
  auto lock = owner_.Lock(schema_);
  if (where_ == Where::kAfter || !ValidPosition(position)) return false;
  RecordNumber from = where_ == Where::kOn ? current_ : 0;
  Query q(owner_.db().Prepare("SELECT rn FROM " + table_ + " WHERE " + Column(position) +
                              " = ?1 AND rn >= ?2 ORDER BY rn LIMIT 1"));
  if (!q.ok()) return false;
  q.Bind(1, text);
  q.Bind(2, from);
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    MoveTo(q.Int(0));
    return true;
  }
  if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  MoveOff(Where::kAfter);
  return false;
}

RecordNumber SqliteRecordStore::AppendRecord(const std::vector<std::string>& fields) {
  auto lock = owner_.Lock(schema_);
  if (!ValidFields(fields)) return 0;
  Query q(owner_.db().Prepare(insert_));
  if (!q.ok()) return 0;
  for (std::size_t i = 0; i < schema_.fieldCount; ++i) {
    q.Bind(static_cast<int>(i) + 1, i < fields.size() ? std::string_view(fields[i]) : std::string_view());
  }
  if (q.Step() != SQLITE_DONE) {
    SetError(StepError(owner_.db()));
    return 0;
  }
  MoveTo(owner_.db().LastRowId());
  return current_;
}

bool SqliteRecordStore::ModifyRecord(const std::vector<std::string>& fields) {
  auto lock = owner_.Lock(schema_);
  return where_ == Where::kOn && WriteLocked(current_, fields);
}

bool SqliteRecordStore::MarkDeleted() {
  auto lock = owner_.Lock(schema_);
  if (where_ != Where::kOn) return false;
  Query q(owner_.db().Prepare("UPDATE " + table_ + " SET marked = 1 WHERE rn = ?1"));
  if (!q.ok()) return false;
  q.Bind(1, current_);
  if (q.Step() != SQLITE_DONE) {
    SetError(StepError(owner_.db()));
    return false;
  }
  return owner_.db().Changes() == 1;
}

void SqliteRecordStore::Pack() {
  auto lock = owner_.Lock(schema_);
  Query q(owner_.db().Prepare("DELETE FROM " + table_ + " WHERE marked <> 0"));
  if (!q.ok()) return;
  if (q.Step() != SQLITE_DONE) SetError(StepError(owner_.db()));
}

std::vector<std::vector<std::string>> SqliteRecordStore::Select(std::size_t position, const std::string& text,
                                                                std::vector<RecordNumber>* numbers) {
  auto lock = owner_.Lock(schema_);
  std::vector<std::vector<std::string>> rows;
  if (numbers) numbers->clear();
  if (position != 0 && !ValidPosition(position)) return rows;
  Query q(owner_.db().Prepare(SelectSql("rn, " + fields_, position)));
  if (!q.ok()) return rows;
  if (position != 0) q.Bind(1, text);
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) {
    if (numbers) numbers->push_back(q.Int(0));
    rows.push_back(ReadRow(q, 1));
  }
  if (rc != SQLITE_DONE) {
    SetError(StepError(owner_.db()));
    rows.clear();
    if (numbers) numbers->clear();
  }
  return rows;
}

std::size_t SqliteRecordStore::AppendMany(const std::vector<std::vector<std::string>>& records,
                                          const std::function<void(std::size_t)>& progress) {
  auto lock = owner_.Lock(schema_);
  for (const auto& r : records) {
    if (!ValidFields(r)) return 0;
  }
  if (records.empty()) return 0;
  Transaction tx(owner_.db());
  if (!tx.began()) return 0;
  Query q(owner_.db().Prepare(insert_));
  if (!q.ok()) return 0;
  std::size_t done = 0;
  for (const auto& r : records) {
    for (std::size_t i = 0; i < r.size(); ++i) q.BindStatic(static_cast<int>(i) + 1, r[i]);
    for (std::size_t i = r.size(); i < schema_.fieldCount; ++i) q.Bind(static_cast<int>(i) + 1, std::string_view());
    if (q.Step() != SQLITE_DONE) {
      SetError(StepError(owner_.db()));
      return 0;
    }
    q.Reset();
    ++done;
    if (progress && done % 1000 == 0) progress(done);
  }
  if (!tx.Commit()) return 0;
  if (progress) progress(done);
  return done;
}

std::size_t SqliteRecordStore::DeleteRecords(const std::vector<RecordNumber>& numbers) {
  auto lock = owner_.Lock(schema_);
  if (numbers.empty()) return 0;
  Transaction tx(owner_.db());
  if (!tx.began()) return 0;
  Query q(owner_.db().Prepare("DELETE FROM " + table_ + " WHERE rn = ?1"));
  if (!q.ok()) return 0;
  std::size_t gone = 0;
  for (RecordNumber n : numbers) {
    q.Bind(1, n);
    if (q.Step() != SQLITE_DONE) {
      SetError(StepError(owner_.db()));
      return 0;
    }
    gone += static_cast<std::size_t>(owner_.db().Changes());
    q.Reset();
  }
  return tx.Commit() ? gone : 0;
}

std::optional<std::vector<RecordNumber>> SqliteRecordStore::SelectNumbers(std::size_t position,
                                                                          const std::string& text) {
  auto lock = owner_.Lock(schema_);
  if (position != 0 && !ValidPosition(position)) return std::nullopt;
  Query q(owner_.db().Prepare(SelectSql("rn", position)));
  if (!q.ok()) return std::nullopt;
  if (position != 0) q.Bind(1, text);
  return CollectNumbers(q);
}

std::optional<std::vector<std::optional<std::vector<std::string>>>> SqliteRecordStore::ReadRecords(
    const std::vector<RecordNumber>& numbers) {
  auto lock = owner_.Lock(schema_);
  std::vector<std::optional<std::vector<std::string>>> rows;
  rows.reserve(numbers.size());
  for (RecordNumber n : numbers) {
    rows.push_back(ReadLocked(n));
    if (!rows.back() && !ErrorText().empty()) return std::nullopt;
  }
  return rows;
}

std::optional<std::vector<RecordNumber>> SqliteRecordStore::CollectNumbers(Query& q) {
  std::vector<RecordNumber> numbers;
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) numbers.push_back(q.Int(0));
  if (rc != SQLITE_DONE) {
    SetError(StepError(owner_.db()));
    return std::nullopt;
  }
  return numbers;
}

std::string SqliteRecordStore::SelectSql(const std::string& columns, std::size_t position) const {
  std::string sql = "SELECT " + columns + " FROM " + table_;
  if (position != 0) sql += " WHERE " + Column(position) + " = ?1";
  sql += " ORDER BY rn";
  return sql;
}

std::optional<std::vector<RecordNumber>> SqliteRecordStore::SelectNumbersBetween(std::size_t position,
                                                                                 const std::string& from,
                                                                                 const std::string& to) {
  auto lock = owner_.Lock(schema_);
  if (!ValidPosition(position)) return std::nullopt;
  // The unary + keeps SQLite from an index on the field: a wide range reads most of the table anyway.
  Query q(owner_.db().Prepare("SELECT rn FROM " + table_ + " WHERE +" + Column(position) + " >= ?1 AND +" +
                              Column(position) + " < ?2 ORDER BY rn"));
  if (!q.ok()) return std::nullopt;
  q.Bind(1, from);
  q.Bind(2, to);
  return CollectNumbers(q);
}

std::optional<std::vector<std::string>> SqliteRecordStore::ReadLocked(RecordNumber number) {
  Query q(owner_.db().Prepare("SELECT " + fields_ + " FROM " + table_ + " WHERE rn = ?1"));
  if (!q.ok()) return std::nullopt;
  q.Bind(1, number);
  int rc = q.Step();
  if (rc == SQLITE_ROW) return ReadRow(q, 0);
  if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  return std::nullopt;
}

std::optional<std::vector<std::string>> SqliteRecordStore::ReadRecord(RecordNumber number) {
  auto lock = owner_.Lock(schema_);
  return ReadLocked(number);
}

bool SqliteRecordStore::WriteLocked(RecordNumber number, const std::vector<std::string>& fields) {
  if (!ValidFields(fields)) return false;
  std::string sets;
  for (std::size_t i = 1; i <= fields.size(); ++i) {
    if (i > 1) sets += ',';
    sets += 'f';
    sets += std::to_string(i) + " = ?" + std::to_string(i);
  }
  Query q(owner_.db().Prepare("UPDATE " + table_ + " SET " + sets + " WHERE rn = ?" +
                              std::to_string(fields.size() + 1)));
  if (!q.ok()) return false;
  for (std::size_t i = 0; i < fields.size(); ++i) q.Bind(static_cast<int>(i) + 1, fields[i]);
  q.Bind(static_cast<int>(fields.size()) + 1, number);
  if (q.Step() != SQLITE_DONE) {
    SetError(StepError(owner_.db()));
    return false;
  }
  return owner_.db().Changes() == 1;
}

bool SqliteRecordStore::WriteRecord(RecordNumber number, const std::vector<std::string>& fields) {
  auto lock = owner_.Lock(schema_);
  return WriteLocked(number, fields);
}

std::optional<std::size_t> SqliteRecordStore::ModifyFieldsOf(const std::vector<RecordNumber>& numbers,
                                                             const std::vector<std::optional<std::string>>& values) {
  auto lock = owner_.Lock(schema_);
  if (values.size() > schema_.fieldCount) {
    SetError("too many fields");
    return std::nullopt;
  }
  std::string sets;
  std::vector<const std::string*> bound;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!values[i]) continue;
    if (!sets.empty()) sets += ",";
    bound.push_back(&*values[i]);
    sets += "f" + std::to_string(i + 1) + " = ?" + std::to_string(bound.size());
  }
  if (numbers.empty()) return 0;
  Transaction tx(owner_.db());
  if (!tx.began()) return std::nullopt;
  std::size_t changed = 0;
  if (sets.empty()) {
    // Nothing to replace: count the records that still exist.
    for (RecordNumber n : numbers) {
      if (ReadLocked(n)) ++changed;
      else if (!ErrorText().empty()) return std::nullopt;
    }
  } else {
    Query q(owner_.db().Prepare("UPDATE " + table_ + " SET " + sets + " WHERE rn = ?" +
                                std::to_string(bound.size() + 1)));
    if (!q.ok()) return std::nullopt;
    for (RecordNumber n : numbers) {
      for (std::size_t i = 0; i < bound.size(); ++i) q.Bind(static_cast<int>(i) + 1, *bound[i]);
      q.Bind(static_cast<int>(bound.size()) + 1, n);
      if (q.Step() != SQLITE_DONE) {
        SetError(StepError(owner_.db()));
        return std::nullopt;
      }
      changed += static_cast<std::size_t>(owner_.db().Changes());
      q.Reset();
    }
  }
  if (!tx.Commit()) return std::nullopt;
  return changed;
}

}  // namespace store_sqlite

std::optional<std::size_t> RecordStore::ModifyFieldsOf(const std::vector<RecordNumber>& numbers,
                                                       const std::vector<std::optional<std::string>>& values) {
  std::size_t changed = 0;
  for (RecordNumber n : numbers) {
    auto record = ReadRecord(n);
    if (!record) continue;
    for (std::size_t i = 0; i < values.size() && i < record->size(); ++i) {
      if (values[i]) (*record)[i] = *values[i];
    }
    if (WriteRecord(n, *record)) ++changed;
  }
  return changed;
}

}  // namespace torvane
