#include "delivery/ship_holds.h"

#include "delivery/empty_ship.h"

namespace torvane {

std::optional<HeldOrder> ShipHolds::Check(const Deployment& deployment, const PaidOrder& order,
                                          std::chrono::steady_clock::time_point now) {
  const std::string why = MissingShipAction(deployment, order.shipLink, order.orderNumber);
  if (why.empty()) return std::nullopt;
  HeldOrder held;
  held.notice = "订单编号:[" + order.orderNumber + "] 缺少发货链接 暂不发货";
  held.line = order.shipLink.empty() ? held.notice : held.notice + ": " + why;
  auto told = told_.find(order.orderNumber);
  if (told == told_.end() || now - told->second >= kRepeatAfter) {
    told_[order.orderNumber] = now;
    held.tellSeller = true;
  }
  return held;
}

}  // namespace torvane
