// The two card stores: 库存卡密.edb (inventory, CardRecord) and 已发卡密.edb (sent, SentRecord).
// Each file is a SQLite database in rollback-journal mode, so a store is a single file at rest.
//
// Marked records: MarkDeleted only marks; the record stays visible to the cursor, Select and
// ReadRecord until Pack removes it for good. The delivery helpers of CardStores (TakeCards,
// FirstCardOf, CountCardsOf, SentRecordsOf) never see a marked record: a card the seller is
// deleting must not reach a buyer.
//
// Failures: every operation reports failure by its result (false, 0, empty); LastStoreError()
// tells why, starting with the name of the file that failed (empty when the last store operation
// of the calling thread succeeded). A read that fails (damaged file, I/O error, lock held too long)
// is such a failure, never an empty result.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvane {

using RecordNumber = std::int64_t;

// Fields of a record by 1-based position; every field is GBK text.
template <std::size_t N>
struct Record {
  static constexpr std::size_t kFieldCount = N;
  RecordNumber recordNumber = 0;
  std::array<std::string, N> fields;
  const std::string& Field(std::size_t position) const { return fields.at(position - 1); }
  std::string& Field(std::size_t position) { return fields.at(position - 1); }
};

// 宝贝名称, 宝贝卡号, 宝贝卡密, 宝贝备注.
using CardRecord = Record<4>;
// 宝贝名称, 订单编号, 客户旺旺, 数量, 所发卡号, 所发卡密, 所发备注, 发货方式, 发货时间, then
// 交付时间 (when the code was handed over, "YYYY-MM-DD HH:MM:SS" local time) and 交付渠道 (how: one of
// the texts below). Both are empty until a code is handed over, and in records older than the two.
using SentRecord = Record<11>;
// The nine fields every sent store had before the two hand-over fields came.
inline constexpr std::size_t kSentBaseFieldCount = 9;
inline constexpr std::string_view kHandOverByChat = "旺旺";
inline constexpr std::string_view kHandOverByMail = "邮件";
inline constexpr std::string_view kHandOverResend = "重新发送";

// When and how codes were handed over: fields 10 and 11 of their sent records.
struct SentHandOver {
  std::string time;
  std::string channel;
};

inline constexpr std::u8string_view kInventoryFileName = u8"库存卡密.edb";
inline constexpr std::u8string_view kSentFileName = u8"已发卡密.edb";

// One store file with a fixed number of text fields per record. Records keep store order
// (ascending record numbers); a record number is never reused, so a stale number finds nothing.
// Cursor operations mirror the classic record-store interface; set operations serve the windows.
class RecordStore {
 public:
  virtual ~RecordStore() = default;

  virtual std::size_t FieldCount() const = 0;
  // Path the store was opened with: data directory / u8 file name (filename() is e.g. 库存卡密.edb).
  virtual std::filesystem::path FilePath() const = 0;

  // Cursor: position is before the first record, on a record, or after the last.
  virtual std::int64_t RecordCount() = 0;
  virtual void GoFirst() = 0;
  virtual void Skip(std::int64_t count = 1) = 0;
  virtual bool AtEnd() = 0;
  virtual RecordNumber CurrentRecordNumber() = 0;  // 0 when not on a record
  // A number that no longer exists gives false and leaves the cursor on no record (after the last),
  // so a following ModifyRecord or MarkDeleted changes nothing.
  virtual bool GoToRecordNumber(RecordNumber number) = 0;
  virtual std::string ReadField(std::size_t position) = 0;  // "" when not on a record
  // From the current record (included) forward, the first whose field equals text byte for byte.
  // When none matches the cursor ends after the last record.
  virtual bool FindNext(std::size_t position, const std::string& text) = 0;
  // Adds a record at the end and makes it current; 0 on failure (also when the field count is wrong).
  // A sent record may be given with its first nine fields only: the hand-over fields stay empty (and
  // a ModifyRecord or WriteRecord so given leaves them as they are).
  virtual RecordNumber AppendRecord(const std::vector<std::string>& fields) = 0;
  virtual bool ModifyRecord(const std::vector<std::string>& fields) = 0;  // current record
  virtual bool MarkDeleted() = 0;                                          // current record
  virtual void Pack() = 0;

  // Whole-set helpers, each one transaction.
  // Records whose field at position equals text (position 0: every record), in store order;
  // empty on a store failure.
  virtual std::vector<std::vector<std::string>> Select(std::size_t position, const std::string& text,
                                                       std::vector<RecordNumber>* numbers = nullptr) = 0;
  // Appends many records in one transaction; progress(done) is called now and then. Returns how many
  // (0 when any record has the wrong field count or the store fails: then nothing is added).
  // progress runs on the calling thread while the stores are locked: it must not use them.
  virtual std::size_t AppendMany(const std::vector<std::vector<std::string>>& records,
                                 const std::function<void(std::size_t)>& progress = {}) = 0;
  // Deletes the records with these numbers (missing numbers are ignored); returns how many went.
  virtual std::size_t DeleteRecords(const std::vector<RecordNumber>& numbers) = 0;
  // Reads one record by number; nullopt when it no longer exists.
  virtual std::optional<std::vector<std::string>> ReadRecord(RecordNumber number) = 0;
  // Overwrites one record by number; false (and nothing changed) when it no longer exists.
  virtual bool WriteRecord(RecordNumber number, const std::vector<std::string>& fields) = 0;

