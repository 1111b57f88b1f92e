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

void PrintActivityLine(const std::string& line) {
  std::string text = ReplaceAll(line, "\r\n", "\n");
  std::string utf8 = EscapeTerminalControls(GbkToUtf8(text));
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  if (utf8.empty() || utf8.back() != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace torvane
