#include "notify/group_robot.h"

#include <cstdio>
#include <optional>

#include "base/text.h"
#include "base/web_address.h"
#include "web/http.h"

namespace torvane {

namespace {

// The longest piece of the service's own words a reason quotes.
constexpr std::size_t kMaxQuotedBytes = 160;

// The UTF-8 text as a JSON string: quote, backslash and every control byte escaped.
std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

// Position just after `"name"` and the colon that follows it in a JSON answer; npos when absent.
std::size_t AfterMember(std::string_view json, std::string_view name) {
  const std::string quoted = "\"" + std::string(name) + "\"";
  for (std::size_t at = json.find(quoted); at != std::string_view::npos; at = json.find(quoted, at + 1)) {
    std::size_t i = at + quoted.size();
    while (i < json.size() && (json[i] == ' ' || json[i] == '\t' || json[i] == '\r' || json[i] == '\n')) ++i;
    if (i < json.size() && json[i] == ':') {
      ++i;
      while (i < json.size() && (json[i] == ' ' || json[i] == '\t' || json[i] == '\r' || json[i] == '\n')) ++i;
      return i;
    }
  }
  return std::string_view::npos;
}

// The integer value of a member ("errcode": 93000); nullopt when missing or not a number.
std::optional<long long> IntegerMember(std::string_view json, std::string_view name) {
  std::size_t i = AfterMember(json, name);
  if (i == std::string_view::npos) return std::nullopt;
  bool negative = false;
  if (i < json.size() && json[i] == '-') {
    negative = true;
    ++i;
  }
  if (i >= json.size() || json[i] < '0' || json[i] > '9') return std::nullopt;
  long long value = 0;
  for (; i < json.size() && json[i] >= '0' && json[i] <= '9'; ++i) {
    if (value < 1000000000000LL) value = value * 10 + (json[i] - '0');
  }
  return negative ? -value : value;
}

// The raw text of a string member, escapes left as they are, at most kMaxQuotedBytes; "" when missing.
std::string StringMember(std::string_view json, std::string_view name) {
  std::size_t i = AfterMember(json, name);
  if (i == std::string_view::npos || i >= json.size() || json[i] != '"') return {};
  std::string raw;
  for (++i; i < json.size() && json[i] != '"' && raw.size() < kMaxQuotedBytes; ++i) {
    if (json[i] == '\\' && i + 1 < json.size()) raw += json[i++];
    raw += json[i];
  }
  return raw;
}

// The service's words made fit for the log: GBK, no control bytes, and no piece of the address that
// could be its key (a service may quote the address it was called at).
std::string QuotedWords(std::string_view utf8, std::string_view address) {
  std::string words = StripControlCharacters(Utf8ToGbk(IsValidUtf8(utf8) ? utf8 : std::string_view()));
  std::size_t start = 0;
  for (std::size_t i = 0; i <= address.size(); ++i) {
    if (i == address.size() || address[i] == '/' || address[i] == '?' || address[i] == '&' || address[i] == '=') {
      if (i - start >= 8) words = ReplaceAll(words, address.substr(start, i - start), "***");
      start = i + 1;
    }
  }
  return words;
}

// Responses in a header record of the request function (one per redirect followed, plus the last).
int StatusLineCount(std::string_view headers) {
  int count = 0;
  for (const std::string& line : SplitText(headers, "\r\n")) {
    if (line.rfind("HTTP/", 0) == 0) ++count;
  }
  return count;
}

}  // namespace

std::string RobotAddressRefusal(std::string_view address) {
  const std::string trimmed = Trim(address);
  if (trimmed.empty()) return "未填写群机器人地址";
  std::optional<WebAddress> parsed = ParseWebAddress(trimmed);
  if (!parsed) return "群机器人地址不是有效的网址";
  if (parsed->hasUserInfo) return "群机器人地址不能含有用户名或密码";
  if (!parsed->Secure() && !IsLoopbackHost(parsed->host)) return "群机器人地址必须以https://开头";
  return {};
}

std::string RobotAddressHost(std::string_view address) {
  std::optional<WebAddress> parsed = ParseWebAddress(Trim(address));
  return parsed ? parsed->host : std::string();
}

std::string RobotTextMessage(std::string_view gbkText) {
  return "{\"msgtype\":\"text\",\"text\":{\"content\":" + JsonString(GbkToUtf8(gbkText)) + "}}";
}

RobotResult PostToGroupRobot(std::string_view address, std::string_view gbkText) {
  RobotResult out;
  if (std::string refusal = RobotAddressRefusal(address); !refusal.empty()) {
    out.reason = std::move(refusal);
    return out;
  }
  HttpRequest request;
  request.url = Trim(address);
  request.method = 1;
  request.extraHeaders = "Content-Type: application/json; charset=utf-8\r\nAccept: application/json\r\n";
  request.postData = RobotTextMessage(gbkText);
  const HttpResult result = WebRequest(request);
  if (!result.ok) {
    out.reason = result.error.empty() ? std::string("无法连接群机器人服务") : result.error;
    return out;
  }
  // A redirect may have turned the post into a bare GET elsewhere: an answer from there proves nothing.
  if (StatusLineCount(result.rawHeaders) > 1) {
    out.reason = "群机器人服务把消息转到了别处 未确认送达";
    return out;
  }
  if (result.status < 200 || result.status > 299) {
    out.reason = "群机器人服务返回状态" + std::to_string(result.status);
    return out;
  }
  // The services answer 200 also when they refuse a message, and say so in the body.
  for (const char* codeName : {"errcode", "code"}) {
    std::optional<long long> code = IntegerMember(result.body, codeName);
    if (!code || *code == 0) continue;
    std::string words = QuotedWords(StringMember(result.body, "errmsg"), address);
    if (words.empty()) words = QuotedWords(StringMember(result.body, "msg"), address);
    out.reason = "群机器人拒绝了消息 " + std::string(codeName) + "=" + std::to_string(*code);
    if (!words.empty()) out.reason += " " + words;
    return out;
  }
  out.sent = true;
  return out;
}

std::string RobotFailureLine(std::string_view address, std::string_view reason) {
  std::string host = RobotAddressHost(address);
  std::string line = "群机器人通知发送失败";
  if (!host.empty()) line += " [" + host + "]";
  line += " ";
  line += reason;
  return line;
}

}  // namespace torvane
