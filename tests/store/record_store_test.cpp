#include "store/record_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "base/files.h"
#include "support/deadline.h"
#include "support/store_faults.h"
#include "support/temp_dir.h"

using namespace torvane;
using torvane::test::DamagePage;
using torvane::test::InChildBoundByFilePermissions;
using torvane::test::InChildWithFileSizeLimit;
using torvane::test::PageDamage;
using torvane::test::ReadBytes;
using torvane::test::TempDir;
using torvane::test::WriteBytes;

namespace {

const std::filesystem::path kInventory(kInventoryFileName);
const std::filesystem::path kSent(kSentFileName);

std::unique_ptr<CardStores> OpenOrFail(const std::filesystem::path& dir, std::vector<std::string>* created = nullptr) {
  StoreError error;
  auto stores = CardStores::Open(dir, &error, created);
  EXPECT_TRUE(stores) << error.message;
  return stores;
}

std::vector<std::string> Card(const std::string& item, const std::string& number, const std::string& secret = "s",
                              const std::string& note = "n") {
  return {item, number, secret, note};
}

std::vector<std::string> FileNamesIn(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Column(const std::vector<std::vector<std::string>>& rows, std::size_t position) {
  std::vector<std::string> out;
  for (auto& r : rows) out.push_back(r.at(position - 1));
  return out;
}

// A SQLite file of some other program, with its own table.
void MakeForeignDatabase(const std::filesystem::path& path, const char* extraSql = "") {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string sql = std::string("CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT); INSERT INTO notes(body) VALUES('x');") +
                    extraSql;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace

// ---- Opening, creating and refusing files ----

TEST(CardStoresOpen, CreatesMissingFilesReportsThemAndLeavesOnlyTheStores) {
  TempDir dir;
  std::vector<std::string> created;
  auto stores = OpenOrFail(dir.path(), &created);
  ASSERT_TRUE(stores);
  EXPECT_EQ(created, (std::vector<std::string>{"库存卡密.edb", "已发卡密.edb"}));
  EXPECT_EQ(stores->Inventory().RecordCount(), 0);
  EXPECT_EQ(stores->Sent().RecordCount(), 0);
  EXPECT_EQ(stores->Inventory().FilePath().filename(), kInventory);
  EXPECT_EQ(stores->Sent().FilePath().filename(), kSent);
  stores.reset();

  EXPECT_EQ(FileNamesIn(dir.path()), (std::vector<std::string>{kSent.string(), kInventory.string()}));
  created.assign(1, "stale");
  stores = OpenOrFail(dir.path(), &created);
  EXPECT_TRUE(created.empty());
}

TEST(CardStoresOpen, OnlyTheMissingOneIsCreated) {
  TempDir dir;
  OpenOrFail(dir.path())->Inventory().AppendRecord(Card("A", "1"));
  std::filesystem::remove(dir / kSent);
  std::vector<std::string> created;
  auto stores = OpenOrFail(dir.path(), &created);
  EXPECT_EQ(created, std::vector<std::string>{"已发卡密.edb"});
  EXPECT_EQ(stores->Inventory().RecordCount(), 1);
}

TEST(CardStoresOpen, MissingDataDirectoryIsAnError) {
  TempDir dir;
  StoreError error;
  EXPECT_FALSE(CardStores::Open(dir / "nowhere", &error));
  EXPECT_FALSE(error.message.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

struct BadFileCase {
  const char* name;
  bool inventory;  // which of the two files is bad
  int kind;        // 0 garbage, 1 empty, 2 foreign SQLite, 3 the other store's file
};

class CardStoresBadFile : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(CardStoresBadFile, IsRefusedNamedAndLeftByteIdentical) {
  const BadFileCase& c = GetParam();
  TempDir dir;
  TempDir other;
  std::filesystem::path bad = dir / (c.inventory ? kInventory : kSent);
  switch (c.kind) {
    case 0: WriteBytes(bad, std::string("this is not a card store\n") + std::string(5000, '\x7f')); break;
    case 1: WriteBytes(bad, ""); break;
    case 2: MakeForeignDatabase(bad); break;
    case 3: {
      // The file of the other store under this store's name.
      OpenOrFail(other.path())->Sent().AppendRecord({"1", "2", "3", "4", "5", "6", "7", "8", "9"});
      OpenOrFail(other.path())->Inventory().AppendRecord(Card("A", "1"));
      std::filesystem::copy_file(other / (c.inventory ? kSent : kInventory), bad);
      break;
    }
  }
  const std::string before = ReadBytes(bad);
  StoreError error;
  std::vector<std::string> created;
  EXPECT_FALSE(CardStores::Open(dir.path(), &error, &created));
  const std::string name = c.inventory ? "库存卡密.edb" : "已发卡密.edb";
  EXPECT_NE(error.message.find(name + " 不是有效的卡密库文件"), std::string::npos) << error.message;
  EXPECT_EQ(ReadBytes(bad), before);
  // Nothing else appears: no journal, and the missing partner is not created either.
  EXPECT_EQ(FileNamesIn(dir.path()), std::vector<std::string>{bad.filename().string()});
  EXPECT_TRUE(created.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, CardStoresBadFile,
                         ::testing::Values(BadFileCase{"GarbageInventory", true, 0}, BadFileCase{"EmptyInventory", true, 1},
                                           BadFileCase{"ForeignInventory", true, 2}, BadFileCase{"SwappedInventory", true, 3},
                                           BadFileCase{"GarbageSent", false, 0}, BadFileCase{"EmptySent", false, 1},
                                           BadFileCase{"ForeignSent", false, 2}, BadFileCase{"SwappedSent", false, 3}),
                         [](const ::testing::TestParamInfo<BadFileCase>& param) { return std::string(param.param.name); });

TEST(CardStoresOpen, ForeignDatabaseWithAHotJournalIsNotRolledBack) {
  TempDir dir;
  OpenOrFail(dir.path());
  std::filesystem::remove(dir / kSent);
  MakeForeignDatabase(dir / kSent);
  // A journal beside a foreign file must be left for its owner, not applied by us.
  std::filesystem::path journal = dir / kSent;
  journal += "-journal";
  WriteBytes(journal, std::string(2048, '\x01'));
  const std::string before = ReadBytes(dir / kSent);
  StoreError error;
  EXPECT_FALSE(CardStores::Open(dir.path(), &error));
  EXPECT_EQ(ReadBytes(dir / kSent), before);
  EXPECT_EQ(ReadBytes(journal), std::string(2048, '\x01'));
}

// ---- Opening reads only; a damaged store is never taken for an empty one ----

TEST(CardStoresOpen, OpeningWritesNothingAndAWriteProtectedCopyCanBeRead) {
  TempDir dir;
  {
    auto stores = OpenOrFail(dir.path());
    stores->Inventory().AppendRecord(Card("A", "1"));
    stores->Sent().AppendRecord({"A", "o", "b", "1", "0", "s", "n", "S", "T"});
  }
  const std::string inventory = ReadBytes(dir / kInventory);
  const std::string sent = ReadBytes(dir / kSent);
  for (StoreAccess access : {StoreAccess::kReadWrite, StoreAccess::kReadOnly}) {
    StoreError error;
    auto stores = CardStores::Open(dir.path(), &error, nullptr, access);
    ASSERT_TRUE(stores) << error.message;
    EXPECT_EQ(stores->Inventory().Select(0, "").size(), 1u);
    EXPECT_EQ(stores->SentRecordsOf("o", "S").size(), 1u);
    stores->Close();
    EXPECT_TRUE(ReadBytes(dir / kInventory) == inventory) << "inventory changed";
    EXPECT_TRUE(ReadBytes(dir / kSent) == sent) << "sent store changed";
  }
  EXPECT_EQ(FileNamesIn(dir.path()), (std::vector<std::string>{kSent.string(), kInventory.string()}));

  TempDir empty;
  StoreError error;
  EXPECT_FALSE(CardStores::Open(empty.path(), &error, nullptr, StoreAccess::kReadOnly));
  EXPECT_NE(error.message.find("库存卡密.edb"), std::string::npos) << error.message;
  EXPECT_TRUE(FileNamesIn(empty.path()).empty());

  // A copy whose files and directory may not be written is read; a write fails, naming its file.
  // Its sent store comes from before the day index of the sales figures, which cannot be made now.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / kSent).c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP INDEX sent_cards_day", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  const std::string sentWithoutIndex = ReadBytes(dir / kSent);
  using std::filesystem::perms;
  const perms readOnly = perms::owner_read | perms::group_read | perms::others_read;
  std::filesystem::permissions(dir / kInventory, readOnly);
  std::filesystem::permissions(dir / kSent, readOnly);
  std::filesystem::permissions(dir.path(), readOnly | perms::owner_exec | perms::group_exec | perms::others_exec);
  std::string failure = InChildBoundByFilePermissions([&]() -> std::string {
    for (StoreAccess access : {StoreAccess::kReadWrite, StoreAccess::kReadOnly}) {
      StoreError e;
      auto stores = CardStores::Open(dir.path(), &e, nullptr, access);
      if (!stores) return e.message;
      if (stores->Inventory().Select(0, "").size() != 1) return "not listed: " + LastStoreError();
      if (!stores->SentCountsByItemAndDay("", "9")) return "not counted: " + LastStoreError();
      if (access == StoreAccess::kReadOnly) continue;
      if (stores->Inventory().AppendRecord(Card("B", "2")) != 0) return "a write-protected store was written";
      if (LastStoreError().rfind("库存卡密.edb: ", 0) != 0) return "the failed write names: " + LastStoreError();
    }
    return "";
  });
  std::filesystem::permissions(dir.path(), perms::owner_all);
  EXPECT_EQ(failure, "");
  EXPECT_TRUE(ReadBytes(dir / kInventory) == inventory) << "inventory changed";
  EXPECT_TRUE(ReadBytes(dir / kSent) == sentWithoutIndex) << "sent store changed";
  // Writable again: the first read-write open makes the index (the count then reads it alone).
  std::filesystem::permissions(dir / kSent, perms::owner_read | perms::owner_write);
  ASSERT_TRUE(OpenOrFail(dir.path()));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((dir / kSent).c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* plan = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "EXPLAIN QUERY PLAN SELECT f1, substr(f10, 1, 10), count(*) FROM sent_cards WHERE "
                               "substr(f10, 1, 10) >= ?1 AND substr(f10, 1, 10) < ?2 AND marked = 0 GROUP BY "
                               "substr(f10, 1, 10), f1",
                               -1, &plan, nullptr),
            SQLITE_OK);
  std::string steps;
  while (sqlite3_step(plan) == SQLITE_ROW) steps += reinterpret_cast<const char*>(sqlite3_column_text(plan, 3)) + std::string("\n");
  sqlite3_finalize(plan);
  sqlite3_close(db);
  EXPECT_NE(steps.find("USING INDEX sent_cards_day"), std::string::npos) << steps;
  EXPECT_EQ(steps.find("TEMP B-TREE"), std::string::npos) << steps;
}

struct DamageCase {
  const char* name;
  bool inventory;  // which file is damaged
  PageDamage damage;
};

class DamagedStore : public ::testing::TestWithParam<DamageCase> {};

// Damage at page 2 (the root of the records): open stores then fail every read of that file, naming
// it, while the other file reads on; opening again refuses the file and leaves it as it is.
TEST_P(DamagedStore, EveryReadFailsNamingTheFileAndOpeningRefusesIt) {
  const DamageCase& c = GetParam();
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  std::vector<std::vector<std::string>> cards, records;
  for (int i = 0; i < 3000; ++i) {
    cards.push_back(Card("A", "card-" + std::to_string(i), "secret-" + std::to_string(i)));
    records.push_back({"A", "o" + std::to_string(i % 3), "b", "1", "c" + std::to_string(i), "s", "n", "S", "T"});
  }
  ASSERT_EQ(stores->Inventory().AppendMany(cards), cards.size());
  ASSERT_EQ(stores->Sent().AppendMany(records), records.size());
  const std::filesystem::path file = dir / (c.inventory ? kInventory : kSent);
  const std::string name = c.inventory ? "库存卡密.edb" : "已发卡密.edb";
  DamagePage(file, 2, c.damage);
  const std::string damaged = ReadBytes(file);

  struct Probe {
    const char* what;
    bool readsInventory;
    std::function<bool()> gaveNothing;
  };
  const std::vector<Probe> probes = {
      {"FirstCardOf", true, [&] { return !stores->FirstCardOf("A"); }},
      {"CountCardsOf", true, [&] { return stores->CountCardsOf("A") == 0; }},
      {"CountCardsUpTo", true, [&] { return stores->CountCardsUpTo("A", 5) == 0; }},
      {"inventory Select", true, [&] { return stores->Inventory().Select(1, "A").empty(); }},
      {"SentRecordsOf", false, [&] { return stores->SentRecordsOf("o1", "S").empty(); }},
      {"sent Select", false, [&] { return stores->Sent().Select(2, "o2").empty(); }},
      {"inventory SelectNumbers", true, [&] { return !stores->Inventory().SelectNumbers(0, {}); }},
      {"sent ReadRecords", false, [&] { return !stores->Sent().ReadRecords({1, 2, 3000}); }},
      {"TakeCards", c.inventory,
       [&] { return stores->TakeCards("A", 1, c.inventory ? "new" : "o1", "b", "1", "n", "S", "T").empty(); }},
  };
  for (const Probe& probe : probes) {
    const bool gaveNothing = probe.gaveNothing();
    const std::string error = LastStoreError();
    if (probe.readsInventory == c.inventory) {
      EXPECT_TRUE(gaveNothing) << probe.what;
      EXPECT_EQ(error.rfind(name + ": ", 0), 0u) << probe.what << ": " << error;
    } else {
      EXPECT_FALSE(gaveNothing) << probe.what;
      EXPECT_EQ(error, "") << probe.what;
    }
  }
  stores->Close();

  for (StoreAccess access : {StoreAccess::kReadWrite, StoreAccess::kReadOnly}) {
    StoreError error;
    EXPECT_FALSE(CardStores::Open(dir.path(), &error, nullptr, access));
    EXPECT_EQ(error.message.rfind(name + " 已损坏: ", 0), 0u) << error.message;
  }
  EXPECT_TRUE(ReadBytes(file) == damaged) << "damaged file changed";
  EXPECT_EQ(FileNamesIn(dir.path()), (std::vector<std::string>{kSent.string(), kInventory.string()}));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, DamagedStore,
    ::testing::Values(DamageCase{"InventoryTailFlipped", true, PageDamage::kTailFlipped},
                      DamageCase{"InventoryPageOverwritten", true, PageDamage::kOverwritten},
                      DamageCase{"SentTailFlipped", false, PageDamage::kTailFlipped},
                      DamageCase{"SentPageOverwritten", false, PageDamage::kOverwritten}),
    [](const ::testing::TestParamInfo<DamageCase>& param) { return std::string(param.param.name); });

// ---- Records, order and the cursor ----

TEST(RecordStore, FieldsSurviveReopenByteForByteInStoreOrder) {
  TempDir dir;
  // GBK text, an embedded zero byte, a lone lead byte, spaces and an empty field.
  const std::vector<std::vector<std::string>> records = {
      Card("点卡", "\xB0\xA1 001", std::string("a\0b", 3), ""),
      Card("点卡", " 002 ", "\x81", "备注"),
      Card("Other", "003", "", "n"),
  };
  {
    auto stores = OpenOrFail(dir.path());
    for (auto& r : records) EXPECT_GT(stores->Inventory().AppendRecord(r), 0);
    stores->Close();
  }
  auto stores = OpenOrFail(dir.path());
  std::vector<RecordNumber> numbers;
  EXPECT_EQ(stores->Inventory().Select(0, "", &numbers), records);
  ASSERT_EQ(numbers.size(), 3u);
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
  EXPECT_EQ(stores->Inventory().ReadRecord(numbers[1]), records[1]);
}

namespace {

// A sent store as every installation wrote it before the hand-over fields: rn, nine fields, marked.
void MakeNineFieldSentStore(const std::filesystem::path& path, const std::vector<std::vector<std::string>>& records) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const char* sql =
      "PRAGMA journal_mode=DELETE; CREATE TABLE sent_cards (rn INTEGER PRIMARY KEY AUTOINCREMENT, f1 BLOB NOT NULL, "
      "f2 BLOB NOT NULL, f3 BLOB NOT NULL, f4 BLOB NOT NULL, f5 BLOB NOT NULL, f6 BLOB NOT NULL, f7 BLOB NOT NULL, "
      "f8 BLOB NOT NULL, f9 BLOB NOT NULL, marked INTEGER NOT NULL DEFAULT 0); "
      "CREATE INDEX sent_cards_f2 ON sent_cards(f2); PRAGMA application_id=1414939460; PRAGMA user_version=1;";
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO sent_cards (f1,f2,f3,f4,f5,f6,f7,f8,f9) VALUES (?,?,?,?,?,?,?,?,?)",
                               -1, &insert, nullptr),
            SQLITE_OK);
  for (const auto& r : records) {
    for (int i = 0; i < 9; ++i) {
      const std::string& f = r[static_cast<std::size_t>(i)];
      sqlite3_bind_blob(insert, i + 1, f.empty() ? "" : f.data(), static_cast<int>(f.size()), SQLITE_TRANSIENT);
    }
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  // A gap in the record numbers, as a deletion leaves.
  ASSERT_EQ(sqlite3_exec(db, "DELETE FROM sent_cards WHERE rn = 2", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

// The sent table's column names in table order, then "v" and the file's user_version.
std::vector<std::string> SentLayout(const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  std::vector<std::string> names;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info('sent_cards')", -1, &q, nullptr);
  while (sqlite3_step(q) == SQLITE_ROW) names.push_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
  sqlite3_finalize(q);
  sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &q, nullptr);
  if (sqlite3_step(q) == SQLITE_ROW) names.push_back("v" + std::to_string(sqlite3_column_int(q, 0)));
  sqlite3_finalize(q);
  sqlite3_close(db);
  return names;
}

}  // namespace

TEST(RecordStore, ANineFieldSentStoreIsListedAsItIsThenUpgradedOnceWithACopyKept) {
  TempDir dir;
  TempDir fresh;
  OpenOrFail(fresh.path())->Close();  // the files this program creates
  std::filesystem::copy_file(fresh / kInventory, dir / kInventory);
  std::vector<std::vector<std::string>> records;
  for (int i = 1; i <= 4; ++i) {
    const std::string n = std::to_string(i);
    records.push_back({"点卡", "o" + n, "买家" + n, "1", "k" + n, std::string("s\0", 2) + n, "", "旺旺发送", "2012年3月5日9时"});
  }
  MakeNineFieldSentStore(dir / kSent, records);
  records.erase(records.begin() + 1);
  for (auto& r : records) r.resize(11);  // the hand-over fields read empty
  const std::string oldBytes = ReadBytes(dir / kSent);
  auto readAll = [](CardStores& stores) {
    std::vector<RecordNumber> numbers;
    auto rows = stores.Sent().Select(0, "", &numbers);
    EXPECT_EQ(numbers, (std::vector<RecordNumber>{1, 3, 4}));
    return rows;
  };
  auto openReadOnly = [](const std::filesystem::path& at) {
    StoreError error;
    auto stores = CardStores::Open(at, &error, nullptr, StoreAccess::kReadOnly);
    EXPECT_TRUE(stores) << error.message;
    return stores;
  };

  // Listing reads it as it is and changes nothing.
  if (auto stores = openReadOnly(dir.path())) {
    EXPECT_EQ(readAll(*stores), records);
    EXPECT_EQ(stores->SentRecordsOf("o3", "旺旺发送").at(0).fields[10], "");
    EXPECT_EQ(stores->Sent().SelectNumbersBetween(10, "2000", "3000"), std::vector<RecordNumber>{});
    EXPECT_TRUE(stores->OpenNotes().empty());
  }
  EXPECT_TRUE(ReadBytes(dir / kSent) == oldBytes) << "listing changed the store";

  // Opened for writing: every record stays, in order, under its number; a copy of the file is kept.
  if (auto stores = OpenOrFail(dir.path())) {
    ASSERT_EQ(stores->OpenNotes().size(), 1u);
    EXPECT_NE(stores->OpenNotes()[0].find("已发卡密.edb.升级前备份"), std::string::npos) << stores->OpenNotes()[0];
    EXPECT_EQ(readAll(*stores), records);
    const SentHandOver handOver{"2026-01-02 03:04:05", std::string(kHandOverByMail)};
    EXPECT_TRUE(stores->SetSentStatus({3}, "邮件发送", "T", &handOver));
    EXPECT_EQ(stores->Sent().ReadRecord(3)->at(10), "邮件");
  }
  // The layout of a store this program creates: one format, whichever way a file came to it.
  EXPECT_EQ(SentLayout(dir / kSent), SentLayout(fresh / kSent));
  EXPECT_EQ(SentLayout(dir / kSent).back(), "v2");

  // The copy is the store as it was: nine fields, the first version, the same records.
  const std::filesystem::path copy = dir / std::filesystem::path(u8"已发卡密.edb.升级前备份");
  TempDir before;
  std::filesystem::copy_file(copy, before / kSent);
  std::filesystem::copy_file(fresh / kInventory, before / kInventory);
  EXPECT_EQ(SentLayout(before / kSent).back(), "v1");
  if (auto stores = openReadOnly(before.path())) {
    EXPECT_EQ(readAll(*stores), records);
  }

  // Once only: opening again neither upgrades nor copies.
  if (auto stores = OpenOrFail(dir.path())) {
    EXPECT_TRUE(stores->OpenNotes().empty());
  }
  EXPECT_EQ(FileNamesIn(dir.path()), (std::vector<std::string>{kSent.string(), copy.filename().string(), kInventory.string()}));
}

TEST(RecordStore, CursorWalksForwardAndBackInStoreOrder) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  RecordStore& inv = stores->Inventory();
  inv.GoFirst();
  EXPECT_TRUE(inv.AtEnd());
  EXPECT_EQ(inv.CurrentRecordNumber(), 0);
  EXPECT_EQ(inv.ReadField(2), "");

  for (const char* n : {"1", "2", "3", "4"}) inv.AppendRecord(Card("A", n));
  inv.GoFirst();
  std::vector<std::string> seen;
  for (std::int64_t i = 0; i < inv.RecordCount(); ++i, inv.Skip()) seen.push_back(inv.ReadField(2));
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_TRUE(inv.AtEnd());

  inv.Skip(-1);
  EXPECT_EQ(inv.ReadField(2), "4");
  inv.Skip(-2);
  EXPECT_EQ(inv.ReadField(2), "2");
  inv.Skip(2);
  EXPECT_EQ(inv.ReadField(2), "4");
  inv.Skip(-10);
  EXPECT_EQ(inv.CurrentRecordNumber(), 0);
  EXPECT_FALSE(inv.AtEnd());
  inv.Skip();
  EXPECT_EQ(inv.ReadField(2), "1");
  EXPECT_EQ(inv.ReadField(0), "");
  EXPECT_EQ(inv.ReadField(5), "");
}

TEST(RecordStore, FindNextIsByteExactCaseSensitiveAndIncludesTheCurrentRecord) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  RecordStore& inv = stores->Inventory();
  for (auto& card : {Card("abc", "1"), Card("Abc", "2"), Card("Abc ", "3"), Card("Abc", "4"), Card("", "5")}) {
    inv.AppendRecord(card);
  }
  inv.GoFirst();
  std::vector<std::string> hits;
  while (inv.FindNext(1, "Abc")) {
    hits.push_back(inv.ReadField(2));
    EXPECT_TRUE(inv.FindNext(1, "Abc"));  // the current record counts
    EXPECT_EQ(inv.ReadField(2), hits.back());
    inv.Skip();
  }
  EXPECT_EQ(hits, (std::vector<std::string>{"2", "4"}));
  EXPECT_TRUE(inv.AtEnd());

  inv.GoFirst();
  EXPECT_TRUE(inv.FindNext(1, ""));
  EXPECT_EQ(inv.ReadField(2), "5");
  inv.GoFirst();
  EXPECT_FALSE(inv.FindNext(1, "ABC"));
  EXPECT_EQ(Column(inv.Select(1, "Abc"), 2), (std::vector<std::string>{"2", "4"}));
}

TEST(RecordStore, StaleRecordNumbersFindAndChangeNothing) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  RecordStore& inv = stores->Inventory();
  RecordNumber a = inv.AppendRecord(Card("A", "1"));
  RecordNumber b = inv.AppendRecord(Card("A", "2"));
  ASSERT_EQ(inv.DeleteRecords({b}), 1u);
  // The last number is not handed out again.
  RecordNumber c = inv.AppendRecord(Card("A", "3"));
  EXPECT_GT(c, b);

  EXPECT_FALSE(inv.GoToRecordNumber(b));
  EXPECT_FALSE(inv.ModifyRecord(Card("X", "X")));
  EXPECT_FALSE(inv.MarkDeleted());
  EXPECT_FALSE(inv.WriteRecord(b, Card("X", "X")));
  EXPECT_FALSE(inv.ReadRecord(b));
  EXPECT_EQ(inv.DeleteRecords({b, b + 1000}), 0u);
  EXPECT_EQ(inv.ModifyFieldsOf({b}, {std::string("X")}), std::optional<std::size_t>(0));
  inv.Pack();
  EXPECT_EQ(Column(inv.Select(0, ""), 2), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(Column(inv.Select(0, ""), 1), (std::vector<std::string>{"A", "A"}));
  // The list windows' reads: numbers in store order, a page in the order asked, a stale number missing;
  // reading leaves the write mark as it is.
  const auto mark = stores->WriteMark();
  ASSERT_TRUE(mark);
  EXPECT_EQ(inv.SelectNumbers(1, "A"), (std::optional<std::vector<RecordNumber>>{{a, c}}));
  EXPECT_EQ(inv.SelectNumbers(2, "2"), std::optional<std::vector<RecordNumber>>(std::vector<RecordNumber>{}));
  EXPECT_EQ(inv.ReadRecords({c, b, a}),
            (std::optional<std::vector<std::optional<std::vector<std::string>>>>{
                {Card("A", "3"), std::nullopt, Card("A", "1")}}));
  EXPECT_EQ(stores->WriteMark(), mark);
  inv.AppendRecord(Card("A", "4"));
  EXPECT_NE(stores->WriteMark(), mark);

  ASSERT_TRUE(inv.GoToRecordNumber(a));
  EXPECT_TRUE(inv.ModifyRecord(Card("B", "1b", "s2", "n2")));
  EXPECT_EQ(inv.ReadRecord(a), Card("B", "1b", "s2", "n2"));
}

TEST(RecordStore, MarkedRecordsStayUntilPackAndAreNeverDelivered) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  RecordStore& inv = stores->Inventory();
  inv.AppendRecord(Card("A", "1"));
  inv.AppendRecord(Card("A", "2"));
  inv.GoFirst();
  ASSERT_TRUE(inv.MarkDeleted());
  EXPECT_EQ(inv.RecordCount(), 2);
  EXPECT_EQ(stores->CountCardsOf("A"), 1);
  EXPECT_EQ(stores->CountCardsUpTo("A", 5), 1);
  EXPECT_EQ(stores->FirstCardOf("A")->Field(2), "2");
  EXPECT_TRUE(stores->TakeCards("A", 2, "o", "b", "2", "n", "S", "T").empty());

  inv.Pack();
  EXPECT_EQ(inv.RecordCount(), 1);
  stores.reset();
  stores = OpenOrFail(dir.path());
  EXPECT_EQ(Column(stores->Inventory().Select(0, ""), 2), std::vector<std::string>{"2"});

  // A sent record marked for deletion does not count as a record of its order either.
  RecordStore& sent = stores->Sent();
  ASSERT_TRUE(sent.GoToRecordNumber(sent.AppendRecord({"A", "m", "b", "1", "0", "s", "n", "S", "T"})));
  ASSERT_TRUE(sent.MarkDeleted());
  EXPECT_EQ(stores->TakeCards("A", 1, "m", "b", "1", "n", "S", "T").size(), 1u);

  // A count that stops at its limit.
  for (const char* n : {"1", "2", "3"}) stores->Inventory().AppendRecord(Card("L", n));
  EXPECT_EQ(stores->CountCardsUpTo("L", 2), 2);
  EXPECT_EQ(stores->CountCardsUpTo("L", 4), 3);
  EXPECT_EQ(stores->CountCardsUpTo("L", 0), 0);
}

TEST(RecordStore, TheTwoStoresNeverMix) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  RecordStore& inv = stores->Inventory();
  RecordStore& sent = stores->Sent();
  EXPECT_EQ(inv.FieldCount(), 4u);
  EXPECT_EQ(sent.FieldCount(), 11u);
  inv.AppendRecord(Card("A", "1"));
  RecordNumber second = inv.AppendRecord(Card("A", "2"));
  sent.AppendRecord({"A", "o", "b", "1", "1", "s", "n", "S", "T"});
  // Wrong field counts are refused instead of padded or cut.
  EXPECT_EQ(inv.AppendRecord({"A", "o", "b", "1", "1", "s", "n", "S", "T"}), 0);
  EXPECT_FALSE(LastStoreError().empty());
  EXPECT_EQ(sent.AppendRecord(Card("A", "3")), 0);
  EXPECT_FALSE(sent.WriteRecord(1, Card("A", "3")));

  // A number of the inventory means nothing to the sent store.
  EXPECT_EQ(sent.DeleteRecords({second}), 0u);
  EXPECT_FALSE(sent.GoToRecordNumber(second));
  EXPECT_FALSE(sent.MarkDeleted());
  sent.Pack();
  EXPECT_EQ(inv.RecordCount(), 2);
  EXPECT_EQ(sent.RecordCount(), 1);
  EXPECT_TRUE(sent.Select(1, "A").size() == 1 && inv.Select(1, "A").size() == 2);

  // Each store keeps its own cursor.
  inv.GoFirst();
  sent.GoFirst();
  sent.Skip();
  EXPECT_EQ(inv.ReadField(2), "1");
  EXPECT_TRUE(sent.AtEnd());
}

// ---- Moving cards from the inventory to the sent store ----

TEST(TakeCards, TakesWholeOrdersOnlyFirstCardsFirst) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  RecordStore& inv = stores->Inventory();
  for (auto& card : {Card("A", "1", "s1"), Card("B", "x"), Card("A", "2", "s2"), Card("a", "y"), Card("A", "3", "s3")}) {
    inv.AppendRecord(card);
  }
  EXPECT_TRUE(stores->TakeCards("A", 4, "o1", "buyer", "4", "note", "发货中", "T").empty());
  EXPECT_EQ(LastStoreError(), "");
  EXPECT_EQ(inv.RecordCount(), 5);
  EXPECT_EQ(stores->Sent().RecordCount(), 0);
  EXPECT_TRUE(stores->TakeCards("A", 0, "o1", "buyer", "0", "note", "发货中", "T").empty());
  EXPECT_EQ(inv.RecordCount(), 5);

