#include "sim.h"

#include <chrono>
#include <ctime>
#include <string>

#include "base/text.h"

namespace marketsim {

using torvane::GbkToUtf8;
using torvane::Utf8ToGbk;

namespace {

constexpr std::string_view kCrLf = "\r\n";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Escapes the characters that would end an attribute or start markup, as the marketplace writes
// titles, buyer ids and messages. GBK trail bytes are never below 0x40, so byte-wise replacement
// cannot split a character.
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

// The value of key in a raw query ("a=1&b=2"), decoded; "" when missing.
std::string QueryValue(std::string_view query, std::string_view key) {
  return FormValue(ParseForm(query), key);
}

SimResponse Page(std::string body, int status = 200) {
  SimResponse r;
  r.status = status;
  r.body = std::move(body);
  return r;
}

SimResponse JsonAnswer(const Json& j, int status = 200) {
  SimResponse r;
  r.status = status;
  r.body = Dump(j);
  r.contentType = "application/json; charset=utf-8";
  return r;
}

SimResponse JsonError(std::string_view message, int status = 400) {
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

constexpr std::string_view kPageTail = "</body>\r\n</html>\r\n";

// A page that says what went wrong, with a link back to the login.
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

// Everything that identifies a recorded request body: its text and its exact bytes.
void SetBody(Json& record, std::string_view body) {
  record["body"] = GbkToUtf8(body);
  record["bodyHex"] = HexOf(body);
}

}  // namespace

bool Faults::AppliesTo(std::string_view path) const {
  if (paths.empty()) return true;
  for (const auto& prefix : paths)
    if (path.substr(0, prefix.size()) == prefix) return true;
  return false;
}

std::string FormDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ParseForm(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view piece = body.substr(start, end - start);
    if (!piece.empty()) {
      std::size_t eq = piece.find('=');
      if (eq == std::string_view::npos)
        out.emplace_back(FormDecode(piece), "");
      else
        out.emplace_back(FormDecode(piece.substr(0, eq)), FormDecode(piece.substr(eq + 1)));
    }
    start = end + 1;
  }
  return out;
}

std::string FormValue(const std::vector<std::pair<std::string, std::string>>& form, std::string_view name) {
  for (const auto& [k, v] : form)
    if (k == name) return v;
  return {};
}

std::string HexOf(std::string_view bytes) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

Simulator::Simulator(std::string baseUrl, std::uint64_t seed) : baseUrl_(std::move(baseUrl)), random_(seed) {
  ResetLocked();
}

void Simulator::ResetLocked() {
  seller_ = Seller{"演示小店", "2056781234", "secret", ""};
  sessions_.clear();
  imAccounts_.clear();
  imAccounts_["13800000000"] = "fetion";
  imSessions_.clear();
  orders_.clear();
  orderIndex_.clear();
  updateVersion_ = "1.8";
  updateDownload_ = baseUrl_ + "/download";
  updateRawSet_ = false;
  updateRawPage_.clear();
  faults_ = Faults{};
  robot_.Reset();
  for (Json* record : {&logins_, &accountPageRequests_, &orderListRequests_, &consigns_, &soldQueries_,
                       &ratingPageRequests_, &ratings_, &updateQueries_, &imLogins_, &sms_, &imLogouts_,
                       &imOperations_})
    *record = Json::array();
  demoOrders_ = 0;
}

std::string Simulator::RandomHex(int bytes) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < bytes; ++i) {
    auto v = static_cast<unsigned>(random_() & 0xFF);
    out += kHex[v >> 4];
    out += kHex[v & 15];
  }
  return out;
}

const Simulator::Session* Simulator::SessionOf(const SimRequest& request) const {
  auto c = request.cookies.find("cookie2");
  if (c == request.cookies.end()) return nullptr;
  auto s = sessions_.find(c->second);
  return s == sessions_.end() ? nullptr : &s->second;
}

const Simulator::ImSession* Simulator::ImSessionOf(const SimRequest& request) const {
  auto c = request.cookies.find("imsid");
  if (c == request.cookies.end()) return nullptr;
  auto s = imSessions_.find(c->second);
  return s == imSessions_.end() ? nullptr : &s->second;
}

Simulator::Order* Simulator::FindOrder(std::string_view number) {
  auto it = orderIndex_.find(std::string(number));
  return it == orderIndex_.end() ? nullptr : &orders_[it->second];
}

void Simulator::AddOrderLocked(Order order) {
  order.createdAt = NowText();
  std::uint64_t h = std::hash<std::string>{}(order.title);
  order.itemId = std::to_string(10000000000ull + h % 89999999999ull);
  order.pictureUrl = "http://img01.taobaocdn.com/bao/uploaded/i1/T1" + std::to_string(h % 1000000) + "_sum.jpg";
  order.endTime = order.createdAt;
  orderIndex_[order.number] = orders_.size();
  orders_.push_back(std::move(order));
}

