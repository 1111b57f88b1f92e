#include "store/inventory_commands.h"

#include <utility>

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
  out.message = what + ": " + (reason.empty() ? std::string("卡密库未给出原因") : reason);
  out.failed = true;
  return out;
}

std::string LineFault(std::size_t line, std::string_view what) {
  return "第" + std::to_string(line) + "行: " + std::string(what);
}

// Why one line of a batch cannot be added ("" when it can); number and secret receive its card.
std::string LineProblem(std::string_view line, std::string* number, std::string* secret) {
  if (HasControlCharacter(line)) return "含有控制字符";
  if (FirstInvalidGbk(line) != kNotFound) return "含有GBK无法保存的字符";
  std::vector<std::string> parts = SplitText(line, ",");
  std::size_t comma = FindText(line, ",");
  if (comma != kNotFound && FindText(line, ",", comma + 1) != kNotFound) {
    return "有多个英文逗号 每行只能写一个卡号和一个卡密";
  }
  *number = parts.empty() ? std::string() : parts[0];
  *secret = parts.size() == 2 ? parts[1] : std::string("空");
  if (Trim(*number).empty()) return "卡号为空";
  return {};
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

std::string FieldFault(std::string_view text, std::string_view caption) {
  if (HasControlCharacter(text)) return std::string(caption) + "含有控制字符";
  if (FirstInvalidGbk(text) != kNotFound) return std::string(caption) + "含有GBK无法保存的字符";
  return {};
}

CommandOutcome AddOneCard(CardStores& stores, const std::string& item, const std::string& number,
                          const std::string& secret, const std::string& note, DuplicatePolicy duplicates) {
  if (item.empty() || number.empty() || secret.empty() || note.empty()) return Message("请将信息填写完整");
  CardBatch batch;
  for (auto [text, caption] : {std::pair{&item, "宝贝名称"}, {&number, "宝贝卡号"}, {&secret, "宝贝卡密"},
                               {&note, "宝贝备注"}}) {
    if (batch.fault.empty()) batch.fault = FieldFault(*text, caption);
  }
  batch.cards.push_back({item, number, secret, note});
  batch.lines.push_back(0);
  return AddParsedCards(stores, batch, duplicates);
}

CardBatch ParseCardBatch(const std::string& item, const std::string& cardText, const std::string& note) {
  CardBatch batch;
  auto refuse = [&](std::string fault, std::size_t line = 0) {
    batch.cards.clear();
    batch.lines.clear();
    batch.fault = std::move(fault);
    batch.faultLine = line;
    return batch;
  };
  if (ContainsText(cardText, "，")) return refuse("逗号填写错误 请填写英文输入状态下的逗号");
  if (std::string f = FieldFault(item, "宝贝名称"); !f.empty()) return refuse(f);
  if (std::string f = FieldFault(note, "宝贝备注"); !f.empty()) return refuse(f);
  std::string_view text = cardText;
  std::size_t pos = 0;
  std::size_t lineNumber = 0;
  while (pos < text.size()) {
    ++lineNumber;
    // CR and LF are never the second byte of a character, so a byte search finds whole line ends.
    std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    std::string_view line = text.substr(pos, end - pos);
    pos = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
    if (line.empty()) continue;
    std::string number, secret;
    std::string problem = LineProblem(line, &number, &secret);
    if (!problem.empty()) return refuse(LineFault(lineNumber, problem), lineNumber);
    batch.cards.push_back({item, std::move(number), std::move(secret), note});
    batch.lines.push_back(lineNumber);
  }
  return batch;
}

CommandOutcome AddParsedCards(CardStores& stores, const CardBatch& batch, DuplicatePolicy duplicates,
                              const std::function<void(std::size_t, std::size_t)>& progress) {
  if (!batch.fault.empty()) {
    CommandOutcome out = Message(batch.fault);
    out.line = batch.faultLine;
    return out;
  }
  if (batch.cards.empty()) return Message("请将信息填写完整");
  const std::size_t total = batch.cards.size();
  std::function<void(std::size_t)> report;
  if (progress) report = [&](std::size_t done) { progress(done, total); };
  std::optional<AddCardsResult> result = stores.AddCards(batch.cards, duplicates, report);
  if (!result) return Failure("添加失败");
  CommandOutcome out;
  for (const CardDuplicate& d : result->duplicates) {
    DuplicateCard card;
    card.line = batch.lines.at(d.index);
    card.number = batch.cards[d.index][1];
    card.secret = batch.cards[d.index][2];
    card.where = d.where;
    if (d.where == CardDuplicate::Where::kEarlier) card.earlierLine = batch.lines.at(d.earlier);
    out.duplicates.push_back(std::move(card));
  }
  if (duplicates == DuplicatePolicy::kFindOnly) return out;
  if (duplicates == DuplicatePolicy::kRefuse && !out.duplicates.empty()) {
    out.message = "发现重复卡密 " + std::to_string(out.duplicates.size()) + " 张 未添加任何卡密";
    return out;
  }
  out.message = "添加成功";
  out.count = result->added;
  return out;
}

CommandOutcome AddCardsBatch(CardStores& stores, const std::string& item, const std::string& cardText,
                             const std::string& note, const std::function<void(std::size_t, std::size_t)>& progress,
                             DuplicatePolicy duplicates) {
  if (item.empty() || cardText.empty() || note.empty()) return Message("请将信息填写完整");
  return AddParsedCards(stores, ParseCardBatch(item, cardText, note), duplicates, progress);
}

std::string ModifyConfirmText(std::size_t rows) { return "真的修改吗？ 总共：" + std::to_string(rows) + "项"; }

std::string DeleteConfirmText(std::size_t rows) { return "真的删除吗？ 总共：" + std::to_string(rows) + "项"; }

CommandOutcome ModifyCards(CardStores& stores, const std::vector<RecordNumber>& recordNumbers,
                           const ModifyFields& fields, bool confirmed) {
  if (recordNumbers.empty()) return Message("未选择记录，不能修改");
  if (!confirmed) return {};
  for (auto [value, caption] : {std::pair{&fields.item, "宝贝名称"}, {&fields.number, "宝贝卡号"},
                                {&fields.secret, "宝贝卡密"}, {&fields.note, "宝贝备注"}}) {
    if (!*value) continue;
    if (std::string fault = FieldFault(**value, caption); !fault.empty()) return Message(fault);
  }
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
  if (recordNumbers.empty()) return DeleteFrom(stores.Sent(), recordNumbers, confirmed);
  // Status (field 8) "发货中": taken for an order, not yet handed over. A record leaves that status and
  // never returns to it, so what is read here still holds at the deletion.
  const auto records = stores.Sent().ReadRecords(recordNumbers);
  if (!records) return Failure("删除失败");
  std::size_t sending = 0;
  for (const auto& record : *records) {
    if (record && record->size() >= 8 && (*record)[7] == "发货中") ++sending;
  }
  if (sending > 0) {
    return Message("打钩的记录中有[" + std::to_string(sending) +
                   "]条发货中的记录 不能删除: 这些卡密已从库存取出但还没有送到买家 删除后将无处可查");
  }
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
  return ToRecords<SentRecord::kFieldCount>(std::move(rows), numbers);
}

}  // namespace torvane
