// Resending an order's recorded codes: the same codes, never new ones, by the order's own channel, then the
// shipped mark when the order is still listed.
#include "delivery/delivery_run.h"

#include "delivery/chat_sender.h"
#include "delivery/empty_ship.h"
#include "store/blacklist.h"
#include "web/login_session.h"
#include "base/text.h"

namespace torvane {

ResendResult DeliveryEngine::ResendOrder(const std::string& orderNumber, const std::string& mailTo,
                                         const std::string* formToken) {
  std::lock_guard<std::mutex> oneAtATime(runMutex_);
  ResendResult result;
  const std::string tag = OrderTag(orderNumber);
  auto say = [&](const std::string& line) {
    log_.LogActivity(line);
    result.lines.push_back(line);
  };

  // The order's codes, in store order, whatever became of them.
  std::vector<SentRecord> records;
  for (std::string_view status : {kStatusSending, kStatusByChat, kStatusByMail, kStatusSendFailed}) {
    std::vector<SentRecord> found = stores_.SentRecordsOf(orderNumber, std::string(status));
    if (found.empty() && !LastStoreError().empty()) {
      say(tag + " 卡密库读写失败: " + LastStoreError());
      return result;
    }
    records.insert(records.end(), found.begin(), found.end());
  }
  if (orderNumber.empty() || records.empty()) {
    say(tag + " 没有发货记录");
    return result;
  }
  std::sort(records.begin(), records.end(),
            [](const SentRecord& a, const SentRecord& b) { return a.recordNumber < b.recordNumber; });

  // Where the order stands on the marketplace, and the buyer's message with it.
  std::optional<PaidOrder> listing;
  const OrderListResult list = ScanPaidOrders(deployment_);
  if (!list.read) {
    result.listFailure =
        list.loginExpired ? std::string("登录已失效 请重新登录淘宝") : "无法读取已付款订单: " + list.error;
    say(result.listFailure);
  } else {
    for (const PaidOrder& order : list.orders) {
      if (order.orderNumber == orderNumber) {
        listing = order;
        break;
      }
    }
  }
  result.listed = listing.has_value();

  const Settings settings = settings_.Current();
  auto hasStatus = [&](std::string_view status) {
    return std::any_of(records.begin(), records.end(), [&](const SentRecord& r) { return r.Field(8) == status; });
  };
  bool byMail = !mailTo.empty() || hasStatus(kStatusByMail);
  if (mailTo.empty() && !hasStatus(kStatusByMail) && !hasStatus(kStatusByChat)) {
    if (settings.deliverByMail && !list.read) {
      // The channel would follow the buyer's message, which only the list holds.
      say(tag + " 无法确定发货方式 未重新发送");
      return result;
    }
    byMail = settings.deliverByMail && listing.has_value() && FirstMailAddress(listing->buyerMessage).has_value();
  }
  std::string recipient = mailTo;
  if (byMail && recipient.empty() && listing) {
    if (std::optional<std::string> address = FirstMailAddress(listing->buyerMessage)) recipient = *address;
  }
  if (byMail && recipient.empty()) {
    say(tag + " 找不到买家邮箱 请指定收信地址");
    return result;
  }
  if (!byMail && !windows_.Available()) {
    say("未找到旺旺客户端 " + tag + " 暂不发货");
    return result;
  }

  const std::string message =
      ComposeDeliveryMessage(records, records.front().Field(7), settings.signatureOn ? &settings.signature : nullptr);
  std::string channelText;
  if (byMail) {
    channelText = std::string(kStatusByMail);
    const MailResult sent = mail_.SendMail(recipient, "您购买的宝贝送到", message);
    if (!sent.accepted) {
      say(tag + " 卡密发送失败: " + sent.reason);
      return result;
    }
  } else {
    channelText = std::string(kStatusByChat);
    const std::string& buyer = records.front().Field(3);
    if (!SendWangwangMessage(windows_, buyer, orderNumber, message, deployment_.chatWaitSeconds, chatPollPause_)
             .HandedOver()) {
      say(tag + " 卡密发送失败 旺旺消息未能发出");
      return result;
    }
  }
  result.sent = true;
  const SentHandOver handOver{NowSortableTimeText(), std::string(kHandOverResend)};
  if (!stores_.SetSentStatus(NumbersOf(records), channelText, NowDateTimeText(), &handOver)) {
    say(tag + " 发货记录更新失败: " + LastStoreError());
  }
  std::string blacklistError;
  if (!BlacklistContains(dataDir_, orderNumber, &blacklistError) && blacklistError.empty()) {
    AppendToBlacklist(orderNumber);
  }
  say(tag + " 已重新发送原卡密 [" + std::to_string(records.size()) + "]张 通过:[" + channelText + "]");
  if (listing) {
    result.shipped = Ship(*listing, formToken);
    say(tag + (result.shipped ? " 已标记发货" : " 标记发货失败 请手动发货"));
  } else if (!result.listFailure.empty()) {
    say(tag + " 未能确认订单是否已发货 请手动检查");
  }
  if (refreshViews_) refreshViews_();
  return result;
}

}  // namespace torvane
