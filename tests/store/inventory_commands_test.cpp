#include "store/inventory_commands.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

using namespace torvane;
using torvane::test::TempDir;

namespace {

using Fields = std::array<std::string, 4>;

class InventoryCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    StoreError error;
    stores_ = CardStores::Open(dir_.path(), &error);
    ASSERT_TRUE(stores_) << error.message;
  }

  std::vector<Fields> Cards() {
    std::vector<Fields> out;
    for (auto& card : ListCards(*stores_, CardListMode::kAll)) out.push_back(card.fields);
    return out;
  }
  std::vector<RecordNumber> Numbers() {
    std::vector<RecordNumber> out;
    for (auto& card : ListCards(*stores_, CardListMode::kAll)) out.push_back(card.recordNumber);
    return out;
  }
  void AddSent(const std::string& order, const std::string& buyer, const std::string& card) {
    ASSERT_GT(stores_->Sent().AppendRecord({"A", order, buyer, "1", card, "s", "n", "旺旺发送", "T"}), 0);
  }

  TempDir dir_;
  std::unique_ptr<CardStores> stores_;
};

}  // namespace

TEST_F(InventoryCommands, AddOneCardNeedsAllFourTexts) {
  EXPECT_EQ(AddOneCard(*stores_, "A", "1", "s", "").message, "请将信息填写完整");
  EXPECT_EQ(AddOneCard(*stores_, "", "1", "s", "n").message, "请将信息填写完整");
  EXPECT_EQ(AddOneCard(*stores_, "A", "", "s", "n").message, "请将信息填写完整");
  EXPECT_EQ(AddOneCard(*stores_, "A", "1", "", "n").message, "请将信息填写完整");
  EXPECT_TRUE(Cards().empty());

  CommandOutcome added = AddOneCard(*stores_, "点卡 ", " 1", "s ", "n");
  EXPECT_EQ(added.message, "添加成功");
  EXPECT_EQ(added.count, 1u);
  EXPECT_EQ(Cards(), (std::vector<Fields>{{"点卡 ", " 1", "s ", "n"}}));
}

TEST_F(InventoryCommands, BatchLinesAreCardsOrRefuseTheWholeBatch) {
  struct Row {
    std::string item, text, note;
    std::vector<Fields> cards;  // added when message is "添加成功"
    std::string message;
    std::size_t line;
  };
  const std::string ok = "添加成功";
  const std::vector<Row> rows = {
      {"I", "a,b\r\nc\r\n a , b \r\ng,", "n",
       {{"I", "a", "b", "n"}, {"I", "c", "空", "n"}, {"I", " a ", " b ", "n"}, {"I", "g", "空", "n"}}, ok, 0},
      // CR LF, LF and a lone CR each end a line; empty lines are skipped.
      {"I", "\r\na,b\n\nc,d\r\n\r\n\re\rf,g\r", "n",
       {{"I", "a", "b", "n"}, {"I", "c", "d", "n"}, {"I", "e", "空", "n"}, {"I", "f", "g", "n"}}, ok, 0},
      {"I", "A1,S1\rA2,S2\rA3,S3\r", "n", {{"I", "A1", "S1", "n"}, {"I", "A2", "S2", "n"}, {"I", "A3", "S3", "n"}}, ok, 0},
      // 0x80 (the euro sign) stands alone and keeps the line end after it.
      {"I", "B1,S1\x80\nB2,S2", "n", {{"I", "B1", "S1\x80", "n"}, {"I", "B2", "S2", "n"}}, ok, 0},
      {"I", "a,b\r\nd,e,f\r\n", "n", {}, "第2行: 有多个英文逗号 每行只能写一个卡号和一个卡密", 2},
      {"I", "a,b\n,x", "n", {}, "第2行: 卡号为空", 2},
      {"I", "a,b\r \xA1\xA1 ,x", "n", {}, "第2行: 卡号为空", 2},
      {"I", "a,b\n\nc,d\te", "n", {}, "第3行: 含有控制字符", 3},
      {"I", "a,b\n\xFF,c", "n", {}, "第2行: 含有GBK无法保存的字符", 2},
      {"I\r\nJ", "a,b", "n", {}, "宝贝名称含有控制字符", 0},
      {"I", "a,b", "n\x81", {}, "宝贝备注含有GBK无法保存的字符", 0},
      {"I", "a,b\r\nc,d\r\ne，f", "n", {}, "逗号填写错误 请填写英文输入状态下的逗号", 0},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const std::size_t before = Cards().size();
    // Rows repeat cards; duplicates are the next test's matter.
    CommandOutcome out = AddCardsBatch(*stores_, row.item, row.text, row.note, {}, DuplicatePolicy::kAdd);
    EXPECT_EQ(out.message, row.message) << "row " << i;
    EXPECT_EQ(out.line, row.line) << "row " << i;
    std::vector<Fields> added = Cards();
    added.erase(added.begin(), added.begin() + static_cast<std::ptrdiff_t>(before));
    EXPECT_EQ(added, row.cards) << "row " << i;
    EXPECT_EQ(out.count, row.cards.size()) << "row " << i;
  }
  EXPECT_EQ(AddCardsBatch(*stores_, "I", "\r\n\n", "n").message, "请将信息填写完整") << "nothing but line ends";
}

