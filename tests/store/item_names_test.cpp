#include "store/item_names.h"

#include <gtest/gtest.h>

#include "store/item_name_commands.h"
#include "store/item_settings.h"
#include "support/temp_dir.h"

namespace torvane {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;
using Names = std::vector<std::string>;

TEST(ItemNameSplit, PiecesBetweenCrLfCountTheTailOnlyWhenNotEmpty) {
  EXPECT_EQ(SplitItemNames("A\r\nB\r\n"), (Names{"A", "B"}));
  EXPECT_EQ(SplitItemNames("A\r\n\r\nB"), (Names{"A", "", "B"}));
  EXPECT_EQ(SplitItemNames("A\r\nB"), (Names{"A", "B"}));
  EXPECT_EQ(SplitItemNames("\r\n"), (Names{""}));
  EXPECT_EQ(SplitItemNames(""), Names{});
  EXPECT_EQ(SplitItemNames("A\nB\r\n"), (Names{"A\nB"}));  // a bare LF is part of a name
}

TEST(ItemNameFile, MissingFileHasNoNamesAndListedMeansExactMatch) {
  TempDir dir;
  EXPECT_TRUE(ReadItemNames(dir.path()).empty());
  EXPECT_FALSE(IsListedItem(dir.path(), ""));
  WriteBytes(ItemNamesPath(dir.path()), std::string("点卡100元\r\nQQ币\r\n") + std::string("\0x\r\n", 4));
  EXPECT_EQ(ReadItemNames(dir.path()), (Names{"点卡100元", "QQ币", std::string("\0x", 2)}));
  EXPECT_TRUE(IsListedItem(dir.path(), "QQ币"));
  EXPECT_FALSE(IsListedItem(dir.path(), "qq币"));
  EXPECT_FALSE(IsListedItem(dir.path(), "点卡"));
  EXPECT_EQ(ItemNamesPath(dir.path()).filename(), std::filesystem::path(u8"宝贝名称.txt"));
}

TEST(AddItemNameCommand, AppendsNameWithCrLfRefusingOnlyWhatCannotBeALine) {
  TempDir dir;
  EXPECT_EQ(AddItemName(dir.path(), "A"), "添加成功");
  EXPECT_EQ(AddItemName(dir.path(), "A"), "添加成功");
  EXPECT_EQ(AddItemName(dir.path(), ""), "添加成功");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "A\r\nA\r\n\r\n");
  // Only a name that cannot be a line of GBK text is refused.
  EXPECT_EQ(AddItemName(dir.path(), "X\r\nY"), "宝贝名称含有控制字符");
  EXPECT_EQ(AddItemName(dir.path(), "X\xFF"), "宝贝名称含有GBK无法保存的字符");
  EXPECT_EQ(RenameItemName(dir.path(), "A", "B\tC"), "宝贝名称含有控制字符");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "A\r\nA\r\n\r\n");
  EXPECT_TRUE(IsItemNameCommandSuccess(AddItemName(dir.path(), "B")));

  // A last name without CR LF is not joined to the new one.
  WriteBytes(ItemNamesPath(dir.path()), "A\r\nB");
  EXPECT_EQ(AddItemName(dir.path(), "C"), "添加成功");
  EXPECT_EQ(ReadItemNames(dir.path()), (Names{"A", "B", "C"}));
}

TEST(AddItemNameCommand, UnreadableFileFailsAndIsNotReplaced) {
  TempDir dir;
  std::filesystem::create_directory(ItemNamesPath(dir.path()));
  std::string error;
  EXPECT_EQ(AddItemName(dir.path(), "A", &error), "添加失败");
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(IsItemNameCommandSuccess("添加失败"));
}

TEST(RenameItemNameCommand, ReplacesWholeLinesOnly) {
  TempDir dir;
  WriteBytes(ItemNamesPath(dir.path()), "A\r\nAB\r\nBA\r\nA\r\n");
  EXPECT_EQ(RenameItemName(dir.path(), "A", "C"), "修改成功");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "C\r\nAB\r\nBA\r\nC\r\n");
}

TEST(RenameItemNameCommand, KeepsAnUnterminatedLastNameUnterminated) {
  TempDir dir;
  WriteBytes(ItemNamesPath(dir.path()), "X\r\n\r\nA");
  EXPECT_EQ(RenameItemName(dir.path(), "A", "新名"), "修改成功");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "X\r\n\r\n新名");
}

TEST(RenameItemNameCommand, IncompleteInputOrUnknownNameChangesNothing) {
  TempDir dir;
  WriteBytes(ItemNamesPath(dir.path()), "A\r\n");
  EXPECT_EQ(RenameItemName(dir.path(), "", "C"), "请讲修改信息填写完整");
  EXPECT_EQ(RenameItemName(dir.path(), "A", ""), "请讲修改信息填写完整");
  std::string error;
  EXPECT_EQ(RenameItemName(dir.path(), "Z", "C", &error), "修改失败");
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "A\r\n");
}

