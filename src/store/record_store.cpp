// The card stores on SQLite: one connection, the inventory file as "main" and the sent file
// attached as "sent", both in rollback-journal mode so that a transaction touching both commits
// atomically through SQLite's super-journal.
#include "store/record_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <unordered_map>

#include "base/files.h"
#include "base/system.h"

namespace torvane {

namespace {

// Marks a SQLite file as a store of this program (bytes 68..71 of the file header).
constexpr std::int32_t kApplicationId = 0x54564344;  // "TVCD"
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

thread_local std::string t_lastError;
// The file(s) the running operation works on: its failures are reported against them.
thread_local const std::string* t_errorFile = nullptr;

void ClearError() { t_lastError.clear(); }
void SetError(std::string text) { t_lastError = t_errorFile ? *t_errorFile + ": " + text : std::move(text); }

struct StoreSchema {
  const char* schemaName;  // database name on the connection
  const char* tableName;
  std::size_t fieldCount;
  std::vector<int> indexedFields;
  std::u8string_view fileName;
};

const StoreSchema kInventorySchema{"main", "cards", 4, {1}, kInventoryFileName};
const StoreSchema kSentSchema{"sent", "sent_cards", 9, {2, 3, 8}, kSentFileName};

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

std::string Placeholders(std::size_t count, int first = 1) {
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
  for (std::size_t i = 1; i <= s.fieldCount; ++i) sql += ", f" + std::to_string(i) + " BLOB NOT NULL";
  sql += ", marked INTEGER NOT NULL DEFAULT 0)";
  return sql;
}

std::vector<std::string> CreateIndexSql(const StoreSchema& s, const char* schemaName) {
  std::vector<std::string> out;
  for (int f : s.indexedFields) {
    out.push_back(std::string("CREATE INDEX IF NOT EXISTS ") + schemaName + "." + s.tableName + "_f" +
                  std::to_string(f) + " ON " + s.tableName + "(f" + std::to_string(f) + ")");
  }
  return out;
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

void WorkOn(const StoreSchema& s) { t_errorFile = &FileLabel(s); }
void WorkOnBoth() { t_errorFile = &BothFilesLabel(); }
void WorkOnNothing() { t_errorFile = nullptr; }

std::string InvalidStoreText(const StoreSchema& s, const std::string& reason) {
  return FileText(s) + " 不是有效的卡密库文件: " + reason;
}

std::string DbErrorText(sqlite3* db) { return db ? std::string(sqlite3_errmsg(db)) : std::string("out of memory"); }

// "file:" URI for a path, every byte outside the unreserved set percent-encoded.
std::string FileUri(const std::filesystem::path& path, const char* mode) {
  static const char* hex = "0123456789ABCDEF";
  std::string absolute = std::filesystem::absolute(path).string();
  std::string out = "file:";
  for (unsigned char c : absolute) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  out += "?mode=";
  out += mode;
  return out;
}

// A prepared statement borrowed from the cache; reset when the borrow ends.
class Query {
 public:
  explicit Query(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~Query() {
    if (stmt_) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  void Bind(int index, std::string_view bytes) {
    // A zero-length blob needs a non-null pointer, or SQLite stores NULL.
    sqlite3_bind_blob64(stmt_, index, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  }
  void BindStatic(int index, const std::string& bytes) {
    sqlite3_bind_blob64(stmt_, index, bytes.c_str(), bytes.size(), SQLITE_STATIC);
  }
  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  int Step() { return sqlite3_step(stmt_); }
  std::string Text(int column) {
    const void* data = sqlite3_column_blob(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    if (!data || size <= 0) return {};
    return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
  }
  std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

 private:
  sqlite3_stmt* stmt_;
};

// One connection with a statement cache.
class Connection {
 public:
  Connection() = default;
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Open(const std::string& uri, int flags, std::string* error) {
    Close();
    int rc = sqlite3_open_v2(uri.c_str(), &db_, flags | SQLITE_OPEN_URI, nullptr);
    if (rc != SQLITE_OK) {
      if (error) *error = DbErrorText(db_);
      Close();
      return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return true;
  }

  void Close() {
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    cache_.clear();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    files_.clear();
  }

  sqlite3* get() const { return db_; }
  bool IsOpen() const { return db_ != nullptr; }

  // A file on this connection, by the name used in messages.
  void AddFile(std::string label, std::filesystem::path path) { files_.push_back({std::move(label), std::move(path)}); }

  // After a write lock was refused: the files another connection holds locked, found by trying
  // each on a connection of its own (all of them when none is locked any more).
  std::string LockedFiles() const {
    std::string locked;
    for (const auto& file : files_) {
      sqlite3* probe = nullptr;
      bool busy = false;
      if (sqlite3_open_v2(FileUri(file.path, "rw").c_str(), &probe, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI,
                          nullptr) == SQLITE_OK) {
        int rc = sqlite3_exec(probe, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
        if (rc == SQLITE_OK) sqlite3_exec(probe, "ROLLBACK", nullptr, nullptr, nullptr);
      }
      sqlite3_close_v2(probe);
      if (busy) locked += (locked.empty() ? "" : ", ") + file.label;
    }
    if (!locked.empty()) return locked;
    for (const auto& file : files_) locked += (locked.empty() ? "" : ", ") + file.label;
    return locked;
  }

  sqlite3_stmt* Prepare(const std::string& sql) {
    if (!db_) {
      SetError("store is closed");
      return nullptr;
    }
    auto it = cache_.find(sql);
    if (it != cache_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                           nullptr) != SQLITE_OK) {
      SetError(DbErrorText(db_));
      sqlite3_finalize(stmt);
      return nullptr;
    }
    cache_.emplace(sql, stmt);
    return stmt;
  }

  bool Exec(const std::string& sql) {
    if (!db_) {
      SetError("store is closed");
      return false;
    }
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      SetError(message ? message : DbErrorText(db_));
      sqlite3_free(message);
      return false;
    }
    return true;
  }

  // First column of the first row as text ("" when there is none); nullopt on error.
  std::optional<std::string> Scalar(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (!db_ || sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      if (db_) SetError(DbErrorText(db_));
      sqlite3_finalize(stmt);
      return std::nullopt;
    }
    std::optional<std::string> result;
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      result = text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
    } else if (rc == SQLITE_DONE) {
      result = std::string();
    } else {
      SetError(DbErrorText(db_));
    }
    sqlite3_finalize(stmt);
    return result;
  }

  std::int64_t Changes() const { return sqlite3_changes64(db_); }
  std::int64_t LastRowId() const { return sqlite3_last_insert_rowid(db_); }

 private:
  struct File {
    std::string label;
    std::filesystem::path path;
  };
  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  std::vector<File> files_;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(Connection& c) : c_(c) {
    began_ = c_.Exec("BEGIN IMMEDIATE");
    if (!began_ && c_.IsOpen()) {
      // The lock may be held on either file, whichever the operation meant to write.
      int code = sqlite3_extended_errcode(c_.get()) & 0xff;
      if (code == SQLITE_BUSY || code == SQLITE_LOCKED) t_lastError = c_.LockedFiles() + ": " + DbErrorText(c_.get());
    }
  }
  ~Transaction() {
    if (began_ && !committed_ && c_.IsOpen() && !sqlite3_get_autocommit(c_.get())) {
      std::string keep = t_lastError;
      c_.Exec("ROLLBACK");
      t_lastError = keep;
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool began() const { return began_; }
  bool Commit() {
    if (!began_) return false;
    committed_ = c_.Exec("COMMIT");
    return committed_;
  }

 private:
  Connection& c_;
  bool began_ = false;
  bool committed_ = false;
};

std::string StepError(Connection& c) { return DbErrorText(c.get()); }

// ---- Validation and creation of store files ----

std::uint32_t BigEndian32(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

// Reads the file header without SQLite, so a foreign file is never handed to it. "" when it is ours.
std::string CheckHeader(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec) return "无法读取文件: " + ec.message();
  // Checked before opening: opening a FIFO would wait for a writer.
  if (!std::filesystem::is_regular_file(status)) return "不是普通文件";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "无法读取文件: " + std::string(std::strerror(errno));
  unsigned char header[100];
  in.read(reinterpret_cast<char*>(header), sizeof(header));
  const auto got = static_cast<std::size_t>(in.gcount());
  if (got == 0) return "文件为空";
  if (got < sizeof(header) || std::memcmp(header, "SQLite format 3", 16) != 0) return "不是SQLite数据库文件";
  if (BigEndian32(header + 68) != static_cast<std::uint32_t>(kApplicationId)) return "不是本程序的卡密库";
  if (header[18] != 1 || header[19] != 1) return "日志模式不受支持";
  return {};
}

// Checks application id, version and table layout on an open connection. "" when it is ours.
std::string CheckSchema(Connection& c, const StoreSchema& s, const char* schemaName) {
  std::string prefix = std::string("PRAGMA ") + schemaName + ".";
  auto appId = c.Scalar(prefix + "application_id");
  if (!appId) return t_lastError;
  if (*appId != std::to_string(kApplicationId)) return "不是本程序的卡密库";
  auto version = c.Scalar(prefix + "user_version");
  if (!version) return t_lastError;
  if (*version != std::to_string(kSchemaVersion)) return "版本不符 (" + *version + ")";

  sqlite3_stmt* stmt = nullptr;
  std::string sql = std::string("SELECT name, type, pk, \"notnull\" FROM ") + schemaName + ".pragma_table_info('" +
                    s.tableName + "')";
  if (sqlite3_prepare_v2(c.get(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string e = DbErrorText(c.get());
    sqlite3_finalize(stmt);
    return e;
  }
  std::vector<std::string> expected{"rn"};
  for (std::size_t i = 1; i <= s.fieldCount; ++i) expected.push_back("f" + std::to_string(i));
  expected.push_back("marked");
  std::vector<std::string> names;
  bool pkOk = false;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(stmt, 0);
    const unsigned char* type = sqlite3_column_text(stmt, 1);
    std::string n = name ? reinterpret_cast<const char*>(name) : "";
    names.push_back(n);
    if (n == "rn") pkOk = sqlite3_column_int(stmt, 2) == 1 && type && std::string(reinterpret_cast<const char*>(type)) == "INTEGER";
  }
  std::string error = rc == SQLITE_DONE ? std::string() : DbErrorText(c.get());
  sqlite3_finalize(stmt);
  if (!error.empty()) return error;
  if (names != expected || !pkOk) return "表结构不符";
  return {};
}

// Reads every page of one store on an open connection. "" when the whole file reads back sound;
// else why not, and *damaged tells a damaged file from one that could not be read (locked, memory).
std::string CheckIntegrity(Connection& c, const char* schemaName, bool* damaged) {
  *damaged = false;
  sqlite3_stmt* stmt = nullptr;
  std::string sql = std::string("PRAGMA ") + schemaName + ".quick_check(1)";
  if (sqlite3_prepare_v2(c.get(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string e = DbErrorText(c.get());
    int code = sqlite3_extended_errcode(c.get()) & 0xff;
    sqlite3_finalize(stmt);
    *damaged = code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
    return e;
  }
  std::string result;
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    result = text ? reinterpret_cast<const char*>(text) : "";
    if (result == "ok") result.clear();
    // Drop the "*** in database main ***" line: the caller names the file.
    if (result.rfind("*** ", 0) == 0 && result.find('\n') != std::string::npos) result.erase(0, result.find('\n') + 1);
    *damaged = !result.empty();
  } else {
    result = rc == SQLITE_DONE ? "no result" : DbErrorText(c.get());
    int code = sqlite3_extended_errcode(c.get()) & 0xff;
    *damaged = code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_IOERR || code == SQLITE_FORMAT;
  }
  sqlite3_finalize(stmt);
  return result;
}

// Builds an empty store under a temporary name and links it into place without replacing anything.
// Returns "" on success (also when another process created the file meanwhile).
std::string CreateStoreFile(const std::filesystem::path& path, const StoreSchema& s, bool* created) {
  *created = false;
  std::random_device rd;
  std::filesystem::path temp = path;
  temp += ".new-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(rd());
  auto cleanup = [&] {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    std::filesystem::path journal = temp;
    journal += "-journal";
    std::filesystem::remove(journal, ec);
  };
  // Made here, owner-only whatever the umask, before SQLite fills it: the codes are for the seller's
  // eyes only, and SQLite gives the journal the mode of the store.
  std::string why;
  if (!CreatePrivateFile(temp, &why)) {
    cleanup();
    return "无法创建 " + FileText(s) + ": " + why;
  }
  {
    Connection c;
    std::string error;
    if (!c.Open(FileUri(temp, "rw"), SQLITE_OPEN_READWRITE, &error)) {
      cleanup();
      return "无法创建 " + FileText(s) + ": " + error;
    }
    std::string sql = "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; BEGIN; " + CreateTableSql(s) + ";";
    for (auto& index : CreateIndexSql(s, "main")) sql += index + ";";
    sql += "PRAGMA application_id=" + std::to_string(kApplicationId) + "; PRAGMA user_version=" +
           std::to_string(kSchemaVersion) + "; COMMIT;";
    if (!c.Exec(sql)) {
      std::string e = t_lastError;
      c.Close();
      cleanup();
      return "无法创建 " + FileText(s) + ": " + e;
    }
    c.Close();
  }
  std::string syncError;
  if (!SyncToDisk(temp, &syncError)) {
    cleanup();
    return "无法创建 " + FileText(s) + ": " + syncError;
  }
  // A hard link never replaces a file that another process created meanwhile.
  std::error_code linkError;
  std::filesystem::create_hard_link(temp, path, linkError);
  cleanup();
  if (linkError == std::errc::file_exists) return {};
  if (linkError) return "无法创建 " + FileText(s) + ": " + linkError.message();
  std::filesystem::path dir = path.parent_path();
  SyncToDisk(dir.empty() ? std::filesystem::path(".") : dir);
  *created = true;
  return {};
}

// Read-only look at an existing file: header first, then (through SQLite, read-only) the schema.
// A file with a hot journal cannot be checked read-only; it is ours by its header, and its schema is
// checked again on the read-write connection before anything else happens.
std::string ValidateExisting(const std::filesystem::path& path, const StoreSchema& s) {
  std::string reason = CheckHeader(path);
  if (!reason.empty()) return InvalidStoreText(s, reason);
  Connection c;
  std::string error;
  if (!c.Open(FileUri(path, "ro"), SQLITE_OPEN_READONLY, &error)) return "无法打开 " + FileText(s) + ": " + error;
  reason = CheckSchema(c, s, "main");
  int code = sqlite3_extended_errcode(c.get());
  c.Close();
  if (reason.empty() || code == SQLITE_READONLY_ROLLBACK) return {};
  // Locked by another process or unreadable: no verdict on the file itself.
  if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED || (code & 0xff) == SQLITE_IOERR ||
      (code & 0xff) == SQLITE_CANTOPEN || (code & 0xff) == SQLITE_NOMEM) {
    return "无法打开 " + FileText(s) + ": " + reason;
  }
  return InvalidStoreText(s, reason);
}

// A super-journal SQLite names after the main file: "<name>-mj" and nine hex digits.
bool IsSuperJournalName(const std::string& name, const std::string& mainFileName) {
  const std::string prefix = mainFileName + "-mj";
  if (name.size() != prefix.size() + 9 || name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// Whether journal files of the two stores lie in dataDir (left by a killed process, or in use).
bool JournalsPresent(const std::filesystem::path& dataDir) {
  const std::string inventory = std::filesystem::path(kInventoryFileName).string();
  const std::string sent = std::filesystem::path(kSentFileName).string();
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator(dataDir, ec)) {
    std::string name = entry.path().filename().string();
    if (name == inventory + "-journal" || name == sent + "-journal" || IsSuperJournalName(name, inventory)) return true;
  }
  return false;
}

// Deletes the super-journals of the main file.
// Only to be called while holding the write locks of both files, after both were written.
void RemoveDeadSuperJournals(const std::filesystem::path& mainFile) {
  const std::string mainName = mainFile.filename().string();
  std::filesystem::path dir = mainFile.parent_path();
  if (dir.empty()) dir = ".";
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (!IsSuperJournalName(entry.path().filename().string(), mainName)) continue;
    std::error_code removeError;
    std::filesystem::remove(entry.path(), removeError);
  }
}

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
  std::optional<std::vector<std::optional<std::vector<std::string>>>> ReadRecords(
      const std::vector<RecordNumber>& numbers) override;

  // Qualified table name, e.g. main.cards.
  const std::string& table() const { return table_; }

 private:
  enum class Where { kBefore, kOn, kAfter };

  bool ValidPosition(std::size_t position) const {
    if (position >= 1 && position <= schema_.fieldCount) return true;
    SetError("no field " + std::to_string(position));
    return false;
  }
  bool ValidFields(const std::vector<std::string>& fields) const {
    if (fields.size() == schema_.fieldCount) return true;
    SetError("expected " + std::to_string(schema_.fieldCount) + " fields, got " + std::to_string(fields.size()));
    return false;
  }
  std::vector<std::string> ReadRow(Query& q, int firstColumn) {
    std::vector<std::string> row;
    row.reserve(schema_.fieldCount);
    for (std::size_t i = 0; i < schema_.fieldCount; ++i) row.push_back(q.Text(firstColumn + static_cast<int>(i)));
    return row;
  }
  // Record number of the first record > or >= from (ascending) or < from (descending); 0 when none.
  RecordNumber Neighbour(const char* op, RecordNumber from, std::int64_t offset, bool descending);
  std::optional<std::vector<std::string>> ReadLocked(RecordNumber number);
  bool WriteLocked(RecordNumber number, const std::vector<std::string>& fields);

  CardStoresImpl& owner_;
  const StoreSchema& schema_;
  std::filesystem::path path_;
  std::string table_;
  std::string fields_;
  Where where_ = Where::kBefore;
  RecordNumber current_ = 0;
};

class CardStoresImpl final : public CardStores {
 public:
  CardStoresImpl(const std::filesystem::path& dataDir)
      : inventory_(*this, kInventorySchema, dataDir / kInventoryFileName),
        sent_(*this, kSentSchema, dataDir / kSentFileName) {}
  ~CardStoresImpl() override { Close(); }

  bool Connect(const std::filesystem::path& dataDir, StoreAccess access, StoreError* error);

  RecordStore& Inventory() override { return inventory_; }
  RecordStore& Sent() override { return sent_; }

  std::vector<SentRecord> TakeCards(const std::string& item, std::size_t count, const std::string& orderNumber,
                                    const std::string& buyer, const std::string& quantityText,
                                    const std::string& note, const std::string& status,
                                    const std::string& time) override;
  std::optional<AddCardsResult> AddCards(const std::vector<std::vector<std::string>>& cards, DuplicatePolicy policy,
                                         const std::function<void(std::size_t)>& progress) override;
  std::optional<CardRecord> FirstCardOf(const std::string& item) override;
  std::int64_t CountCardsOf(const std::string& item) override;
  std::vector<SentRecord> SentRecordsOf(const std::string& orderNumber, const std::string& status) override;
  bool SetSentStatus(const std::vector<RecordNumber>& numbers, const std::string& status,
                     const std::string& time) override;
  std::optional<std::array<std::int64_t, 3>> WriteMark() override;
  void Close() override {
    std::lock_guard lock(mu_);
    db_.Close();
  }

  // Locks the stores for one operation on the file of schema (the one its failures name).
  std::unique_lock<std::mutex> Lock(const StoreSchema& schema) {
    ClearError();
    WorkOn(schema);
    return std::unique_lock(mu_);
  }
  Connection& db() { return db_; }

 private:
  std::mutex mu_;
  Connection db_;
  SqliteRecordStore inventory_;
  SqliteRecordStore sent_;
};

SqliteRecordStore::SqliteRecordStore(CardStoresImpl& owner, const StoreSchema& schema, std::filesystem::path path)
    : owner_(owner),
      schema_(schema),
      path_(std::move(path)),
      table_(std::string(schema.schemaName) + "." + schema.tableName),
      fields_(FieldList(schema.fieldCount)) {}

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
  if (first > 0) {
    where_ = Where::kOn;
    current_ = first;
  } else {
    where_ = Where::kAfter;
    current_ = 0;
  }
}

void SqliteRecordStore::Skip(std::int64_t count) {
  auto lock = owner_.Lock(schema_);
  if (count == 0) return;
  if (count > 0) {
    if (where_ == Where::kAfter) return;
    RecordNumber from = where_ == Where::kOn ? current_ : 0;
    RecordNumber next = Neighbour(">", from, count - 1, false);
    if (next > 0) {
      where_ = Where::kOn;
      current_ = next;
    } else {
      where_ = Where::kAfter;
      current_ = 0;
    }
  } else {
    if (where_ == Where::kBefore) return;
    RecordNumber from = where_ == Where::kOn ? current_ : INT64_MAX;
    RecordNumber previous = Neighbour("<", from, -count - 1, true);
    if (previous > 0) {
      where_ = Where::kOn;
      current_ = previous;
    } else {
      where_ = Where::kBefore;
      current_ = 0;
    }
  }
}

bool SqliteRecordStore::AtEnd() {
  auto lock = owner_.Lock(schema_);
  return where_ == Where::kAfter;
}

RecordNumber SqliteRecordStore::CurrentRecordNumber() {
  auto lock = owner_.Lock(schema_);
  if (where_ != Where::kOn) return 0;
  Query q(owner_.db().Prepare("SELECT 1 FROM " + table_ + " WHERE rn = ?1"));
  if (!q.ok()) return 0;
  q.Bind(1, current_);
  int rc = q.Step();
  if (rc == SQLITE_ROW) return current_;
  if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  return 0;
}

bool SqliteRecordStore::GoToRecordNumber(RecordNumber number) {
  auto lock = owner_.Lock(schema_);
  Query q(owner_.db().Prepare("SELECT 1 FROM " + table_ + " WHERE rn = ?1"));
  if (q.ok()) {
    q.Bind(1, number);
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      where_ = Where::kOn;
      current_ = number;
      return true;
    }
    if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  }
  where_ = Where::kAfter;
  current_ = 0;
  return false;
}

std::string SqliteRecordStore::ReadField(std::size_t position) {
  auto lock = owner_.Lock(schema_);
  if (where_ != Where::kOn || !ValidPosition(position)) return {};
  Query q(owner_.db().Prepare("SELECT f" + std::to_string(position) + " FROM " + table_ + " WHERE rn = ?1"));
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
  Query q(owner_.db().Prepare("SELECT rn FROM " + table_ + " WHERE f" + std::to_string(position) +
                              " = ?1 AND rn >= ?2 ORDER BY rn LIMIT 1"));
  if (!q.ok()) return false;
  q.Bind(1, text);
  q.Bind(2, from);
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    where_ = Where::kOn;
    current_ = q.Int(0);
    return true;
  }
  if (rc != SQLITE_DONE) SetError(StepError(owner_.db()));
  where_ = Where::kAfter;
  current_ = 0;
  return false;
}

RecordNumber SqliteRecordStore::AppendRecord(const std::vector<std::string>& fields) {
  auto lock = owner_.Lock(schema_);
  if (!ValidFields(fields)) return 0;
  Query q(owner_.db().Prepare("INSERT INTO " + table_ + " (" + fields_ + ") VALUES (" +
                              Placeholders(schema_.fieldCount) + ")"));
  if (!q.ok()) return 0;
  for (std::size_t i = 0; i < fields.size(); ++i) q.Bind(static_cast<int>(i) + 1, fields[i]);
  if (q.Step() != SQLITE_DONE) {
    SetError(StepError(owner_.db()));
    return 0;
  }
  where_ = Where::kOn;
  current_ = owner_.db().LastRowId();
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
  std::string sql = "SELECT rn, " + fields_ + " FROM " + table_;
  if (position != 0) sql += " WHERE f" + std::to_string(position) + " = ?1";
  sql += " ORDER BY rn";
  Query q(owner_.db().Prepare(sql));
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
  Query q(owner_.db().Prepare("INSERT INTO " + table_ + " (" + fields_ + ") VALUES (" +
                              Placeholders(schema_.fieldCount) + ")"));
  if (!q.ok()) return 0;
  std::size_t done = 0;
  for (const auto& r : records) {
    for (std::size_t i = 0; i < r.size(); ++i) q.BindStatic(static_cast<int>(i) + 1, r[i]);
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
  std::string sql = "SELECT rn FROM " + table_;
  if (position != 0) sql += " WHERE f" + std::to_string(position) + " = ?1";
  sql += " ORDER BY rn";
  Query q(owner_.db().Prepare(sql));
  if (!q.ok()) return std::nullopt;
  if (position != 0) q.Bind(1, text);
  std::vector<RecordNumber> numbers;
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) numbers.push_back(q.Int(0));
  if (rc != SQLITE_DONE) {
    SetError(StepError(owner_.db()));
    return std::nullopt;
  }
  return numbers;
}

std::optional<std::vector<std::optional<std::vector<std::string>>>> SqliteRecordStore::ReadRecords(
    const std::vector<RecordNumber>& numbers) {
  auto lock = owner_.Lock(schema_);
  std::vector<std::optional<std::vector<std::string>>> rows;
  rows.reserve(numbers.size());
  for (RecordNumber n : numbers) {
    rows.push_back(ReadLocked(n));
    if (!rows.back() && !t_lastError.empty()) return std::nullopt;
  }
  return rows;
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
  for (std::size_t i = 1; i <= schema_.fieldCount; ++i) {
    if (i > 1) sets += ',';
    sets += 'f';
    sets += std::to_string(i) + " = ?" + std::to_string(i);
  }
  Query q(owner_.db().Prepare("UPDATE " + table_ + " SET " + sets + " WHERE rn = ?" +
                              std::to_string(schema_.fieldCount + 1)));
  if (!q.ok()) return false;
  for (std::size_t i = 0; i < fields.size(); ++i) q.Bind(static_cast<int>(i) + 1, fields[i]);
  q.Bind(static_cast<int>(schema_.fieldCount) + 1, number);
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
      else if (!t_lastError.empty()) return std::nullopt;
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

bool CardStoresImpl::Connect(const std::filesystem::path& dataDir, StoreAccess access, StoreError* error) {
  auto fail = [&](std::string message) {
    db_.Close();
    if (error) error->message = std::move(message);
    return false;
  };
  std::string openError;
  // Never create here: a file that vanished since it was checked must not come back empty. A file
  // that may not be written is opened for reading only; a write then fails, naming it.
  if (!db_.Open(FileUri(dataDir / kInventoryFileName, "rw"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                &openError)) {
    return fail("无法打开 " + FileText(kInventorySchema) + ": " + openError);
  }
  {
    sqlite3_stmt* stmt = nullptr;
    std::string uri = FileUri(dataDir / kSentFileName, "rw");
    int rc = sqlite3_prepare_v2(db_.get(), "ATTACH DATABASE ?1 AS sent", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(stmt, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
      rc = sqlite3_step(stmt);
    }
    std::string e = DbErrorText(db_.get());
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return fail("无法打开 " + FileText(kSentSchema) + ": " + e);
  }
  db_.AddFile(FileLabel(kInventorySchema), dataDir / kInventoryFileName);
  db_.AddFile(FileLabel(kSentSchema), dataDir / kSentFileName);
  if (access == StoreAccess::kReadOnly && !db_.Exec("PRAGMA query_only=ON")) {
    return fail("无法打开 " + FileText(kInventorySchema) + ": " + t_lastError);
  }
  // The first read rolls back what a killed writer left half done, before anything is checked.
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    std::string reason = CheckSchema(db_, *s, s->schemaName);
    if (!reason.empty()) return fail(InvalidStoreText(*s, reason));
  }
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    bool damaged = false;
    std::string reason = CheckIntegrity(db_, s->schemaName, &damaged);
    if (damaged) return fail(FileText(*s) + " 已损坏: " + reason);
    if (!reason.empty()) return fail("无法读取 " + FileText(*s) + ": " + reason);
  }
  if (access == StoreAccess::kReadOnly) return true;

  // Settings of this connection; the index statements write only when an index is missing.
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    std::string name = s->schemaName;
    auto mode = db_.Scalar("PRAGMA " + name + ".journal_mode=DELETE");
    if (!mode || *mode != "delete") {
      return fail("无法打开 " + FileText(*s) + ": journal mode " + (mode ? *mode : t_lastError));
    }
    if (!db_.Exec("PRAGMA " + name + ".synchronous=FULL")) return fail("无法打开 " + FileText(*s) + ": " + t_lastError);
    for (auto& index : CreateIndexSql(*s, s->schemaName)) {
      if (!db_.Exec(index)) return fail("无法打开 " + FileText(*s) + ": " + t_lastError);
    }
  }
  if (!JournalsPresent(dataDir)) return true;
  // A process killed in the middle of a write may have left journals beside the files that are not
  // hot (so no read removes them). One write to both files replaces them; while it holds both write
  // locks no other writer can own a super-journal of ours, so those left over are dead too.
  WorkOnBoth();
  Transaction tx(db_);
  if (!tx.began()) return fail("无法打开 " + t_lastError);
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    WorkOn(*s);
    if (!db_.Exec(std::string("PRAGMA ") + s->schemaName + ".user_version=" + std::to_string(kSchemaVersion))) {
      return fail("无法打开 " + t_lastError);
    }
  }
  WorkOnBoth();
  RemoveDeadSuperJournals(dataDir / kInventoryFileName);
  bool committed = tx.Commit();
  WorkOnNothing();
  if (!committed) return fail("无法打开 " + t_lastError);
  return true;
}

std::vector<SentRecord> CardStoresImpl::TakeCards(const std::string& item, std::size_t count,
                                                  const std::string& orderNumber, const std::string& buyer,
                                                  const std::string& quantityText, const std::string& note,
                                                  const std::string& status, const std::string& time) {
  auto lock = Lock(kInventorySchema);
  std::vector<SentRecord> taken;
  if (count == 0) return taken;
  Transaction tx(db_);
  if (!tx.began()) return taken;
  // Checked inside the transaction that takes: no other connection can take for it in between.
  WorkOn(kSentSchema);
  {
    Query q(db_.Prepare("SELECT 1 FROM sent.sent_cards WHERE f2 = ?1 AND marked = 0 LIMIT 1"));
    if (!q.ok()) return taken;
    q.Bind(1, orderNumber);
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      t_lastError = std::string(kOrderAlreadyHasRecords);
      return taken;
    }
    if (rc != SQLITE_DONE) {
      SetError(StepError(db_));
      return taken;
    }
  }
  WorkOn(kInventorySchema);
  struct Card {
    RecordNumber number;
    std::string cardNumber, secret;
  };
  std::vector<Card> cards;
  {
    Query q(db_.Prepare("SELECT rn, f2, f3 FROM main.cards WHERE f1 = ?1 AND marked = 0 ORDER BY rn LIMIT ?2"));
    if (!q.ok()) return taken;
    q.Bind(1, item);
    q.Bind(2, static_cast<std::int64_t>(std::min<std::size_t>(count, INT64_MAX)));
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) cards.push_back({q.Int(0), q.Text(1), q.Text(2)});
    if (rc != SQLITE_DONE) {
      SetError(StepError(db_));
      return taken;
    }
  }
  if (cards.size() < count) return taken;  // whole orders only; the transaction rolls back
  Query remove(db_.Prepare("DELETE FROM main.cards WHERE rn = ?1"));
  if (!remove.ok()) return taken;
  WorkOn(kSentSchema);
  Query insert(db_.Prepare("INSERT INTO sent.sent_cards (" + FieldList(9) + ") VALUES (" + Placeholders(9) + ")"));
  if (!insert.ok()) return taken;
  std::vector<SentRecord> records;
  records.reserve(cards.size());
  for (const Card& card : cards) {
    remove.Bind(1, card.number);
    if (remove.Step() != SQLITE_DONE || db_.Changes() != 1) {
      WorkOn(kInventorySchema);
      SetError("cannot remove card: " + StepError(db_));
      return taken;
    }
    remove.Reset();
    SentRecord record;
    record.fields = {item, orderNumber, buyer, quantityText, card.cardNumber, card.secret, note, status, time};
    for (std::size_t i = 0; i < record.fields.size(); ++i) insert.BindStatic(static_cast<int>(i) + 1, record.fields[i]);
    if (insert.Step() != SQLITE_DONE) {
      SetError(StepError(db_));
      return taken;
    }
    insert.Reset();
    record.recordNumber = db_.LastRowId();
    records.push_back(std::move(record));
  }
  WorkOnBoth();
  if (!tx.Commit()) return taken;
  return records;
}

std::optional<AddCardsResult> CardStoresImpl::AddCards(const std::vector<std::vector<std::string>>& cards,
                                                       DuplicatePolicy policy,
                                                       const std::function<void(std::size_t)>& progress) {
  auto lock = Lock(kInventorySchema);
  for (const auto& card : cards) {
    if (card.size() != kInventorySchema.fieldCount) {
      SetError("expected 4 fields, got " + std::to_string(card.size()));
      return std::nullopt;
    }
  }
  Transaction tx(db_);
  if (!tx.began()) return std::nullopt;
  // Built here rather than on open, so that opening a store never writes to it.
  if (!db_.Exec("CREATE INDEX IF NOT EXISTS main.cards_card ON cards(f2, f3);"
                "CREATE INDEX IF NOT EXISTS sent.sent_cards_card ON sent_cards(f5, f6)")) {
    return std::nullopt;
  }
  AddCardsResult result;
  std::vector<bool> duplicate(cards.size(), false);
  {
    Query q(db_.Prepare("SELECT EXISTS (SELECT 1 FROM main.cards WHERE f2 = ?1 AND f3 = ?2),"
                        " EXISTS (SELECT 1 FROM sent.sent_cards WHERE f5 = ?1 AND f6 = ?2)"));
    if (!q.ok()) return std::nullopt;
    std::unordered_map<std::string, std::size_t> seen;
    seen.reserve(cards.size());
    for (std::size_t i = 0; i < cards.size(); ++i) {
      const std::string& number = cards[i][1];
      const std::string& secret = cards[i][2];
      auto [first, isNew] = seen.emplace(std::to_string(number.size()) + ":" + number + secret, i);
      if (!isNew) {
        result.duplicates.push_back({i, CardDuplicate::Where::kEarlier, first->second});
        duplicate[i] = true;
        continue;
      }
      q.Bind(1, number);
      q.Bind(2, secret);
      if (q.Step() != SQLITE_ROW) {
        SetError(StepError(db_));
        return std::nullopt;
      }
      if (q.Int(0) != 0 || q.Int(1) != 0) {
        auto where = q.Int(0) != 0 ? CardDuplicate::Where::kInventory : CardDuplicate::Where::kSent;
        result.duplicates.push_back({i, where, 0});
        duplicate[i] = true;
      }
      q.Reset();
    }
  }
  const bool addNothing =
      policy == DuplicatePolicy::kFindOnly || (policy == DuplicatePolicy::kRefuse && !result.duplicates.empty());
  if (!addNothing) {
    Query insert(db_.Prepare("INSERT INTO main.cards (" + FieldList(4) + ") VALUES (" + Placeholders(4) + ")"));
    if (!insert.ok()) return std::nullopt;
    for (std::size_t i = 0; i < cards.size(); ++i) {
      if (duplicate[i] && policy != DuplicatePolicy::kAdd) continue;
      for (std::size_t f = 0; f < 4; ++f) insert.BindStatic(static_cast<int>(f) + 1, cards[i][f]);
      if (insert.Step() != SQLITE_DONE) {
        SetError(StepError(db_));
        return std::nullopt;
      }
      insert.Reset();
      ++result.added;
      if (progress && result.added % 1000 == 0) progress(result.added);
    }
  }
  if (!tx.Commit()) return std::nullopt;
  if (progress && result.added > 0) progress(result.added);
  return result;
}

std::optional<CardRecord> CardStoresImpl::FirstCardOf(const std::string& item) {
  auto lock = Lock(kInventorySchema);
  Query q(db_.Prepare("SELECT rn, f1, f2, f3, f4 FROM main.cards WHERE f1 = ?1 AND marked = 0 ORDER BY rn LIMIT 1"));
  if (!q.ok()) return std::nullopt;
  q.Bind(1, item);
  int rc = q.Step();
  if (rc != SQLITE_ROW) {
    if (rc != SQLITE_DONE) SetError(StepError(db_));
    return std::nullopt;
  }
  CardRecord card;
  card.recordNumber = q.Int(0);
  for (int i = 0; i < 4; ++i) card.fields[static_cast<std::size_t>(i)] = q.Text(i + 1);
  return card;
}

std::int64_t CardStoresImpl::CountCardsOf(const std::string& item) {
  auto lock = Lock(kInventorySchema);
  Query q(db_.Prepare("SELECT count(*) FROM main.cards WHERE f1 = ?1 AND marked = 0"));
  if (!q.ok()) return 0;
  q.Bind(1, item);
  if (q.Step() != SQLITE_ROW) {
    SetError(StepError(db_));
    return 0;
  }
  return q.Int(0);
}

std::vector<SentRecord> CardStoresImpl::SentRecordsOf(const std::string& orderNumber, const std::string& status) {
  auto lock = Lock(kSentSchema);
  std::vector<SentRecord> records;
  Query q(db_.Prepare("SELECT rn, " + FieldList(9) +
                      " FROM sent.sent_cards WHERE f2 = ?1 AND +f8 = ?2 AND marked = 0 ORDER BY rn"));
  if (!q.ok()) return records;
  q.Bind(1, orderNumber);
  q.Bind(2, status);
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) {
    SentRecord r;
    r.recordNumber = q.Int(0);
    for (int i = 0; i < 9; ++i) r.fields[static_cast<std::size_t>(i)] = q.Text(i + 1);
    records.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE) {
    SetError(StepError(db_));
    records.clear();
  }
  return records;
}

bool CardStoresImpl::SetSentStatus(const std::vector<RecordNumber>& numbers, const std::string& status,
                                   const std::string& time) {
  auto lock = Lock(kSentSchema);
  if (numbers.empty()) return true;
  Transaction tx(db_);
  if (!tx.began()) return false;
  Query q(db_.Prepare("UPDATE sent.sent_cards SET f8 = ?1, f9 = ?2 WHERE rn = ?3"));
  if (!q.ok()) return false;
  for (RecordNumber n : numbers) {
    q.Bind(1, status);
    q.Bind(2, time);
    q.Bind(3, n);
    if (q.Step() != SQLITE_DONE) {
      SetError(StepError(db_));
      return false;
    }
    // A record deleted meanwhile: its status cannot be kept, and nothing of the batch is written.
    if (db_.Changes() != 1) {
      SetError("第" + std::to_string(n) + "条发货记录已不存在");
      return false;
    }
    q.Reset();
  }
  return tx.Commit();
}

std::optional<std::array<std::int64_t, 3>> CardStoresImpl::WriteMark() {
  auto lock = Lock(kInventorySchema);
  if (!db_.IsOpen()) {
    SetError("store is closed");
    return std::nullopt;
  }
  std::array<std::int64_t, 3> mark{sqlite3_total_changes64(db_.get()), 0, 0};
  // data_version moves when another connection commits to that file.
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    WorkOn(*s);
    Query q(db_.Prepare(std::string("PRAGMA ") + s->schemaName + ".data_version"));
    if (!q.ok()) return std::nullopt;
    if (q.Step() != SQLITE_ROW) {
      SetError(StepError(db_));
      return std::nullopt;
    }
    mark[s == &kInventorySchema ? 1 : 2] = q.Int(0);
  }
  return mark;
}

}  // namespace