TEST_F(InventoryCommands, DuplicatesOfTheInventoryTheSentRecordsOrTheBatch) {
  ASSERT_EQ(AddCardsBatch(*stores_, "I", "1,a\r\n2,b", "n").count, 2u);
  AddSent("o1", "buyer", "3");  // card 3 with secret "s" went out
  const std::string batch = "1,a\r\n3,s\r\n4,d\r\n4,d\r\n1,x\r\n";
  using Where = CardDuplicate::Where;
  auto expectDuplicates = [](const CommandOutcome& out) {
    ASSERT_EQ(out.duplicates.size(), 3u) << out.message;
    EXPECT_EQ(out.duplicates[0].line, 1u);
    EXPECT_EQ(out.duplicates[0].where, Where::kInventory);
    EXPECT_EQ(out.duplicates[1].number + "," + out.duplicates[1].secret, "3,s");
    EXPECT_EQ(out.duplicates[1].where, Where::kSent);
    EXPECT_EQ(out.duplicates[2].line, 4u);
    EXPECT_EQ(out.duplicates[2].where, Where::kEarlier);
    EXPECT_EQ(out.duplicates[2].earlierLine, 3u);
  };

  CommandOutcome found = AddCardsBatch(*stores_, "I", batch, "n", {}, DuplicatePolicy::kFindOnly);
  expectDuplicates(found);
  EXPECT_EQ(found.message, "");
  CommandOutcome refused = AddCardsBatch(*stores_, "I", batch, "n");
  expectDuplicates(refused);
  EXPECT_EQ(refused.message, "发现重复卡密 3 张 未添加任何卡密");
  EXPECT_FALSE(refused.failed);
  EXPECT_EQ(Cards().size(), 2u);
  EXPECT_EQ(AddOneCard(*stores_, "J", "2", "b", "n").duplicates.size(), 1u);
  EXPECT_EQ(Cards().size(), 2u);

  CommandOutcome leftOut = AddCardsBatch(*stores_, "I", batch, "n", {}, DuplicatePolicy::kLeaveOut);
  expectDuplicates(leftOut);
  EXPECT_EQ(leftOut.count, 2u);
  EXPECT_EQ(Cards(), (std::vector<Fields>{{"I", "1", "a", "n"}, {"I", "2", "b", "n"}, {"I", "4", "d", "n"},
                                          {"I", "1", "x", "n"}}));
  CommandOutcome all = AddCardsBatch(*stores_, "I", "2,b\r\n2,b", "n", {}, DuplicatePolicy::kAdd);
  EXPECT_EQ(all.count, 2u);
  EXPECT_EQ(all.duplicates.size(), 2u);
  EXPECT_EQ(Cards().size(), 6u);

  // Cards whose number and secret run together alike are different cards.
  CommandOutcome alike = AddCardsBatch(*stores_, "K", "AB,C\r\nA,BC", "n");
  EXPECT_TRUE(alike.duplicates.empty());
  EXPECT_EQ(alike.count, 2u);
  EXPECT_EQ(AddCardsBatch(*stores_, "K", "A,BC", "n").duplicates.size(), 1u);
}

TEST_F(InventoryCommands, BatchTheExampleTextAddsThreeCards) {
  const std::string example = "宝贝卡号1,宝贝卡密1\r\n宝贝卡号2,宝贝卡密2\r\n宝贝卡号3,宝贝卡密3";
  EXPECT_EQ(AddCardsBatch(*stores_, "I", example, "n").count, 3u);
  EXPECT_EQ(Cards().back(), (Fields{"I", "宝贝卡号3", "宝贝卡密3", "n"}));
}