  auto taken = stores->TakeCards("A", 2, "o1", "buyer", "2件", "note", "发货中", "T1");
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].fields,
            (std::array<std::string, 11>{"A", "o1", "buyer", "2件", "1", "s1", "note", "发货中", "T1", "", ""}));
  EXPECT_EQ(taken[1].Field(5), "2");
  EXPECT_EQ(stores->Sent().ReadRecord(taken[1].recordNumber),
            (std::vector<std::string>(taken[1].fields.begin(), taken[1].fields.end())));
  EXPECT_EQ(Column(inv.Select(0, ""), 2), (std::vector<std::string>{"x", "y", "3"}));
  EXPECT_EQ(stores->CountCardsOf("A"), 1);
  EXPECT_EQ(stores->FirstCardOf("A")->Field(3), "s3");
  EXPECT_FALSE(stores->FirstCardOf("A "));
}

TEST(TakeCards, AReusableItemsCodesTakeTurnsAndStayInStock) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  RecordStore& inv = stores->Inventory();
  for (auto& card : {Card("R", "1", "s1"), Card("B", "x"), Card("R", "2", "s2"), Card("R", "3", "s3")}) {
    inv.AppendRecord(card);
  }
  // A sent record of another item with one of R's codes does not move R's turn.
  stores->Sent().AppendRecord({"B", "old", "b", "1", "1", "s1", "n", "S", "T"});
  struct Row {
    std::string order;
    std::size_t quantity;
    std::vector<std::string> codes;  // card numbers the order gets, in turn
  };
  const std::vector<Row> rows = {
      {"o1", 2, {"1", "2"}},
      {"o2", 5, {"3", "1", "2", "3", "1"}},  // more than the item has: round again
      {"o3", 1, {"2"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.order);
    auto taken = stores->TakeReusableCards("R", row.quantity, row.order, "buyer", std::to_string(row.quantity), "n",
                                           "发货中", "T");
    std::vector<std::string> codes;
    for (const auto& r : taken) {
      codes.push_back(r.Field(5));
      EXPECT_EQ(r.Field(6), "s" + r.Field(5));
      EXPECT_EQ(stores->Sent().ReadRecord(r.recordNumber)->at(1), row.order);
    }
    EXPECT_EQ(codes, row.codes);
  }
  EXPECT_EQ(stores->CountCardsOf("R"), 3);
  EXPECT_EQ(stores->Sent().RecordCount(), 9);
  // Same refusal of an order that has records; an ordinary item's take still moves its card.
  EXPECT_TRUE(stores->TakeReusableCards("R", 1, "o2", "b", "1", "n", "发货中", "T").empty());
  EXPECT_EQ(LastStoreError(), kOrderAlreadyHasRecords);
  EXPECT_EQ(stores->TakeCards("B", 1, "o4", "b", "1", "n", "发货中", "T").size(), 1u);
  EXPECT_EQ(stores->CountCardsOf("B"), 0);
  // The latest code gone from stock: the turn starts again at the first code.
  auto rNumbers = stores->Inventory().SelectNumbers(1, "R");
  ASSERT_TRUE(rNumbers && rNumbers->size() == 3u);
  EXPECT_EQ(inv.DeleteRecords({(*rNumbers)[1]}), 1u);
  auto again = stores->TakeReusableCards("R", 1, "o5", "b", "1", "n", "发货中", "T");
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].Field(5), "1");
  // No code at all is a shortage, not a failure.
  EXPECT_TRUE(stores->TakeReusableCards("B", 1, "o6", "b", "1", "n", "发货中", "T").empty());
  EXPECT_EQ(LastStoreError(), "");
}

