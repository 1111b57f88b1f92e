// The layout of the two store files and the names the messages give them.
#include "store/store_schema.h"

#include "base/files.h"
#include "store/record_store.h"
#include "store/store_connection.h"

namespace torvane::store_sqlite {

const StoreSchema kInventorySchema{"main", "cards", 4, {1}, kInventoryFileName, 4, kFirstSchemaVersion};
// Fields 10 and 11 (time and channel of the hand-over) came with version 2.
const StoreSchema kSentSchema{"sent", "sent_cards", 11, {2, 3, 8}, kSentFileName, 9, 2};

std::string FieldList(std::size_t count) {
  std::string out;
  for (std::size_t i = 1; i <= count; ++i) {
    if (i > 1) out += ',';
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for "f" + std::to_string(i).
    out += 'f';
    out += std::to_string(i);
  }
  return out;
}

std::string Placeholders(std::size_t count, int first) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    out += '?';
    out += std::to_string(first + static_cast<int>(i));
  }
  return out;
}

std::string CreateTableSql(const StoreSchema& s) {
  std::string sql = std::string("CREATE TABLE ") + s.tableName + " (rn INTEGER PRIMARY KEY AUTOINCREMENT";
  for (std::size_t i = 1; i <= s.baseFieldCount; ++i) sql += ", f" + std::to_string(i) + " BLOB NOT NULL";
  sql += ", marked INTEGER NOT NULL DEFAULT 0";
  for (std::size_t i = s.baseFieldCount + 1; i <= s.fieldCount; ++i) {
    sql += ", f" + std::to_string(i) + " BLOB NOT NULL DEFAULT x''";
  }
  sql += ")";
  return sql;
}

std::vector<std::string> ColumnNames(const StoreSchema& s, bool baseOnly) {
  std::vector<std::string> names{"rn"};
  for (std::size_t i = 1; i <= s.baseFieldCount; ++i) names.push_back("f" + std::to_string(i));
  names.push_back("marked");
  if (!baseOnly) {
    for (std::size_t i = s.baseFieldCount + 1; i <= s.fieldCount; ++i) names.push_back("f" + std::to_string(i));
  }
  return names;
}

std::vector<std::string> AddFieldsSql(const StoreSchema& s) {
  std::vector<std::string> out;
  for (std::size_t i = s.baseFieldCount + 1; i <= s.fieldCount; ++i) {
    out.push_back(std::string("ALTER TABLE ") + s.schemaName + "." + s.tableName + " ADD COLUMN f" +
                  std::to_string(i) + " BLOB NOT NULL DEFAULT x''");
  }
  return out;
}

std::string InsertSql(const StoreSchema& s) {
  return std::string("INSERT INTO ") + s.schemaName + "." + s.tableName + " (" + FieldList(s.fieldCount) +
         ") VALUES (" + Placeholders(s.fieldCount) + ")";
}

std::vector<std::string> CreateIndexSql(const StoreSchema& s, const char* schemaName) {
  std::vector<std::string> out;
  for (int f : s.indexedFields) {
    out.push_back(std::string("CREATE INDEX IF NOT EXISTS ") + schemaName + "." + s.tableName + "_f" +
                  std::to_string(f) + " ON " + s.tableName + "(f" + std::to_string(f) + ")");
  }
  return out;
}

std::vector<std::string> FiguresIndexSql(const StoreSchema& s, const char* schemaName) {
  if (&s == &kSentSchema) {
    return {std::string("CREATE INDEX IF NOT EXISTS ") + schemaName +
            ".sent_cards_day ON sent_cards(substr(f10, 1, 10), f1) WHERE marked = 0"};
  }
  return {std::string("CREATE INDEX IF NOT EXISTS ") + schemaName + ".cards_marked ON cards(f1) WHERE marked <> 0"};
}

std::string FileText(const StoreSchema& s) { return PathText(std::filesystem::path(s.fileName)); }

const std::string& FileLabel(const StoreSchema& s) {
  static const std::string inventory = FileText(kInventorySchema);
  static const std::string sent = FileText(kSentSchema);
  return &s == &kInventorySchema ? inventory : sent;
}

const std::string& BothFilesLabel() {
  static const std::string both = FileLabel(kInventorySchema) + ", " + FileLabel(kSentSchema);
  return both;
}

void WorkOn(const StoreSchema& s) { SetErrorFile(&FileLabel(s)); }
void WorkOnBoth() { SetErrorFile(&BothFilesLabel()); }
void WorkOnNothing() { SetErrorFile(nullptr); }

}  // namespace torvane::store_sqlite
