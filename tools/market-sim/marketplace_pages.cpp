// The marketplace's pages and forms: login, account, to-ship list, consign, sold items, rating, update notice.
#include <string>

#include "base/text.h"
#include "page_text.h"
#include "sim.h"

namespace marketsim {

using torvane::GbkToUtf8;
using torvane::Utf8ToGbk;

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
  s += "\t<ul>\r\n\t\t<li><a href=\"" + linkBase_ +
       "/user/order_list_new.htm?order_status_show=send&mytmenu=fh\">等待发货的订单</a></li>\r\n";
  s += "\t\t<li><a href=\"" + linkBase_ + "/member/fresh/account_security.htm\">账户安全</a></li>\r\n\t</ul>\r\n</div>\r\n";
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
  s += "\t<a href=\"" + linkBase_ + "/member/fresh/account_profile.htm?from=security&userid=" + seller_.userId +
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
    s += "<a href=\"http://www.taobao.com/webww/ww.php?ver=3&nick=" + LinkValue(o.buyer) + "&touid=" + LinkValue(o.buyer) +
         "&siteid=cntaobao&status=1&charset=utf-8\" target=\"_blank\">和我联系</a></span>\r\n\t\t\t\t</li>\r\n";
    s += "\t\t\t</ul>\r\n\t\t</td>\r\n";
    s += "\t\t<td class=\"status\">买家已付款</td>\r\n";
    s += "\t\t<td class=\"op\">\r\n\t\t\t<a class=\"btn\" href=\"" + linkBase_ + "/user/consign.htm?orderId=" + LinkValue(o.number) +
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
    return Page(NoticePage("发货失败", text, linkBase_));
  }
  order->status = OrderStatus::Shipped;
  std::string s = PageHead("发货成功");
  s += "<div class=\"result\">\r\n\t<p class=\"ok\">恭喜您，操作成功！订单 " + Html(order->number) +
       " 已发货。</p>\r\n\t<a href=\"" + linkBase_ + "/user/order_list_new.htm?order_status_show=send\">返回</a>\r\n</div>\r\n";
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
           "</td>\r\n\t\t<td>交易成功</td>\r\n\t\t<td><a href=\"" + linkBase_ + "/remark_buyer.jhtml?tradeID=" +
           LinkValue(o.number) + "\" target=\"_blank\">评价</a></td>\r\n\t</tr>\r\n</tbody>\r\n";
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
    return Page(NoticePage("评价", "该交易不存在或已经评价过了。", linkBase_));

  const std::string r = Html(order->number);  // the rate id is the trade's own id
  std::string s = PageHead("评价买家");
  s += "<form id=\"J_RateForm\" method=\"post\" action=\"" + linkBase_ + "/remarkBuyer.htm\">\r\n";
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
  if (!reason.empty()) return Page(NoticePage("评价失败", "评价未能提交：" + reason, linkBase_));
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

}  // namespace marketsim
