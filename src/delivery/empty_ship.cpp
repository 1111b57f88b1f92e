#include "delivery/empty_ship.h"

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

std::string ShipLinkRefusal(const Deployment& deployment, std::string_view shipLink) {
  const std::optional<WebAddress> link = ParseWebAddress(shipLink);
  if (!link) return "发货链接不是有效的网址";
  if (link->hasUserInfo) return "发货链接含有用户名或密码";
  if (link->hasFragment) return "发货链接含有片段标识";
  bool roleOrigin = false;
  for (const std::string* base : {&deployment.tradeHost, &deployment.logisticsHost}) {
    const std::optional<WebAddress> role = ParseWebAddress(*base);
    if (!role || !SameOrigin(*role, *link)) continue;
    roleOrigin = true;
    if (link->path == role->path + std::string(kConsignPath)) return {};
  }
  if (!roleOrigin) return "发货链接不属于交易主机或物流主机: " + link->Origin();
  return "发货链接的路径不是 " + std::string(kConsignPath) + ": " + link->path;
}

bool EmptyShipWithToken(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
                        const std::string& token, std::string* refusal) {
  std::string why = ShipLinkRefusal(deployment, shipLink);
  if (!why.empty()) {
    if (refusal != nullptr) *refusal = std::move(why);
    return false;
  }
  const std::string answer = 网页_访问(shipLink, 1, {}, {}, EmptyShipBody(token, orderNumber, deployment.shipper));
  return answer.find("恭喜您，操作成功") != std::string::npos;
}

bool EmptyShip(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
               std::string* refusal) {
  return EmptyShipWithToken(deployment, shipLink, orderNumber, FormToken(), refusal);
}

bool EmptyShipWithToken(const std::string& shipLink, const std::string& orderNumber, const std::string& token,
                        const ShipperContact& contact) {
  const std::optional<WebAddress> link = ParseWebAddress(shipLink);
  if (!link || link->hasUserInfo || link->hasFragment || !link->path.ends_with(kConsignPath)) return false;
  const std::string answer = 网页_访问(shipLink, 1, {}, {}, EmptyShipBody(token, orderNumber, contact));
  return answer.find("恭喜您，操作成功") != std::string::npos;
}

}  // namespace torvane
