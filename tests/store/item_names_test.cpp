#include "store/item_names.h"

#include <gtest/gtest.h>

#include "store/item_name_commands.h"
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
