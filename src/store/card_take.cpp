// What spans both files: the take, which moves an order's cards out of the inventory into sent
// records in one transaction (refusing an order that already has records, all or nothing), and the
// write mark that tells whether either file was written since it was last read.
#include <algorithm>
#include <climits>

#include "store/card_stores_impl.h"

namespace torvane::store_sqlite {

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
      SetErrorText(std::string(kOrderAlreadyHasRecords));
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
  Query insert(db_.Prepare(InsertSql(kSentSchema)));
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
    // The hand-over fields stay empty until the codes go out.
    record.fields = {item, orderNumber, buyer, quantityText, card.cardNumber, card.secret, note, status, time, {}, {}};
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
