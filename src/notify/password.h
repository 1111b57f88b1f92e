// The built-in sender account's password as kept in 部署配置.ini: never one plain
// literal, but XOR-masked with a fixed key and base64-encoded behind "obf:".
#pragma once

#include <string>
#include <string_view>

namespace torvane {

inline constexpr std::string_view kObfuscatedPasswordPrefix = "obf:";

// "obf:" + base64 of the password XOR-masked with the program's key.
std::string ObfuscateMailPassword(std::string_view plain);

// The password behind a stored value. A value without "obf:" is taken as the plain
// password (hand-edited files keep working; IsObfuscatedMailPassword tells the caller
// to warn). A value with "obf:" but broken base64 gives "" (the login then fails).
std::string RevealMailPassword(std::string_view stored);

// True when the stored value carries the "obf:" prefix.
bool IsObfuscatedMailPassword(std::string_view stored);

// Standard base64 (RFC 4648, with padding), one line.
std::string Base64Encode(std::string_view bytes);
// Decodes standard base64; false on any character outside the alphabet or a bad length.
bool Base64Decode(std::string_view text, std::string* out);

}  // namespace torvane