TEST(DeleteItemNameCommand, RemovesExactlyTheMatchingLines) {
  TempDir dir;
  WriteBytes(ItemNamesPath(dir.path()), "A\r\nBC\r\nB\r\nCB\r\nB\r\n");
  EXPECT_EQ(DeleteItemName(dir.path(), "B"), "删除成功");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "A\r\nBC\r\nCB\r\n");
  EXPECT_EQ(DeleteItemName(dir.path(), "A"), "删除成功");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "BC\r\nCB\r\n");
}

TEST(DeleteItemNameCommand, LastUnterminatedNameAndBlankLinesAreLeftIntact) {
  TempDir dir;
  WriteBytes(ItemNamesPath(dir.path()), "A\r\n\r\nB");
  EXPECT_EQ(DeleteItemName(dir.path(), "B"), "删除成功");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "A\r\n\r\n");
  EXPECT_EQ(ReadItemNames(dir.path()), (Names{"A", ""}));
}

TEST(DeleteItemNameCommand, EmptySelectionOrUnknownNameChangesNothing) {
  TempDir dir;
  EXPECT_EQ(DeleteItemName(dir.path(), ""), "未选择任何宝贝,请返回重新选择");
  EXPECT_EQ(DeleteItemName(dir.path(), "A"), "删除失败");
  EXPECT_FALSE(std::filesystem::exists(ItemNamesPath(dir.path())));
  WriteBytes(ItemNamesPath(dir.path()), "AB\r\n");
  EXPECT_EQ(DeleteItemName(dir.path(), "A"), "删除失败");
  EXPECT_EQ(ReadBytes(ItemNamesPath(dir.path())), "AB\r\n");
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

TEST(ItemSettingsFile, RoundTripKeepsOtherBytesAndMatchesNamesExactly) {
  test::TempDir dir;
  // A seller's own file: a comment, an unknown key, a section of another case, a bad threshold.
  test::WriteBytes(ItemSettingsPath(dir.path()),
                   "; 手工写的\r\n[QQ币]\r\n循环=是\r\n备注=留着\r\n[qq会员]\r\n库存预警=5\r\n[点卡]\r\n库存预警=-3\r\n");
  ItemSettings settings;
  ASSERT_TRUE(settings.Load(dir.path()));
  EXPECT_EQ(settings.Of("QQ币"), (ItemSetting{true, std::nullopt}));
  EXPECT_EQ(settings.Of("qq币"), ItemSetting{});              // another item, byte for byte
  EXPECT_EQ(settings.Of("点卡"), ItemSetting{});              // -3 is no threshold
  EXPECT_EQ(settings.Of("qq会员"), (ItemSetting{false, 5}));
  EXPECT_EQ(settings.Items(), (std::vector<std::string>{"QQ币", "qq会员", "点卡"}));

  std::string error;
  EXPECT_FALSE(settings.Set("QQ会员", ItemSetting{true, 1}, &error));  // would land in [qq会员]
  EXPECT_NE(error.find("qq会员"), std::string::npos);
  for (const char* bad : {"[秒发]QQ", " 前有空格", "两\r\n行", ""}) {
    EXPECT_FALSE(settings.Set(bad, ItemSetting{true, 1}, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  ASSERT_TRUE(settings.Set("QQ币", ItemSetting{false, 10}, &error));
  ASSERT_TRUE(settings.Set("新宝贝", ItemSetting{true, 0}, &error));
  ASSERT_TRUE(settings.Save(dir.path(), &error)) << error;

  const std::string text = test::ReadBytes(ItemSettingsPath(dir.path()));
  EXPECT_EQ(text.rfind("; 手工写的\r\n[QQ币]\r\n循环=否\r\n备注=留着\r\n库存预警=10\r\n", 0), 0u) << text;
  EXPECT_EQ(ReadItemSetting(dir.path(), "新宝贝"), (ItemSetting{true, 0}));
  EXPECT_EQ(ReadItemSetting(dir.path(), "QQ币"), (ItemSetting{false, 10}));
}

TEST(ItemSettingsFile, ThresholdsAreWholeNumbersOnly) {
  const std::vector<std::pair<std::string, std::optional<std::int64_t>>> rows = {
      {"0", 0}, {"10", 10}, {"999999999", 999999999}, {"", std::nullopt}, {"1e3", std::nullopt},
      {"-1", std::nullopt}, {"1000000000", std::nullopt}, {"５", std::nullopt}};
  for (const auto& [text, value] : rows) EXPECT_EQ(ParseLowStock(text), value) << text;
}

}  // namespace
}  // namespace torvane
