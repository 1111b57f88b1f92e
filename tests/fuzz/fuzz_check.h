// What the fuzz targets share: a property check that stops the run (libFuzzer then keeps the input),
// and small helpers to state properties independently of the code under test.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace torvane::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "\nproperty failed: %s\n  at %s:%d\n", what, file, line);
  std::abort();
}

#define FUZZ_CHECK(condition)                                           \
  do {                                                                  \
    if (!(condition)) ::torvane::fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (0)

// Start positions of the characters of a GBK text, walking from its first byte, plus its end.
inline std::vector<bool> CharacterStarts(std::string_view text) {
  std::vector<bool> starts(text.size() + 1, false);
  std::size_t i = 0;
  while (i < text.size()) {
    starts[i] = true;
    i += CharLengthAt(text, i);
  }
  starts[text.size()] = true;
  return starts;
}

// True when the text's last character is whole: nothing appended can join it into another character.
inline bool EndsOnWholeCharacter(std::string_view text) {
  if (text.empty()) return true;
  std::size_t i = 0;
  std::size_t last = 0;
  while (i < text.size()) {
    last = i;
    i += CharLengthAt(text, i);
  }
  return !(last == text.size() - 1 && IsLeadByte(static_cast<unsigned char>(text[last])));
}

// First character-aligned occurrence of part at or after from (a character start), by brute force.
inline std::size_t NaiveFind(std::string_view text, std::string_view part, std::size_t from = 0) {
  if (from >= text.size()) return kNotFound;
  const std::vector<bool> starts = CharacterStarts(text);
  for (std::size_t p = from; p < text.size(); ++p) {
    if (starts[p] && text.substr(p, part.size()) == part) return p;
  }
  return kNotFound;
}

// True when the text contains part as a byte string anywhere (aligned or not).
inline bool HasBytes(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The text with every occurrence of part removed until none is left anywhere (aligned or not).
inline std::string WithoutBytes(std::string text, std::string_view part) {
  if (part.empty()) return text;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part)) text.erase(at, part.size());
  return text;
}

// Decodes "%XX" escapes (upper- or lower-case digits); false when a "%" is not followed by two hex digits.
inline bool PercentDecode(std::string_view text, std::string* out) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int hi = hex(text[i + 1]);
    const int lo = hex(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

// Keeps the code-page converters loaded for the whole run: without an open descriptor the C library
// unloads a converter's module when the last one closes and loads it again on the next conversion.
inline void KeepConvertersLoaded() {
  static iconv_t kept[6];
  static const bool opened = [] {
    std::size_t i = 0;
    for (const char* page : {"GBK", "UTF-8", "BIG5"}) {
      kept[i++] = iconv_open("UTF-16LE", page);
      kept[i++] = iconv_open(page, "UTF-16LE");
    }
    return true;
  }();
  (void)opened;
}

// True when the bytes hold no control character (0x00-0x1F, 0x7F).
inline bool NoControlBytes(std::string_view text) { return !HasControlCharacter(text); }

}  // namespace torvane::fuzz
