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

// The 69-field consign form. token and orderNumber go in unencoded; the contact's values are
// form-encoded (letters, digits and "_" kept, every other byte as %XX).
std::string EmptyShipBody(std::string_view token, std::string_view orderNumber, const ShipperContact& contact);

// Posts the consign form to shipLink with the given token. True exactly when the answer
// contains "恭喜您，操作成功".
bool EmptyShipWithToken(const std::string& shipLink, const std::string& orderNumber, const std::string& token,
                        const ShipperContact& contact);

// As above with the token of the current login session.
bool EmptyShip(const std::string& shipLink, const std::string& orderNumber, const ShipperContact& contact);

}  // namespace torvane