TEST_F(InventoryCommands, BatchRefusesMissingInput) {
  EXPECT_EQ(AddCardsBatch(*stores_, "", "a,b", "n").message, "请将信息填写完整");
  EXPECT_EQ(AddCardsBatch(*stores_, "I", "", "n").message, "请将信息填写完整");
  EXPECT_EQ(AddCardsBatch(*stores_, "I", "a,b", "").message, "请将信息填写完整");
  // The bytes of "，" (A3 AC) across two characters are no comma: 埃 (B0 A3) then AC 40.
  const std::string straddling = "\xB0\xA3\xAC\x40,x";
  EXPECT_EQ(AddCardsBatch(*stores_, "I", straddling, "n").message, "添加成功");
  EXPECT_EQ(Cards(), (std::vector<Fields>{{"I", "\xB0\xA3\xAC\x40", "x", "n"}}));
}

TEST_F(InventoryCommands, LargeBatchIsOneTransactionWithProgress) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "c" + std::to_string(i) + ",s" + std::to_string(i) + "\r\n";
  std::size_t calls = 0, lastDone = 0, lastTotal = 0;
  CommandOutcome out = AddCardsBatch(*stores_, "I", text, "n", [&](std::size_t done, std::size_t total) {
    ++calls;
    EXPECT_GE(done, lastDone);
    lastDone = done;
    lastTotal = total;
  });
  EXPECT_EQ(out.count, 5000u);
  EXPECT_GT(calls, 1u);
  EXPECT_EQ(lastDone, 5000u);
  EXPECT_EQ(lastTotal, 5000u);
  auto cards = ListCards(*stores_, CardListMode::kAll);
  ASSERT_EQ(cards.size(), 5000u);
  EXPECT_EQ(cards[4999].Field(3), "s4999");
}

TEST_F(InventoryCommands, ModifyReplacesOnlyTheTickedFieldsOfExistingCards) {
  AddCardsBatch(*stores_, "I", "1,a\r\n2,b\r\n3,c", "old");
  auto numbers = Numbers();
  ASSERT_EQ(numbers.size(), 3u);

  EXPECT_EQ(ModifyCards(*stores_, {}, ModifyFields{.note = "new"}, true).message, "未选择记录，不能修改");
  CommandOutcome cancelled = ModifyCards(*stores_, {numbers[0]}, ModifyFields{.note = "new"}, false);
  EXPECT_EQ(cancelled.message, "");
  EXPECT_EQ(Cards()[0][3], "old");

  // A ticked row whose card has gone meanwhile changes nothing else.
  stores_->Inventory().DeleteRecords({numbers[1]});
  CommandOutcome done = ModifyCards(*stores_, {numbers[0], numbers[1], numbers[2]}, ModifyFields{.note = "new"}, true);
  EXPECT_EQ(done.message, "修改成功");
  EXPECT_EQ(done.count, 2u);
  EXPECT_EQ(Cards(), (std::vector<Fields>{{"I", "1", "a", "new"}, {"I", "3", "c", "new"}}));

  done = ModifyCards(*stores_, {numbers[2]}, ModifyFields{.item = "J", .secret = ""}, true);
  EXPECT_EQ(done.count, 1u);
  EXPECT_EQ(Cards(), (std::vector<Fields>{{"I", "1", "a", "new"}, {"J", "3", "", "new"}}));
}

TEST_F(InventoryCommands, DeleteCardsOnlyWhenConfirmedAndOnlyThoseTicked) {
  AddCardsBatch(*stores_, "I", "1,a\r\n2,b\r\n3,c", "n");
  AddSent("o1", "b", "x");
  auto numbers = Numbers();
  EXPECT_EQ(DeleteCards(*stores_, {}, true).message, "未选择记录，不能删除");
  EXPECT_EQ(DeleteCards(*stores_, {numbers[0]}, false).count, 0u);
  EXPECT_EQ(Cards().size(), 3u);

  CommandOutcome out = DeleteCards(*stores_, {numbers[0], numbers[2], numbers[2] + 50}, true);
  EXPECT_EQ(out.message, "");
  EXPECT_FALSE(out.failed);
  EXPECT_EQ(out.count, 2u);
  EXPECT_EQ(Cards(), (std::vector<Fields>{{"I", "2", "b", "n"}}));
  EXPECT_EQ(ListSent(*stores_, SentListMode::kAll).size(), 1u);
}

