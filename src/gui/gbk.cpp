#include "gui/gbk.h"

#include "base/text.h"

namespace torvane {

QString FromGbk(std::string_view gbk) {
  std::u16string utf16 = ToUtf16(gbk, CodePage::Gbk);
  return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

std::string ToGbk(const QString& text) {
  return FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                       static_cast<std::size_t>(text.size())),
                   CodePage::Gbk);
}

bool GbkCanHold(const QString& text) { return FromGbk(ToGbk(text)) == text; }

}  // namespace torvane
