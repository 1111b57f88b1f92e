#include "app/cli.h"


#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "notify/password.h"
#include "app/demo.h"
#include "app/export_target.h"
#include "app/resend.h"
#include "app/paths.h"
#include "app/runner.h"
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
#include "base/text.h"
#include "web/cookie_store.h"

namespace torvane {

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  torvane [--demo] [--config-dir DIR] [--data-dir DIR]     (the window)\n"
    "  torvane run [--config-dir DIR] [--data-dir DIR] [--once]\n"
    "  torvane cards import FILE --item NAME [--note TEXT] [--encoding gbk|utf-8] [--allow-duplicates] [--data-dir DIR]\n"
    "  torvane cards list [--item NAME] [--data-dir DIR]\n"
    "  torvane sent list [--order N | --buyer B] [--data-dir DIR]\n"
    "  torvane sent export FILE.csv [--config-dir DIR] [--data-dir DIR]\n"
    "  torvane sent resend --order N [--to ADDRESS] [--config-dir DIR] [--data-dir DIR]\n"
    "  torvane demo\n"
    "  torvane mail-password        (the password on standard input)\n"
    "  torvane --version | --help\n"
    "Without --config-dir and --data-dir: a copy run from its own folder (a build, an unpacked copy, or one\n"
    "holding its 配置文件.ini) keeps its configuration beside the program and its data in the current\n"
    "directory; an installed copy uses ~/.config/torvane and ~/.local/share/torvane ($XDG_CONFIG_HOME,\n"
    "$XDG_DATA_HOME). See torvane(1).\n";

int Usage(const std::string& problem = {}) {
  if (!problem.empty()) std::fprintf(stderr, "torvane: %s\n", EscapeTerminalControls(problem).c_str());
  std::fputs(GbkToUtf8(kUsage).c_str(), stderr);  // the usage names files in Chinese
  return 2;
}

// Terminal output is UTF-8; the program's texts are GBK. Control characters that came with a page
// or a file are shown as \xNN, never sent to the terminal.
void PrintLine(const std::string& gbk) {
  std::string utf8 = EscapeTerminalControls(GbkToUtf8(gbk));
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintError(const std::string& gbk) {
  std::string utf8 = EscapeTerminalControls(GbkToUtf8(gbk));
  std::fprintf(stderr, "torvane: %s\n", utf8.c_str());
}

// An activity line as it stands in the log, its CR LF line breaks as the terminal's.
void PrintActivityLine(const std::string& line) {
  std::string text = ReplaceAll(line, "\r\n", "\n");
  std::string utf8 = EscapeTerminalControls(GbkToUtf8(text));
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  if (utf8.empty() || utf8.back() != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Arguments after the command: options (--name value, or flags) and positional words.
struct Arguments {
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  std::vector<std::string> flags;
  std::string problem;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  bool Flag(const std::string& name) const {
    for (const auto& f : flags) {
      if (f == name) return true;
    }
    return false;
  }
};

Arguments ParseArguments(int argc, char** argv, int first, const std::vector<std::string>& valued,
                         const std::vector<std::string>& boolean) {
  Arguments args;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) == 0 && a.size() > 2) {
      std::string name = a.substr(2);
      std::string value;
      bool inlineValue = false;
      auto eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
      bool isValued = std::find(valued.begin(), valued.end(), name) != valued.end();
      bool isBoolean = std::find(boolean.begin(), boolean.end(), name) != boolean.end();
      if (isValued) {
        if (!inlineValue) {
          if (i + 1 >= argc) {
            args.problem = "--" + name + " needs a value";
            return args;
          }
          value = argv[++i];
        }
        if (args.options.count(name)) {
          args.problem = "--" + name + " given twice";
          return args;
        }
        args.options[name] = value;
      } else if (isBoolean && !inlineValue) {
        args.flags.push_back(name);
      } else {
        args.problem = "unknown option --" + name;
        return args;
      }
    } else {
      args.words.push_back(a);
    }
  }
  return args;
}

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

// The problem with an empty --config-dir or --data-dir (an empty path would mean "not given"); "" when none.
std::string EmptyDirectoryOption(const Arguments& args) {
  for (const char* name : {"config-dir", "data-dir"}) {
    if (args.Has(name) && args.options.at(name).empty()) return std::string("--") + name + " must not be empty";
  }
  return {};
}

// A field of a listing: tabs, line breaks and backslashes written as \t, \n, \r and \\ so a record stays one line.
std::string ListingField(const std::string& gbk) {
  std::string out;
  out.reserve(gbk.size());
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(gbk[i]);
    if (CharLengthAt(gbk, i) == 2) {
      out.push_back(gbk[i]);
      out.push_back(gbk[++i]);
      continue;
    }
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out.push_back(static_cast<char>(c));
    }
  }
  return out;
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
  if (args.words.size() != 3) return Usage("cards import needs exactly one FILE");
  if (!args.Has("item")) return Usage("cards import needs --item NAME");
  TextEncoding encoding = TextEncoding::kDetect;
  if (args.Has("encoding")) {
    std::string name = args.options.at("encoding");
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name == "gbk") encoding = TextEncoding::kGbk;
    else if (name == "utf-8" || name == "utf8") encoding = TextEncoding::kUtf8;
    else return Usage("--encoding must be gbk or utf-8");
  }
  if (args.options.at("item").empty()) return Usage("--item must not be empty");
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
  if (args.words.size() != 2) return Usage("cards list takes no further words");
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
  if (args.words.size() != 2) return Usage("sent list takes no further words");
  if (args.Has("order") && args.Has("buyer")) return Usage("give --order or --buyer, not both");
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
  const char* captions[] = {"宝贝名称", "订单编号", "客户旺旺", "数量", "所发卡号",
                            "所发卡密", "所发备注", "发货方式", "发货时间"};
  for (std::size_t i = 0; i < 9; ++i) {
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

// Prints the stored form of the mail password read from standard input. Never from the command line:
// there the shell history keeps it and every local user sees it in ps.
int MailPassword(int argc) {
  if (argc != 2) {
    return Usage("mail-password takes no PASSWORD argument: on the command line the shell history keeps it and "
                 "other users see it in ps; type it when asked, or pipe it in (torvane mail-password < file)");
  }
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
  if (args.words.size() != 1) return Usage("run takes no further words");
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

int UsageError(const std::string& problem) { return Usage(problem); }

int RunCommandLine(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(GbkToUtf8(kUsage).c_str(), stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("torvane %s\n", kProgramVersion);
    return 0;
  }
  if (command == "run") {
    Arguments args = ParseArguments(argc, argv, 1, {"config-dir", "data-dir"}, {"once"});
    if (args.problem.empty()) args.problem = EmptyDirectoryOption(args);
    if (!args.problem.empty()) return Usage(args.problem);
    return Run(args);
  }
  if (command == "sent" && argc > 2 && std::string(argv[2]) == "resend") {
    Arguments args = ParseArguments(argc, argv, 1, {"order", "to", "config-dir", "data-dir"}, {});
    if (args.problem.empty()) args.problem = EmptyDirectoryOption(args);
    if (!args.problem.empty()) return Usage(args.problem);
    return SentResend(args);
  }
  if (command == "cards" || command == "sent") {
    Arguments args = ParseArguments(argc, argv, 1,
                                    {"item", "note", "encoding", "order", "buyer", "config-dir", "data-dir"},
                                    {"allow-duplicates"});
    if (args.problem.empty()) args.problem = EmptyDirectoryOption(args);
    if (!args.problem.empty()) return Usage(args.problem);
    std::string sub = args.words.size() > 1 ? args.words[1] : "";
    if (command == "cards" && sub == "import") return CardsImport(args);
    if (!args.flags.empty()) return Usage("--allow-duplicates belongs to cards import");
    if (command == "cards" && sub == "list") {
      if (args.Has("note") || args.Has("encoding") || args.Has("order") || args.Has("buyer")) {
        return Usage("cards list takes only --item");
      }
      return CardsList(args);
    }
    if (command == "sent" && sub == "list") {
      if (args.Has("item") || args.Has("note") || args.Has("encoding")) return Usage("sent list takes --order or --buyer");
      return SentList(args);
    }
    if (command == "sent" && sub == "export") {
      if (args.options.size() != (args.Has("data-dir") ? 1u : 0u) + (args.Has("config-dir") ? 1u : 0u)) {
        return Usage("sent export takes only --config-dir and --data-dir");
      }
      return SentExport(args);
    }
    return Usage("unknown command: " + command + " " + sub);
  }
  if (command == "demo") {
    Arguments args = ParseArguments(argc, argv, 1, {}, {});
    if (!args.problem.empty() || args.words.size() != 1) return Usage(args.problem);
    DemoOptions options;
    options.programDir = ProgramDirectory();
    options.printLine = PrintActivityLine;
    return RunDemo(options);
  }
  if (command == "mail-password") return MailPassword(argc);
  return Usage("unknown command: " + command);
}

}  // namespace torvane