TEST_F(InventoryCommands, DeleteSentRecordsActsOnTheSentStoreOnly) {
  AddCardsBatch(*stores_, "I", "1,a\r\n2,b", "n");
  AddSent("o1", "b", "x");
  AddSent("o2", "b", "y");
  AddSent("o3", "c", "z");
  auto sent = ListSent(*stores_, SentListMode::kAll);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(DeleteSentRecords(*stores_, {}, true).message, "未选择记录，不能删除");
  EXPECT_EQ(DeleteSentRecords(*stores_, {sent[0].recordNumber}, false).count, 0u);
  EXPECT_EQ(DeleteSentRecords(*stores_, {sent[0].recordNumber, sent[2].recordNumber}, true).count, 2u);
  auto left = ListSent(*stores_, SentListMode::kAll);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].Field(2), "o2");
  EXPECT_EQ(Cards().size(), 2u);

  // Codes taken for an order but not yet handed over live only in their record: never deleted, and
  // the refusal comes before any confirmation.
  const RecordNumber sending = stores_->Sent().AppendRecord({"A", "o4", "d", "1", "k", "s", "n", "发货中", "T"});
  ASSERT_GT(sending, 0);
  for (bool confirmed : {false, true}) {
    const CommandOutcome refused = DeleteSentRecords(*stores_, {left[0].recordNumber, sending}, confirmed);
    EXPECT_EQ(refused.message,
              "打钩的记录中有[1]条发货中的记录 不能删除: 这些卡密已从库存取出但还没有送到买家 删除后将无处可查");
    EXPECT_EQ(refused.count, 0u);
  }
  EXPECT_EQ(stores_->Sent().RecordCount(), 2);
}

TEST_F(InventoryCommands, ListsFilterByteExactWithoutTrimming) {
  AddCardsBatch(*stores_, "Card", "1,a\r\n2,b", "n");
  AddCardsBatch(*stores_, "card", "1,c", "n");
  auto byNumber = ListCards(*stores_, CardListMode::kByCardNumber, "1");
  ASSERT_EQ(byNumber.size(), 2u);
  EXPECT_EQ(byNumber[1].Field(1), "card");
  EXPECT_EQ(ListCards(*stores_, CardListMode::kByItem, "Card").size(), 2u);
  EXPECT_TRUE(ListCards(*stores_, CardListMode::kByItem, "CARD").empty());
  EXPECT_TRUE(ListCards(*stores_, CardListMode::kByItem, "Card ").empty());
  EXPECT_LT(byNumber[0].recordNumber, byNumber[1].recordNumber);

  AddSent("1001", "Buyer", "x");
  AddSent("1002", "Buyer", "y");
  AddSent("1001", "other", "z");
  AddSent("", "", "w");
  auto order = ListSent(*stores_, SentListMode::kByOrderNumber, "1001");
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[1].Field(5), "z");
  EXPECT_EQ(ListSent(*stores_, SentListMode::kByBuyer, "Buyer").size(), 2u);
  EXPECT_TRUE(ListSent(*stores_, SentListMode::kByBuyer, "buyer").empty());
  EXPECT_TRUE(ListSent(*stores_, SentListMode::kByOrderNumber, " 1001").empty());
  EXPECT_EQ(ListSent(*stores_, SentListMode::kByBuyer, "").size(), 1u);
}

TEST_F(InventoryCommands, StoreFailureIsNeverShownAsSuccess) {
  AddCardsBatch(*stores_, "I", "1,a", "n");
  auto numbers = Numbers();
  stores_->Close();
  CommandOutcome one = AddOneCard(*stores_, "I", "2", "b", "n");
  EXPECT_TRUE(one.failed);
  EXPECT_EQ(one.message.rfind("添加失败", 0), 0u) << one.message;
  EXPECT_TRUE(AddCardsBatch(*stores_, "I", "2,b", "n").failed);
  CommandOutcome modify = ModifyCards(*stores_, numbers, ModifyFields{.note = "x"}, true);
  EXPECT_TRUE(modify.failed);
  EXPECT_NE(modify.message, "修改成功");
  EXPECT_TRUE(DeleteCards(*stores_, numbers, true).failed);
}
