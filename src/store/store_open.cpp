// Opening the stores of a data directory: every existing file is checked before anything is created
// (its header read without SQLite, then its schema and every page), a missing file is built under a
// temporary name and linked into place, both files are attached to one connection with their
// settings and indexes, and journals a killed process left behind are cleared.
#include "store/record_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include "base/files.h"
#include "base/system.h"
#include "store/card_stores_impl.h"
#include "store/store_connection.h"
#include "store/store_schema.h"
#include "store/store_upgrade.h"

namespace torvane {

namespace store_sqlite {

namespace {

std::string InvalidStoreText(const StoreSchema& s, const std::string& reason) {
  return FileText(s) + " 不是有效的卡密库文件: " + reason;
}

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

// Checks application id, version and table layout on an open connection. "" when it is ours;
// *baseOnly then tells a file of the first layout (only the base fields) from an up-to-date one.
std::string CheckSchema(Connection& c, const StoreSchema& s, const char* schemaName, bool* baseOnly) {
  *baseOnly = false;
  std::string prefix = std::string("PRAGMA ") + schemaName + ".";
  auto appId = c.Scalar(prefix + "application_id");
  if (!appId) return ErrorText();
  if (*appId != std::to_string(kApplicationId)) return "不是本程序的卡密库";
  auto version = c.Scalar(prefix + "user_version");
  if (!version) return ErrorText();
  if (*version == std::to_string(s.version)) {
    *baseOnly = false;
  } else if (*version == std::to_string(kFirstSchemaVersion)) {
    *baseOnly = true;
  } else {
    return "版本不符 (" + *version + ")";
  }

  sqlite3_stmt* stmt = nullptr;
  std::string sql = std::string("SELECT name, type, pk, \"notnull\" FROM ") + schemaName + ".pragma_table_info('" +
                    s.tableName + "')";
  if (sqlite3_prepare_v2(c.get(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string e = DbErrorText(c.get());
    sqlite3_finalize(stmt);
    return e;
  }
  const std::vector<std::string> expected = ColumnNames(s, *baseOnly);
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
    for (auto& index : FiguresIndexSql(s, "main")) sql += index + ";";
    sql += "PRAGMA application_id=" + std::to_string(kApplicationId) + "; PRAGMA user_version=" +
           std::to_string(s.version) + "; COMMIT;";
    if (!c.Exec(sql)) {
      std::string e = ErrorText();
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
  bool baseOnly = false;
  reason = CheckSchema(c, s, "main", &baseOnly);
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

}  // namespace

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
    return fail("无法打开 " + FileText(kInventorySchema) + ": " + ErrorText());
  }
  // The first read rolls back what a killed writer left half done, before anything is checked.
  std::vector<const StoreSchema*> older;
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    bool baseOnly = false;
    std::string reason = CheckSchema(db_, *s, s->schemaName, &baseOnly);
    if (!reason.empty()) return fail(InvalidStoreText(*s, reason));
    if (baseOnly && s->fieldCount > s->baseFieldCount) older.push_back(s);
  }
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    bool damaged = false;
    std::string reason = CheckIntegrity(db_, s->schemaName, &damaged);
    if (damaged) return fail(FileText(*s) + " 已损坏: " + reason);
    if (!reason.empty()) return fail("无法读取 " + FileText(*s) + ": " + reason);
  }
  if (access == StoreAccess::kReadOnly) {
    for (const StoreSchema* s : older) (s == &kSentSchema ? sent_ : inventory_).ReadBaseFieldsOnly();
    return true;
  }

  // Settings of this connection; the index statements write only when an index is missing.
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    std::string name = s->schemaName;
    auto mode = db_.Scalar("PRAGMA " + name + ".journal_mode=DELETE");
    if (!mode || *mode != "delete") {
      return fail("无法打开 " + FileText(*s) + ": journal mode " + (mode ? *mode : ErrorText()));
    }
    if (!db_.Exec("PRAGMA " + name + ".synchronous=FULL")) return fail("无法打开 " + FileText(*s) + ": " + ErrorText());
    for (auto& index : CreateIndexSql(*s, s->schemaName)) {
      if (!db_.Exec(index)) return fail("无法打开 " + FileText(*s) + ": " + ErrorText());
    }
  }
  for (const StoreSchema* s : older) {
    std::string note;
    std::string reason = UpgradeStore(db_, dataDir, *s, &note);
    if (!reason.empty()) return fail(reason);
    if (!note.empty()) openNotes_.push_back(note);
  }
  // Made when missing, once field 10 is there. A file that cannot take them (write-protected) is still
  // read as it is: the sales figures then read every record instead.
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    for (auto& index : FiguresIndexSql(*s, s->schemaName)) db_.Exec(index);
  }
  ClearError();
  if (!JournalsPresent(dataDir)) return true;
  // A process killed in the middle of a write may have left journals beside the files that are not
  // hot (so no read removes them). One write to both files replaces them; while it holds both write
  // locks no other writer can own a super-journal of ours, so those left over are dead too.
  WorkOnBoth();
  Transaction tx(db_);
  if (!tx.began()) return fail("无法打开 " + ErrorText());
  for (const StoreSchema* s : {&kInventorySchema, &kSentSchema}) {
    WorkOn(*s);
    if (!db_.Exec(std::string("PRAGMA ") + s->schemaName + ".user_version=" + std::to_string(s->version))) {
      return fail("无法打开 " + ErrorText());
    }
  }
  WorkOnBoth();
  RemoveDeadSuperJournals(dataDir / kInventoryFileName);
  bool committed = tx.Commit();
  WorkOnNothing();
  if (!committed) return fail("无法打开 " + ErrorText());
  return true;
}

}  // namespace store_sqlite

std::unique_ptr<CardStores> CardStores::Open(const std::filesystem::path& dataDir, StoreError* error,
                                             std::vector<std::string>* created, StoreAccess access) {
  using namespace store_sqlite;
  ClearError();
  WorkOnNothing();  // the messages below name their file themselves
  if (created) created->clear();
  auto fail = [&](std::string message) -> std::unique_ptr<CardStores> {
    SetErrorText(message);
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
