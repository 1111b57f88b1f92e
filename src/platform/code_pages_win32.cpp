// Code-page conversions through the Win32 code-page functions (GBK is code page 936, Big5 950);
// UTF-8 is converted here directly so that every code page handles bad input the same way.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

#include "base/code_pages.h"

namespace torvane {
namespace {

UINT WindowsCodePage(CodePage page) { return static_cast<UINT>(page); }

// Length and code point of the well-formed UTF-8 sequence at pos; length 0 when there is none.
std::size_t Utf8At(std::string_view text, std::size_t pos, std::uint32_t* cp) {
  const auto c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  std::size_t length = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    *cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    *cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    *cp = c & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto cc = static_cast<unsigned char>(text[pos + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (cc & 0x3F);
  }
  if ((length == 3 && *cp < 0x800) || (length == 4 && (*cp < 0x10000 || *cp > 0x10FFFF)) ||
      (*cp >= 0xD800 && *cp <= 0xDFFF)) {
    return 0;
  }
  return length;
}

std::u16string DecodeUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::uint32_t cp = 0;
    const std::size_t length = Utf8At(text, pos, &cp);
    if (length == 0) {
      out.push_back(u'\uFFFD');
      ++pos;
      continue;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    pos += length;
  }
  return out;
}

// Units of the character at pos: a whole surrogate pair, else one unit (a lone surrogate is a character of its own).
std::size_t UnitsAt(std::u16string_view text, std::size_t pos) {
  return pos + 1 < text.size() && text[pos] >= 0xD800 && text[pos] <= 0xDBFF && text[pos + 1] >= 0xDC00 &&
                 text[pos + 1] <= 0xDFFF
             ? 2
             : 1;
}

// A lone surrogate cannot be encoded: it takes the place of an unmappable character.
std::string EncodeUtf8(std::u16string_view text, bool stopAtUnmappable, std::size_t* stoppedAt) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t units = UnitsAt(text, pos);
    std::uint32_t cp = text[pos];
    if (units == 2) cp = 0x10000 + ((cp - 0xD800) << 10) + (text[pos + 1] - 0xDC00);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (stopAtUnmappable) {
        if (stoppedAt) *stoppedAt = pos;
        return out;
      }
      out.push_back('?');
    } else if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    pos += units;
  }
  return out;
}

// Strict conversion of a piece; false when some byte of it is not a valid character.
bool DecodeStrict(std::string_view piece, UINT codePage, std::u16string* out) {
  if (piece.empty()) return true;
  const int size = static_cast<int>(piece.size());
  const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, piece.data(), size, nullptr, 0);
  if (length <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, piece.data(), size, wide.data(), length);
  out->append(wide.begin(), wide.end());
  return true;
}

// One character of a double-byte code page: a lead byte 81..FE with the byte after it, else one byte.
std::size_t DoubleByteCharAt(std::string_view text, std::size_t pos) {
  const auto c = static_cast<unsigned char>(text[pos]);
  return c >= 0x81 && c <= 0xFE && pos + 1 < text.size() ? 2 : 1;
}

// Encodes a piece; false when some character of it is not in the code page.
bool EncodeStrict(std::u16string_view piece, UINT codePage, std::string* out) {
  if (piece.empty()) return true;
  const auto* wide = reinterpret_cast<const wchar_t*>(piece.data());
  const int size = static_cast<int>(piece.size());
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return false;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, size, bytes.data(), length, nullptr, nullptr);
  out->append(bytes);
  return true;
}

}  // namespace

std::u16string DecodeCodePage(std::string_view text, CodePage from) {
  if (from == CodePage::Utf8) return DecodeUtf8(text);
  std::u16string out;
  const UINT codePage = WindowsCodePage(from);
  if (DecodeStrict(text, codePage, &out)) return out;
  // Some byte is bad: character by character, a bad one becoming U+FFFD.
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t length = DoubleByteCharAt(text, pos);
    if (!DecodeStrict(text.substr(pos, length), codePage, &out)) {
      out.push_back(u'\uFFFD');
      length = 1;
    }
    pos += length;
  }
  return out;
}

std::string EncodeCodePage(std::u16string_view text, CodePage to, bool stopAtUnmappable, std::size_t* stoppedAt) {
  if (stoppedAt) *stoppedAt = text.size();
  if (to == CodePage::Utf8) return EncodeUtf8(text, stopAtUnmappable, stoppedAt);
  std::string out;
  const UINT codePage = WindowsCodePage(to);
  if (EncodeStrict(text, codePage, &out)) return out;
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t units = UnitsAt(text, pos);
    if (!EncodeStrict(text.substr(pos, units), codePage, &out)) {
      if (stopAtUnmappable) {
        if (stoppedAt) *stoppedAt = pos;
        break;
      }
      out.push_back('?');
    }
    pos += units;
  }
  return out;
}

std::string TraditionalToSimplifiedUtf8(std::string_view utf8) {
  const std::u16string text = DecodeUtf8(utf8);
  if (text.empty()) return std::string(utf8);
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int length = LCMapStringEx(L"zh-CN", LCMAP_SIMPLIFIED_CHINESE, wide, size, nullptr, 0, nullptr, nullptr, 0);
  if (length <= 0) return std::string(utf8);
  std::wstring mapped(static_cast<std::size_t>(length), L'\0');
  LCMapStringEx(L"zh-CN", LCMAP_SIMPLIFIED_CHINESE, wide, size, mapped.data(), length, nullptr, nullptr, 0);
  return EncodeUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(mapped.data()), mapped.size()), false,
                    nullptr);
}

}  // namespace torvane
