#include "page_text.h"

#include <ctime>

#include "base/text.h"

namespace marketsim {

using torvane::GbkToUtf8;

std::string Html(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string NowText() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

std::string QueryValue(std::string_view query, std::string_view key) {
  return FormValue(ParseForm(query), key);
}

SimResponse Page(std::string body, int status) {
  SimResponse r;
  r.status = status;
  r.body = std::move(body);
  return r;
}

SimResponse JsonAnswer(const Json& j, int status) {
  SimResponse r;
  r.status = status;
  r.body = Dump(j);
  r.contentType = "application/json; charset=utf-8";
  return r;
}

SimResponse JsonError(std::string_view message, int status) {
  Json j = Json::object();
  j["ok"] = false;
  j["error"] = std::string(message);
  return JsonAnswer(j, status);
}

SimResponse JsonOk() {
  Json j = Json::object();
  j["ok"] = true;
  return JsonAnswer(j);
}

std::string PageHead(std::string_view title) {
  std::string s;
  s += "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\r\n";
  s += "<title>";
  s += title;
  s += "</title>\r\n</head>\r\n<body>\r\n";
  return s;
}


std::string NoticePage(std::string_view title, std::string_view message, const std::string& base) {
  std::string s = PageHead(title);
  s += "<div class=\"msg\">\r\n\t<p class=\"error\">";
  s += message;
  s += "</p>\r\n\t<p><a href=\"";
  s += base;
  s += "/member/login.jhtml\">重新登录</a></p>\r\n</div>\r\n";
  s += kPageTail;
  return s;
}

void SetBody(Json& record, std::string_view body) {
  record["body"] = GbkToUtf8(body);
  record["bodyHex"] = HexOf(body);
}

std::string LinkValue(std::string_view text) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool twoByte = c >= 0x81 && c <= 0xFE && i + 1 < text.size() &&
                         static_cast<unsigned char>(text[i + 1]) >= 0x40 && static_cast<unsigned char>(text[i + 1]) != 0x7F &&
                         static_cast<unsigned char>(text[i + 1]) != 0xFF;
    if (twoByte) {
      out += text.substr(i, 2);
      ++i;
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace marketsim
