#include "app/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "notify/password.h"
#include "app/demo.h"
#include "app/runner.h"
#include "base/files.h"
#include "store/inventory_commands.h"
#include "store/item_names.h"
#include "store/record_store.h"
#include "base/text.h"

namespace torvane {

std::filesystem::path ProgramDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path();
  return exe.parent_path();
}

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  torvane [--demo] [--config-dir DIR]     (the window)\n"
    "  torvane run [--config-dir DIR] [--once]\n"
    "  torvane cards import FILE --item NAME [--note TEXT] [--encoding gbk|utf-8]\n"
    "  torvane cards list [--item NAME]\n"
    "  torvane sent list [--order N | --buyer B]\n"
    "  torvane sent export FILE.csv\n"
    "  torvane demo\n"
    "  torvane mail-password PASSWORD\n";

int Usage(const std::string& problem = {}) {
  if (!problem.empty()) std::fprintf(stderr, "torvane: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// Terminal output is UTF-8; the program's texts are GBK.
void PrintLine(const std::string& gbk) {
  std::string utf8 = GbkToUtf8(gbk);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintError(const std::string& gbk) {
  std::string utf8 = GbkToUtf8(gbk);
  std::fprintf(stderr, "torvane: %s\n", utf8.c_str());
}

// An activity line as it stands in the log, its CR LF line breaks as the terminal's.
void PrintActivityLine(const std::string& line) {
  std::string text = ReplaceAll(line, "\r\n", "\n");
  std::string utf8 = GbkToUtf8(text);
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

std::filesystem::path ConfigDirectory(const Arguments& args) {
  if (args.Has("config-dir")) return std::filesystem::path(args.options.at("config-dir"));
  return ProgramDirectory();
}

// A field of a listing: tabs, line breaks and backslashes written as \t, \n, \r and \\ so a record stays one line.
std::string ListingField(const std::string& gbk) {
  std::string out;
  out.reserve(gbk.size());
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(gbk[i]);
    if (IsLeadByte(c) && i + 1 < gbk.size()) {
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

std::unique_ptr<CardStores> OpenStoresOrComplain(const std::filesystem::path& dataDir) {
  StoreError error;
  std::vector<std::string> created;
  auto stores = CardStores::Open(dataDir, &error, &created);
  if (!stores) {
    PrintError(error.message);
    return nullptr;
  }
  for (const auto& name : created) PrintError(name + " 不存在 已新建空的卡密库");
  return stores;
}

// The card file's text as GBK: a UTF-8 byte-order mark or valid UTF-8 means UTF-8, anything else GBK.
std::optional<std::string> CardFileText(const std::string& bytes, const std::string& encoding) {
  static constexpr std::string_view kBom = "\xEF\xBB\xBF";
  std::string_view body = bytes;
  bool utf8;
  if (encoding == "utf-8" || encoding == "utf8") {
    utf8 = true;
  } else if (encoding == "gbk") {
    utf8 = false;
  } else if (!encoding.empty()) {
    return std::nullopt;
  } else {
    utf8 = body.substr(0, 3) == kBom || (!IsAscii(body) && IsValidUtf8(body));
  }
  if (utf8 && body.substr(0, 3) == kBom) body.remove_prefix(3);
  return utf8 ? Utf8ToGbk(body) : std::string(body);
}

int CardsImport(const Arguments& args) {
  if (args.words.size() != 3) return Usage("cards import needs exactly one FILE");
  if (!args.Has("item")) return Usage("cards import needs --item NAME");
  std::filesystem::path file = args.words[2];
  std::string readError;
  auto bytes = ReadWholeFile(file, &readError);
  if (!bytes) {
    PrintError(readError.empty() ? "文件不存在: " + PathText(file) : readError);
    return 1;
  }
  std::string encoding = args.Has("encoding") ? args.options.at("encoding") : "";
  auto text = CardFileText(*bytes, encoding);
  if (!text) return Usage("--encoding must be gbk or utf-8");
  std::string item = Utf8ToGbk(args.options.at("item"));
  std::string note = args.Has("note") ? Utf8ToGbk(args.options.at("note")) : std::string();
  if (item.empty()) return Usage("--item must not be empty");

  std::filesystem::path dataDir = std::filesystem::current_path();
  auto stores = OpenStoresOrComplain(dataDir);
  if (!stores) return 1;

  bool showProgress = bytes->size() > (1u << 20);
  auto progress = [&](std::size_t done, std::size_t total) {
    if (!showProgress) return;
    std::fprintf(stderr, "\r%s %zu/%zu", GbkToUtf8("已导入").c_str(), done, total);
    if (done == total) std::fputc('\n', stderr);
  };

  CommandOutcome outcome;
  if (note.empty()) {
    // The window insists on a note; on the command line the note is optional.
    if (ContainsText(*text, "，")) {
      outcome.message = "逗号填写错误 请填写英文输入状态下的逗号";
      outcome.failed = true;
    } else {
      auto cards = ParseCardBatch(item, *text, note);
      outcome.count = stores->Inventory().AppendMany(
          cards, [&](std::size_t done) { progress(done, cards.size()); });
      outcome.failed = outcome.count != cards.size();
      outcome.message = outcome.failed ? std::string("添加失败") : std::string("添加成功");
    }
  } else {
    outcome = AddCardsBatch(*stores, item, *text, note, progress);
  }
  bool ok = !outcome.failed && outcome.message == "添加成功";
  if (ok) {
    PrintLine(outcome.message + " " + std::to_string(outcome.count));
    if (!IsListedItem(dataDir, item)) {
      PrintError("提示: 宝贝名称.txt 中没有 " + item + "，缺货时不会发出库存不足通知");
    }
  } else {
    PrintError(outcome.message);
  }
  stores->Close();
  return ok ? 0 : 1;
}

int CardsList(const Arguments& args) {
  if (args.words.size() != 2) return Usage("cards list takes no further words");
  auto stores = OpenStoresOrComplain(std::filesystem::current_path());
  if (!stores) return 1;
  if (args.Has("item")) {
    PrintRecords(ListCards(*stores, CardListMode::kByItem, Utf8ToGbk(args.options.at("item"))));
  } else {
    PrintRecords(ListCards(*stores, CardListMode::kAll));
  }
  stores->Close();
  return 0;
}

int SentList(const Arguments& args) {
  if (args.words.size() != 2) return Usage("sent list takes no further words");
  if (args.Has("order") && args.Has("buyer")) return Usage("give --order or --buyer, not both");
  auto stores = OpenStoresOrComplain(std::filesystem::current_path());
  if (!stores) return 1;
  if (args.Has("order")) {
    PrintRecords(ListSent(*stores, SentListMode::kByOrderNumber, Utf8ToGbk(args.options.at("order"))));
  } else if (args.Has("buyer")) {
    PrintRecords(ListSent(*stores, SentListMode::kByBuyer, Utf8ToGbk(args.options.at("buyer"))));
  } else {
    PrintRecords(ListSent(*stores, SentListMode::kAll));
  }
  stores->Close();
  return 0;
}

std::string CsvField(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

int SentExport(const Arguments& args) {
  if (args.words.size() != 3) return Usage("sent export needs exactly one FILE.csv");
  std::filesystem::path file = args.words[2];
  auto stores = OpenStoresOrComplain(std::filesystem::current_path());
  if (!stores) return 1;
  auto records = ListSent(*stores, SentListMode::kAll);
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
  if (!WriteFileAtomic(file, csv, &error)) {
    PrintError(error);
    return 1;
  }
  std::fprintf(stdout, "%zu\n", records.size());
  return 0;
}

int Run(const Arguments& args) {
  if (args.words.size() != 1) return Usage("run takes no further words");
  RunOptions options;
  options.configDir = ConfigDirectory(args);
  options.dataDir = std::filesystem::current_path();
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
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "run") {
    Arguments args = ParseArguments(argc, argv, 1, {"config-dir"}, {"once"});
    if (!args.problem.empty()) return Usage(args.problem);
    return Run(args);
  }
  if (command == "cards" || command == "sent") {
    Arguments args = ParseArguments(argc, argv, 1, {"item", "note", "encoding", "order", "buyer"}, {});
    if (!args.problem.empty()) return Usage(args.problem);
    std::string sub = args.words.size() > 1 ? args.words[1] : "";
    if (command == "cards" && sub == "import") return CardsImport(args);
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
      if (!args.options.empty()) return Usage("sent export takes no options");
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
  if (command == "mail-password") {
    if (argc != 3) return Usage("mail-password needs exactly one PASSWORD");
    std::string stored = ObfuscateMailPassword(Utf8ToGbk(argv[2]));
    std::fprintf(stdout, "%s\n", GbkToUtf8(stored).c_str());
    return 0;
  }
  return Usage("unknown command: " + command);
}

}  // namespace torvane
