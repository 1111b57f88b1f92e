// Commands of the item-name windows: add, rename and delete a name in 宝贝名称.txt.
// Each returns the message the window shows (GBK); error, when given, receives the reason
// of a failed write for the activity log.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvane {

// Appends name + CR LF: "添加成功" or "添加失败"; a name with a control character or bytes that
// are not GBK is refused with the FieldFault text. Otherwise the name is not checked: an empty
// name adds an empty line and a name already listed is listed twice. When the file's last name has no
// CR LF after it, one is put there first so the two names stay apart.
std::string AddItemName(const std::filesystem::path& dataDir, std::string_view name, std::string* error = nullptr);

// Replaces every line equal to oldName by newName: "请讲修改信息填写完整" when either is empty,
// the FieldFault text for a new name that cannot be stored, else "修改成功", or "修改失败" when the file cannot be read or written or holds no such line.
// Only whole lines change (renaming A leaves AB alone); every other byte stays as it was.
std::string RenameItemName(const std::filesystem::path& dataDir, std::string_view oldName, std::string_view newName,
                           std::string* error = nullptr);

// Removes every line equal to name, with its CR LF: "未选择任何宝贝,请返回重新选择" when name is
// empty, else "删除成功", or "删除失败" when the file cannot be read or written or holds no such line.
std::string DeleteItemName(const std::filesystem::path& dataDir, std::string_view name, std::string* error = nullptr);

// True for the success messages of the three commands: the window then refills its lists and closes.
bool IsItemNameCommandSuccess(std::string_view message);

}  // namespace torvane