  // Windowed reads for the list windows: the numbers of a whole list, then its rows page by page.
  // Numbers of the records whose field at position equals text byte for byte (position 0: every
  // record), in store order; nullopt on a store failure (LastStoreError() names the file).
  virtual std::optional<std::vector<RecordNumber>> SelectNumbers(std::size_t position, const std::string& text) = 0;
  // Numbers of the records whose field at position lies in [from, to) by byte order, in store order
  // (a date range over field 10 of the sent store); nullopt on a store failure.
  virtual std::optional<std::vector<RecordNumber>> SelectNumbersBetween(std::size_t position, const std::string& from,
                                                                        const std::string& to) = 0;
  // The fields of the records with these numbers, in the order given, under one lock; an entry is
  // nullopt when its record no longer exists. nullopt on a store failure.
  virtual std::optional<std::vector<std::optional<std::vector<std::string>>>> ReadRecords(
      const std::vector<RecordNumber>& numbers) = 0;

  // For each record with one of these numbers that still exists, replaces the fields whose entry in
  // values (index = position - 1) holds a text and keeps the others; one transaction. Missing numbers
  // change nothing. Returns how many records were changed; nullopt (and nothing changed) on failure.
  virtual std::optional<std::size_t> ModifyFieldsOf(const std::vector<RecordNumber>& numbers,
                                                    const std::vector<std::optional<std::string>>& values);
};

// Why the calling thread's last store operation failed; empty after a success.
std::string LastStoreError();

// TakeCards refuses to take cards for an order that already has sent records (marked records do
// not count): the result is empty and LastStoreError() is exactly this text. The check and the
// take are one transaction, so even two processes never hand out two sets for one order.
inline constexpr std::string_view kOrderAlreadyHasRecords = "该订单已有发货记录";

// What CardStores::AddCards does with duplicates: cards whose number and secret (fields 2 and 3)
// already stand in the inventory, among the sent records (fields 5 and 6), or earlier in the list.
enum class DuplicatePolicy {
  kFindOnly,  // add nothing, only report them
  kRefuse,    // add nothing when there is any
  kLeaveOut,  // add all cards but them
  kAdd,       // add them as well
};

struct CardDuplicate {
  enum class Where { kInventory, kSent, kEarlier };
  std::size_t index = 0;    // in the list given
  Where where = Where::kInventory;
  std::size_t earlier = 0;  // kEarlier: index of the first occurrence
};

struct AddCardsResult {
  std::size_t added = 0;
  std::vector<CardDuplicate> duplicates;  // in list order
};

// How many codes of an item were handed over on one day (the sales figures).
struct ItemDayCount {
  std::string item;
  std::string day;  // "YYYY-MM-DD"
  std::int64_t count = 0;
};

// Why a store could not be opened; message names the file (GBK).
struct StoreError {
  std::string message;
};

// How CardStores::Open treats the files.
enum class StoreAccess {
  kReadWrite,  // creates a missing store, and clears journals a killed process left behind
  kReadOnly,   // listing and export: creates nothing, writes nothing; a missing store is an error
};

// Both stores of one data directory on one database connection, so that moving cards from the
// inventory to the sent store is a single atomic transaction across both files.
class CardStores {
 public:
  // Opens both stores in dataDir; created lists the file names that were created (kReadWrite only:
  // a missing file is created empty, with its schema). Every page of both files is read first
  // (PRAGMA quick_check): a damaged file, or one that is not a store of this program (another
  // schema, another program's file), gives an error naming it and is never modified.
  // Opening writes nothing to an existing store, so a write-protected copy can be opened and read;
  // the exceptions are recovery: a transaction a killed process left half done is rolled back by
  // the first read, and (kReadWrite) leftover journal files are cleared by one empty write; and the
  // upgrade: (kReadWrite) a sent store without the hand-over fields gains them, every record kept in
  // order, after a copy of it as it was is kept beside it (OpenNotes names it). An upgraded file no
  // longer opens in a program that predates the fields. kReadOnly reads such a store as it is, with
  // the two fields empty. And (kReadWrite) a sent store without the index of the sales figures gets it,
  // once; one that cannot be written is opened without it.
  static std::unique_ptr<CardStores> Open(const std::filesystem::path& dataDir, StoreError* error,
                                          std::vector<std::string>* created = nullptr,
                                          StoreAccess access = StoreAccess::kReadWrite);
  virtual ~CardStores() = default;