Faults Simulator::TakeFaults(std::string_view path) {
  std::lock_guard lock(mutex_);
  if (!faults_.Any() || !faults_.AppliesTo(path)) return Faults{};
  Faults hit = faults_;
  if (faults_.times > 0 && --faults_.times == 0) faults_ = Faults{};
  return hit;
}

// ---------------------------------------------------------------------------------------
// Marketplace pages

SimResponse Simulator::Handle(const SimRequest& request) {
  std::lock_guard lock(mutex_);
  const std::string& p = request.path;
  const bool post = request.method == "POST";
  if (p == "/member/login.jhtml") return post ? LoginPost(request) : LoginPage(request, "");
  if (p == "/my_taobao.htm") return PersonalPage(request);
  if (p == "/member/fresh/account_security.htm") return AccountPage(request);
  if (p == "/user/order_list_new.htm") return OrderList(request);
  if (p == "/user/consign.htm") {
    if (post) return Consign(request);
    return Page(NoticePage("发货", "请通过订单列表的发货按钮提交发货表单。", baseUrl_));
  }
  if (p == "/trade/itemlist/list_sold_items.htm") return SoldItems(request);
  if (p == "/remark_buyer.jhtml") return RatingPage(request);
  if (p == "/remarkBuyer.htm" && post) return RatingPost(request);
  if (p == "/update.htm") return UpdatePage(request);
  if (p == "/download") return Page(PageHead("下载") + "<p>Torvane 下载页</p>\r\n" + std::string(kPageTail));
  if (p == "/im/login/inputpasssubmit1.action" && post) return ImLogin(request);
  if ((p == "//im/user/sendMsgToMyselfs.action" || p == "/im/user/sendMsgToMyselfs.action") && post)
    return ImSend(request, false);
  if (p == "/im/user/sendTimingMsgToMyselfs.action" && post) return ImSend(request, true);
  if (p == "/im/index/logoutsubmit.action") return ImLogout(request);
  if (p.rfind("/im/", 0) == 0 || p.rfind("//im/", 0) == 0) return ImOther(request);
  if (GroupRobot::Serves(p)) return robot_.Post(request);
  if (p == "/" || p.empty()) return PersonalPage(request);
  return Page(NoticePage("404", "您访问的页面不存在。", baseUrl_), 404);
}