TEST(TakeCards, SentStatusTouchesOnlyTheGivenRecords) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  for (int i = 0; i < 4; ++i) stores->Inventory().AppendRecord(Card("A", std::to_string(i)));
  auto first = stores->TakeCards("A", 2, "o1", "b", "2", "n", "发货中", "T0");
  auto second = stores->TakeCards("A", 2, "o2", "b", "2", "n", "发货中", "T0");
  ASSERT_EQ(first.size() + second.size(), 4u);

  EXPECT_EQ(stores->SentRecordsOf("o1", "发货中").size(), 2u);
  const SentHandOver handOver{"2026-03-04 05:06:07", std::string(kHandOverByChat)};
  EXPECT_TRUE(stores->SetSentStatus({first[0].recordNumber, first[1].recordNumber}, "旺旺发送", "T1", &handOver));
  EXPECT_TRUE(stores->SentRecordsOf("o1", "发货中").empty());
  EXPECT_EQ(stores->SentRecordsOf("o1", "旺旺发送").size(), 2u);
  auto others = stores->SentRecordsOf("o2", "发货中");
  ASSERT_EQ(others.size(), 2u);
  EXPECT_EQ(others[0].Field(9), "T0");
  EXPECT_EQ(stores->Sent().ReadRecord(first[0].recordNumber)->at(8), "T1");
  EXPECT_EQ(stores->Sent().ReadRecord(first[0].recordNumber)->at(9), "2026-03-04 05:06:07");
  EXPECT_EQ(stores->Sent().ReadRecord(first[1].recordNumber)->at(10), "旺旺");
  EXPECT_EQ(others[0].Field(10), "");  // not handed over yet
  // Without a hand-over the two fields stay as they are.
  EXPECT_TRUE(stores->SetSentStatus({first[0].recordNumber}, "旺旺发送", "T1b"));
  EXPECT_EQ(stores->Sent().ReadRecord(first[0].recordNumber)->at(10), "旺旺");
  // A day's range by byte order of 交付时间: the day itself, not the days around it.
  EXPECT_EQ(stores->Sent().SelectNumbersBetween(10, "2026-03-04", "2026-03-05"),
            (std::vector<RecordNumber>{first[0].recordNumber, first[1].recordNumber}));
  EXPECT_EQ(stores->Sent().SelectNumbersBetween(10, "2026-03-05", "2026-03-06"), std::vector<RecordNumber>{});
  // A number that is gone is an error that names it, and nothing of the batch is written.
  stores->Sent().DeleteRecords({first[1].recordNumber});
  EXPECT_FALSE(stores->SetSentStatus({first[0].recordNumber, first[1].recordNumber}, "邮件发送", "T2"));
  EXPECT_NE(LastStoreError().find("第" + std::to_string(first[1].recordNumber) + "条发货记录已不存在"), std::string::npos)
      << LastStoreError();
  EXPECT_EQ(stores->Sent().RecordCount(), 3);
  EXPECT_TRUE(stores->SentRecordsOf("o1", "邮件发送").empty());
  EXPECT_EQ(stores->SentRecordsOf("o1", "旺旺发送").size(), 1u);
}

