#include "notify/password.h"

#include <array>
#include <cstdint>

namespace torvane {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The masking key. It only keeps the password out of plain sight in the file;
// anyone with the program can undo it.
constexpr std::array<std::uint8_t, 16> kMask = {0x5A, 0xC3, 0x17, 0x88, 0x3E, 0xB1, 0x64, 0x0F,
                                                0xD2, 0x29, 0x9B, 0x46, 0xE7, 0x71, 0x0C, 0xA5};

std::string Mask(std::string_view bytes) {
  std::string out(bytes);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<std::uint8_t>(out[i]) ^ kMask[i % kMask.size()]);
  }
  return out;
}

int AlphabetIndex(char c) {
  std::size_t pos = kAlphabet.find(c);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t v = (static_cast<std::uint8_t>(bytes[i]) << 16) | (static_cast<std::uint8_t>(bytes[i + 1]) << 8) |
                      static_cast<std::uint8_t>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    std::uint32_t v = (static_cast<std::uint8_t>(bytes[i]) << 16) | (static_cast<std::uint8_t>(bytes[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string* out) {
  out->clear();
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int a = AlphabetIndex(text[i]);
    int b = AlphabetIndex(text[i + 1]);
    if (a < 0 || b < 0) return false;
    bool pad2 = last && text[i + 2] == '=' && text[i + 3] == '=';
    bool pad1 = last && !pad2 && text[i + 3] == '=';
    int c = pad2 ? 0 : AlphabetIndex(text[i + 2]);
    int d = (pad1 || pad2) ? 0 : AlphabetIndex(text[i + 3]);
    if (c < 0 || d < 0) return false;
    std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
    out->push_back(static_cast<char>((v >> 16) & 0xFF));
    if (!pad2) out->push_back(static_cast<char>((v >> 8) & 0xFF));
    if (!pad1 && !pad2) out->push_back(static_cast<char>(v & 0xFF));
  }
  return true;
}

std::string ObfuscateMailPassword(std::string_view plain) {
  return std::string(kObfuscatedPasswordPrefix) + Base64Encode(Mask(plain));
}

bool IsObfuscatedMailPassword(std::string_view stored) {
  return stored.substr(0, kObfuscatedPasswordPrefix.size()) == kObfuscatedPasswordPrefix;
}

std::string RevealMailPassword(std::string_view stored) {
  if (!IsObfuscatedMailPassword(stored)) return std::string(stored);
  std::string masked;
  if (!Base64Decode(stored.substr(kObfuscatedPasswordPrefix.size()), &masked)) return {};
  return Mask(masked);
}

}  // namespace torvane
