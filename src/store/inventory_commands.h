// Commands of the inventory pane, its small windows and the sent-records pane, for the window and
// the command line. Each command returns the message to show (GBK; empty: show nothing) and how
// many records it added, changed or deleted. A store failure is never reported as a success: the
// message then says the command failed and why.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/record_store.h"

namespace torvane {

struct CommandOutcome {
  std::string message;   // GBK text for a "提示" box; empty when nothing is shown
  std::size_t count = 0; // records added, changed or deleted
  bool failed = false;   // the store refused or failed; nothing was changed
};

// Add one card: "请将信息填写完整" when item, number, secret or note is empty, else "添加成功".
CommandOutcome AddOneCard(CardStores& stores, const std::string& item, const std::string& number,
                          const std::string& secret, const std::string& note);

// The cards a batch text stands for, in order: one per non-empty line (lines end in CR LF or LF);
// a line of exactly two comma-separated parts gives (item, first, second, note), any other line
// (item, first part, "空", note). Spaces around the comma stay part of the texts.
std::vector<std::vector<std::string>> ParseCardBatch(const std::string& item, const std::string& cardText,
                                                     const std::string& note);

// Add cards in batch, all in one transaction: "请将信息填写完整" when item, text or note is empty
// (or the text holds no line), "逗号填写错误 请填写英文输入状态下的逗号" when the text holds a
// full-width comma (nothing is added then), else "添加成功" with count = cards added.
// progress(done, total) is called now and then for large inputs, on the calling thread while the
// stores are locked: it may show the figures but must not use the stores.
CommandOutcome AddCardsBatch(CardStores& stores, const std::string& item, const std::string& cardText,
                             const std::string& note,
                             const std::function<void(std::size_t, std::size_t)>& progress = {});

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
// nothing changes and the message is empty; else every ticked card that still exists gets the
// given fields replaced (count = cards changed) and the message is "修改成功".
CommandOutcome ModifyCards(CardStores& stores, const std::vector<RecordNumber>& recordNumbers,
                           const ModifyFields& fields, bool confirmed);

// Delete the ticked cards: "未选择记录，不能删除" when none is ticked; when cancelled nothing is
// deleted; else the ticked cards that still exist are deleted (count). No message follows either.
CommandOutcome DeleteCards(CardStores& stores, const std::vector<RecordNumber>& recordNumbers, bool confirmed);

// The same for the sent records pane.
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
