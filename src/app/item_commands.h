// The items commands of the command line: `items list` (every item with its stock and settings)
// and `items set` (one item's settings in 宝贝设置.ini). The data directory is chosen by the caller.
#pragma once

#include <filesystem>

#include "app/cli_grammar.h"

namespace torvane {

// One line per item, fields separated by tabs: name, stock (codes in the inventory), low-stock threshold
// (empty when none), reusable (是 or 否). The items: the names of 宝贝名称.txt in file order, then the
// other items that have settings (in 宝贝设置.ini order), then the other items with codes in stock (in
// byte order of the name); each once. Exit status 0, or 1 after saying what could not be read.
int ItemsList(const std::filesystem::path& dataDir);

// Sets what is given of --low-stock and --reusable (the grammar asks for one at least) for the item
// args.words[2] and keeps the rest of the file. Exit status 0, or 1 when the name cannot carry settings
// or the file cannot be read or written (nothing changed).
int ItemsSet(const Arguments& args, const std::filesystem::path& dataDir);

}  // namespace torvane
