// Bringing a store file of the first layout up to date when it is opened for writing: a copy of the
// file as it was is kept beside it first, then the fields added since are added to its table, every
// record kept in order. Used only by store_open.cpp.
#pragma once

#include <filesystem>
#include <string>

#include "store/store_connection.h"
#include "store/store_schema.h"

namespace torvane::store_sqlite {

// The store of s, attached on db as s.schemaName, lacks the fields after its base ones. Keeps a copy
// of the file as it is under a new name beside it (written whole under a temporary name, flushed,
// then linked into place, never replacing a file), then adds the fields and sets the version in one
// transaction. On success returns "" and *note says what was done (GBK); otherwise why not, and the
// store is unchanged.
std::string UpgradeStore(Connection& db, const std::filesystem::path& dataDir, const StoreSchema& s, std::string* note);

}  // namespace torvane::store_sqlite
