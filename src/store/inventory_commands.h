// Commands of the inventory pane, its small windows and the sent-records pane, for the window and
// the command line. Each command returns the message to show (GBK; empty: show nothing) and how
// many records it added, changed or deleted. A store failure is never reported as a success: the
// message then says the command failed and why.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/record_store.h"

namespace torvane {

// A card of a batch that is a duplicate (CardStores::AddCards), with the lines that show it.
struct DuplicateCard {
  std::size_t line = 0;         // 1-based line of the batch text (0 for a single card)
  std::string number, secret;
  CardDuplicate::Where where = CardDuplicate::Where::kInventory;
  std::size_t earlierLine = 0;  // where == kEarlier: the line of its first occurrence
};

struct CommandOutcome {
  std::string message;   // GBK text for a "提示" box; empty when nothing is shown
  std::size_t count = 0; // records added, changed or deleted
  bool failed = false;   // the store refused or failed; nothing was changed
  std::size_t line = 0;  // the refused line of a batch text, when the message is about one
  std::vector<DuplicateCard> duplicates;  // card adds: the duplicates found, whatever the policy
};

// "" when text may be stored as the field named by caption (e.g. "宝贝名称"); else why not:
// caption + "含有控制字符" or caption + "含有GBK无法保存的字符".
std::string FieldFault(std::string_view text, std::string_view caption);

// Add one card: "请将信息填写完整" when item, number, secret or note is empty, a FieldFault, the
// duplicate refusal of AddParsedCards unless duplicates says otherwise, else "添加成功".
CommandOutcome AddOneCard(CardStores& stores, const std::string& item, const std::string& number,
                          const std::string& secret, const std::string& note,
                          DuplicatePolicy duplicates = DuplicatePolicy::kRefuse);

// The cards of a batch text, or the first reason to refuse the whole batch.
struct CardBatch {
  std::vector<std::vector<std::string>> cards;  // (item, number, secret, note) each
  std::vector<std::size_t> lines;               // 1-based line of each card
  std::string fault;                            // GBK refusal; empty when the batch may be added
  std::size_t faultLine = 0;                    // the line the fault is about, 0 for the whole text
};

// Lines end in CR LF, LF or a lone CR; empty lines are skipped. A line without a comma gives
// (item, line, "空", note); one ASCII comma splits number and secret (an empty secret gives "空");
// spaces around the comma stay part of the texts. Refused, naming the line ("第N行: ..."): more
// than one comma, an empty or blank card number, a control character or bytes that are not GBK.
// Also refused: a full-width comma anywhere ("逗号填写错误 请填写英文输入状态下的逗号") and an item
// or note with a FieldFault.
CardBatch ParseCardBatch(const std::string& item, const std::string& cardText, const std::string& note);

// Adds a parsed batch in one transaction. Its fault, when it has one, is the message (line set);
// no cards: "请将信息填写完整". Duplicates (listed in the outcome in any case) as policy says:
// kFindOnly adds nothing and shows nothing; kRefuse adds nothing when there is one and says
// "发现重复卡密 N 张 未添加任何卡密"; kLeaveOut and kAdd say "添加成功" with count = cards added.
// progress(done, total) as for AddCardsBatch; total is the batch's size (kLeaveOut adds fewer).
CommandOutcome AddParsedCards(CardStores& stores, const CardBatch& batch, DuplicatePolicy duplicates,
                              const std::function<void(std::size_t, std::size_t)>& progress = {});

// Add cards in batch (the window): "请将信息填写完整" when item, text or note is empty, else
// ParseCardBatch and AddParsedCards. The window first calls it with kRefuse (or kFindOnly), asks
// the seller about the duplicates listed, and calls again with kLeaveOut or kAdd.
// progress(done, total) is called now and then for large inputs, on the calling thread while the
// stores are locked: it may show the figures but must not use the stores.
CommandOutcome AddCardsBatch(CardStores& stores, const std::string& item, const std::string& cardText,
                             const std::string& note,
                             const std::function<void(std::size_t, std::size_t)>& progress = {},
                             DuplicatePolicy duplicates = DuplicatePolicy::kRefuse);

// The fields the modify window replaces: a field with a value is replaced in every ticked card,
// the others keep their value. An empty text empties the field.
struct ModifyFields {
  std::optional<std::string> item;
  std::optional<std::string> number;
  std::optional<std::string> secret;
  std::optional<std::string> note;
};

// Confirmation texts: "真的修改吗？ 总共：" n "项" and "真的删除吗？ 总共：" n "项".
std::string ModifyConfirmText(std::size_t rows);
std::string DeleteConfirmText(std::size_t rows);

// Modify the ticked cards: "未选择记录，不能修改" when none is ticked; when the seller cancelled,
// nothing changes and the message is empty; a value with a FieldFault changes nothing and the
// fault is the message; else every ticked card that still exists gets the given fields replaced
// (count = cards changed) and the message is "修改成功".
CommandOutcome ModifyCards(CardStores& stores, const std::vector<RecordNumber>& recordNumbers,
                           const ModifyFields& fields, bool confirmed);

// Delete the ticked cards: "未选择记录，不能删除" when none is ticked; when cancelled nothing is
// deleted; else the ticked cards that still exist are deleted (count). No message follows either.
CommandOutcome DeleteCards(CardStores& stores, const std::vector<RecordNumber>& recordNumbers, bool confirmed);

// The same for the sent records pane, except that records at "发货中" are never deleted: their codes have
// left the inventory but have not reached the buyer, and the record is their only copy. With one of them
// ticked nothing is deleted and the message says why, before any confirmation (also when not confirmed).
CommandOutcome DeleteSentRecords(CardStores& stores, const std::vector<RecordNumber>& recordNumbers,
                                 bool confirmed);

// Which cards the inventory list shows (the values are those the pane uses).
enum class CardListMode { kAll = 1, kByCardNumber = 2, kByItem = 3 };

// Cards in store order, each with its record number (the row value). kByCardNumber and kByItem
// compare field 2 or 1 with text byte for byte. The count label shows the number of rows.
// Empty on a store failure too: then LastStoreError() says why.
std::vector<CardRecord> ListCards(CardStores& stores, CardListMode mode, const std::string& text = {});

// Which sent records the sent-records list shows.
enum class SentListMode { kAll = 0, kByOrderNumber = 1, kByBuyer = 2 };

// Sent records in store order, each with its record number. kByOrderNumber compares field 2,
// kByBuyer field 3 with text byte for byte, without trimming; an empty text finds empty fields.
// Empty on a store failure too: then LastStoreError() says why.
std::vector<SentRecord> ListSent(CardStores& stores, SentListMode mode, const std::string& text = {});

}  // namespace torvane