std::string LastStoreError() { return t_lastError; }

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

std::unique_ptr<CardStores> CardStores::Open(const std::filesystem::path& dataDir, StoreError* error,
                                             std::vector<std::string>* created, StoreAccess access) {
  ClearError();
  WorkOnNothing();  // the messages below name their file themselves
  if (created) created->clear();
  auto fail = [&](std::string message) -> std::unique_ptr<CardStores> {
    t_lastError = message;
    if (error) error->message = std::move(message);
    return nullptr;
  };
  std::error_code ec;
  if (!std::filesystem::is_directory(dataDir, ec)) return fail("数据目录不存在: " + PathText(dataDir));

  // Check every existing file before creating anything, so a bad file leaves the directory as it was.
  std::vector<const StoreSchema*> missing;
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    std::filesystem::path path = dataDir / s->fileName;
    auto status = std::filesystem::symlink_status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) return fail("无法读取 " + FileText(*s) + ": " + ec.message());
    if (!std::filesystem::exists(status)) {
      if (access == StoreAccess::kReadOnly) return fail("无法打开 " + FileText(*s) + ": 文件不存在");
      missing.push_back(s);
      continue;
    }
    std::string reason = ValidateExisting(path, *s);
    if (!reason.empty()) return fail(reason);
  }
  for (const StoreSchema* s : missing) {
    bool made = false;
    std::string reason = CreateStoreFile(dataDir / s->fileName, *s, &made);
    if (!reason.empty()) return fail(reason);
    if (!made) {
      // Another process made it meanwhile: check it like any existing file.
      reason = ValidateExisting(dataDir / s->fileName, *s);
      if (!reason.empty()) return fail(reason);
    }
    if (made && created) created->push_back(FileText(*s));
  }

  auto stores = std::make_unique<CardStoresImpl>(dataDir);
  StoreError connectError;
  if (!stores->Connect(dataDir, access, &connectError)) return fail(connectError.message);
  ClearError();
  return stores;
}

}  // namespace torvane