SimResponse Simulator::LoginPage(const SimRequest& request, std::string_view error) {
  std::string redirect = QueryValue(request.query, "redirect_url");
  if (redirect.empty()) redirect = FormValue(ParseForm(request.body), "redirect_url");
  std::string s = PageHead("淘宝网 - 会员登录");
  s += "<div id=\"login\">\r\n\t<h2>会员登录</h2>\r\n";
  if (!error.empty()) {
    s += "\t<p class=\"error\">";
    s += error;
    s += "</p>\r\n";
  }
  s += "\t<form method=\"post\" action=\"/member/login.jhtml\" accept-charset=\"gbk\">\r\n";
  s += "\t\t<label>账户名</label> <input type=\"text\" name=\"TPL_username\" value=\"\"><br>\r\n";
  s += "\t\t<label>密码</label> <input type=\"password\" name=\"TPL_password\" value=\"\"><br>\r\n";
  s += "\t\t<input type=\"hidden\" name=\"redirect_url\" value=\"" + Html(redirect) + "\">\r\n";
  s += "\t\t<button type=\"submit\">登 录</button>\r\n\t</form>\r\n</div>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

SimResponse Simulator::LoginPost(const SimRequest& request) {
  auto form = ParseForm(request.body);
  std::string user = FormValue(form, "TPL_username");
  std::string password = FormValue(form, "TPL_password");
  Json record = Json::object();
  record["user"] = GbkToUtf8(user);
  bool ok = !user.empty() && password == seller_.password;
  record["success"] = ok;
  logins_.push_back(std::move(record));
  if (!ok) return LoginPage(request, "您输入的密码和账户名不匹配，请重新输入。");

  std::string cookie = RandomHex(16);
  Session session{user, seller_.token.empty() ? RandomHex(6) : seller_.token};
  sessions_[cookie] = session;
  std::string redirect = FormValue(form, "redirect_url");
  if (redirect.empty()) redirect = QueryValue(request.query, "redirect_url");
  if (redirect.empty()) redirect = baseUrl_ + "/my_taobao.htm";
  SimResponse r;
  r.status = 302;
  r.location = redirect;
  r.setCookies.push_back("cookie2=" + cookie + "; Path=/");
  r.setCookies.push_back("_nk_=" + torvane::PercentEncodeForm(user) + "; Path=/");
  r.body = PageHead("正在跳转") + "<a href=\"" + Html(redirect) + "\">继续</a>\r\n" + std::string(kPageTail);
  return r;
}

SimResponse Simulator::PersonalPage(const SimRequest& request) {
  const Session* session = SessionOf(request);
  if (!session) return LoginPage(request, "");
  std::string s = PageHead("我的淘宝");
  s += "<div id=\"my\">\r\n\t<p>您好，" + Html(session->user) + "！</p>\r\n";
  s += "\t<ul>\r\n\t\t<li><a href=\"" + baseUrl_ +
       "/user/order_list_new.htm?order_status_show=send&mytmenu=fh\">等待发货的订单</a></li>\r\n";
  s += "\t\t<li><a href=\"" + baseUrl_ + "/member/fresh/account_security.htm\">账户安全</a></li>\r\n\t</ul>\r\n</div>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

SimResponse Simulator::AccountPage(const SimRequest& request) {
  const Session* session = SessionOf(request);
  Json record = Json::object();
  record["loggedIn"] = session != nullptr;
  accountPageRequests_.push_back(std::move(record));
  if (!session) return LoginPage(request, "");
  std::string s = PageHead("账户安全");
  s += "<div class=\"security\">\r\n";
  s += "<form method=\"post\" action=\"/member/fresh/account_management.htm\">\r\n";
  s += "<input name='_tb_token_' type='hidden' value='" + session->token + "'>\r\n";
  s += "</form>\r\n";
  s += "\t<a href=\"" + baseUrl_ + "/member/fresh/account_profile.htm?from=security&userid=" + seller_.userId +
       "&t=" + RandomHex(4) + "\">个人资料</a>\r\n";
  s += "\t<p>安全等级：中</p>\r\n</div>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

SimResponse Simulator::OrderList(const SimRequest& request) {
  const Session* session = SessionOf(request);
  Json record = Json::object();
  record["query"] = request.query;
  record["utkn"] = QueryValue(request.query, "utkn");
  record["loggedIn"] = session != nullptr;
  orderListRequests_.push_back(std::move(record));
  if (!session) return LoginPage(request, "");

  std::string s = PageHead("已卖出的宝贝 - 等待发货");
  s.reserve(4096 + orders_.size() * 1400);
  s += "<div id=\"J_OrderList\">\r\n<table class=\"order-list\" cellspacing=\"0\">\r\n";
  s += "\t<thead>\r\n\t\t<tr><th>宝贝</th><th>买家</th><th>交易状态</th><th>操作</th></tr>\r\n\t</thead>\r\n";
  for (const Order& o : orders_) {
    if (o.status != OrderStatus::Paid) continue;
    s += "<tbody>\r\n\t<tr class=\"order-hd\">\r\n\t\t<td colspan=\"4\">\r\n\t\t\t";
    s += "<span class=\"order-number\">订单编号：" + Html(o.number) + "</span>\r\n";
    s += "\t\t\t<span class=\"deal-time\">成交时间：" + o.createdAt + "</span>\r\n\t\t</td>\r\n\t</tr>\r\n";
    s += "\t<tr class=\"order-item\">\r\n\t\t<td class=\"item\">\r\n\t\t\t";
    s += "<a target=\"_blank\" title=\"名称：" + Html(o.title) + " §数量：" + Html(o.quantity) +
         "件\" href=\"http://item.taobao.com/item.htm?id=" + o.itemId + "\">\r\n\t\t\t\t" + Html(o.title) +
         "\r\n\t\t\t</a>\r\n\t\t</td>\r\n";
    s += "\t\t<td class=\"buyer\">\r\n\t\t\t<ul>\r\n\t\t\t\t<li class=\"nick\">" + Html(o.buyer) + "</li>\r\n";
    s += "\t\t\t\t<li><span class=\"ww ww:token\" data-display=\"inline\">\r\n\t\t\t\t\t";
    s += "<a href=\"http://www.taobao.com/webww/ww.php?ver=3&nick=" + o.buyer + "&touid=" + o.buyer +
         "&siteid=cntaobao&status=1&charset=utf-8\" target=\"_blank\">和我联系</a></span>\r\n\t\t\t\t</li>\r\n";
    s += "\t\t\t</ul>\r\n\t\t</td>\r\n";
    s += "\t\t<td class=\"status\">买家已付款</td>\r\n";
    s += "\t\t<td class=\"op\">\r\n\t\t\t<a class=\"btn\" href=\"" + baseUrl_ + "/user/consign.htm?orderId=" + o.number +
         "\">发货</a>\r\n\t\t</td>\r\n\t</tr>\r\n";
    if (!o.message.empty()) {
      s += "\t<tr class=\"order-memo\">\r\n\t\t<td colspan=\"4\">\r\n\t\t\t<label>买家留言：</label><span >";
      s += Html(o.message);
      s += "&nbsp;</span>\r\n\t\t</td>\r\n\t</tr>\r\n";
    }
    s += "</tbody>\r\n";
  }
  s += "</table>\r\n</div>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

SimResponse Simulator::Consign(const SimRequest& request) {
  const Session* session = SessionOf(request);
  auto form = ParseForm(request.body);
  std::string linkOrder = QueryValue(request.query, "orderId");
  std::string bodyOrder = FormValue(form, "orderId");
  std::string token = FormValue(form, "_tb_token_");
  bool tokenValid = session && !token.empty() && token == session->token;

  std::string reason;
  Order* order = FindOrder(linkOrder);
  if (!session) reason = "not logged in";
  else if (!tokenValid) reason = "bad token";
  else if (bodyOrder != linkOrder) reason = "order mismatch";
  else if (!order) reason = "unknown order";
  else if (order->status != OrderStatus::Paid) reason = "not a paid order";
  else if (FormValue(form, "event_submit_do_dummy") != "1") reason = "not a dummy consign";

  Json record = Json::object();
  record["orderId"] = linkOrder;
  record["bodyOrderId"] = bodyOrder;
  record["query"] = request.query;
  record["token"] = token;
  record["tokenValid"] = tokenValid;
  record["loggedIn"] = session != nullptr;
  record["success"] = reason.empty();
  record["reason"] = reason;
  SetBody(record, request.body);
  consigns_.push_back(std::move(record));

  if (!session) return LoginPage(request, "");
  if (!reason.empty()) {
    std::string text = reason == "bad token"        ? "安全校验失败，请刷新页面后重试。"
                       : reason == "order mismatch" ? "订单信息不一致，请返回订单列表重新操作。"
                       : reason == "unknown order"  ? "该订单不存在。"
                       : reason == "not a paid order" ? "该订单当前状态不能发货。"
                                                      : "请选择发货方式。";
    return Page(NoticePage("发货失败", text, baseUrl_));
  }
  order->status = OrderStatus::Shipped;
  std::string s = PageHead("发货成功");
  s += "<div class=\"result\">\r\n\t<p class=\"ok\">恭喜您，操作成功！订单 " + order->number +
       " 已发货。</p>\r\n\t<a href=\"" + baseUrl_ + "/user/order_list_new.htm?order_status_show=send\">返回</a>\r\n</div>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

SimResponse Simulator::SoldItems(const SimRequest& request) {
  const Session* session = SessionOf(request);
  auto form = ParseForm(request.body);
  std::string sellerNumId = FormValue(form, "sellerNumID");
  std::string commentStatus = FormValue(form, "commentStatus");
  std::string reason;
  if (request.method != "POST") reason = "not a post";
  else if (!session) reason = "not logged in";
  else if (sellerNumId != seller_.userId) reason = "wrong seller id";
  else if (commentStatus != "I_HAS_NOT_COMMENT") reason = "not the unrated filter";

  Json record = Json::object();
  record["sellerNumID"] = sellerNumId;
  record["commentStatus"] = commentStatus;
  record["success"] = reason.empty();
  record["reason"] = reason;
  SetBody(record, request.body);
  soldQueries_.push_back(std::move(record));

  if (!session) return LoginPage(request, "");
  std::string s = PageHead("已卖出的宝贝");
  s += "<table class=\"sold\">\r\n";
  if (reason.empty()) {
    for (const Order& o : orders_) {
      if (o.status != OrderStatus::Shipped || o.rated) continue;
      s += "<tbody>\r\n\t<tr>\r\n\t\t<td>" + Html(o.title) + "</td>\r\n\t\t<td>" + Html(o.buyer) +
           "</td>\r\n\t\t<td>交易成功</td>\r\n\t\t<td><a href=\"" + baseUrl_ + "/remark_buyer.jhtml?tradeID=" +
           o.number + "\" target=\"_blank\">评价</a></td>\r\n\t</tr>\r\n</tbody>\r\n";
    }
  }
  s += "</table>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

SimResponse Simulator::RatingPage(const SimRequest& request) {
  const Session* session = SessionOf(request);
  std::string tradeId = QueryValue(request.query, "tradeID");
  Order* order = FindOrder(tradeId);
  Json record = Json::object();
  record["tradeID"] = tradeId;
  record["loggedIn"] = session != nullptr;
  ratingPageRequests_.push_back(std::move(record));
  if (!session) return LoginPage(request, "");
  if (!order || order->status != OrderStatus::Shipped || order->rated)
    return Page(NoticePage("评价", "该交易不存在或已经评价过了。", baseUrl_));

  const std::string& r = order->number;  // the rate id is the trade's own id
  std::string s = PageHead("评价买家");
  s += "<form id=\"J_RateForm\" method=\"post\" action=\"" + baseUrl_ + "/remarkBuyer.htm\">\r\n";
  s += "<input name='_tb_token_' type='hidden' value='" + session->token + "'>\r\n";
  s += "<input type=\"hidden\" name=\"hiddRateIds\" value=\"" + r + "\" />\r\n";
  s += "<input type=\"hidden\" name=\"auctionPictUrl" + r + "\" value=\"" + order->pictureUrl + "}\" />\r\n";
  s += "<input type=\"hidden\" name=\"auctionTitle" + r + "\" value=\"" + Html(order->title) + "\" />\r\n";
  s += "<input type=\"hidden\" name=\"auctionId" + r + "\" value=\"" + order->itemId + "\" />\r\n";
  s += "<input type=\"hidden\" name=\"smallEndTime" + r + "}\" value=\"" + order->endTime + "\" />\r\n";
  s += "<input type=\"hidden\" name=\"sellerId4Buyer\" value=\"" + seller_.userId + "\" />\r\n";
  s += "<input type=\"hidden\" name=\"sellerNick4Buyer\" value=\"" + Html(seller_.nick) + "\" />\r\n";
  s += "\t<p>买家：" + Html(order->buyer) + "</p>\r\n";
  s += "\t<label><input type=\"radio\" name=\"rates" + r + "\" value=\"1\" checked>好评</label>\r\n";
  s += "\t<textarea name=\"rateContents" + r + "\"></textarea>\r\n";
  s += "\t<button type=\"submit\">确认提交</button>\r\n</form>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

SimResponse Simulator::RatingPost(const SimRequest& request) {
  const Session* session = SessionOf(request);
  auto form = ParseForm(request.body);
  std::string token = FormValue(form, "_tb_token_");
  std::string rateId = FormValue(form, "hiddRateIds");
  std::string tradeId = FormValue(form, "tradeId");
  Order* order = FindOrder(tradeId);
  bool tokenValid = session && !token.empty() && token == session->token;

  std::string reason;
  if (!session) reason = "not logged in";
  else if (!tokenValid) reason = "bad token";
  else if (rateId.empty() || rateId != tradeId) reason = "rate id mismatch";
  else if (!order || order->status != OrderStatus::Shipped) reason = "unknown trade";
  else if (order->rated) reason = "already rated";
  else if (FormValue(form, "rates" + rateId) != "1") reason = "not a good rating";

  Json record = Json::object();
  record["tradeId"] = tradeId;
  record["rateId"] = rateId;
  record["token"] = token;
  record["tokenValid"] = tokenValid;
  record["text"] = GbkToUtf8(FormValue(form, "rateContents" + rateId));
  record["title"] = GbkToUtf8(FormValue(form, "auctionTitle" + rateId));
  record["pictureUrl"] = FormValue(form, "auctionPictUrl" + rateId);
  record["endTime"] = FormValue(form, "smallEndTime" + rateId + "}");
  record["itemId"] = FormValue(form, "auctionId" + rateId);
  record["sellerNick"] = GbkToUtf8(FormValue(form, "sellerNick4Buyer"));
  record["success"] = reason.empty();
  record["reason"] = reason;
  SetBody(record, request.body);
  ratings_.push_back(std::move(record));

  if (!session) return LoginPage(request, "");
  if (!reason.empty()) return Page(NoticePage("评价失败", "评价未能提交：" + reason, baseUrl_));
  order->rated = true;
  return Page(PageHead("评价成功") + "<div class=\"ok\">信用评价成功！感谢您的评价。</div>\r\n" + std::string(kPageTail));
}

SimResponse Simulator::UpdatePage(const SimRequest& request) {
  updateQueries_.push_back(request.query);
  if (updateRawSet_) return Page(updateRawPage_);
  std::string s = PageHead("Torvane 版本公告");
  s += "<div class=\"notice\">\r\n<p>最新版本公告</p>\r\n<p>==分类头==" + updateVersion_ + "|" + updateDownload_ +
       "==分类尾==</p>\r\n</div>\r\n";
  s += kPageTail;
  return Page(std::move(s));
}

// ---------------------------------------------------------------------------------------
// WAP IM service

namespace {

std::string ImPage(std::string_view title, std::string_view text) {
  // No charset attribute here: the login reply's token is the first "t=" of the page.
  std::string s = "<html><head><title>";
  s += title;
  s += "</title></head><body>\r\n";
  s += text;
  s += "\r\n</body></html>\r\n";
  return s;
}

std::string ImLoginForm() {
  return ImPage("飞信", "请先登录。<form method=\"post\" action=\"/im/login/inputpasssubmit1.action\">"
                        "手机号：<input name=\"m\"/>密码：<input name=\"pass\" type=\"password\"/></form>");
}

}  // namespace

SimResponse Simulator::ImLogin(const SimRequest& request) {
  auto form = ParseForm(request.body);
  std::string account = FormValue(form, "m");
  std::string password = FormValue(form, "pass");
  std::string status = FormValue(form, "loginstatus");
  auto it = imAccounts_.find(account);
  bool ok = it != imAccounts_.end() && it->second == password && !account.empty();
  Json record = Json::object();
  record["account"] = GbkToUtf8(account);
  record["loginstatus"] = status;
  record["success"] = ok;
  SetBody(record, request.body);
  imLogins_.push_back(std::move(record));
  if (!ok) return Page(ImPage("飞信", "手机号或密码错误，请重新输入。"));

  std::string sid = RandomHex(16);
  std::string token = RandomHex(8);
  imSessions_[sid] = ImSession{account, token};
  SimResponse r = Page(ImPage("飞信", "您正在登录中国移动WAP飞信,请稍候...<br/><a href=\"" + baseUrl_ +
                                         "/im/index/indexcenter.action?t=" + token + "\">进入</a>"));
  r.setCookies.push_back("imsid=" + sid + "; Path=/");
  return r;
}

SimResponse Simulator::ImSend(const SimRequest& request, bool timed) {
  const ImSession* session = ImSessionOf(request);
  auto form = ParseForm(request.body);
  std::string msg = FormValue(form, "msg");  // UTF-8 bytes as sent
  std::string timing = FormValue(form, "timing");
  std::string reason;
  if (!session) reason = "not logged in";
  else if (timed && timing.size() != 12) reason = "bad timing";

  Json record = Json::object();
  record["account"] = session ? GbkToUtf8(session->account) : std::string();
  record["path"] = request.path;
  record["timed"] = timed;
  record["timing"] = timing;
  bool utf8 = torvane::IsValidUtf8(msg);
  record["validUtf8"] = utf8;
  record["text"] = utf8 ? msg : GbkToUtf8(msg);
  record["textHex"] = HexOf(msg);
  record["success"] = reason.empty();
  record["reason"] = reason;
  SetBody(record, request.body);
  sms_.push_back(std::move(record));

  if (!session) return Page(ImLoginForm());
  if (!reason.empty()) return Page(ImPage("飞信", "定时时间格式不正确。"));
  return Page(ImPage("飞信", timed ? "定时短信设置成功！" : "短信发送成功！<a href=\"/im/index/indexcenter.action\">返回</a>"));
}

SimResponse Simulator::ImLogout(const SimRequest& request) {
  auto c = request.cookies.find("imsid");
  bool wasIn = false;
  std::string account;
  if (c != request.cookies.end()) {
    auto s = imSessions_.find(c->second);
    if (s != imSessions_.end()) {
      wasIn = true;
      account = s->second.account;
      imSessions_.erase(s);
    }
  }
  Json record = Json::object();
  record["account"] = GbkToUtf8(account);
  record["loggedIn"] = wasIn;
  imLogouts_.push_back(std::move(record));
  return Page(ImPage("飞信", "您已退出飞信。"));
}

SimResponse Simulator::ImOther(const SimRequest& request) {
  struct Operation {
    std::string_view path;
    std::string_view answer;
  };
  // The further operations of the service with the sentence each answers with.
  static const Operation kOperations[] = {
      {"/im/chat/sendShortMsg.action", "发送消息成功"},
      {"/im/chat/sendMsg.action", "发送消息成功"},
      {"/im/box/alllist.action", "消息盒子"},
      {"/im/box/deleteMessages.action", "消息已删除"},
      {"/im/user/userGroupManagement.action", "分组管理"},
      {"/im/user/userInsertGroups.action", "创建成功"},
      {"/im/user/userUpdateGroups.action", "分组修改成功"},
      {"/im/user/userDeleteGroups.action", "成功删除"},
      {"/im/index/contactlistView.action", "好友列表"},
      {"/im/chat/toinputMsg.action", "好友详情"},
      {"/im/user/userinfoByuserid.action", "好友详情"},
      {"/im/user/insertfriendsubmit.action", "发送成功"},
      {"/im/user/updateLocalnames.action", "设置成功"},
      {"/im/user/crewDeleteManagement.action", "成功"},
      {"/im/user/myuserinfo.action", "我的资料"},
      {"/im/user/editnicknamesubmit.action", "修改姓名成功"},
      {"/im/user/editsexsubmit.action", "修改性别成功"},
      {"/im/user/editbirthdaysubmit.action", "修改生日成功"},
      {"/im/user/editbloodTypeSubmit.action", "血型修改成功"},
      {"/im/user/editimpresaSubmit.action", "修改心情短语成功"},
  };
  const ImSession* session = ImSessionOf(request);
  std::string path = request.path.rfind("//", 0) == 0 ? request.path.substr(1) : request.path;
  Json record = Json::object();
  record["path"] = request.path;
  record["query"] = request.query;
  record["loggedIn"] = session != nullptr;
  SetBody(record, request.body);
  imOperations_.push_back(std::move(record));
  if (!session) return Page(ImLoginForm());
  if (path == "/im/index/searchOtherInfoList.action") {
    bool hit = !FormValue(ParseForm(request.body), "searchText").empty();
    return Page(ImPage("飞信", hit ? "找到 1 位用户 <a href=\"/im/chat/toinputMsg.action\">与TA聊</a>"
                                   : "没有符合条件的好友哦"));
  }
  for (const auto& op : kOperations)
    if (path == op.path) return Page(ImPage("飞信", std::string(op.answer)));
  return Page(ImPage("飞信", "页面不存在"), 404);
}

// ---------------------------------------------------------------------------------------
// Admin interface

SimResponse Simulator::HandleAdmin(const SimRequest& request, bool& shutdown) {
  const std::string& p = request.path;
  if (p == "/admin/state") {
    std::lock_guard lock(mutex_);
    return AdminState(request);
  }
  if (p == "/admin/robot" && request.method != "POST") {
    std::lock_guard lock(mutex_);
    return robot_.State();
  }
  if (request.method != "POST") return JsonError("use POST", 405);
  if (p == "/admin/shutdown") {
    shutdown = true;
    return JsonOk();
  }
  std::lock_guard lock(mutex_);
  if (p == "/admin/reset") {
    ResetLocked();
    return JsonOk();
  }
  if (p == "/admin/expire-login") {
    sessions_.clear();
    return JsonOk();
  }
  const Json body = Parse(request.body.empty() ? std::string_view("{}") : request.body);
  if (body.is_discarded()) return JsonError("the body is not JSON");
  if (p == "/admin/orders") return AdminOrders(body);
  if (p == "/admin/sold") return AdminSold(body);
  if (p == "/admin/seller") return AdminSeller(body);
  if (p == "/admin/im-accounts") return AdminImAccounts(body);
  if (p == "/admin/update-notice") return AdminUpdateNotice(body);
  if (p == "/admin/faults") return AdminFaults(body);
  if (p == "/admin/robot") return robot_.Configure(body);
  return JsonError("unknown admin request", 404);
}

SimResponse Simulator::AdminOrders(const Json& body) {
  const Json& list = body.is_array() ? body : Field(body, "orders");
  if (!list.is_array()) return JsonError("expected an array of orders");
  // Check the whole batch first so a rejected batch adds nothing.
  std::unordered_map<std::string, int> seen;
  for (const Json& o : list) {
    std::string number = Utf8ToGbk(Text(Field(o, "orderNumber")));
    if (number.empty()) return JsonError("an order without orderNumber");
    if (orderIndex_.count(number) || seen[number]++) return JsonError("duplicate order number " + Text(Field(o, "orderNumber")), 409);
  }
  for (const Json& o : list) {
    Order order;
    order.number = Utf8ToGbk(Text(Field(o, "orderNumber")));
    order.title = Utf8ToGbk(Text(Field(o, "title")));
    order.quantity = Utf8ToGbk(Text(Field(o, "quantity"), "1"));
    order.buyer = Utf8ToGbk(Text(Field(o, "buyer")));
    order.message = Utf8ToGbk(Text(Field(o, "message")));
    std::string status = Text(Field(o, "status"), "paid");
    order.status = status == "shipped" ? OrderStatus::Shipped : OrderStatus::Paid;
    order.rated = Flag(Field(o, "rated"), false);
    AddOrderLocked(std::move(order));
  }
  Json j = Json::object();
  j["ok"] = true;
  j["added"] = list.size();
  return JsonAnswer(j);
}

SimResponse Simulator::AdminSold(const Json& body) {
  const Json& list = body.is_array() ? body : Field(body, "trades");
  if (!list.is_array()) return JsonError("expected an array of trades");
  for (const Json& t : list) {
    std::string id = Utf8ToGbk(Text(Field(t, "tradeId")));
    if (id.empty()) return JsonError("a trade without tradeId");
    if (orderIndex_.count(id)) return JsonError("duplicate trade id " + Text(Field(t, "tradeId")), 409);
  }
  for (const Json& t : list) {
    Order order;
    order.number = Utf8ToGbk(Text(Field(t, "tradeId")));
    order.title = Utf8ToGbk(Text(Field(t, "title")));
    order.quantity = Utf8ToGbk(Text(Field(t, "quantity"), "1"));
    order.buyer = Utf8ToGbk(Text(Field(t, "buyer")));
    order.status = OrderStatus::Shipped;
    AddOrderLocked(std::move(order));
  }
  return JsonOk();
}

SimResponse Simulator::AdminSeller(const Json& body) {
  if (body.contains("nick")) seller_.nick = Utf8ToGbk(Text(Field(body, "nick")));
  if (body.contains("userId")) seller_.userId = Text(Field(body, "userId"));
  if (body.contains("password")) seller_.password = Utf8ToGbk(Text(Field(body, "password")));
  if (body.contains("token")) seller_.token = Text(Field(body, "token"));
  return JsonOk();
}

SimResponse Simulator::AdminImAccounts(const Json& body) {
  const Json& list = body.is_array() ? body : Field(body, "accounts");
  if (!list.is_array()) return JsonError("expected an array of accounts");
  imAccounts_.clear();
  for (const Json& a : list) imAccounts_[Utf8ToGbk(Text(Field(a, "account")))] = Utf8ToGbk(Text(Field(a, "password")));
  return JsonOk();
}

SimResponse Simulator::AdminUpdateNotice(const Json& body) {
  if (body.contains("version")) updateVersion_ = Utf8ToGbk(Text(Field(body, "version")));
  if (body.contains("download")) updateDownload_ = Utf8ToGbk(Text(Field(body, "download")));
  updateRawSet_ = body.contains("page");
  updateRawPage_ = updateRawSet_ ? Utf8ToGbk(Text(Field(body, "page"))) : std::string();
  return JsonOk();
}

SimResponse Simulator::AdminFaults(const Json& body) {
  Faults f;
  f.slowMs = static_cast<int>(Integer(Field(body, "slowMs"), 0));
  if (f.slowMs < 0 || f.slowMs > 120000) return JsonError("slowMs must be 0 to 120000");
  f.status500 = Flag(Field(body, "status500"));
  f.drop = Flag(Field(body, "drop"));
  f.truncate = Flag(Field(body, "truncate"));
  f.noMarkers = Flag(Field(body, "noMarkers"));
  for (const Json& p : Elements(Field(body, "paths"))) f.paths.push_back(Text(p));
  f.times = static_cast<int>(Integer(Field(body, "times"), 0));
  if (f.times < 0) return JsonError("times must not be negative");
  faults_ = f;
  return JsonOk();
}

SimResponse Simulator::AdminState(const SimRequest& request) {
  const bool bodies = QueryValue(request.query, "bodies") != "0";
  Json j = Json::object();
  j["baseUrl"] = baseUrl_;
  Json& seller = j["seller"] = Json::object();
  seller["nick"] = GbkToUtf8(seller_.nick);
  seller["userId"] = seller_.userId;
  seller["sessions"] = sessions_.size();
  Json& orders = j["orders"] = Json::array();
  for (const Order& o : orders_) {
    Json& x = orders.emplace_back(Json::object());
    x["orderNumber"] = GbkToUtf8(o.number);
    x["title"] = GbkToUtf8(o.title);
    x["quantity"] = GbkToUtf8(o.quantity);
    x["buyer"] = GbkToUtf8(o.buyer);
    x["message"] = GbkToUtf8(o.message);
    x["status"] = o.status == OrderStatus::Paid ? "paid" : "shipped";
    x["rated"] = o.rated;
  }
  auto copy = [bodies](const Json& records) {
    if (bodies) return records;
    Json out = Json::array();
    for (const Json& r : records) {
      Json& x = out.emplace_back(Json::object());
      for (auto it = r.begin(); it != r.end(); ++it)
        if (it.key() != "body" && it.key() != "bodyHex") x[it.key()] = it.value();
    }
    return out;
  };
  j["logins"] = logins_;
  j["accountPageRequests"] = accountPageRequests_;
  j["orderListRequests"] = orderListRequests_;
  j["consigns"] = copy(consigns_);
  j["soldQueries"] = copy(soldQueries_);
  j["ratingPageRequests"] = ratingPageRequests_;
  j["ratings"] = copy(ratings_);
  j["updateQueries"] = updateQueries_;
  j["imLogins"] = copy(imLogins_);
  j["sms"] = copy(sms_);
  j["imLogouts"] = imLogouts_;
  j["imOperations"] = copy(imOperations_);
  return JsonAnswer(j);
}

// ---------------------------------------------------------------------------------------
// Demo shop

void Simulator::SeedDemoShop() {
  std::lock_guard lock(mutex_);
  seller_.nick = "演示小店";
  seller_.password = "secret";
}

bool Simulator::AddDemoOrder(int maxOrders) {
  static const char* const kItems[] = {"QQ会员一个月", "网易一卡通100点", "魔兽世界点卡30元", "盛大一卡通50元",
                                       "神秘新品（未上架）"};
  static const char* const kMessages[] = {"请尽快发货", "请发到 buyer{n}@example.com 谢谢",
                                          "卡密请发邮箱 buyer{n}@example.com"};
  std::lock_guard lock(mutex_);
  if (demoOrders_ >= maxOrders) return false;
  ++demoOrders_;
  Order o;
  std::uint64_t stamp = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
  o.number = std::to_string(stamp % 1000000000ull * 1000ull + static_cast<unsigned>(demoOrders_ % 1000));
  while (orderIndex_.count(o.number)) o.number += "1";
  o.title = kItems[random_() % std::size(kItems)];
  o.quantity = std::to_string(1 + random_() % 3);
  unsigned buyer = static_cast<unsigned>(random_() % 40) + 1;
  o.buyer = "buyer" + std::to_string(buyer);
  // Most buyers give an address for e-mail delivery; some leave another message or none.
  switch (random_() % 20) {
    case 0: case 1: case 2: break;
    case 3: case 4: case 5: o.message = kMessages[0]; break;
    default:
      o.message = torvane::ReplaceAll(kMessages[1 + random_() % 2], "{n}", std::to_string(buyer));
  }
  AddOrderLocked(std::move(o));
  return true;
}

}  // namespace marketsim