TEST(TakeCards, ThreadsSharingTheStoresNeverTakeACardTwice) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  std::vector<std::vector<std::string>> cards;
  for (int i = 0; i < 61; ++i) cards.push_back(Card("A", std::to_string(i)));
  ASSERT_EQ(stores->Inventory().AppendMany(cards), 61u);

  std::vector<std::vector<SentRecord>> results(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      // Bounded: takes that never left the inventory must not loop for ever.
      for (int order = 0; order < 61; ++order) {
        auto taken = stores->TakeCards("A", 3, std::to_string(t) + "-" + std::to_string(order), "b", "3", "n", "S", "T");
        if (taken.empty()) break;
        results[static_cast<std::size_t>(t)].insert(results[static_cast<std::size_t>(t)].end(), taken.begin(), taken.end());
        // The window thread reads meanwhile.
        stores->Inventory().GoFirst();
        stores->Inventory().ReadField(2);
      }
    });
  }
  test::JoinWithin(threads, "the taking threads");
  std::set<std::string> numbers;
  std::size_t total = 0;
  for (auto& r : results) {
    total += r.size();
    for (auto& record : r) numbers.insert(record.Field(5));
  }
  EXPECT_EQ(total, 60u);
  EXPECT_EQ(numbers.size(), 60u);
  EXPECT_EQ(stores->Inventory().RecordCount(), 1);
  EXPECT_EQ(stores->Sent().RecordCount(), 60);
}

