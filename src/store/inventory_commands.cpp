#include "store/inventory_commands.h"

#include "base/text.h"

namespace torvane {

namespace {

CommandOutcome Message(std::string text, std::size_t count = 0) {
  CommandOutcome out;
  out.message = std::move(text);
  out.count = count;
  return out;
}

CommandOutcome Failure(std::string what) {
  CommandOutcome out;
  std::string reason = LastStoreError();
  out.message = reason.empty() ? what : what + ": " + reason;
  out.failed = true;
  return out;
}

template <std::size_t N>
std::vector<Record<N>> ToRecords(std::vector<std::vector<std::string>> rows, const std::vector<RecordNumber>& numbers) {
  std::vector<Record<N>> records;
  records.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size() && i < numbers.size(); ++i) {
    Record<N> r;
    r.recordNumber = numbers[i];
    for (std::size_t f = 0; f < N && f < rows[i].size(); ++f) r.fields[f] = std::move(rows[i][f]);
    records.push_back(std::move(r));
  }
  return records;
}

CommandOutcome DeleteFrom(RecordStore& store, const std::vector<RecordNumber>& recordNumbers, bool confirmed) {
  if (recordNumbers.empty()) return Message("未选择记录，不能删除");
  if (!confirmed) return {};
  std::size_t gone = store.DeleteRecords(recordNumbers);
  if (gone == 0 && !LastStoreError().empty()) return Failure("删除失败");
  return Message({}, gone);
}

}  // namespace

CommandOutcome AddOneCard(CardStores& stores, const std::string& item, const std::string& number,
                          const std::string& secret, const std::string& note) {
  if (item.empty() || number.empty() || secret.empty() || note.empty()) return Message("请将信息填写完整");
  if (stores.Inventory().AppendRecord({item, number, secret, note}) == 0) return Failure("添加失败");
  return Message("添加成功", 1);
}

std::vector<std::vector<std::string>> ParseCardBatch(const std::string& item, const std::string& cardText,
                                                     const std::string& note) {
  std::vector<std::vector<std::string>> cards;
  auto addLine = [&](std::string_view line) {
    if (line.empty()) return;  // a blank line is no card
    std::vector<std::string> parts = SplitText(line, ",");
    if (parts.size() == 2) {
      cards.push_back({item, parts[0], parts[1], note});
    } else {
      cards.push_back({item, parts.empty() ? std::string() : parts[0], "空", note});
    }
  };
  std::string_view text = cardText;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t lf = FindText(text, "\n", pos);
    if (lf == kNotFound) {
      addLine(text.substr(pos));  // the last line, without a line end
      break;
    }
    std::string_view line = text.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    addLine(line);
    pos = lf + 1;
  }
  return cards;
}

CommandOutcome AddCardsBatch(CardStores& stores, const std::string& item, const std::string& cardText,
                             const std::string& note, const std::function<void(std::size_t, std::size_t)>& progress) {
  if (item.empty() || cardText.empty() || note.empty()) return Message("请将信息填写完整");
  if (ContainsText(cardText, "，")) return Message("逗号填写错误 请填写英文输入状态下的逗号");
  std::vector<std::vector<std::string>> cards = ParseCardBatch(item, cardText, note);
  if (cards.empty()) return Message("请将信息填写完整");
  const std::size_t total = cards.size();
  std::function<void(std::size_t)> report;
  if (progress) report = [&](std::size_t done) { progress(done, total); };
  std::size_t added = stores.Inventory().AppendMany(cards, report);
  if (added != total) return Failure("添加失败");
  return Message("添加成功", added);
}

std::string ModifyConfirmText(std::size_t rows) { return "真的修改吗？ 总共：" + std::to_string(rows) + "项"; }

std::string DeleteConfirmText(std::size_t rows) { return "真的删除吗？ 总共：" + std::to_string(rows) + "项"; }

CommandOutcome ModifyCards(CardStores& stores, const std::vector<RecordNumber>& recordNumbers,
                           const ModifyFields& fields, bool confirmed) {
  if (recordNumbers.empty()) return Message("未选择记录，不能修改");
  if (!confirmed) return {};
  std::optional<std::size_t> changed =
      stores.Inventory().ModifyFieldsOf(recordNumbers, {fields.item, fields.number, fields.secret, fields.note});
  if (!changed) return Failure("修改失败");
  return Message("修改成功", *changed);
}

CommandOutcome DeleteCards(CardStores& stores, const std::vector<RecordNumber>& recordNumbers, bool confirmed) {
  return DeleteFrom(stores.Inventory(), recordNumbers, confirmed);
}

CommandOutcome DeleteSentRecords(CardStores& stores, const std::vector<RecordNumber>& recordNumbers,
                                 bool confirmed) {
  return DeleteFrom(stores.Sent(), recordNumbers, confirmed);
}

std::vector<CardRecord> ListCards(CardStores& stores, CardListMode mode, const std::string& text) {
  std::size_t position = 0;
  if (mode == CardListMode::kByCardNumber) position = 2;
  else if (mode != CardListMode::kAll) position = 1;
  std::vector<RecordNumber> numbers;
  auto rows = stores.Inventory().Select(position, text, &numbers);
  return ToRecords<4>(std::move(rows), numbers);
}

std::vector<SentRecord> ListSent(CardStores& stores, SentListMode mode, const std::string& text) {
  std::size_t position = 0;
  if (mode == SentListMode::kByOrderNumber) position = 2;
  else if (mode == SentListMode::kByBuyer) position = 3;
  std::vector<RecordNumber> numbers;
  auto rows = stores.Sent().Select(position, text, &numbers);
  return ToRecords<9>(std::move(rows), numbers);
}

}  // namespace torvane
