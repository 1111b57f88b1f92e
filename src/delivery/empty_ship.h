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

// Where the consign form for shipLink goes: the link's address on the trade or logistics role
// (AddressOnRole: host and port of the role, http upgraded to https on an https role, the link's own
// path and query). "" with the reason in *refusal when the link is not an http(s) address, carries
// user-info or a fragment, or belongs to neither role.
std::string ShipAddress(const Deployment& deployment, std::string_view shipLink, std::string* refusal);

// Why the consign form may not go to shipLink; "" when it may (ShipAddress).
std::string ShipLinkRefusal(const Deployment& deployment, std::string_view shipLink);

// The order number a ship link names in its query (orderId, order_id, tradeId, trade_id, bizOrderId or
// biz_order_id, in any case), percent-decoded; "" when it names none.
std::string ShipLinkOrderNumber(std::string_view shipLink);

// Why the marketplace gives this order block no ship action of its own; "" when it does. A block
// without a ship link, with one the form may not go to (ShipLinkRefusal), or with one naming another
// order number than the block's has none: its order gets no codes, since it could not be marked shipped.
std::string MissingShipAction(const Deployment& deployment, std::string_view shipLink, std::string_view orderNumber);

// Posts the consign form to the ship link's address (ShipAddress) with the given token: a refused link
// sends nothing, gives false and leaves the reason in *refusal. True exactly when the answer contains
// "恭喜您，操作成功"; *answer (when given) gets the answer's text.
bool EmptyShipWithToken(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
                        const std::string& token, std::string* refusal = nullptr, std::string* answer = nullptr);

// As above with the token of the current login session.
bool EmptyShip(const Deployment& deployment, const std::string& shipLink, const std::string& orderNumber,
               std::string* refusal = nullptr);

}  // namespace torvane