// Two connections (as two processes would) take for the same orders at once: each order gets one set.
TEST(TakeCards, TwoConnectionsNeverHandOutTwoSetsForOneOrder) {
  constexpr int kOrders = 30;
  TempDir dir;
  std::vector<std::vector<std::string>> cards;
  for (int i = 0; i < 4 * kOrders; ++i) cards.push_back(Card("A", std::to_string(i)));
  ASSERT_EQ(OpenOrFail(dir.path())->Inventory().AppendMany(cards), cards.size());
  std::unique_ptr<CardStores> connections[2] = {OpenOrFail(dir.path()), OpenOrFail(dir.path())};
  ASSERT_TRUE(connections[0] && connections[1]);

  std::atomic<int> sets{0};
  std::vector<std::string> refusals[2];
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int order = 0; order < kOrders; ++order) {
        auto taken = connections[t]->TakeCards("A", 2, std::to_string(order), "b", "2", "n", "S", "T");
        if (!taken.empty()) ++sets;
        else refusals[t].push_back(LastStoreError());
      }
    });
  }
  test::JoinWithin(threads, "the taking threads");
  EXPECT_EQ(sets.load(), kOrders);
  for (auto& r : refusals) {
    for (auto& error : r) EXPECT_EQ(error, kOrderAlreadyHasRecords);
  }
  for (int order = 0; order < kOrders; ++order) {
    EXPECT_EQ(connections[0]->Sent().Select(2, std::to_string(order)).size(), 2u) << order;
  }
  EXPECT_EQ(connections[1]->Inventory().RecordCount(), 2 * kOrders);
}

