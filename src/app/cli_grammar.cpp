#include "app/cli_grammar.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>

#include "app/stats.h"
#include "app/version.h"
#include "base/text.h"
#include "store/item_settings.h"
#include "store/sales_stats.h"

namespace torvane {

namespace {

// The whole usage (GBK: it names files in Chinese). A command's own usage is its lines of it.
constexpr const char* kUsage =
    "usage:\n"
    "  torvane [--demo] [--config-dir DIR] [--data-dir DIR]     (the window)\n"
    "  torvane run [--config-dir DIR] [--data-dir DIR] [--once]\n"
    "  torvane cards import FILE --item NAME [--note TEXT] [--encoding gbk|utf-8] [--allow-duplicates] [--data-dir DIR]\n"
    "  torvane cards list [--item NAME] [--data-dir DIR]\n"
    "  torvane items list [--data-dir DIR]\n"
    "  torvane items set NAME [--low-stock N|none] [--reusable yes|no] [--data-dir DIR]\n"
    "  torvane sent list [--order N | --buyer B] [--data-dir DIR]\n"
    "  torvane sent export FILE.csv [--config-dir DIR] [--data-dir DIR]\n"
    "  torvane sent resend --order N [--to ADDRESS] [--config-dir DIR] [--data-dir DIR]\n"
    "  torvane stats [--days N] [--data-dir DIR]\n"
    "  torvane demo\n"
    "  torvane mail-password        (the password on standard input)\n"
    "  torvane --version | --help\n"
    "Without --config-dir and --data-dir: a copy run from its own folder (a build, an unpacked copy, or one\n"
    "holding its 配置文件.ini) keeps its configuration beside the program and its data in the current\n"
    "directory; an installed copy uses ~/.config/torvane and ~/.local/share/torvane ($XDG_CONFIG_HOME,\n"
    "$XDG_DATA_HOME). See torvane(1).\n";

struct OptionEntry {
  const char* name;       // without the leading --
  const char* valueName;  // nullptr for a flag
  const char* help;
  bool required = false;
  bool nonEmpty = false;           // an empty value is a usage error
  const char* excludes = nullptr;  // an option of the same command that cannot go with this one
  std::vector<std::string> oneOf = {};  // the values allowed (any letter case), when not empty
  std::string (*check)(const std::string&) = nullptr;  // why a value is refused ("" when it is not)
};

struct CommandEntry {
  Command command;
  std::vector<const char*> words;  // "cards", "import"
  const char* help;
  std::vector<std::pair<const char*, const char*>> positionals;  // name, help; each given exactly once
  std::vector<OptionEntry> options;
};

const OptionEntry kConfigDir = {"config-dir", "DIR", "the directory of 配置文件.ini and 部署配置.ini", false, true};
const OptionEntry kDataDir = {"data-dir", "DIR", "the directory of the stores and the other data files", false, true};

std::string LowStockProblem(const std::string& value) {
  if (EqualIgnoringAsciiCase(value, "none") || ParseLowStock(value)) return {};
  return "must be a whole number of at most 9 digits, or none";
}

const std::vector<CommandEntry>& Commands() {
  static const std::vector<CommandEntry> commands = {
      {Command::kRun, {"run"}, "Automatic delivery without windows, every activity line printed.", {},
       {kConfigDir, kDataDir, {"once", nullptr, "login check, one delivery run (and one rating pass), then exit"}}},
      {Command::kCardsImport, {"cards", "import"},
       "Adds the cards of a text file, one number,secret a line, to the inventory under the item NAME.",
       {{"FILE", "the card file: UTF-8, UTF-16 or GBK, at most 1 GB"}},
       {{"item", "NAME", "the item the cards are sold as (宝贝名称)", true, true},
        {"note", "TEXT", "the cards' note"},
        {"encoding", "gbk|utf-8", "the file's encoding, instead of telling it from the bytes", false, false, nullptr,
         {"gbk", "utf-8", "utf8"}},
        {"allow-duplicates", nullptr, "adds cards already in stock, already sent or twice in the file all the same"},
        kDataDir}},
      {Command::kCardsList, {"cards", "list"}, "The inventory, one card a line, fields separated by tabs.", {},
       {{"item", "NAME", "only this item's cards"}, kDataDir}},
      {Command::kItemsList, {"items", "list"},
       "The items, one a line: name, stock, low-stock threshold (empty: none), reusable (是/否), separated by tabs.",
       {},
       {kDataDir}},
      {Command::kItemsSet, {"items", "set"},
       "Changes one item's settings in 宝贝设置.ini: only those given, the others stay as they are.",
       {{"NAME", "the item's name (宝贝名称)"}},
       {{"low-stock", "N|none", "warn when a delivery leaves N codes or fewer in stock; none: never", false, true,
         nullptr, {}, LowStockProblem},
        {"reusable", "yes|no", "yes: the item's codes go to every order in turn and stay in stock", false, false,
         nullptr, {"yes", "no"}},
        kDataDir}},
      {Command::kSentList, {"sent", "list"}, "The codes sent, one a line, fields separated by tabs.", {},
       {{"order", "N", "only this order's codes", false, false, "buyer"},
        {"buyer", "B", "only this buyer's codes"},
        kDataDir}},
      {Command::kSentExport, {"sent", "export"},
       "The codes sent as CSV (UTF-8 with a byte-order mark), written atomically.",
       {{"FILE.csv", "the file to write; never one of the program's own files, nor one in the configuration directory"}},
       {kConfigDir, kDataDir}},
      {Command::kSentResend, {"sent", "resend"},
       "Sends an order's recorded codes again (the same codes, never new ones) by the order's channel.", {},
       {{"order", "N", "the order number", true, true},
        {"to", "ADDRESS", "by mail to this address instead"},
        kConfigDir,
        kDataDir}},
      {Command::kStats, {"stats"},
       "Each item's stock, low-stock threshold and the codes sent today, in 7 days and in N days, tab-separated.", {},
       {{"days", "N", "the days counted in the last column, today included: 1 to 366 (30 when not given)", false, true},
        kDataDir}},
      {Command::kDemo, {"demo"}, "Delivers to a simulated shop every 30 seconds; Ctrl-C ends it.", {}, {}},
      {Command::kMailPassword, {"mail-password"},
       "Reads the mail password from standard input and prints the form to store in 部署配置.ini.", {}, {}},
  };
  return commands;
}

// What a word of its own (cards, sent) offers.
const char* GroupHelp(std::string_view word) {
  if (word == "items") return "The items: list them with their stock and settings, change an item's settings.";
  return word == "cards" ? "The card inventory: import a card file, list the cards."
                         : "The codes sent: list them, export them as CSV, send an order's codes again.";
}

std::string CommandPath(const CLI::App* app) {
  std::string path;
  for (; app && app->get_parent(); app = app->get_parent()) path = app->get_name() + (path.empty() ? "" : " ") + path;
  return path;
}

// The lines of the usage that belong to the command at path ("" for the whole usage).
std::string UsageOf(const std::string& path) {
  if (path.empty()) return kUsage;
  std::string lines = "usage:\n";
  const std::string_view usage = kUsage;
  const std::string prefix = "  torvane " + path;
  for (std::size_t pos = 0; pos < usage.size();) {
    std::size_t end = usage.find('\n', pos);
    std::string_view line = usage.substr(pos, end - pos + 1);
    if (line.substr(0, prefix.size()) == prefix && (line[prefix.size()] == ' ' || line[prefix.size()] == '\n')) {
      lines += line;
    }
    pos = end + 1;
  }
  return lines;
}

// One row of a help list: the name, padded to the column, then what it is.
std::string Row(const std::string& name, const std::string& help, std::size_t column) {
  std::string row = "  " + name;
  row.append(column > name.size() ? column - name.size() : 1, ' ');
  return row + help + "\n";
}

// A command's help: its usage lines, what it does, its commands or options.
class Help : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
    if (!app->get_parent()) return kUsage;
    std::string out = UsageOf(CommandPath(app)) + "\n" + app->get_description() + "\n";
    std::vector<std::pair<std::string, std::string>> commands, options;
    for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; })) {
      commands.emplace_back(sub->get_name(), sub->get_description());
    }
    const CLI::Option* help = app->get_help_ptr();
    for (const CLI::Option* opt : app->get_options()) {
      if (opt == help) continue;
      std::string name = opt->get_positional() ? opt->get_name(true, false) : opt->get_name(false, true);
      if (!opt->get_option_text().empty()) name += " " + opt->get_option_text();
      options.emplace_back(name, opt->get_description());
    }
    if (help) options.emplace_back("-h, --help", help->get_description());
    std::size_t column = 0;
    for (const auto& rows : {commands, options}) {
      for (const auto& row : rows) column = std::max(column, row.first.size() + 2);
    }
    if (!commands.empty()) out += "\ncommands:\n";
    for (const auto& [name, text] : commands) out += Row(name, text, column);
    out += "\noptions:\n";
    for (const auto& [name, text] : options) out += Row(name, text, column);
    return out + "\nSee torvane(1).\n";
  }
};

