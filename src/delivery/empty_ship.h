// Marking an order shipped without logistics (the consign form's no-logistics action).
#pragma once

#include <string>
#include <string_view>

#include "base/deployment.h"

namespace torvane {

// The consignee template sent with every order, already form-encoded (所在区/服:你是谁啊 CR LF
// 角色名:你是谁啊 CR LF 备注:).
inline constexpr std::string_view kConsigneeText =
    "%CB%F9%D4%DA%C7%F8%2F%B7%FE%3A%C4%E3%CA%C7%CB%AD%B0%A1%0D%0A%BD%C7%C9%AB%C3%FB%3A%C4%E3%CA%C7%CB%AD%B0%A1%0D%0A%B1%B8%D7%A2%3A";

// The 69-field consign form. Every value is form-encoded (letters, digits and "_" kept, every other
// byte as %XX): a token or order number taken from a page cannot add fields of its own.
std::string EmptyShipBody(std::string_view token, std::string_view orderNumber, const ShipperContact& contact);

// The path of the consign form below a marketplace role's base address.
inline constexpr std::string_view kConsignPath = "/user/consign.htm";

// Why the consign form may not go to shipLink; "" when it may. It may only go to an http(s) address with
// the scheme, host and port of the deployment's trade or logistics role and that role's path followed by
// kConsignPath (a query is allowed; user-info and a fragment are not).
std::string ShipLinkRefusal(const Deployment& deployment, std::string_view shipLink);

// Posts the consign form to shipLink with the given token, after ShipLinkRefusal: a refused link sends
// nothing, gives false and leaves the reason in *refusal. True exactly when the answer contains
// "恭喜您，操作成功".
bool EmptyShipWithToken(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
                        const std::string& token, std::string* refusal = nullptr);

// As above with the token of the current login session.
bool EmptyShip(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
               std::string* refusal = nullptr);

// Older form without the deployment: it refuses links that are not http(s), carry user-info or a fragment,
// or whose path does not end in kConsignPath, but cannot check the host; prefer the forms above.
bool EmptyShipWithToken(const std::string& shipLink, const std::string& orderNumber, const std::string& token,
                        const ShipperContact& contact);

}  // namespace torvane
