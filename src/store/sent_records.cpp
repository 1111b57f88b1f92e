// The sent records' own operations for delivery: the records of one order with a given status, and
// setting the status and time of records, and when and how they were handed over, once they went out.
#include "store/card_stores_impl.h"

namespace torvane::store_sqlite {

std::vector<SentRecord> CardStoresImpl::SentRecordsOf(const std::string& orderNumber, const std::string& status) {
  auto lock = Lock(kSentSchema);
  std::vector<SentRecord> records;
  std::string columns;
  for (std::size_t i = 1; i <= SentRecord::kFieldCount; ++i) columns += ", " + sent_.Column(i);
  Query q(db_.Prepare("SELECT rn" + columns + " FROM sent.sent_cards WHERE f2 = ?1 AND +f8 = ?2 AND marked = 0 ORDER BY rn"));
  if (!q.ok()) return records;
  q.Bind(1, orderNumber);
  q.Bind(2, status);
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) {
    SentRecord r;
    r.recordNumber = q.Int(0);
    for (int i = 0; i < static_cast<int>(SentRecord::kFieldCount); ++i) r.fields[static_cast<std::size_t>(i)] = q.Text(i + 1);
    records.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE) {
    SetError(StepError(db_));
    records.clear();
  }
  return records;
}

bool CardStoresImpl::SetSentStatus(const std::vector<RecordNumber>& numbers, const std::string& status,
                                   const std::string& time, const SentHandOver* handOver) {
  auto lock = Lock(kSentSchema);
  if (numbers.empty()) return true;
  Transaction tx(db_);
  if (!tx.began()) return false;
  Query q(db_.Prepare(handOver ? "UPDATE sent.sent_cards SET f8 = ?1, f9 = ?2, f10 = ?4, f11 = ?5 WHERE rn = ?3"
                               : "UPDATE sent.sent_cards SET f8 = ?1, f9 = ?2 WHERE rn = ?3"));
  if (!q.ok()) return false;
  for (RecordNumber n : numbers) {
    q.Bind(1, status);
    q.Bind(2, time);
    q.Bind(3, n);
    if (handOver) {
      q.Bind(4, handOver->time);
      q.Bind(5, handOver->channel);
    }
    if (q.Step() != SQLITE_DONE) {
      SetError(StepError(db_));
      return false;
    }
    // A record deleted meanwhile: its status cannot be kept, and nothing of the batch is written.
    if (db_.Changes() != 1) {
      SetError("第" + std::to_string(n) + "条发货记录已不存在");
      return false;
    }
    q.Reset();
  }
  return tx.Commit();
}

}  // namespace torvane::store_sqlite
