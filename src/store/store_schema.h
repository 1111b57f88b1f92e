// What a card store file holds: the layout of its one table, the application id and version that
// mark a file as a store of this program, the SQL that creates table and indexes, and the names the
// messages give the files (with which file a failure is reported against). Used only inside src/store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::store_sqlite {

// Marks a SQLite file as a store of this program (bytes 68..71 of the file header).
inline constexpr std::int32_t kApplicationId = 0x54564344;  // "TVCD"
// The layout every store file had first: rn, f1..f<baseFieldCount>, marked.
inline constexpr int kFirstSchemaVersion = 1;

// A table's columns: rn, f1..f<baseFieldCount>, marked, then f<baseFieldCount+1>..f<fieldCount>,
// the fields added later (each BLOB NOT NULL DEFAULT x'', so adding them keeps every record).
// version is the user_version of a file with every field; a file at kFirstSchemaVersion has only
// the base fields and is brought up to date when opened for writing.
struct StoreSchema {
  const char* schemaName;  // database name on the connection
  const char* tableName;
  std::size_t fieldCount;
  std::vector<int> indexedFields;
  std::u8string_view fileName;
  std::size_t baseFieldCount;
  int version;
};

extern const StoreSchema kInventorySchema;
extern const StoreSchema kSentSchema;

// "f1,f2,...,f<count>".
std::string FieldList(std::size_t count);
// "?<first>,?<first+1>,..." with count entries.
std::string Placeholders(std::size_t count, int first = 1);
std::string CreateTableSql(const StoreSchema& s);
// The column names of the table, in table order, for a file with every field (or only the base ones).
std::vector<std::string> ColumnNames(const StoreSchema& s, bool baseOnly);
// "ALTER TABLE ... ADD COLUMN ..." for each field the first layout lacks.
std::vector<std::string> AddFieldsSql(const StoreSchema& s);
// "INSERT INTO <schema>.<table> (f1,...) VALUES (?1,...)": one whole record.
std::string InsertSql(const StoreSchema& s);
std::vector<std::string> CreateIndexSql(const StoreSchema& s, const char* schemaName);
// The indexes of the sales figures, which came after the files (Connect makes them when missing, after
// an upgrade has added field 10), so that their counts read indexes alone: in the sent store the
// unmarked records by the day of their 交付时间 and item; in the inventory the marked cards by item
// (the stock is every card of the item, from the index of field 1, less those).
std::vector<std::string> FiguresIndexSql(const StoreSchema& s, const char* schemaName);

// The file name as the messages give it (GBK).
std::string FileText(const StoreSchema& s);
const std::string& FileLabel(const StoreSchema& s);
const std::string& BothFilesLabel();

// Which file(s) the failures of the running operation are reported against.
void WorkOn(const StoreSchema& s);
void WorkOnBoth();
void WorkOnNothing();

}  // namespace torvane::store_sqlite
