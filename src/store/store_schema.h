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
inline constexpr int kSchemaVersion = 1;

struct StoreSchema {
  const char* schemaName;  // database name on the connection
  const char* tableName;
  std::size_t fieldCount;
  std::vector<int> indexedFields;
  std::u8string_view fileName;
};

extern const StoreSchema kInventorySchema;
extern const StoreSchema kSentSchema;

// "f1,f2,...,f<count>".
std::string FieldList(std::size_t count);
// "?<first>,?<first+1>,..." with count entries.
std::string Placeholders(std::size_t count, int first = 1);
std::string CreateTableSql(const StoreSchema& s);
// "INSERT INTO <schema>.<table> (f1,...) VALUES (?1,...)": one whole record.
std::string InsertSql(const StoreSchema& s);
std::vector<std::string> CreateIndexSql(const StoreSchema& s, const char* schemaName);

// The file name as the messages give it (GBK).
std::string FileText(const StoreSchema& s);
const std::string& FileLabel(const StoreSchema& s);
const std::string& BothFilesLabel();

// Which file(s) the failures of the running operation are reported against.
void WorkOn(const StoreSchema& s);
void WorkOnBoth();
void WorkOnNothing();

}  // namespace torvane::store_sqlite
