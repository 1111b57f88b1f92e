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

std::optional<std::string> ToGbkExact(const QString& text) {
  if (text.isEmpty()) return std::string();
  // A leading U+FEFF would be dropped as a byte-order mark; the character has no GBK form anyway.
  if (text.front() == QChar(0xFEFF)) return std::nullopt;
  const QByteArray utf8 = text.toUtf8();
  DecodedText decoded = DecodeToGbk(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                                    TextEncoding::kUtf8);
  if (!decoded.ok()) return std::nullopt;
  return std::move(decoded.gbk);
}

bool GbkCanHold(const QString& text) { return FromGbk(ToGbk(text)) == text; }

}  // namespace torvane
