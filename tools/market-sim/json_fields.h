// The admin interface's JSON (nlohmann's, members kept in the order written) and forgiving reads of it:
// a missing member or a value of another kind gives the fallback instead of an exception.
#pragma once

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace marketsim {

using Json = nlohmann::ordered_json;

// The member of an object; null when j is no object or has no such member.
inline const Json& Field(const Json& j, std::string_view key) {
  static const Json null;
  if (!j.is_object()) return null;
  auto it = j.find(key);
  return it == j.end() ? null : *it;
}

// The elements of an array; none when j is no array.
inline const Json& Elements(const Json& j) {
  static const Json none = Json::array();
  return j.is_array() ? j : none;
}

// A string as is; a number as its decimal text (order numbers and quantities may come either way).
inline std::string Text(const Json& j, std::string fallback = {}) {
  if (j.is_string()) return j.get<std::string>();
  if (j.is_number_integer()) return std::to_string(j.get<std::int64_t>());
  if (j.is_number_float()) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", j.get<double>());
    return buffer;
  }
  return fallback;
}

inline bool Flag(const Json& j, bool fallback = false) { return j.is_boolean() ? j.get<bool>() : fallback; }

inline std::int64_t Integer(const Json& j, std::int64_t fallback = 0) {
  return j.is_number() ? j.get<std::int64_t>() : fallback;
}

// The text of a document; bytes that are not UTF-8 become U+FFFD instead of failing.
inline std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The document, or discarded (is_discarded()) when the text is not one well-formed JSON value.
inline Json Parse(std::string_view text) { return Json::parse(text, nullptr, false); }

}  // namespace marketsim
