// Upgrading a store file in place, with a copy of it as it was kept beside it.
#include "store/store_upgrade.h"

#include <optional>
#include <random>
#include <system_error>

#include "base/files.h"
#include "base/system.h"

namespace torvane::store_sqlite {

namespace {

// "<file name>.升级前备份", then "…备份2", "…备份3" when those exist already.
std::filesystem::path BackupName(const std::filesystem::path& path, int attempt) {
  std::filesystem::path name = path;
  name += u8".升级前备份";
  if (attempt > 1) name += std::to_string(attempt);
  return name;
}

std::optional<std::string> DataVersion(Connection& db, const StoreSchema& s) {
  return db.Scalar(std::string("PRAGMA ") + s.schemaName + ".data_version");
}

// Whether the table already has every field (another process upgraded it meanwhile).
bool HasEveryField(Connection& db, const StoreSchema& s) {
  auto count = db.Scalar(std::string("SELECT count(*) FROM ") + s.schemaName + ".pragma_table_info('" + s.tableName +
                         "')");
  return count && *count == std::to_string(ColumnNames(s, false).size());
}

}  // namespace

std::string UpgradeStore(Connection& db, const std::filesystem::path& dataDir, const StoreSchema& s,
                         std::string* note) {
  const std::filesystem::path path = dataDir / s.fileName;
  const std::string failed = "无法升级 " + FileText(s) + ": ";
  std::random_device rd;
  std::filesystem::path temp = path;
  temp += ".upgrade-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(rd());
  auto cleanup = [&] {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
  };
  // A writer that commits between the copy and the upgrade would be missing from the copy: then the
  // copy is made again.
  for (int round = 0; round < 3; ++round) {
    cleanup();
    std::string why;
    // Owner-only, like the store itself: the copy holds the same codes.
    if (!CreatePrivateFile(temp, &why)) return failed + "无法创建备份: " + why;
    const auto before = DataVersion(db, s);
    if (!before) {
      cleanup();
      return failed + ErrorText();
    }
    {
      // A consistent copy of the file through SQLite; reading it with a file stream of our own would
      // drop the locks SQLite holds on it.
      // The URI percent-encodes every byte but letters, digits and "/-_.~", so it sits in quotes as is.
      if (!db.Exec(std::string("VACUUM ") + s.schemaName + " INTO '" + FileUri(temp, "rw") + "'")) {
        std::string e = ErrorText();
        cleanup();
        return failed + "无法创建备份: " + e;
      }
    }
    if (!SyncToDisk(temp, &why)) {
      cleanup();
      return failed + "无法创建备份: " + why;
    }
    Transaction tx(db);
    if (!tx.began()) {
      cleanup();
      return failed + ErrorText();
    }
    if (HasEveryField(db, s)) {
      cleanup();
      return {};
    }
    const auto now = DataVersion(db, s);
    if (!now) {
      cleanup();
      return failed + ErrorText();
    }
    if (*now != *before) continue;  // rolled back; copied again
    // The copy goes into place before the file changes, under a name no file has yet.
    std::filesystem::path backup;
    for (int attempt = 1; attempt <= 100 && backup.empty(); ++attempt) {
      std::error_code linkError;
      std::filesystem::create_hard_link(temp, BackupName(path, attempt), linkError);
      if (!linkError) {
        backup = BackupName(path, attempt);
      } else if (linkError != std::errc::file_exists) {
        cleanup();
        return failed + "无法创建备份: " + linkError.message();
      }
    }
    cleanup();
    if (backup.empty()) return failed + "备份文件名已用完";
    SyncToDisk(dataDir.empty() ? std::filesystem::path(".") : dataDir);
    for (const std::string& sql : AddFieldsSql(s)) {
      if (!db.Exec(sql)) return failed + ErrorText();
    }
    if (!db.Exec(std::string("PRAGMA ") + s.schemaName + ".user_version=" + std::to_string(s.version))) {
      return failed + ErrorText();
    }
    if (!tx.Commit()) return failed + ErrorText();
    *note = FileText(s) + " 已升级 增加交付时间和交付渠道两列 升级前的文件已备份为 " + PathText(backup.filename()) +
            " (升级后的文件旧版本程序无法打开)";
    return {};
  }
  cleanup();
  return failed + "文件正被其他程序不断写入 请稍后再试";
}

}  // namespace torvane::store_sqlite
