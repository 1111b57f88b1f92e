// Orders the delivery run holds back because their block on the list gives no ship action of their
// own (MissingShipAction), and when the seller was last told of each: no codes go out for an order
// that could not be marked shipped.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "base/deployment.h"
#include "delivery/order_scan.h"

namespace torvane {

// What to say of one held order.
struct HeldOrder {
  std::string line;    // activity line: "订单编号:[N] 缺少发货链接 暂不发货", with ": " and the reason when it has a link
  std::string notice;  // "发货异常" text: the line without the reason
  bool tellSeller = false;  // the seller was not told of this order within kRepeatAfter
};

class ShipHolds {
 public:
  static constexpr std::chrono::hours kRepeatAfter{24};

  // nullopt when the order's block has a ship action of its own; else what to say of it.
  std::optional<HeldOrder> Check(const Deployment& deployment, const PaidOrder& order,
                                 std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

 private:
  std::map<std::string, std::chrono::steady_clock::time_point> told_;
};

}  // namespace torvane
