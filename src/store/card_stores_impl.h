// Both stores of a data directory on one connection, behind one lock: the inventory and the sent
// records as record stores, and the card operations that work on them (the take across both, adding
// with duplicate look-up, the delivery queries, the sent status, the write mark). Its members are
// defined by responsibility: store_open.cpp (connecting; store_upgrade.cpp brings an older file up to date), card_inventory.cpp, sent_records.cpp,
// card_take.cpp, sales_stats.cpp. Used only inside src/store.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "store/record_store.h"
#include "store/sqlite_record_store.h"
#include "store/store_connection.h"
#include "store/store_schema.h"

namespace torvane::store_sqlite {

class CardStoresImpl final : public CardStores {
 public:
  CardStoresImpl(const std::filesystem::path& dataDir)
      : inventory_(*this, kInventorySchema, dataDir / kInventoryFileName),
        sent_(*this, kSentSchema, dataDir / kSentFileName) {}
  ~CardStoresImpl() override { Close(); }

  // store_open.cpp
  bool Connect(const std::filesystem::path& dataDir, StoreAccess access, StoreError* error);

  RecordStore& Inventory() override { return inventory_; }
  RecordStore& Sent() override { return sent_; }

  // card_take.cpp
  std::vector<SentRecord> TakeCards(const std::string& item, std::size_t count, const std::string& orderNumber,
                                    const std::string& buyer, const std::string& quantityText,
                                    const std::string& note, const std::string& status,
                                    const std::string& time) override;
  std::vector<SentRecord> TakeReusableCards(const std::string& item, std::size_t count,
                                            const std::string& orderNumber, const std::string& buyer,
                                            const std::string& quantityText, const std::string& note,
                                            const std::string& status, const std::string& time) override;
  std::optional<std::array<std::int64_t, 3>> WriteMark() override;
  // card_inventory.cpp
  std::optional<AddCardsResult> AddCards(const std::vector<std::vector<std::string>>& cards, DuplicatePolicy policy,
                                         const std::function<void(std::size_t)>& progress) override;
  std::optional<CardRecord> FirstCardOf(const std::string& item) override;
  std::int64_t CountCardsOf(const std::string& item) override;
  std::int64_t CountCardsUpTo(const std::string& item, std::int64_t limit) override;
  // sent_records.cpp
  std::vector<SentRecord> SentRecordsOf(const std::string& orderNumber, const std::string& status) override;
  bool SetSentStatus(const std::vector<RecordNumber>& numbers, const std::string& status, const std::string& time,
                     const SentHandOver* handOver) override;

  // sales_stats.cpp
  std::optional<std::vector<std::pair<std::string, std::int64_t>>> CardCountsByItem() override;
  std::optional<std::vector<ItemDayCount>> SentCountsByItemAndDay(const std::string& from,
                                                                  const std::string& to) override;

  std::vector<std::string> OpenNotes() const override { return openNotes_; }

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
  // What the sent records of a take say about the order.
  struct TakeOrder {
    const std::string& number;
    const std::string& buyer;
    const std::string& quantityText;
    const std::string& note;
    const std::string& status;
    const std::string& time;
  };
  // card_take.cpp: TakeCards, or with reusable TakeReusableCards.
  std::vector<SentRecord> Take(const std::string& item, std::size_t count, const TakeOrder& order, bool reusable);

  std::mutex mu_;
  Connection db_;
  SqliteRecordStore inventory_;
  SqliteRecordStore sent_;
  std::vector<std::string> openNotes_;  // written by Connect only
};

}  // namespace torvane::store_sqlite
