// The delivery engine's side of buyers' addresses that the mail server refuses for now (a 4xx reply
// to RCPT): such an order is held alone, taken last in later passes, and given up on after 24 hours.
#include "delivery/delivery_run.h"

namespace torvane {

void DeliveryEngine::SetClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }

std::vector<PaidOrder> DeliveryEngine::OrdersForPass(const std::vector<PaidOrder>& listed) {
  std::string error;
  if (!refusals_.Load(&error)) log_.LogActivity("无法读取邮件暂拒记录: " + error);
  std::set<std::string> numbers;
  for (const PaidOrder& order : listed) numbers.insert(order.orderNumber);
  error.clear();
  if (!refusals_.KeepOnly(numbers, &error)) log_.LogActivity("无法保存邮件暂拒记录: " + error);
  return refusals_.RefusedLast(listed);
}

bool DeliveryEngine::HoldForRecipient(const OrderWork& work, const HandOverOutcome& outcome,
                                      DeliverySummary& summary) {
  const std::string& number = work.order.orderNumber;
  const std::time_t now = clock_ ? clock_() : std::time(nullptr);
  std::string error;
  const std::time_t first = refusals_.Note(number, now, &error);
  if (!error.empty()) log_.LogActivity("无法保存邮件暂拒记录: " + error);
  if (now - first >= kRecipientRefusalLimitSeconds) {
    log_.LogActivity(OrderTag(number) + " 买家邮箱拒收已超过24小时");
    return false;
  }
  // Nothing is wrong with the server: the other orders go on, and the seller is not told of an outage.
  log_.LogActivity(OrderTag(number) + " 买家邮箱暂时拒收 卡密保留到下次发送: " + outcome.reason);
  ++summary.held;
  if (refreshViews_) refreshViews_();
  return true;
}

void DeliveryEngine::ForgetRefusal(const std::string& number) {
  std::string error;
  if (!refusals_.Forget(number, &error)) log_.LogActivity("无法保存邮件暂拒记录: " + error);
}

}  // namespace torvane
