// What spans both files: the take, which moves an order's cards out of the inventory into sent
// records in one transaction (refusing an order that already has records, all or nothing), or for a
// reusable item records its codes in turn and leaves them in stock; and the write mark that tells
// whether either file was written since it was last read.
#include <algorithm>
#include <climits>

#include "store/card_stores_impl.h"

namespace torvane::store_sqlite {

namespace {

struct Card {
  RecordNumber number;
  std::string cardNumber, secret;
};

// The codes an order of a reusable item gets: count of the item's codes (store order) in turn,
// starting after the code of the item's latest sent record (at the first when that code is no longer
// in stock), round and round. nullopt on a store failure.
std::optional<std::vector<Card>> InTurn(Connection& db, const std::vector<Card>& codes, const std::string& item,
                                        std::size_t count) {
  WorkOn(kSentSchema);
  // The item's latest record is found through this index, never by reading the whole sent store.
  // Made on first use, so opening a store never writes to it.
  if (!db.Exec("CREATE INDEX IF NOT EXISTS sent.sent_cards_f1 ON sent_cards(f1)")) return std::nullopt;
  std::size_t next = 0;
  {
    Query q(db.Prepare("SELECT f5, f6 FROM sent.sent_cards WHERE f1 = ?1 AND marked = 0 ORDER BY rn DESC LIMIT 1"));
    if (!q.ok()) return std::nullopt;
    q.Bind(1, item);
    const int rc = q.Step();
    if (rc == SQLITE_ROW) {
      const std::string number = q.Text(0), secret = q.Text(1);
      // The last of equal codes: a code stocked twice still lets the others have their turn.
      for (std::size_t i = codes.size(); i-- > 0;) {
        if (codes[i].cardNumber == number && codes[i].secret == secret) {
          next = i + 1;
          break;
        }
      }
    } else if (rc != SQLITE_DONE) {
      SetError(StepError(db));
      return std::nullopt;
    }
  }
  std::vector<Card> turn;
  turn.reserve(count);
  for (std::size_t k = 0; k < count; ++k) turn.push_back(codes[(next + k) % codes.size()]);
  return turn;
}

}  // namespace

std::vector<SentRecord> CardStoresImpl::TakeCards(const std::string& item, std::size_t count,
                                                  const std::string& orderNumber, const std::string& buyer,
                                                  const std::string& quantityText, const std::string& note,
                                                  const std::string& status, const std::string& time) {
  return Take(item, count, {orderNumber, buyer, quantityText, note, status, time}, false);
}

std::vector<SentRecord> CardStoresImpl::TakeReusableCards(const std::string& item, std::size_t count,
                                                          const std::string& orderNumber, const std::string& buyer,
                                                          const std::string& quantityText, const std::string& note,
                                                          const std::string& status, const std::string& time) {
  return Take(item, count, {orderNumber, buyer, quantityText, note, status, time}, true);
}

std::vector<SentRecord> CardStoresImpl::Take(const std::string& item, std::size_t count, const TakeOrder& order,
                                             bool reusable) {
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
    q.Bind(1, order.number);
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      SetErrorText(std::string(kOrderAlreadyHasRecords));
      return taken;
    }
    if (rc != SQLITE_DONE) {
      SetError(StepError(db_));
      return taken;
    }
  }
  WorkOn(kInventorySchema);
  std::vector<Card> cards;
  {
    // A reusable item's codes are all read (-1: no limit): they take turns.
    Query q(db_.Prepare("SELECT rn, f2, f3 FROM main.cards WHERE f1 = ?1 AND marked = 0 ORDER BY rn LIMIT ?2"));
    if (!q.ok()) return taken;
    q.Bind(1, item);
    q.Bind(2, reusable ? std::int64_t{-1} : static_cast<std::int64_t>(std::min<std::size_t>(count, INT64_MAX)));
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) cards.push_back({q.Int(0), q.Text(1), q.Text(2)});
    if (rc != SQLITE_DONE) {
      SetError(StepError(db_));
      return taken;
    }
  }
  if (reusable && !cards.empty()) {
    std::optional<std::vector<Card>> turn = InTurn(db_, cards, item, count);
    if (!turn) return taken;
    cards = std::move(*turn);
  }
  if (cards.size() < count) return taken;  // whole orders only (no code at all, for a reusable item)
  WorkOn(kInventorySchema);
  Query remove(db_.Prepare("DELETE FROM main.cards WHERE rn = ?1"));
  if (!remove.ok()) return taken;
  WorkOn(kSentSchema);
  Query insert(db_.Prepare(InsertSql(kSentSchema)));
  if (!insert.ok()) return taken;
  std::vector<SentRecord> records;
  records.reserve(cards.size());
  for (const Card& card : cards) {
    // A reusable item's code stays in stock.
    if (!reusable) {
      remove.Bind(1, card.number);
      if (remove.Step() != SQLITE_DONE || db_.Changes() != 1) {
        WorkOn(kInventorySchema);
        SetError("cannot remove card: " + StepError(db_));
        return taken;
      }
      remove.Reset();
    }
    SentRecord record;
    // The hand-over fields stay empty until the codes go out.
    record.fields = {item,        order.number, order.buyer, order.quantityText, card.cardNumber, card.secret,
                     order.note,  order.status, order.time,  {},                 {}};
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

}  // namespace torvane::store_sqlite
