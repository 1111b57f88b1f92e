// The shared SQLite connection of the card stores: opening, the statement cache, plain execution,
// write transactions, and the thread's last store error.
#include "store/store_connection.h"

#include <cctype>

#include "store/record_store.h"

namespace torvane {

namespace store_sqlite {

namespace {

thread_local std::string t_lastError;
// The file(s) the running operation works on: its failures are reported against them.
thread_local const std::string* t_errorFile = nullptr;

}  // namespace

void ClearError() { t_lastError.clear(); }
void SetError(std::string text) { t_lastError = t_errorFile ? *t_errorFile + ": " + text : std::move(text); }
void SetErrorText(std::string text) { t_lastError = std::move(text); }
const std::string& ErrorText() { return t_lastError; }
void SetErrorFile(const std::string* label) { t_errorFile = label; }

std::string DbErrorText(sqlite3* db) { return db ? std::string(sqlite3_errmsg(db)) : std::string("out of memory"); }

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

bool Connection::Open(const std::string& uri, int flags, std::string* error) {
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

void Connection::Close() {
  for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
  cache_.clear();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  files_.clear();
}

std::string Connection::LockedFiles() const {
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

sqlite3_stmt* Connection::Prepare(const std::string& sql) {
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

bool Connection::Exec(const std::string& sql) {
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

std::optional<std::string> Connection::Scalar(const std::string& sql) {
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

Transaction::Transaction(Connection& c) : c_(c) {
  began_ = c_.Exec("BEGIN IMMEDIATE");
  if (!began_ && c_.IsOpen()) {
    // The lock may be held on either file, whichever the operation meant to write.
    int code = sqlite3_extended_errcode(c_.get()) & 0xff;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) t_lastError = c_.LockedFiles() + ": " + DbErrorText(c_.get());
  }
}

Transaction::~Transaction() {
  if (began_ && !committed_ && c_.IsOpen() && !sqlite3_get_autocommit(c_.get())) {
    std::string keep = t_lastError;
    c_.Exec("ROLLBACK");
    t_lastError = keep;
  }
}

std::string StepError(Connection& c) { return DbErrorText(c.get()); }

}  // namespace store_sqlite

std::string LastStoreError() { return store_sqlite::ErrorText(); }

}  // namespace torvane