CLI::Validator NotEmpty() {
  return CLI::Validator([](std::string& value) { return value.empty() ? std::string("must not be empty") : ""; }, "");
}

CLI::Validator OneOf(std::vector<std::string> allowed) {
  return CLI::Validator(
      [allowed](std::string& value) {
        std::string lower = value;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (std::find(allowed.begin(), allowed.end(), lower) != allowed.end()) return std::string();
        return "must be " + allowed[0] + " or " + allowed[1];
      },
      "");
}

void Print(std::FILE* to, const std::string& gbk) { std::fputs(GbkToUtf8(gbk).c_str(), to); }

// A usage error at the command at path: the problem, that command's usage, where to learn more.
int CommandUsageError(const std::string& path, const std::string& problem) {
  if (path.empty()) return UsageError(problem);
  std::fprintf(stderr, "torvane: %s\n", EscapeTerminalControls(problem).c_str());
  Print(stderr, UsageOf(path) + "(torvane " + path + " --help says more)\n");
  return 2;
}

// A parse error said in the words the command line has always used.
std::string Problem(const CLI::ParseError& error, const CLI::App& at) {
  const std::string what = error.what();
  const std::vector<std::string> left = at.remaining();
  // What was left over is the first thing wrong, whatever the parse stumbled on after it.
  if (!left.empty()) {
    const std::string& word = left.front();
    if (!at.get_parent()) return "unknown command: " + word;
    if (word.rfind("--", 0) == 0) return "unknown option " + word;
    if (word.rfind("-", 0) == 0) {
      return "unknown option " + word + " (a file whose name starts with - is written ./" + word + ")";
    }
    return "unexpected word: " + word;
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
    const std::string option = what.substr(0, what.find(':'));
    return option + (what.find("received") != std::string::npos ? " given twice" : " needs a value");
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) && !at.get_subcommands({}).empty()) {
    return CommandPath(&at) + " needs one of its commands";
  }
  return what;
}

