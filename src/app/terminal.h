// What the commands write to the terminal. Terminal output is UTF-8; the program's texts are GBK.
// Control characters that came with a page or a file are shown as \xNN, never sent to the terminal.
#pragma once

#include <string>

namespace torvane {

// The text and a line break on standard output.
void PrintLine(const std::string& gbk);

// "torvane: " and the text on standard error.
void PrintError(const std::string& gbk);

// A field of a listing: tabs, line breaks and backslashes written as \t, \n, \r and \\ so a record
// stays one line (GBK in, GBK out).
std::string ListingField(const std::string& gbk);

// An activity line as it stands in the log, its CR LF line breaks as the terminal's; flushed at once.
void PrintActivityLine(const std::string& line);

}  // namespace torvane