// A write the sent store refuses (locked by another writer, or write-protected) names that file.
TEST(TakeCards, ASentStoreThatCannotBeWrittenIsTheFileNamed) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  ASSERT_EQ(stores->Inventory().AppendMany({Card("A", "1"), Card("A", "2")}), 2u);
  auto expectSentNamed = [](const std::string& error) {
    return error.rfind("已发卡密.edb: ", 0) == 0 && error.find("库存卡密.edb") == std::string::npos;
  };

  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dir / kSent).c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_TRUE(stores->TakeCards("A", 1, "o1", "b", "1", "n", "S", "T").empty());
  EXPECT_TRUE(expectSentNamed(LastStoreError())) << LastStoreError();
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(stores->CountCardsOf("A"), 2);
  stores->Close();

  std::filesystem::permissions(dir / kSent, std::filesystem::perms::owner_read);
  std::string failure = InChildBoundByFilePermissions([&]() -> std::string {
    StoreError e;
    auto child = CardStores::Open(dir.path(), &e);
    if (!child) return e.message;
    if (!child->TakeCards("A", 1, "o1", "b", "1", "n", "S", "T").empty()) return "taken into a write-protected store";
    if (!expectSentNamed(LastStoreError())) return "the failed take names: " + LastStoreError();
    return child->CountCardsOf("A") == 2 ? "" : "cards left the inventory";
  });
  EXPECT_EQ(failure, "");
}