  virtual RecordStore& Inventory() = 0;
  virtual RecordStore& Sent() = 0;

  // Moves the first `count` cards whose item name equals item (store order) from the inventory into
  // the sent store, each as SentRecord (item, orderNumber, buyer, quantityText, card number, card secret,
  // note, status, time), in one transaction across both files. All or nothing: when fewer than count
  // cards exist, nothing is taken and the result is empty. note is the note to record (the caller
  // passes the note of the item's first card). Returns the new sent records with their numbers.
  // A store failure also gives an empty result, with LastStoreError() saying why (it stays empty
  // for a shortage or a count of 0). An order that already has sent records gives an empty result
  // with LastStoreError() == kOrderAlreadyHasRecords.
  virtual std::vector<SentRecord> TakeCards(const std::string& item, std::size_t count,
                                            const std::string& orderNumber, const std::string& buyer,
                                            const std::string& quantityText, const std::string& note,
                                            const std::string& status, const std::string& time) = 0;
  // The take for a reusable item: its codes in store order take turns and stay in the inventory.
  // The order gets `count` codes in turn (a code again when the item has fewer), the first being the
  // one after the code of the item's latest sent record (marked records do not count); the item's
  // first code when that code is no longer in stock or the item has no record. The sent records are
  // written as TakeCards writes them, in one transaction, with the same refusal of an order that
  // already has records; no code in stock gives an empty result as a shortage does. The first call
  // adds an index on the item name to the sent store (a write).
  virtual std::vector<SentRecord> TakeReusableCards(const std::string& item, std::size_t count,
                                                    const std::string& orderNumber, const std::string& buyer,
                                                    const std::string& quantityText, const std::string& note,
                                                    const std::string& status, const std::string& time) = 0;

  // Appends inventory cards (CardRecord fields, 4 each) in one transaction after finding their
  // duplicates, and treats those as policy says; progress(done) is called now and then, on this
  // thread with the stores locked. The first call builds the lookup indexes for whole cards (a
  // write, also for kFindOnly). nullopt on failure (nothing added; LastStoreError says why).
  virtual std::optional<AddCardsResult> AddCards(const std::vector<std::vector<std::string>>& cards,
                                                 DuplicatePolicy policy,
                                                 const std::function<void(std::size_t)>& progress = {}) = 0;

  // First inventory card of the item in store order, if any. nullopt both for none and on a store
  // failure; LastStoreError() is empty only for none (so it is for 0 and an empty list below).
  virtual std::optional<CardRecord> FirstCardOf(const std::string& item) = 0;
  // Number of inventory cards of the item; 0 on a store failure.
  virtual std::int64_t CountCardsOf(const std::string& item) = 0;
  // The number of the item's cards, counting no further than limit: min(count, limit), as fast for a million cards as for
  // a few (the low-stock check after each order); 0 on a store failure.
  virtual std::int64_t CountCardsUpTo(const std::string& item, std::int64_t limit) = 0;

  // The sales figures, each counted by SQLite in one read; marked records never count.
  // Inventory cards per item, in no particular order; nullopt on a store failure.
  virtual std::optional<std::vector<std::pair<std::string, std::int64_t>>> CardCountsByItem() = 0;
  // Sent records whose day of 交付时间 (the first ten bytes of field 10, "YYYY-MM-DD") lies in [from, to)
  // by byte order, counted per item and day, in no particular order; records without a 交付时间 never
  // count. nullopt on a store failure.
  virtual std::optional<std::vector<ItemDayCount>> SentCountsByItemAndDay(const std::string& from,
                                                                          const std::string& to) = 0;

  // Sent records of one order number with the given status, in store order; empty on a failure.
  virtual std::vector<SentRecord> SentRecordsOf(const std::string& orderNumber, const std::string& status) = 0;
  // Sets status (field 8) and time (field 9) of exactly these sent records, and with handOver also
  // fields 10 and 11, in one transaction; false with nothing written when one of them no longer exists
  // (LastStoreError names it).
  virtual bool SetSentStatus(const std::vector<RecordNumber>& numbers, const std::string& status,
                             const std::string& time, const SentHandOver* handOver = nullptr) = 0;

  // A mark that changes whenever either store was written, through these stores or by another
  // process: two equal marks mean the lists read in between are still current. nullopt on a failure.
  virtual std::optional<std::array<std::int64_t, 3>> WriteMark() = 0;

  // What opening did beyond reading, for the activity log or the terminal (GBK): a store brought up
  // to a newer layout, with the name of the copy kept of it as it was.
  virtual std::vector<std::string> OpenNotes() const = 0;

  // Closes both files (the stores are unusable afterwards).
  virtual void Close() = 0;
};

}  // namespace torvane