// The command the parse went deepest into (the top when none).
const CLI::App* Deepest(const CLI::App& app) {
  const CLI::App* at = &app;
  while (!at->get_subcommands().empty()) at = at->get_subcommands().front();
  return at;
}

}  // namespace

bool Arguments::Flag(const std::string& name) const {
  return std::find(flags.begin(), flags.end(), name) != flags.end();
}

int UsageError(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "torvane: %s\n", EscapeTerminalControls(problem).c_str());
  Print(stderr, kUsage);
  return 2;
}

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  if (argc == 2 && std::string_view(argv[1]) == "help") {
    Print(stdout, kUsage);
    line.exitStatus = 0;
    return line;
  }
  CLI::App app("", "torvane");
  app.formatter(std::make_shared<Help>());
  app.set_help_flag("-h,--help", "this help, then exit");
  app.require_subcommand(0, 1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::Throw);

  // The window's arguments.
  const std::vector<OptionEntry> windowOptions = {
      {"demo", nullptr, ""}, kConfigDir, kDataDir, {"version", nullptr, ""}};
  std::vector<std::pair<const OptionEntry*, CLI::Option*>> top;
  for (const OptionEntry& entry : windowOptions) {
    const std::string name = "--" + std::string(entry.name);
    CLI::Option* opt = entry.valueName ? app.add_option(name) : app.add_flag(name);
    if (entry.nonEmpty) opt->check(NotEmpty());
    top.emplace_back(&entry, opt);
  }

  struct Built {
    const CommandEntry* entry;
    CLI::App* app;
    std::vector<std::pair<const OptionEntry*, CLI::Option*>> options;
    std::vector<CLI::Option*> positionals;
  };
  std::vector<Built> built;
  std::map<std::string, CLI::App*> groups;  // cards, sent
  CLI::App* mailPassword = nullptr;
  for (const CommandEntry& entry : Commands()) {
    CLI::App* parent = &app;
    if (entry.words.size() == 2) {
      CLI::App*& group = groups[entry.words[0]];
      if (!group) {
        group = app.add_subcommand(entry.words[0], GroupHelp(entry.words[0]));
        group->require_subcommand(1, 1);
      }
      parent = group;
    }
    Built b{&entry, parent->add_subcommand(entry.words.back(), entry.help), {}, {}};
    b.app->require_subcommand(0, 0);
    for (const auto& [name, help] : entry.positionals) {
      b.positionals.push_back(b.app->add_option(name, help)->required());
    }
    for (const OptionEntry& o : entry.options) {
      const std::string name = "--" + std::string(o.name);
      CLI::Option* opt = o.valueName ? b.app->add_option(name, o.help)->option_text(o.valueName)
                                     : b.app->add_flag(name, o.help);
      if (o.required) opt->required();
      if (o.nonEmpty) opt->check(NotEmpty());
      if (!o.oneOf.empty()) opt->check(OneOf(o.oneOf));
      if (o.check) opt->check(CLI::Validator([check = o.check](std::string& value) { return check(value); }, ""));
      b.options.emplace_back(&o, opt);
    }
    for (auto& [o, opt] : b.options) {
      if (o->excludes) opt->excludes(b.app->get_option("--" + std::string(o->excludes)));
    }
    if (entry.command == Command::kStats) {
      b.app->get_option("--days")->check(CLI::Validator(
          [](std::string& value) {
            return ParseStatsDays(value) ? std::string()
                                         : "must be a whole number from 1 to " + std::to_string(kSalesMaxDays);
          },
          ""));
    }
    // A password on the command line gets its own refusal below.
    if (entry.command == Command::kMailPassword) (mailPassword = b.app)->allow_extras();
    built.push_back(std::move(b));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    Print(stdout, app.help());
    line.exitStatus = 0;
    return line;
  } catch (const CLI::ParseError& e) {
    const CLI::App* at = Deepest(app);
    line.exitStatus = CommandUsageError(CommandPath(at), Problem(e, *at));
    return line;
  }

  auto given = [](const std::vector<std::pair<const OptionEntry*, CLI::Option*>>& options, Arguments* args) {
    for (const auto& [entry, opt] : options) {
      if (opt->count() == 0) continue;
      if (entry->valueName) args->options[entry->name] = opt->results().front();
      else args->flags.push_back(entry->name);
    }
  };
  if (app.get_option("--version")->count() != 0) {
    std::printf("torvane %s\n", kProgramVersion);
    line.exitStatus = 0;
    return line;
  }
  if (app.get_subcommands().empty()) {
    given(top, &line.args);
    return line;
  }
  for (const auto& [entry, opt] : top) {
    if (opt->count() != 0) {
      line.exitStatus = UsageError(std::string("--") + entry->name + " goes with the window, not with a command");
      return line;
    }
  }
  if (mailPassword->parsed() && !mailPassword->remaining().empty()) {
    line.exitStatus = CommandUsageError(
        "mail-password",
        "mail-password takes no PASSWORD argument: on the command line the shell history keeps it and other users "
        "see it in ps; type it when asked, or pipe it in (torvane mail-password < file)");
    return line;
  }
  for (const Built& b : built) {
    if (!b.app->parsed()) continue;
    line.command = b.entry->command;
    line.args.words.assign(b.entry->words.begin(), b.entry->words.end());
    for (CLI::Option* positional : b.positionals) line.args.words.push_back(positional->results().front());
    given(b.options, &line.args);
    if (line.command == Command::kItemsSet && !line.args.Has("low-stock") && !line.args.Has("reusable")) {
      line.exitStatus = CommandUsageError("items set", "items set needs --low-stock or --reusable (or both)");
      return line;
    }
  }
  return line;
}

}  // namespace torvane
