// A small JSON value with a parser and a writer, for the simulator's admin interface
// and the test launcher that drives it. Strings are kept as the UTF-8 bytes of the text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marketsim {

class Json {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };

  Json() = default;
  static Json Bool(bool b) { Json j; j.kind_ = Kind::Bool; j.bool_ = b; return j; }
  static Json Number(double n) { Json j; j.kind_ = Kind::Number; j.number_ = n; return j; }
  static Json String(std::string s) { Json j; j.kind_ = Kind::String; j.string_ = std::move(s); return j; }
  static Json Array() { Json j; j.kind_ = Kind::Array; return j; }
  static Json Object() { Json j; j.kind_ = Kind::Object; return j; }

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::Null; }
  bool IsArray() const { return kind_ == Kind::Array; }
  bool IsObject() const { return kind_ == Kind::Object; }
  bool IsString() const { return kind_ == Kind::String; }

  // Typed reads with a fallback when the value has another kind.
  bool AsBool(bool fallback = false) const { return kind_ == Kind::Bool ? bool_ : fallback; }
  double AsNumber(double fallback = 0) const { return kind_ == Kind::Number ? number_ : fallback; }
  std::int64_t AsInt(std::int64_t fallback = 0) const {
    return kind_ == Kind::Number ? static_cast<std::int64_t>(number_) : fallback;
  }
  // A string as is; a number as its decimal text (order numbers and quantities may come either way).
  std::string AsText(std::string fallback = {}) const {
    if (kind_ == Kind::String) return string_;
    if (kind_ == Kind::Number) return FormatNumber(number_);
    return fallback;
  }

  const std::vector<Json>& items() const { return items_; }
  std::size_t size() const { return kind_ == Kind::Array ? items_.size() : members_.size(); }
  const Json& operator[](std::size_t i) const { return i < items_.size() ? items_[i] : Null(); }
  const Json& operator[](std::string_view key) const {
    for (const auto& [k, v] : members_)
      if (k == key) return v;
    return Null();
  }
  bool Has(std::string_view key) const {
    for (const auto& m : members_)
      if (m.first == key) return true;
    return false;
  }
  const std::vector<std::pair<std::string, Json>>& members() const { return members_; }

  Json& Push(Json v) { items_.push_back(std::move(v)); return items_.back(); }
  Json& Set(std::string key, Json v) {
    for (auto& m : members_)
      if (m.first == key) { m.second = std::move(v); return m.second; }
    members_.emplace_back(std::move(key), std::move(v));
    return members_.back().second;
  }
  Json& Set(std::string key, std::string v) { return Set(std::move(key), String(std::move(v))); }
  Json& Set(std::string key, const char* v) { return Set(std::move(key), String(v)); }
  Json& Set(std::string key, bool v) { return Set(std::move(key), Bool(v)); }
  Json& Set(std::string key, int v) { return Set(std::move(key), Number(v)); }
  Json& Set(std::string key, std::int64_t v) { return Set(std::move(key), Number(static_cast<double>(v))); }
  Json& Set(std::string key, std::size_t v) { return Set(std::move(key), Number(static_cast<double>(v))); }

  std::string Dump() const {
    std::string out;
    DumpTo(out);
    return out;
  }

  void DumpTo(std::string& out) const {
    switch (kind_) {
      case Kind::Null: out += "null"; break;
      case Kind::Bool: out += bool_ ? "true" : "false"; break;
      case Kind::Number: out += FormatNumber(number_); break;
      case Kind::String: QuoteTo(out, string_); break;
      case Kind::Array:
        out += '[';
        for (std::size_t i = 0; i < items_.size(); ++i) {
          if (i) out += ',';
          items_[i].DumpTo(out);
        }
        out += ']';
        break;
      case Kind::Object:
        out += '{';
        for (std::size_t i = 0; i < members_.size(); ++i) {
          if (i) out += ',';
          QuoteTo(out, members_[i].first);
          out += ':';
          members_[i].second.DumpTo(out);
        }
        out += '}';
        break;
    }
  }

  // Writes s as a JSON string; bytes of 0x80 and above pass through (the text is UTF-8).
  static void QuoteTo(std::string& out, std::string_view s) {
    static const char* const kHex = "0123456789abcdef";
    out += '"';
    for (unsigned char c : s) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
          } else {
            out += static_cast<char>(c);
          }
      }
    }
    out += '"';
  }

  // The parsed document, or nothing when the text is not one well-formed JSON value.
  static std::optional<Json> Parse(std::string_view text) {
    Parser p{text, 0, 0};
    Json v;
    if (!p.Value(v)) return std::nullopt;
    p.Space();
    if (p.pos != text.size()) return std::nullopt;
    return v;
  }

 private:
  static const Json& Null() {
    static const Json null;
    return null;
  }

  static std::string FormatNumber(double n) {
    if (n == static_cast<double>(static_cast<std::int64_t>(n)) && n > -9e15 && n < 9e15)
      return std::to_string(static_cast<std::int64_t>(n));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", n);
    return buf;
  }

  struct Parser {
    std::string_view s;
    std::size_t pos;
    int depth;

    void Space() {
      while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r')) ++pos;
    }
    bool Literal(std::string_view word) {
      if (s.substr(pos, word.size()) != word) return false;
      pos += word.size();
      return true;
    }
    bool Value(Json& out) {
      if (++depth > 64) return false;
      Space();
      if (pos >= s.size()) return false;
      bool ok = false;
      char c = s[pos];
      if (c == '{') ok = ObjectValue(out);
      else if (c == '[') ok = ArrayValue(out);
      else if (c == '"') { out.kind_ = Kind::String; ok = StringValue(out.string_); }
      else if (c == 't') { ok = Literal("true"); out = Json::Bool(true); }
      else if (c == 'f') { ok = Literal("false"); out = Json::Bool(false); }
      else if (c == 'n') { ok = Literal("null"); out = Json(); }
      else ok = NumberValue(out);
      --depth;
      return ok;
    }
    bool ObjectValue(Json& out) {
      out = Json::Object();
      ++pos;
      Space();
      if (pos < s.size() && s[pos] == '}') { ++pos; return true; }
      for (;;) {
        Space();
        std::string key;
        if (pos >= s.size() || s[pos] != '"' || !StringValue(key)) return false;
        Space();
        if (pos >= s.size() || s[pos] != ':') return false;
        ++pos;
        Json v;
        if (!Value(v)) return false;
        out.Set(std::move(key), std::move(v));
        Space();
        if (pos >= s.size()) return false;
        if (s[pos] == ',') { ++pos; continue; }
        if (s[pos] == '}') { ++pos; return true; }
        return false;
      }
    }
    bool ArrayValue(Json& out) {
      out = Json::Array();
      ++pos;
      Space();
      if (pos < s.size() && s[pos] == ']') { ++pos; return true; }
      for (;;) {
        Json v;
        if (!Value(v)) return false;
        out.items_.push_back(std::move(v));
        Space();
        if (pos >= s.size()) return false;
        if (s[pos] == ',') { ++pos; continue; }
        if (s[pos] == ']') { ++pos; return true; }
        return false;
      }
    }
    static int HexDigit(char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    }
    bool Hex4(unsigned& out) {
      if (pos + 4 > s.size()) return false;
      out = 0;
      for (int i = 0; i < 4; ++i) {
        int d = HexDigit(s[pos++]);
        if (d < 0) return false;
        out = out * 16 + static_cast<unsigned>(d);
      }
      return true;
    }
    static void AppendUtf8(std::string& out, unsigned cp) {
      if (cp < 0x80) {
        out += static_cast<char>(cp);
      } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      }
    }
    bool StringValue(std::string& out) {
      ++pos;  // opening quote
      out.clear();
      while (pos < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[pos++]);
        if (c == '"') return true;
        if (c < 0x20) return false;
        if (c != '\\') { out += static_cast<char>(c); continue; }
        if (pos >= s.size()) return false;
        char e = s[pos++];
        switch (e) {
          case '"': out += '"'; break;
          case '\\': out += '\\'; break;
          case '/': out += '/'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          case 'u': {
            unsigned cp;
            if (!Hex4(cp)) return false;
            if (cp >= 0xD800 && cp < 0xDC00) {
              unsigned low;
              if (pos + 2 > s.size() || s[pos] != '\\' || s[pos + 1] != 'u') return false;
              pos += 2;
              if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp < 0xE000) {
              return false;
            }
            AppendUtf8(out, cp);
            break;
          }
          default: return false;
        }
      }
      return false;
    }
    bool NumberValue(Json& out) {
      std::size_t start = pos;
      if (pos < s.size() && s[pos] == '-') ++pos;
      bool digits = false;
      while (pos < s.size() && ((s[pos] >= '0' && s[pos] <= '9') || s[pos] == '.' || s[pos] == 'e' ||
                                s[pos] == 'E' || s[pos] == '+' || s[pos] == '-')) {
        digits = digits || (s[pos] >= '0' && s[pos] <= '9');
        ++pos;
      }
      if (!digits) return false;
      std::string text(s.substr(start, pos - start));
      char* end = nullptr;
      double n = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size()) return false;
      out = Json::Number(n);
      return true;
    }
  };

  Kind kind_ = Kind::Null;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<Json> items_;
  std::vector<std::pair<std::string, Json>> members_;
};

}  // namespace marketsim