// The disk fills up while the take commits: no card leaves the inventory, the sent store gains
// nothing, and the take reports the failure instead of records.
TEST(TakeCards, ACommitThatFailsTakesNothingAndSaysSo) {
  TempDir dir;
  {
    auto stores = OpenOrFail(dir.path());
    // A sent store larger than any journal of one take, and a card too big for the pages it has.
    std::vector<std::vector<std::string>> sent;
    for (int i = 0; i < 2000; ++i) {
      sent.push_back({"X", "old" + std::to_string(i), "b", "1", "c" + std::to_string(i), "s", "", "旺旺发送", "T"});
    }
    ASSERT_EQ(stores->Sent().AppendMany(sent), sent.size());
    ASSERT_EQ(stores->Inventory().AppendMany({Card("A", "1", std::string(20000, 'k')), Card("A", "2")}), 2u);
  }
  const std::uint64_t sentSize = std::filesystem::file_size(dir / kSent);
  const std::string failure = InChildWithFileSizeLimit(sentSize, [&]() -> std::string {
    StoreError e;
    auto child = CardStores::Open(dir.path(), &e);
    if (!child) return e.message;
    if (!child->TakeCards("A", 1, "o1", "b", "1", "n", "发货中", "T").empty()) return "a take whose commit failed gave records";
    if (LastStoreError().find("已发卡密.edb") == std::string::npos) return "the failed commit says: " + LastStoreError();
    return "";
  });
  EXPECT_EQ(failure, "");

  auto stores = OpenOrFail(dir.path());
  EXPECT_EQ(stores->CountCardsOf("A"), 2);
  EXPECT_TRUE(stores->Sent().Select(2, "o1").empty());
  EXPECT_EQ(stores->Sent().RecordCount(), 2000);
  // With room on the disk again the same take goes through.
  EXPECT_EQ(stores->TakeCards("A", 1, "o1", "b", "1", "n", "发货中", "T").size(), 1u);
}

