// The card inventory's own operations: adding cards with their duplicates found (in the inventory,
// among the sent records, earlier in the list) and treated as the policy says, with the lookup
// indexes for whole cards built on first use; the delivery queries for an item's first card
// and its count; and the count of every item.
#include <unordered_map>

#include "store/card_stores_impl.h"

namespace torvane::store_sqlite {

std::optional<AddCardsResult> CardStoresImpl::AddCards(const std::vector<std::vector<std::string>>& cards,
                                                       DuplicatePolicy policy,
                                                       const std::function<void(std::size_t)>& progress) {
  auto lock = Lock(kInventorySchema);
  for (const auto& card : cards) {
    if (card.size() != kInventorySchema.fieldCount) {
      SetError("expected 4 fields, got " + std::to_string(card.size()));
      return std::nullopt;
    }
  }
  Transaction tx(db_);
  if (!tx.began()) return std::nullopt;
  // Built here rather than on open, so that opening a store never writes to it.
  if (!db_.Exec("CREATE INDEX IF NOT EXISTS main.cards_card ON cards(f2, f3);"
                "CREATE INDEX IF NOT EXISTS sent.sent_cards_card ON sent_cards(f5, f6)")) {
    return std::nullopt;
  }
  AddCardsResult result;
  std::vector<bool> duplicate(cards.size(), false);
  {
    Query q(db_.Prepare("SELECT EXISTS (SELECT 1 FROM main.cards WHERE f2 = ?1 AND f3 = ?2),"
                        " EXISTS (SELECT 1 FROM sent.sent_cards WHERE f5 = ?1 AND f6 = ?2)"));
    if (!q.ok()) return std::nullopt;
    std::unordered_map<std::string, std::size_t> seen;
    seen.reserve(cards.size());
    for (std::size_t i = 0; i < cards.size(); ++i) {
      const std::string& number = cards[i][1];
      const std::string& secret = cards[i][2];
      auto [first, isNew] = seen.emplace(std::to_string(number.size()) + ":" + number + secret, i);
      if (!isNew) {
        result.duplicates.push_back({i, CardDuplicate::Where::kEarlier, first->second});
        duplicate[i] = true;
        continue;
      }
      q.Bind(1, number);
      q.Bind(2, secret);
      if (q.Step() != SQLITE_ROW) {
        SetError(StepError(db_));
        return std::nullopt;
      }
      if (q.Int(0) != 0 || q.Int(1) != 0) {
        auto where = q.Int(0) != 0 ? CardDuplicate::Where::kInventory : CardDuplicate::Where::kSent;
        result.duplicates.push_back({i, where, 0});
        duplicate[i] = true;
      }
      q.Reset();
    }
  }
  const bool addNothing =
      policy == DuplicatePolicy::kFindOnly || (policy == DuplicatePolicy::kRefuse && !result.duplicates.empty());
  if (!addNothing) {
    Query insert(db_.Prepare(InsertSql(kInventorySchema)));
    if (!insert.ok()) return std::nullopt;
    for (std::size_t i = 0; i < cards.size(); ++i) {
      if (duplicate[i] && policy != DuplicatePolicy::kAdd) continue;
      for (std::size_t f = 0; f < 4; ++f) insert.BindStatic(static_cast<int>(f) + 1, cards[i][f]);
      if (insert.Step() != SQLITE_DONE) {
        SetError(StepError(db_));
        return std::nullopt;
      }
      insert.Reset();
      ++result.added;
      if (progress && result.added % 1000 == 0) progress(result.added);
    }
  }
  if (!tx.Commit()) return std::nullopt;
  if (progress && result.added > 0) progress(result.added);
  return result;
}

std::optional<CardRecord> CardStoresImpl::FirstCardOf(const std::string& item) {
  auto lock = Lock(kInventorySchema);
  Query q(db_.Prepare("SELECT rn, f1, f2, f3, f4 FROM main.cards WHERE f1 = ?1 AND marked = 0 ORDER BY rn LIMIT 1"));
  if (!q.ok()) return std::nullopt;
  q.Bind(1, item);
  int rc = q.Step();
  if (rc != SQLITE_ROW) {
    if (rc != SQLITE_DONE) SetError(StepError(db_));
    return std::nullopt;
  }
  CardRecord card;
  card.recordNumber = q.Int(0);
  for (int i = 0; i < 4; ++i) card.fields[static_cast<std::size_t>(i)] = q.Text(i + 1);
  return card;
}

std::int64_t CardStoresImpl::CountCardsOf(const std::string& item) {
  auto lock = Lock(kInventorySchema);
  Query q(db_.Prepare("SELECT count(*) FROM main.cards WHERE f1 = ?1 AND marked = 0"));
  if (!q.ok()) return 0;
  q.Bind(1, item);
  if (q.Step() != SQLITE_ROW) {
    SetError(StepError(db_));
    return 0;
  }
  return q.Int(0);
}

std::int64_t CardStoresImpl::CountCardsUpTo(const std::string& item, std::int64_t limit) {
  auto lock = Lock(kInventorySchema);
  if (limit <= 0) return 0;
  Query q(db_.Prepare("SELECT count(*) FROM (SELECT 1 FROM main.cards WHERE f1 = ?1 AND marked = 0 LIMIT ?2)"));
  if (!q.ok()) return 0;
  q.Bind(1, item);
  q.Bind(2, limit);
  if (q.Step() != SQLITE_ROW) {
    SetError(StepError(db_));
    return 0;
  }
  return q.Int(0);
}

}  // namespace torvane::store_sqlite
