#include "app/terminal.h"

#include <cstdio>

#include "base/text.h"

namespace torvane {

void PrintLine(const std::string& gbk) {
  std::string utf8 = EscapeTerminalControls(GbkToUtf8(gbk));
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintError(const std::string& gbk) {
  std::string utf8 = EscapeTerminalControls(GbkToUtf8(gbk));
  std::fprintf(stderr, "torvane: %s\n", utf8.c_str());
}

void PrintActivityLine(const std::string& line) {
  std::string text = ReplaceAll(line, "\r\n", "\n");
  std::string utf8 = EscapeTerminalControls(GbkToUtf8(text));
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  if (utf8.empty() || utf8.back() != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace torvane
