#include "delivery/delivery_run.h"

#include "delivery/chat_sender.h"
#include "delivery/empty_ship.h"
#include "store/blacklist.h"
#include "store/item_names.h"
#include "web/login_session.h"
#include "base/text.h"

namespace torvane {
namespace {

bool IsAsciiAlnum(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool IsLocalPartByte(unsigned char c) {
  return IsAsciiAlnum(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-';
}
bool IsDomainByte(unsigned char c) { return IsAsciiAlnum(c) || c == '.' || c == '-'; }

// Domain from pos: letters, digits, dots and hyphens, without trailing dots or hyphens; it must
// hold a dot between two non-empty labels.
std::optional<std::string> DomainAt(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && IsDomainByte(static_cast<unsigned char>(text[end]))) ++end;
  std::string_view domain = text.substr(pos, end - pos);
  while (!domain.empty() && (domain.back() == '.' || domain.back() == '-')) domain.remove_suffix(1);
  if (domain.empty() || domain.front() == '.' || domain.front() == '-') return std::nullopt;
  if (domain.find('.') == std::string_view::npos || domain.find("..") != std::string_view::npos) return std::nullopt;
  return std::string(domain);
}

std::string OutOfStockText(const std::string& title) { return "宝贝名称: " + title + "库存不足"; }

std::string OrderTag(const std::string& orderNumber) { return "订单编号:[" + orderNumber + "]"; }

std::vector<RecordNumber> NumbersOf(const std::vector<SentRecord>& records) {
  std::vector<RecordNumber> numbers;
  numbers.reserve(records.size());
  for (const SentRecord& r : records) numbers.push_back(r.recordNumber);
  return numbers;
}

}  // namespace

std::optional<std::string> FirstMailAddress(std::string_view message) {
  // Walk whole characters; runStart is where the current run of local-part bytes began.
  std::size_t runStart = 0;
  std::size_t pos = 0;
  while (pos < message.size()) {
    const auto c = static_cast<unsigned char>(message[pos]);
    if (IsLeadByte(c)) {
      pos += 2;
      runStart = pos;
      continue;
    }
    if (c == '@') {
      std::string_view local = message.substr(runStart, pos - runStart);
      while (!local.empty() && local.front() == '.') local.remove_prefix(1);
      if (!local.empty()) {
        if (auto domain = DomainAt(message, pos + 1)) return std::string(local) + "@" + *domain;
      }
      ++pos;
      runStart = pos;
      continue;
    }
    ++pos;
    if (!IsLocalPartByte(c)) runStart = pos;
  }
  return std::nullopt;
}

std::string ComposeDeliveryMessage(const std::vector<SentRecord>& records, std::string_view note,
                                   const std::string* signature) {
  std::string message = "\r\n\r\n感谢您的购买\r\n\r\n";
  for (const SentRecord& r : records) {
    message += "卡号: " + r.Field(5) + "  卡密: " + r.Field(6) + "\r\n";
  }
  message += "\r\n备注：";
  message.append(note);
  if (signature != nullptr) message += "\r\n\r\n" + *signature;
  return message;
}

DeliveryEngine::DeliveryEngine(const Deployment& deployment, CardStores& stores, std::filesystem::path dataDir,
                               const LiveSettings& settings, ActivityLogger& log, MailSender& mail,
                               SellerNotices& notices, WindowSystem& windows, std::function<void()> refreshViews)
    : deployment_(deployment),
      stores_(stores),
      dataDir_(std::move(dataDir)),
      settings_(settings),
      log_(log),
      mail_(mail),
      notices_(notices),
      windows_(windows),
      refreshViews_(std::move(refreshViews)) {}

void DeliveryEngine::SetTokenSource(std::function<std::string()> tokenSource) { tokenSource_ = std::move(tokenSource); }

void DeliveryEngine::SetChatPollPause(std::chrono::milliseconds pause) { chatPollPause_ = pause; }

std::string DeliveryEngine::Token() const { return tokenSource_ ? tokenSource_() : FormToken(); }

bool DeliveryEngine::IsListedItem(const std::string& title) const { return torvane::IsListedItem(dataDir_, title); }

void DeliveryEngine::AppendToBlacklist(const std::string& number) {
  std::string error;
  if (!BlacklistAppend(dataDir_, number, &error)) log_.LogActivity(OrderTag(number) + " 无法写入临时黑名单: " + error);
}

bool DeliveryEngine::Ship(const PaidOrder& order) {
  std::string refusal;
  const bool shipped = EmptyShipWithToken(deployment_, order.shipLink, order.orderNumber, Token(), &refusal);
  if (!refusal.empty()) log_.LogActivity(OrderTag(order.orderNumber) + " 未提交发货: " + refusal);
  return shipped;
}

DeliverySummary DeliveryEngine::LastSummary() const {
  std::lock_guard<std::mutex> lock(summaryMutex_);
  return lastSummary_;
}

DeliverySummary DeliveryEngine::DeliveryRun() {
  std::lock_guard<std::mutex> oneAtATime(runMutex_);
  const DeliverySummary summary = Pass();
  std::lock_guard<std::mutex> lock(summaryMutex_);
  lastSummary_ = summary;
  return summary;
}

DeliverySummary DeliveryEngine::Pass() {
  DeliverySummary summary;
  passOrders_.clear();
  const std::vector<PaidOrder> orders = ScanPaidOrders(deployment_);
  summary.listed = static_cast<int>(orders.size());
  if (orders.empty()) {
    log_.LogActivity("未发现已付款订单");
    return summary;
  }
  log_.LogActivity("发现已付款订单 [" + std::to_string(orders.size()) + "]个");

  if (settings_.Current().deliverEmpty) {
    log_.LogActivity("启动空发货");
    for (const PaidOrder& order : orders) {
      if (Ship(order)) {
        ++summary.shipped;
      } else {
        log_.LogActivity(OrderTag(order.orderNumber) + " 标记发货失败 请手动发货");
      }
    }
    // Only the orders the marketplace confirmed count as shipped.
    log_.LogActivity("完成 共空发货订单 [" + std::to_string(summary.shipped) + "]个");
    return summary;
  }

  bool noMethodLogged = false;
  for (const PaidOrder& order : orders) {
    const Settings settings = settings_.Current();
    if (!settings.deliverByChat && !settings.deliverByMail) {
      if (!noMethodLogged) log_.LogActivity("未选择发货方式 自动跳过");
      noMethodLogged = true;
      ++summary.skipped;
      continue;
    }
    HandleOrder(order, settings, summary);
  }
  return summary;
}

void DeliveryEngine::HandleOrder(const PaidOrder& order, const Settings& settings, DeliverySummary& summary) {
  const std::string& number = order.orderNumber;
  // An order without a number can be neither recorded against nor blacklisted nor shipped.
  if (number.empty()) {
    log_.LogActivity("订单编号为空 自动跳过");
    ++summary.skipped;
    return;
  }
  std::string blacklistError;
  const bool listed = BlacklistContains(dataDir_, number, &blacklistError);
  if (!blacklistError.empty()) {
    // Unreadable: the order cannot be checked, so it waits.
    log_.LogActivity(OrderTag(number) + " 无法读取临时黑名单 暂不发货: " + blacklistError);
    ++summary.skipped;
    return;
  }
  // The order's sent records by status; a store that cannot be read holds the order back.
  std::string storeError;
  auto recordsWithStatus = [&](std::string_view status) {
    std::vector<SentRecord> found = stores_.SentRecordsOf(number, std::string(status));
    if (found.empty() && storeError.empty()) storeError = LastStoreError();
    return found;
  };
  // Records that reached a channel (or failed to) mean the order was handled before, even when
  // the blacklist lost it.
  const std::vector<SentRecord> delivered = [&] {
    std::vector<SentRecord> found = recordsWithStatus(kStatusByChat);
    std::vector<SentRecord> byMail = recordsWithStatus(kStatusByMail);
    found.insert(found.end(), byMail.begin(), byMail.end());
    return found;
  }();
  const bool failedBefore = !recordsWithStatus(kStatusSendFailed).empty();
  const bool handledBefore = listed || !delivered.empty() || failedBefore;
  // Cards taken for this order by a pass that stopped before handing them over go out again;
  // no new cards are spent on it.
  std::vector<SentRecord> records = handledBefore ? std::vector<SentRecord>{} : recordsWithStatus(kStatusSending);
  if (!storeError.empty()) {
    log_.LogActivity(OrderTag(number) + " 卡密库读写失败 暂不发货: " + storeError);
    ++summary.skipped;
    return;
  }
  if (handledBefore) {
    // The buyer has the codes but the order is still listed as unshipped: a pass stopped (or the
    // marketplace refused) between the hand-over and the consign. Mark it shipped now, once per
    // pass; it never gets codes again.
    const bool firstListingThisPass = passOrders_.insert(number).second;
    if (!delivered.empty() && firstListingThisPass) {
      if (!listed) AppendToBlacklist(number);
      log_.LogActivity(OrderTag(number) + " 卡密已经发送 补做发货标记");
      if (Ship(order)) {
        ++summary.shipped;
      } else {
        log_.LogActivity(OrderTag(number) + " 标记发货失败 请手动发货");
      }
      ++summary.skipped;
      return;
    }
    if (!listed && failedBefore) AppendToBlacklist(number);
    log_.LogActivity("发现重复订单 自动跳过");
    ++summary.skipped;
    return;
  }
  passOrders_.insert(number);
  const bool resuming = !records.empty();
  std::string note;
  std::int64_t quantity = 0;
  if (resuming) {
    note = records.front().Field(7);
  } else {
    const std::optional<CardRecord> first = stores_.FirstCardOf(order.title);
    if (!first) {
      if (IsListedItem(order.title)) {
        notices_.NotifyOutOfStock(OutOfStockText(order.title));
      } else {
        log_.LogActivity("不在发货序列 自动跳过");
      }
      ++summary.skipped;
      return;
    }
    note = first->Field(4);
    quantity = LeadingNumber(order.quantity);
    if (quantity < 1) {
      log_.LogActivity(OrderTag(number) + " 购买数量无法识别 自动跳过");
      ++summary.skipped;
      return;
    }
  }

  Channel channel = Channel::kChat;
  std::string recipient;
  if (settings.deliverByMail) {
    if (std::optional<std::string> address = FirstMailAddress(order.buyerMessage)) {
      channel = Channel::kMail;
      recipient = *address;
    } else {
      log_.LogActivity(OrderTag(number) + " 由于留言邮箱格式错误 自动使用旺旺方式发送卡密");
    }
  }
  if (channel == Channel::kChat && !windows_.Available()) {
    log_.LogActivity("未找到旺旺客户端 " + OrderTag(number) + " 暂不发货");
    ++summary.skipped;
    return;
  }

  if (!resuming) {
    // Whole orders only: taking is all or nothing, so a short inventory takes none and the
    // order waits until the inventory holds all it needs.
    records = stores_.TakeCards(order.title, static_cast<std::size_t>(quantity), number, order.buyer, order.quantity,
                                note, std::string(kStatusSending), NowDateTimeText());
    if (records.empty()) {
      const std::string takeError = LastStoreError();
      if (takeError.empty()) {
        notices_.NotifyOutOfStock(OutOfStockText(order.title));
      } else {
        log_.LogActivity(OrderTag(number) + " 卡密库读写失败 暂不发货: " + takeError);
      }
      ++summary.skipped;
      return;
    }
  } else {
    log_.LogActivity(OrderTag(number) + " 发现未完成的发货 重新发送原卡密");
  }

  const std::string message =
      ComposeDeliveryMessage(records, note, settings.signatureOn ? &settings.signature : nullptr);
  bool handedOver = false;
  std::string channelText;
  if (channel == Channel::kMail) {
    channelText = std::string(kStatusByMail);
    handedOver = mail_.SendMail(recipient, "您购买的宝贝送到", message).accepted;
  } else {
    channelText = std::string(kStatusByChat);
    handedOver = SendWangwangMessage(windows_, order.buyer, number, message, deployment_.chatWaitSeconds, chatPollPause_)
                     .HandedOver();
  }

  // The final status first, then the blacklist: a pass stopped in between leaves records that
  // already count as handled, and the next pass completes the blacklist. Stopped before the
  // status, the same codes go out again; new codes are never spent on the order.
  const std::vector<RecordNumber> numbers = NumbersOf(records);
  if (!handedOver) {
    if (!stores_.SetSentStatus(numbers, std::string(kStatusSendFailed), NowDateTimeText())) {
      log_.LogActivity(OrderTag(number) + " 发货记录更新失败: " + LastStoreError());
    }
    AppendToBlacklist(number);
    log_.LogActivity(OrderTag(number) + " 卡密发送失败 请手动处理");
    ++summary.failed;
    if (refreshViews_) refreshViews_();
    return;
  }
  if (!stores_.SetSentStatus(numbers, channelText, NowDateTimeText())) {
    log_.LogActivity(OrderTag(number) + " 发货记录更新失败: " + LastStoreError());
  }
  AppendToBlacklist(number);
  ++summary.delivered;
  if (Ship(order)) {
    ++summary.shipped;
  } else {
    log_.LogActivity(OrderTag(number) + " 标记发货失败 请手动发货");
  }
  notices_.NotifyDelivered("宝贝名称:[" + order.title + "]  订单编号:[" + number + "]  购买数量:[" + order.quantity +
                           "]  买家旺旺:[" + order.buyer + "]  已经通过:[" + channelText + "]发送宝贝");
  if (refreshViews_) refreshViews_();
}

}  // namespace torvane
