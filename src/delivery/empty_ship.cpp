#include "delivery/empty_ship.h"

#include <algorithm>

#include "delivery/role_link.h"

#include "web/http.h"
#include "web/login_session.h"
#include "base/text.h"
#include "base/web_address.h"

namespace torvane {
namespace {

// 不需收货人
constexpr std::string_view kNoConsignee = "%B2%BB%D0%E8%CA%D5%BB%F5%C8%CB";
// 您可以在此输入备忘信息（仅卖家自己可见）。
constexpr std::string_view kMemoPlaceholder =
    "%C4%FA%BF%C9%D2%D4%D4%DA%B4%CB%CA%E4%C8%EB%B1%B8%CD%FC%D0%C5%CF%A2%A3%A8%BD%F6%C2%F4%BC%D2%D7%D4%BC%BA%BF%C9%BC%FB%A3%A9%A1%A3";

class FormBuilder {
 public:
  void Add(std::string_view name, std::string_view value) {
    if (!body_.empty()) body_ += '&';
    body_.append(name);
    body_ += '=';
    body_.append(value);
  }
  std::string Take() { return std::move(body_); }

 private:
  std::string body_;
};

// Fields 36..50 (sender) and 51..65 (return contact) share this layout.
void AddContact(FormBuilder& form, std::string_view prefix, const ShipperContact& c, std::string_view mobileKey) {
  auto key = [&](std::string_view suffix) { return std::string(prefix) + std::string(suffix); };
  form.Add(key("co"), PercentEncodeForm(c.regionCode1));
  form.Add(key("coun"), PercentEncodeForm(c.regionCode2));
  form.Add(key("c"), PercentEncodeForm(c.name));
  form.Add(key("p"), "");
  form.Add(key("ci"), "");
  form.Add(key("cou"), "");
  form.Add(key("adr"), PercentEncodeForm(c.street));
  form.Add(key("dd"), PercentEncodeForm(c.fullAddress));
  form.Add(key("ad"), PercentEncodeForm(c.joinedAddress));
  form.Add(key("z"), PercentEncodeForm(c.postcode));
  form.Add(key("ddd"), "");
  form.Add(key("ph"), "");
  form.Add(key("b"), "");
  form.Add(key("t"), "");
  form.Add(key(mobileKey), PercentEncodeForm(c.mobile));
}

// %XX escapes decoded ("+" stays: an order number holds none); a malformed escape stays as written.
std::string PercentDecode(std::string_view text) {
  auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

std::string EmptyShipBody(std::string_view token, std::string_view orderNumber, const ShipperContact& contact) {
  FormBuilder form;
  form.Add("source", "");
  form.Add("callUrl", "");
  form.Add("_tb_token_", PercentEncodeForm(token));
  form.Add("mailNo", "");
  form.Add("companyCode", "");
  form.Add("orderId", PercentEncodeForm(orderNumber));
  form.Add("flag", "");
  form.Add("province", kConsigneeText);
  form.Add("action", "user%2Fconsign_action");
  form.Add("event_submit_do_online_consign", "");
  form.Add("event_submit_do_offline_consign", "");
  form.Add("event_submit_do_dummy", "1");
  form.Add("event_submit_do_limit_consign", "");
  form.Add("event_submit_do_cod_consign", "");
  form.Add("event_submit_do_store_consign", "");
  form.Add("event_submit_do_refresh_address", "");
  form.Add("event_submit_do_refresh_store", "");
  form.Add("event_submit_do_store_cod_consign", "");
  form.Add("companyId", "");
  form.Add("_fmw.r._0.coun", "1");
  form.Add("_fmw.r._0.c", kNoConsignee);
  form.Add("_fmw.r._0.p", kConsigneeText);
  form.Add("_fmw.r._0.ci", "");
  form.Add("_fmw.r._0.d", "");
  form.Add("_fmw.r._0.cou", "");
  form.Add("_fmw.r._0.adr", "");
  form.Add("_fmw.r._0.dd", kConsigneeText);
  form.Add("_fmw.r._0.ad", std::string("%5E%5E%5E%5E%5E%5E%5E%5E%5E") + std::string(kConsigneeText));
  form.Add("_fmw.r._0.z", "000000");
  form.Add("_fmw.r._0.ddd", "");
  form.Add("_fmw.r._0.ph", "");
  form.Add("_fmw.r._0.b", "");
  form.Add("_fmw.r._0.t", "");
  form.Add("_fmw.r._0.mo", "");
  form.Add("_fmw.n._0.g", kMemoPlaceholder);
  AddContact(form, "_fmw.f._0.", contact, "m");
  AddContact(form, "_fmw.re._0.", contact, "m");
  form.Add("initialWeightOld", "all");
  form.Add("_fmw.f._0.f", "");
  form.Add("_fmw.f._0.fe", "");
  form.Add("_fmw.f._0.fet", "");
  return form.Take();
}

std::string ShipAddress(const Deployment& deployment, std::string_view shipLink, std::string* refusal) {
  auto refuse = [&](std::string why) {
    if (refusal != nullptr) *refusal = std::move(why);
    return std::string();
  };
  const std::optional<WebAddress> link = ParseWebAddress(shipLink);
  if (!link) return refuse("发货链接不是有效的网址");
  if (link->hasUserInfo) return refuse("发货链接含有用户名或密码");
  if (link->hasFragment) return refuse("发货链接含有片段标识");
  for (const std::string* role : {&deployment.tradeHost, &deployment.logisticsHost}) {
    if (std::optional<std::string> address = AddressOnRole(*link, *role)) return *address;
  }
  return refuse("发货链接不属于交易主机或物流主机: " + link->Origin());
}

std::string ShipLinkRefusal(const Deployment& deployment, std::string_view shipLink) {
  std::string refusal;
  ShipAddress(deployment, shipLink, &refusal);
  return refusal;
}

std::string ShipLinkOrderNumber(std::string_view shipLink) {
  const std::optional<WebAddress> link = ParseWebAddress(shipLink);
  if (!link || !link->hasQuery) return {};
  static constexpr std::string_view kKeys[] = {"orderid", "order_id", "tradeid", "trade_id", "bizorderid", "biz_order_id"};
  for (const std::string& pair : SplitText(link->query, "&")) {
    const std::size_t eq = pair.find('=');
    if (eq == std::string::npos) continue;
    std::string key = pair.substr(0, eq);
    for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys)) continue;
    return PercentDecode(pair.substr(eq + 1));
  }
  return {};
}

std::string MissingShipAction(const Deployment& deployment, std::string_view shipLink, std::string_view orderNumber) {
  if (shipLink.empty()) return "没有发货链接";
  std::string refusal = ShipLinkRefusal(deployment, shipLink);
  if (!refusal.empty()) return refusal;
  const std::string named = ShipLinkOrderNumber(shipLink);
  if (!named.empty() && named != orderNumber) return "发货链接属于订单 " + named;
  return {};
}

bool EmptyShipWithToken(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
                        const std::string& token, std::string* refusal, std::string* answer) {
  std::string why;
  const std::string address = ShipAddress(deployment, shipLink, &why);
  if (address.empty()) {
    if (refusal != nullptr) *refusal = std::move(why);
    return false;
  }
  const std::string reply = 网页_访问(address, 1, {}, {}, EmptyShipBody(token, orderNumber, deployment.shipper));
  const bool shipped = reply.find("恭喜您，操作成功") != std::string::npos;
  if (answer != nullptr) *answer = reply;
  return shipped;
}

bool EmptyShip(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
               std::string* refusal) {
  return EmptyShipWithToken(deployment, shipLink, orderNumber, FormToken(), refusal);
}

}  // namespace torvane
