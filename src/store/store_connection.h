// The SQLite connection the card stores share: prepared statements borrowed from a cache, write
// transactions that roll back unless committed, and the calling thread's last store error together
// with the file(s) it is reported against. Used only inside src/store.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace torvane::store_sqlite {

inline constexpr int kBusyTimeoutMs = 5000;

// The calling thread's last store error, as LastStoreError() returns it.
void ClearError();
// Sets it, prefixed with the file(s) the running operation works on (see SetErrorFile).
void SetError(std::string text);
// Sets it exactly as given.
void SetErrorText(std::string text);
const std::string& ErrorText();
// The file(s) the running operation works on, by the name the messages use; nullptr for none.
void SetErrorFile(const std::string* label);

std::string DbErrorText(sqlite3* db);

// "file:" URI for a path, every byte outside the unreserved set percent-encoded.
std::string FileUri(const std::filesystem::path& path, const char* mode);

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

  bool Open(const std::string& uri, int flags, std::string* error);
  void Close();

  sqlite3* get() const { return db_; }
  bool IsOpen() const { return db_ != nullptr; }

  // A file on this connection, by the name used in messages.
  void AddFile(std::string label, std::filesystem::path path) { files_.push_back({std::move(label), std::move(path)}); }

  // After a write lock was refused: the files another connection holds locked, found by trying
  // each on a connection of its own (all of them when none is locked any more).
  std::string LockedFiles() const;

  sqlite3_stmt* Prepare(const std::string& sql);
  bool Exec(const std::string& sql);
  // First column of the first row as text ("" when there is none); nullopt on error.
  std::optional<std::string> Scalar(const std::string& sql);

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
  explicit Transaction(Connection& c);
  ~Transaction();
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

std::string StepError(Connection& c);

}  // namespace torvane::store_sqlite
