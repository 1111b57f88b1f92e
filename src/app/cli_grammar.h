// The grammar of the torvane command line: which commands there are, the options each takes, their
// help texts and the usage. It parses the arguments (CLI11) and answers --help, --version and usage
// errors itself; what is left is a command and its arguments for app/cli.cpp to run.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

enum class Command {
  kWindow,
  kRun,
  kCardsImport,
  kCardsList,
  kItemsList,
  kItemsSet,
  kSentList,
  kSentExport,
  kSentResend,
  kStats,
  kDemo,
  kMailPassword,
};

// A command's arguments, as given (UTF-8): the command's words followed by its positional words
// ("cards", "import", FILE), the options given with their values (without the leading --), and the flags given.
struct Arguments {
  std::vector<std::string> words;
  std::map<std::string, std::string> options;
  std::vector<std::string> flags;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  bool Flag(const std::string& name) const;
};

struct CommandLine {
  // Set when the grammar has answered already: 0 after --help or --version, 2 after a usage error
  // (said on standard error with the command's usage).
  std::optional<int> exitStatus;
  Command command = Command::kWindow;
  Arguments args;
};

// Parses argv (UTF-8). Without a command the window is meant (kWindow, with --demo, --config-dir and
// --data-dir among its arguments).
CommandLine ParseCommandLine(int argc, char** argv);

// Prints the problem (when given) and the whole usage on standard error; returns the exit status 2.
int UsageError(const std::string& problem);

}  // namespace torvane
