#include "store/item_name_commands.h"

#include <mutex>
#include <optional>

#include "base/files.h"
#include "store/inventory_commands.h"
#include "store/item_names.h"
#include "base/text.h"

namespace torvane {

namespace {

constexpr std::string_view kAdded = "添加成功";
constexpr std::string_view kAddFailed = "添加失败";
constexpr std::string_view kRenameIncomplete = "请讲修改信息填写完整";
constexpr std::string_view kRenamed = "修改成功";
constexpr std::string_view kRenameFailed = "修改失败";
constexpr std::string_view kNothingSelected = "未选择任何宝贝,请返回重新选择";
constexpr std::string_view kDeleted = "删除成功";
constexpr std::string_view kDeleteFailed = "删除失败";

// The commands read, change and rewrite the whole file: one at a time.
std::mutex& FileMutex() {
  static std::mutex mu;
  return mu;
}

// The file's text; a missing file is empty, an unreadable one nullopt (error set).
std::optional<std::string> ReadNames(const std::filesystem::path& path, std::string* error) {
  std::string readError;
  auto text = ReadWholeFile(path, &readError);
  if (!text) {
    if (error) *error = readError;
    if (!readError.empty()) return std::nullopt;
    return std::string();
  }
  return text;
}

// Rebuilds the text line by line (lines split as ReadItemNames splits them). Each line equal to
// name is replaced by `replacement` (keeping its CR LF) or, when remove is set, dropped with
// its CR LF. Every other byte is copied. count receives the number of lines matched.
std::string RewriteLines(std::string_view text, std::string_view name, std::string_view replacement, bool remove,
                         std::size_t& count) {
  std::string out;
  out.reserve(text.size());
  count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t hit = FindText(text, kCrLf, pos);
    std::size_t end = hit == kNotFound ? text.size() : hit;
    std::size_t next = hit == kNotFound ? text.size() : hit + kCrLf.size();
    std::string_view line = text.substr(pos, end - pos);
    if (line == name) {
      ++count;
      if (!remove) {
        out += replacement;
        out += text.substr(end, next - end);
      }
    } else {
      out += text.substr(pos, next - pos);
    }
    pos = next;
  }
  return out;
}

}  // namespace

std::string AddItemName(const std::filesystem::path& dataDir, std::string_view name, std::string* error) {
  if (std::string fault = FieldFault(name, "宝贝名称"); !fault.empty()) return fault;
  std::lock_guard lock(FileMutex());
  const auto path = ItemNamesPath(dataDir);
  auto text = ReadNames(path, error);
  if (!text) return std::string(kAddFailed);
  if (!text->empty() && !text->ends_with(kCrLf)) *text += kCrLf;
  *text += name;
  *text += kCrLf;
  if (!WriteFileAtomic(path, *text, error)) return std::string(kAddFailed);
  return std::string(kAdded);
}

std::string RenameItemName(const std::filesystem::path& dataDir, std::string_view oldName, std::string_view newName,
                           std::string* error) {
  if (error) error->clear();
  if (oldName.empty() || newName.empty()) return std::string(kRenameIncomplete);
  if (std::string fault = FieldFault(newName, "宝贝名称"); !fault.empty()) return fault;
  std::lock_guard lock(FileMutex());
  const auto path = ItemNamesPath(dataDir);
  auto text = ReadNames(path, error);
  if (!text) return std::string(kRenameFailed);
  std::size_t count = 0;
  std::string changed = RewriteLines(*text, oldName, newName, false, count);
  if (count == 0) {
    if (error) *error = "宝贝名称.txt 中没有这个宝贝名称";
    return std::string(kRenameFailed);
  }
  if (!WriteFileAtomic(path, changed, error)) return std::string(kRenameFailed);
  return std::string(kRenamed);
}

std::string DeleteItemName(const std::filesystem::path& dataDir, std::string_view name, std::string* error) {
  if (error) error->clear();
  if (name.empty()) return std::string(kNothingSelected);
  std::lock_guard lock(FileMutex());
  const auto path = ItemNamesPath(dataDir);
  auto text = ReadNames(path, error);
  if (!text) return std::string(kDeleteFailed);
  std::size_t count = 0;
  std::string changed = RewriteLines(*text, name, {}, true, count);
  if (count == 0) {
    if (error) *error = "宝贝名称.txt 中没有这个宝贝名称";
    return std::string(kDeleteFailed);
  }
  if (!WriteFileAtomic(path, changed, error)) return std::string(kDeleteFailed);
  return std::string(kDeleted);
}

bool IsItemNameCommandSuccess(std::string_view message) {
  return message == kAdded || message == kRenamed || message == kDeleted;
}

}  // namespace torvane
