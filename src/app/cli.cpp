#include "app/cli.h"


#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "notify/password.h"
#include "app/demo.h"
#include "app/export_target.h"
#include "app/item_commands.h"
#include "app/resend.h"
#include "app/paths.h"
#include "app/runner.h"
#include "app/stats.h"
#include "app/terminal.h"
#include "app/version.h"
#include "platform/process.h"
#include "base/deployment.h"
#include "base/files.h"
#include "base/settings.h"
#include "platform/instance_lock.h"
#include "store/inventory_commands.h"
#include "store/blacklist.h"
#include "store/item_names.h"
#include "store/record_store.h"
#include "store/sales_stats.h"
#include "base/text.h"
#include "web/cookie_store.h"

namespace torvane {

namespace {

// The problem and the usage on standard error; the exit status 2.
int Usage(const std::string& problem = {}) { return UsageError(problem); }

// The configuration and data directories by the program's one rule (app/paths.h), the options taken
// into account; nullopt after saying why they cannot be had.
std::optional<SessionPaths> Directories(const Arguments& args) {
  PathOptions options;
  if (args.Has("config-dir")) options.configDir = args.options.at("config-dir");
  if (args.Has("data-dir")) options.dataDir = args.options.at("data-dir");
  std::string error;
  std::optional<SessionPaths> paths = ResolveSessionPaths(options, &error);
  if (!paths) PrintError(error);
  return paths;
}

template <typename RecordT>
void PrintRecords(const std::vector<RecordT>& records) {
  for (const auto& record : records) {
    std::string line;
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
      if (i) line.push_back('\t');
      line += ListingField(record.fields[i]);
    }
    PrintLine(line);
  }
  std::fflush(stdout);
}

std::unique_ptr<CardStores> OpenStoresOrComplain(const std::filesystem::path& dataDir,
                                                 StoreAccess access = StoreAccess::kReadWrite) {
  StoreError error;
  std::vector<std::string> created;
  auto stores = CardStores::Open(dataDir, &error, &created, access);
  if (!stores) {
    PrintError(error.message);
    return nullptr;
  }
  for (const auto& name : created) PrintError(name + " 不存在 已新建空的卡密库");
  for (const auto& note : stores->OpenNotes()) PrintError(note);
  return stores;
}

constexpr std::uint64_t kMaxCardFileBytes = std::uint64_t{1} << 30;

// The bytes of a card file; nullopt (error says why) unless it is a regular file of at most 1 GB.
// Nothing else is opened, and the open does not wait, so a device or a FIFO cannot hold the import.
std::optional<std::string> ReadCardFile(const std::filesystem::path& file, std::string* error) {
  const std::string name = PathText(file);
  ReadRefusal refusal = ReadRefusal::kNone;
  std::string why;
  std::optional<std::string> bytes = ReadRegularFile(file, kMaxCardFileBytes, &refusal, &why);
  switch (refusal) {
    case ReadRefusal::kNone: break;
    case ReadRefusal::kMissing: *error = "文件不存在: " + name; break;
    case ReadRefusal::kNotRegular: *error = name + " 不是普通文件"; break;
    case ReadRefusal::kTooLarge: *error = name + " 太大: 卡密文件最多 1 GB"; break;
    case ReadRefusal::kReplaced: *error = "无法读取 " + name + ": 文件在读取时被替换"; break;
    case ReadRefusal::kFailed: *error = "无法读取 " + name + ": " + why; break;
  }
  return bytes;
}

// A command-line text (UTF-8) as GBK; nullopt after telling what cannot be stored.
std::optional<std::string> ArgumentText(const std::string& utf8, const std::string& caption) {
  DecodedText text = DecodeToGbk(utf8, TextEncoding::kUtf8);
  if (!text.ok()) {
    PrintError(caption + ": " + text.fault);
    return std::nullopt;
  }
  return text.gbk;
}

std::string DuplicateText(const DuplicateCard& card) {
  std::string where;
  switch (card.where) {
    case CardDuplicate::Where::kInventory: where = "已在库存中"; break;
    case CardDuplicate::Where::kSent: where = "已发出过"; break;
    case CardDuplicate::Where::kEarlier: where = "与第" + std::to_string(card.earlierLine) + "行相同"; break;
  }
  return "第" + std::to_string(card.line) + "行 " + ListingField(card.number) + "," + ListingField(card.secret) + " " +
         where;
}

void PrintDuplicates(const std::vector<DuplicateCard>& duplicates) {
  constexpr std::size_t kShown = 20;
  for (std::size_t i = 0; i < duplicates.size() && i < kShown; ++i) PrintError("  " + DuplicateText(duplicates[i]));
  if (duplicates.size() > kShown) PrintError("  另有 " + std::to_string(duplicates.size() - kShown) + " 张");
}

int CardsImport(const Arguments& args) {
  TextEncoding encoding = TextEncoding::kDetect;
  if (args.Has("encoding")) {
    std::string name = args.options.at("encoding");
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    encoding = name == "gbk" ? TextEncoding::kGbk : TextEncoding::kUtf8;  // the grammar allows no other
  }
  auto item = ArgumentText(args.options.at("item"), "宝贝名称");
  auto note = ArgumentText(args.Has("note") ? args.options.at("note") : std::string(), "宝贝备注");
  if (!item || !note) return 1;

  std::filesystem::path file = args.words[2];
  const std::string name = PathText(file);
  std::string readError;
  auto bytes = ReadCardFile(file, &readError);
  if (!bytes) {
    PrintError(readError);
    return 1;
  }
  DecodedText text = DecodeToGbk(*bytes, encoding);
  if (!text.ok()) {
    PrintError(name + " 第" + std::to_string(text.faultLine) + "行: " + text.fault);
    return 1;
  }
  // The window insists on a note; on the command line the note is optional.
  CardBatch batch = ParseCardBatch(*item, text.gbk, *note);
  if (!batch.fault.empty()) {
    PrintError(batch.faultLine != 0 ? name + " " + batch.fault : batch.fault);
    return 1;
  }
  if (batch.cards.empty()) {
    PrintError(name + " 中没有卡密");
    return 1;
  }

  const std::optional<SessionPaths> paths = Directories(args);
  if (!paths) return 1;
  const std::filesystem::path& dataDir = paths->dataDir;
  auto stores = OpenStoresOrComplain(dataDir);
  if (!stores) return 1;

  bool showProgress = bytes->size() > (1u << 20);
  auto progress = [&](std::size_t done, std::size_t total) {
    if (!showProgress) return;
    std::fprintf(stderr, "\r%s %zu/%zu", GbkToUtf8("已导入").c_str(), done, total);
    if (done == total) std::fputc('\n', stderr);
  };
  const bool allowDuplicates = args.Flag("allow-duplicates");
  CommandOutcome outcome =
      AddParsedCards(*stores, batch, allowDuplicates ? DuplicatePolicy::kAdd : DuplicatePolicy::kRefuse, progress);
  stores->Close();
  bool ok = !outcome.failed && outcome.message == "添加成功";
  if (!ok) {
    PrintError(outcome.message);
    if (!outcome.failed && !outcome.duplicates.empty()) {
      PrintDuplicates(outcome.duplicates);
      PrintError("要照样导入重复的卡密请加 --allow-duplicates");
    }
    return 1;
  }
  PrintLine(outcome.message + " " + std::to_string(outcome.count));
  if (!outcome.duplicates.empty()) {
    PrintError("提示: 其中 " + std::to_string(outcome.duplicates.size()) + " 张是重复的卡密");
  }
  if (!IsListedItem(dataDir, *item)) {
    PrintError("提示: 宝贝名称.txt 中没有 " + *item + "，缺货时不会发出库存不足通知");
  }
  return 0;
}

// After a listing: false (and the reason printed) when the store could not be read.
bool ListingRead() {
  std::string error = LastStoreError();
  if (error.empty()) return true;
  PrintError("卡密库读取失败: " + error);
  return false;
}

int CardsList(const Arguments& args) {
  const std::optional<SessionPaths> paths = Directories(args);
  if (!paths) return 1;
  auto stores = OpenStoresOrComplain(paths->dataDir, StoreAccess::kReadOnly);
  if (!stores) return 1;
  std::vector<CardRecord> cards = args.Has("item")
                                      ? ListCards(*stores, CardListMode::kByItem, Utf8ToGbk(args.options.at("item")))
                                      : ListCards(*stores, CardListMode::kAll);
  if (!ListingRead()) return 1;
  stores->Close();
  PrintRecords(cards);
  return 0;
}

int SentList(const Arguments& args) {
  const std::optional<SessionPaths> paths = Directories(args);
  if (!paths) return 1;
  auto stores = OpenStoresOrComplain(paths->dataDir, StoreAccess::kReadOnly);
  if (!stores) return 1;
  std::vector<SentRecord> records;
  if (args.Has("order")) {
    records = ListSent(*stores, SentListMode::kByOrderNumber, Utf8ToGbk(args.options.at("order")));
  } else if (args.Has("buyer")) {
    records = ListSent(*stores, SentListMode::kByBuyer, Utf8ToGbk(args.options.at("buyer")));
  } else {
    records = ListSent(*stores, SentListMode::kAll);
  }
  if (!ListingRead()) return 1;
  stores->Close();
  PrintRecords(records);
  return 0;
}

// A quoted CSV field. A field a spreadsheet would take for a formula (one starting with =, +, -, @,
// tab or CR) gets a leading ' so that it stays text: a card secret must never run as a formula.
std::string CsvField(const std::string& utf8) {
  std::string out = "\"";
  if (!utf8.empty() && std::string_view("=+-@\t\r").find(utf8.front()) != std::string_view::npos) out.push_back('\'');
  for (char c : utf8) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

int SentExport(const Arguments& args) {
  if (args.words.size() != 3) return Usage("sent export needs exactly one FILE.csv");
  const std::optional<SessionPaths> paths = Directories(args);
  if (!paths) return 1;
  std::string problem;
  std::optional<std::filesystem::path> file = ExportTarget(args.words[2], *paths, &problem);
  if (!file) {
    PrintError(problem);
    return 1;
  }
  auto stores = OpenStoresOrComplain(paths->dataDir, StoreAccess::kReadOnly);
  if (!stores) return 1;
  auto records = ListSent(*stores, SentListMode::kAll);
  if (!ListingRead()) return 1;  // an earlier export stays as it was
  stores->Close();

  // UTF-8 with a byte-order mark, so spreadsheet programs read the Chinese texts right.
  std::string csv = "\xEF\xBB\xBF";
  const char* captions[] = {"宝贝名称", "订单编号", "客户旺旺", "数量",     "所发卡号", "所发卡密",
                            "所发备注", "发货方式", "发货时间", "交付时间", "交付渠道"};
  static_assert(sizeof(captions) / sizeof(captions[0]) == SentRecord::kFieldCount);
  for (std::size_t i = 0; i < SentRecord::kFieldCount; ++i) {
    if (i) csv.push_back(',');
    csv += CsvField(GbkToUtf8(captions[i]));
  }
  csv += "\r\n";
  for (const auto& record : records) {
    for (std::size_t i = 0; i < record.fields.size(); ++i) {
      if (i) csv.push_back(',');
      csv += CsvField(GbkToUtf8(record.fields[i]));
    }
    csv += "\r\n";
  }
  std::string error;
  if (!WriteFileAtomic(*file, csv, &error)) {
    PrintError(error);
    return 1;
  }
  std::fprintf(stdout, "%zu\n", records.size());
  return 0;
}

int SentResend(const Arguments& args) {
  if (args.words.size() != 2) return Usage("sent resend takes no further words");
  if (!args.Has("order") || args.options.at("order").empty()) return Usage("sent resend needs --order N");
  const std::optional<SessionPaths> paths = Directories(args);
  if (!paths) return 1;
  ResendOptions options;
  options.configDir = paths->configDir;
  options.dataDir = paths->dataDir;
  options.orderNumber = Utf8ToGbk(args.options.at("order"));
  if (args.Has("to")) options.mailTo = Utf8ToGbk(args.options.at("to"));
  options.printLine = PrintActivityLine;
  return ResendCommand(options);
}

int Stats(const Arguments& args) {
  std::optional<int> days = kSalesDefaultDays;
  if (args.Has("days")) days = ParseStatsDays(args.options.at("days"));
  if (!days) return Usage("--days must be a whole number from 1 to " + std::to_string(kSalesMaxDays));
  const std::optional<SessionPaths> paths = Directories(args);
  if (!paths) return 1;
  return StatsCommand(paths->dataDir, *days);
}

// Prints the stored form of the mail password read from standard input. Never from the command line:
// there the shell history keeps it and every local user sees it in ps.
int MailPassword() {
  std::optional<std::string> password = ReadSecretLine(GbkToUtf8("邮件密码 (输入时不显示): "));
  if (!password || password->empty()) {
    PrintError("没有读到密码");
    return 1;
  }
  // A character GBK cannot hold would silently become another password.
  std::optional<std::string> gbk = ArgumentText(*password, "邮件密码");
  if (!gbk) return 1;
  std::fprintf(stdout, "%s\n", GbkToUtf8(ObfuscateMailPassword(*gbk)).c_str());
  return 0;
}

int Run(const Arguments& args) {
  const std::optional<SessionPaths> paths = Directories(args);
  if (!paths) return 1;
  RunOptions options;
  options.configDir = paths->configDir;
  options.dataDir = paths->dataDir;
  options.once = args.Flag("once");
  options.printLine = PrintActivityLine;
  return RunHeadless(options);
}

}  // namespace

int RunCommand(const CommandLine& line) {
  const Arguments& args = line.args;
  switch (line.command) {
    case Command::kRun: return Run(args);
    case Command::kCardsImport: return CardsImport(args);
    case Command::kCardsList: return CardsList(args);
    case Command::kItemsList:
    case Command::kItemsSet: {
      const std::optional<SessionPaths> paths = Directories(args);
      if (!paths) return 1;
      return line.command == Command::kItemsList ? ItemsList(paths->dataDir) : ItemsSet(args, paths->dataDir);
    }
    case Command::kSentList: return SentList(args);
    case Command::kSentExport: return SentExport(args);
    case Command::kSentResend: return SentResend(args);
    case Command::kStats: return Stats(args);
    case Command::kDemo: {
      DemoOptions options;
      options.programDir = ProgramDirectory();
      options.printLine = PrintActivityLine;
      return RunDemo(options);
    }
    case Command::kMailPassword: return MailPassword();
    case Command::kWindow: break;
  }
  return Usage("the window is not a command");
}

}  // namespace torvane
