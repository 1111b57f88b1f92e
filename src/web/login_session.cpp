#include "web/login_session.h"

#include <mutex>

#include "web/http.h"
#include "base/text.h"

namespace torvane {

namespace {

struct LoginValues {
  std::mutex mutex;
  std::string formToken;
  std::string sellerUserId;
};

LoginValues& Values() {
  static LoginValues values;
  return values;
}

// Non-ASCII bytes as "%" and two upper-case hexadecimal digits; ASCII kept.
std::string EncodeNonAscii(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

}  // namespace

LoginRead ReadLoginSession(const Deployment& deployment) {
  LoginRead read;
  HttpRequest request;
  request.url = deployment.memberHost + "/member/fresh/account_security.htm";
  const HttpResult page = WebRequest(request);
  if (!page.ok) {
    read.failure = "无法读取账户页面: " + page.error;
    return read;
  }
  if (page.status != 200) {
    read.failure = "账户页面返回 " + std::to_string(page.status);
    return read;
  }
  const std::string text = page.body.substr(0, page.body.find('\0'));
  read.formToken = TextBetween(text, "<input name='_tb_token_' type='hidden' value='", "'>");
  if (read.formToken.empty()) {
    read.failure = "账户页面没有登录信息 请重新登录淘宝";
    return read;
  }
  read.sellerUserId = TextBetween(text, "&userid=", "&");
  return read;
}

bool CheckLoginSession(const Deployment& deployment, std::string* failure) {
  LoginRead read = ReadLoginSession(deployment);
  if (failure) *failure = read.failure;
  if (read.formToken.empty()) return false;
  LoginValues& values = Values();
  std::lock_guard<std::mutex> lock(values.mutex);
  values.formToken = std::move(read.formToken);
  values.sellerUserId = read.sellerUserId;
  return !values.sellerUserId.empty();
}

std::string FormToken() {
  LoginValues& values = Values();
  std::lock_guard<std::mutex> lock(values.mutex);
  return values.formToken;
}

std::string SellerUserId() {
  LoginValues& values = Values();
  std::lock_guard<std::mutex> lock(values.mutex);
  return values.sellerUserId;
}

void SetLoginValues(const std::string& formToken, const std::string& sellerUserId) {
  LoginValues& values = Values();
  std::lock_guard<std::mutex> lock(values.mutex);
  values.formToken = formToken;
  values.sellerUserId = sellerUserId;
}

std::string LoginPageAddress(const Deployment& deployment) {
  return deployment.loginHost + "/member/login.jhtml?is_ignore=true&from=onlinecs&style=minisimple&minititle=" +
         EncodeNonAscii("请先登陆淘宝—Torvane") + "&redirect_url=" + deployment.personalHost + "/my_taobao.htm";
}

}  // namespace torvane