TEST(TakeCards, ClosedStoresFailLoudly) {
  TempDir dir;
  auto stores = OpenOrFail(dir.path());
  stores->Inventory().AppendRecord(Card("A", "1"));
  stores->Close();
  EXPECT_TRUE(stores->TakeCards("A", 1, "o", "b", "1", "n", "S", "T").empty());
  EXPECT_FALSE(LastStoreError().empty());
  EXPECT_EQ(stores->Inventory().AppendRecord(Card("A", "2")), 0);
  EXPECT_FALSE(stores->SetSentStatus({1}, "S", "T"));
}

// A child process takes cards in a loop and is killed at a random moment; afterwards every card
// must be in exactly one of the two stores, and no file but the stores may be left for good.
TEST(TakeCards, KillAtAnyMomentLosesAndDuplicatesNothing) {
  constexpr int kCards = 3000;
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 5; ++round) {
    TempDir dir;
    {
      auto stores = OpenOrFail(dir.path());
      std::vector<std::vector<std::string>> cards;
      for (int i = 0; i < kCards; ++i) cards.push_back(Card(i % 2 ? "A" : "B", "card-" + std::to_string(i)));
      ASSERT_EQ(stores->Inventory().AppendMany(cards), static_cast<std::size_t>(kCards));
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      StoreError error;
      auto stores = CardStores::Open(dir.path(), &error);
      if (!stores) _exit(2);
      for (int i = 0;; ++i) {
        stores->TakeCards(i % 2 ? "A" : "B", 1 + i % 3, "o" + std::to_string(i), "b", "q", "n", "发货中", "T");
        auto pending = stores->SentRecordsOf("o" + std::to_string(i), "发货中");
        std::vector<RecordNumber> numbers;
        for (auto& r : pending) numbers.push_back(r.recordNumber);
        stores->SetSentStatus(numbers, "旺旺发送", "T2");
      }
    }
    std::uniform_int_distribution<int> delay(20, 400);
    usleep(static_cast<useconds_t>(delay(random)) * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself: " << status;

    auto stores = OpenOrFail(dir.path());
    ASSERT_TRUE(stores);
    std::set<std::string> numbers;
    auto inventory = stores->Inventory().Select(0, "");
    auto sent = stores->Sent().Select(0, "");
    for (auto& r : inventory) numbers.insert(r[1]);
    for (auto& r : sent) numbers.insert(r[4]);
    EXPECT_EQ(inventory.size() + sent.size(), static_cast<std::size_t>(kCards)) << "round " << round;
    EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kCards)) << "round " << round;
    stores->Close();
    // Opening rolled back any interrupted transaction; nothing but the two stores stays.
    EXPECT_EQ(FileNamesIn(dir.path()), (std::vector<std::string>{kSent.string(), kInventory.string()}));
  }
}
