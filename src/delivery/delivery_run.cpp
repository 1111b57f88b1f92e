#include "delivery/delivery_run.h"

#include <algorithm>

#include "delivery/chat_sender.h"
#include "delivery/empty_ship.h"
#include "delivery/low_stock.h"
#include "notify/password.h"
#include "store/blacklist.h"
#include "store/item_names.h"
#include "store/item_settings.h"
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

}  // namespace

std::string OrderTag(const std::string& orderNumber) { return "订单编号:[" + orderNumber + "]"; }

std::vector<RecordNumber> NumbersOf(const std::vector<SentRecord>& records) {
  std::vector<RecordNumber> numbers;
  numbers.reserve(records.size());
  for (const SentRecord& r : records) numbers.push_back(r.recordNumber);
  return numbers;
}

std::optional<std::string> FirstMailAddress(std::string_view message) {
  // Walk whole characters; runStart is where the current run of local-part bytes began.
  std::size_t runStart = 0;
  std::size_t pos = 0;
  while (pos < message.size()) {
    const auto c = static_cast<unsigned char>(message[pos]);
    if (CharLengthAt(message, pos) == 2) {
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
      refreshViews_(std::move(refreshViews)),
      diagnostics_(dataDir_) {}

void DeliveryEngine::SetTokenSource(std::function<std::string()> tokenSource) { tokenSource_ = std::move(tokenSource); }

void DeliveryEngine::SetChatPollPause(std::chrono::milliseconds pause) { chatPollPause_ = pause; }

void DeliveryEngine::SetAfterDurableStep(std::function<void(DurableStep)> hook) { afterDurableStep_ = std::move(hook); }

void DeliveryEngine::Durable(DurableStep step) {
  if (afterDurableStep_) afterDurableStep_(step);
}

std::string DeliveryEngine::Token() const { return tokenSource_ ? tokenSource_() : FormToken(); }

bool DeliveryEngine::IsListedItem(const std::string& title) const { return torvane::IsListedItem(dataDir_, title); }

void DeliveryEngine::AppendToBlacklist(const std::string& number) {
  std::string error;
  const bool appended = BlacklistAppend(dataDir_, number, &error, [this] { Durable(DurableStep::kHandledOrder); });
  if (!appended) {
    log_.LogActivity(OrderTag(number) + " 无法写入临时黑名单: " + error);
    return;
  }
  Durable(DurableStep::kBlacklist);
}

bool DeliveryEngine::Ship(const PaidOrder& order, const std::string* formToken) {
  std::string refusal;
  std::string answer;
  const bool shipped = EmptyShipWithToken(deployment_, order.shipLink, order.orderNumber,
                                          formToken ? *formToken : Token(), &refusal, &answer);
  if (!refusal.empty()) {
    log_.LogActivity(OrderTag(order.orderNumber) + " 未提交发货: " + refusal);
  } else {
    Durable(DurableStep::kConsign);
    // An answer without the success sentence is kept for the seller to see what the marketplace said.
    const std::string saved = shipped || answer.empty() ? std::string() : SavePage("consign", order.shipLink, answer);
    if (!saved.empty()) log_.LogActivity(OrderTag(order.orderNumber) + " 发货页面未确认发货" + saved);
  }
  return shipped;
}

std::string DeliveryEngine::SavePage(std::string_view what, std::string_view address, std::string_view page) {
  const Settings settings = settings_.Current();
  return diagnostics_.Save(what, address, page,
                           {Token(), settings.smsPassword, RevealMailPassword(deployment_.mail.passwordObfuscated)});
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

void DeliveryEngine::RequestStop() { stopRequested_ = true; }

void DeliveryEngine::RaiseProblem(Problem problem, const std::string& text) {
  constexpr auto kRepeatAfter = std::chrono::hours(1);
  const auto now = std::chrono::steady_clock::now();
  auto it = problemsRaised_.find(problem);
  if (it != problemsRaised_.end() && now - it->second < kRepeatAfter) return;
  problemsRaised_[problem] = now;
  notices_.NotifyProblem(text);
}

void DeliveryEngine::ClearProblem(Problem problem) { problemsRaised_.erase(problem); }

void DeliveryEngine::StoreFailure(const std::string& number, const std::string& error, DeliverySummary& summary) {
  log_.LogActivity(OrderTag(number) + " 卡密库读写失败 暂不发货: " + error);
  ++summary.skipped;
}

void DeliveryEngine::Duplicate(const std::string& number, DeliverySummary& summary) {
  log_.LogActivity(OrderTag(number) + " 发现重复订单 自动跳过");
  ++summary.skipped;
}

DeliverySummary DeliveryEngine::Pass() {
  DeliverySummary summary;
  passOrders_.clear();
  mailOutage_.reset();
  refusedMail_.clear();
  const OrderListResult list = ScanPaidOrders(deployment_);
  if (!list.read) {
    summary.listUnreadable = true;
    if (list.loginExpired) {
      const std::string text = "登录已失效 请重新登录淘宝";
      log_.LogActivity(text);
      RaiseProblem(Problem::kLogin, text);
    } else {
      const std::string saved = list.unknownPage.empty() ? std::string() : SavePage("order-list", list.address, list.unknownPage);
      log_.LogActivity("无法读取已付款订单: " + list.error + saved);
    }
    return summary;
  }
  ClearProblem(Problem::kLogin);
  const std::vector<PaidOrder> orders = OrdersForPass(list.orders);
  summary.listed = static_cast<int>(orders.size());
  if (orders.empty()) {
    log_.LogActivity("未发现已付款订单");
    return summary;
  }
  log_.LogActivity("发现已付款订单 [" + std::to_string(orders.size()) + "]个");
  auto stopHere = [&] {
    if (!stopRequested_) return false;
    log_.LogActivity("收到退出请求 其余订单下次处理");
    return true;
  };

  if (settings_.Current().deliverEmpty) {
    log_.LogActivity("启动空发货");
    for (const PaidOrder& order : orders) {
      if (stopHere()) break;
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

  // A failure here shows again at each order's blacklist check and append, which say why.
  CompleteBlacklist(dataDir_);
  bool noMethodLogged = false;
  for (const PaidOrder& order : orders) {
    if (stopHere()) break;
    const Settings settings = settings_.Current();
    if (!settings.deliverByChat && !settings.deliverByMail) {
      if (!noMethodLogged) log_.LogActivity("未选择发货方式 自动跳过");
      noMethodLogged = true;
      ++summary.skipped;
      continue;
    }
    HandleOrder(order, settings, summary);
  }
  if (!refusedMail_.empty()) {
    // One notice for the pass; each order is refused once (it is blacklisted), so none repeats.
    std::string text;
    for (const std::string& number : refusedMail_) text += OrderTag(number);
    notices_.NotifyProblem(text + " 卡密邮件被拒收 请手动处理");
  }
  return summary;
}

void DeliveryEngine::HandleOrder(const PaidOrder& order, const Settings& settings, DeliverySummary& summary) {
  OrderWork work{order, settings};
  if (!CheckedBefore(work, summary) || !CheckStock(work, summary) || !CheckShipAction(work, summary) ||
      !ChooseChannel(work, summary) || !Take(work, summary)) {
    return;
  }
  const std::string message =
      ComposeDeliveryMessage(work.records, work.note, settings.signatureOn ? &settings.signature : nullptr);
  Finish(work, HandOver(work, message), summary);
  // Codes taken in this pass left the stock whatever became of the hand-over.
  if (!work.resuming) WarnOnLowStock(stores_, dataDir_, order.title, work.records.size(), log_, notices_);
}

bool DeliveryEngine::CheckedBefore(OrderWork& work, DeliverySummary& summary) {
  const PaidOrder& order = work.order;
  const std::string& number = order.orderNumber;
  // An order without a number can be neither recorded against nor blacklisted nor shipped.
  if (number.empty()) {
    log_.LogActivity("订单编号为空 自动跳过");
    ++summary.skipped;
    return false;
  }
  std::string blacklistError;
  const bool listed = BlacklistContains(dataDir_, number, &blacklistError);
  if (!blacklistError.empty()) {
    // Unreadable: the order cannot be checked, so it waits.
    log_.LogActivity(OrderTag(number) + " 无法读取临时黑名单 暂不发货: " + blacklistError);
    ++summary.skipped;
    return false;
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
  // Cards taken for this order by a pass that stopped (or a mail server that could not take them)
  // before handing them over go out again; no new cards are spent on it.
  std::vector<SentRecord> waiting = handledBefore ? std::vector<SentRecord>{} : recordsWithStatus(kStatusSending);
  if (!storeError.empty()) {
    StoreFailure(number, storeError, summary);
    return false;
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
      return false;
    }
    if (!listed && failedBefore) AppendToBlacklist(number);
    Duplicate(number, summary);
    return false;
  }
  // The same order listed twice on one page: its codes are already on their way.
  if (!passOrders_.insert(number).second) {
    Duplicate(number, summary);
    return false;
  }
  work.records = std::move(waiting);
  work.resuming = !work.records.empty();
  return true;
}

bool DeliveryEngine::CheckStock(OrderWork& work, DeliverySummary& summary) {
  const PaidOrder& order = work.order;
  if (work.resuming) {
    work.note = work.records.front().Field(7);
    return true;
  }
  const std::optional<CardRecord> first = stores_.FirstCardOf(order.title);
  if (!first) {
    const std::string error = LastStoreError();
    if (!error.empty()) {
      // A store that cannot be read says nothing about the stock: no out-of-stock notice.
      StoreFailure(order.orderNumber, error, summary);
      return false;
    }
    if (IsListedItem(order.title)) {
      notices_.NotifyOutOfStock(OutOfStockText(order.title));
    } else {
      log_.LogActivity("不在发货序列 自动跳过");
    }
    ++summary.skipped;
    return false;
  }
  work.note = first->Field(4);
  work.quantity = LeadingNumber(order.quantity);
  if (work.quantity < 1) {
    log_.LogActivity(OrderTag(order.orderNumber) + " 购买数量无法识别 自动跳过");
    ++summary.skipped;
    return false;
  }
  return true;
}

bool DeliveryEngine::CheckShipAction(OrderWork& work, DeliverySummary& summary) {
  const std::optional<HeldOrder> held = shipHolds_.Check(deployment_, work.order);
  if (!held) return true;
  log_.LogActivity(held->line);
  if (held->tellSeller) notices_.NotifyProblem(held->notice);
  ++(work.resuming ? summary.held : summary.skipped);
  return false;
}

bool DeliveryEngine::ChooseChannel(OrderWork& work, DeliverySummary& summary) {
  const std::string& number = work.order.orderNumber;
  work.channel = Channel::kChat;
  if (work.settings.deliverByMail) {
    if (std::optional<std::string> address = FirstMailAddress(work.order.buyerMessage)) {
      work.channel = Channel::kMail;
      work.recipient = *address;
    } else {
      log_.LogActivity(OrderTag(number) + " 由于留言邮箱格式错误 自动使用旺旺方式发送卡密");
    }
  }
  if (work.channel == Channel::kMail && mailOutage_) {
    // The server could not take a mail a moment ago: no codes are taken for it until the next pass.
    log_.LogActivity(OrderTag(number) + " 邮件服务器暂时无法发信 暂不发货");
    ++(work.resuming ? summary.held : summary.skipped);
    return false;
  }
  if (work.channel == Channel::kChat && !windows_.Available()) {
    log_.LogActivity("未找到旺旺客户端 " + OrderTag(number) + " 暂不发货");
    ++(work.resuming ? summary.held : summary.skipped);
    return false;
  }
  return true;
}

bool DeliveryEngine::Take(OrderWork& work, DeliverySummary& summary) {
  const PaidOrder& order = work.order;
  const std::string& number = order.orderNumber;
  if (work.resuming) {
    log_.LogActivity(OrderTag(number) + " 发现未完成的发货 重新发送原卡密");
    return true;
  }
  // Read afresh for each order, so a change of the item's settings holds from the next order on.
  std::string settingsError;
  const bool reusable = ReadItemSetting(dataDir_, order.title, &settingsError).reusable;
  if (!settingsError.empty()) {
    // Taken as an ordinary item's, a reusable item's codes would leave the inventory.
    log_.LogActivity(OrderTag(number) + " 暂不发货: " + settingsError);
    ++summary.skipped;
    return false;
  }
  if (reusable && work.quantity > kMaxReusableQuantity) {
    log_.LogActivity(OrderTag(number) + " 购买数量过大 循环宝贝每单最多发送" + std::to_string(kMaxReusableQuantity) +
                     "个 请手动处理");
    ++summary.skipped;
    return false;
  }
  // Whole orders only: taking is all or nothing, so a short inventory takes none and the
  // order waits until the inventory holds all it needs. A reusable item's codes go out in turn
  // and stay in stock: one code serves any quantity.
  const auto take = reusable ? &CardStores::TakeReusableCards : &CardStores::TakeCards;
  work.records = (stores_.*take)(order.title, static_cast<std::size_t>(work.quantity), number, order.buyer,
                                 order.quantity, work.note, std::string(kStatusSending), NowDateTimeText());
  if (!work.records.empty()) {
    Durable(DurableStep::kCardsTaken);
    return true;
  }
  const std::string error = LastStoreError();
  if (error == kOrderAlreadyHasRecords) {
    // Another process took codes for this order since it was checked.
    Duplicate(number, summary);
  } else if (!error.empty()) {
    StoreFailure(number, error, summary);
  } else {
    // Short: nothing was taken, so the whole quantity is still to send.
    log_.LogActivity(OutOfStockText(order.title) + " 买家旺旺: " + order.buyer + "还有[" +
                     std::to_string(work.quantity) + "]个卡密未发送");
    notices_.NotifyOutOfStock(OutOfStockText(order.title));
    ++summary.skipped;
  }
  return false;
}

DeliveryEngine::HandOverOutcome DeliveryEngine::HandOver(const OrderWork& work, const std::string& message) {
  HandOverOutcome outcome;
  if (work.channel == Channel::kMail) {
    outcome.channelText = std::string(kStatusByMail);
    const MailResult result = mail_.SendMail(work.recipient, "您购买的宝贝送到", message);
    outcome.handedOver = result.accepted;
    outcome.mailFailure = result.failure;
    outcome.reason = result.reason;
  } else {
    outcome.channelText = std::string(kStatusByChat);
    outcome.handedOver = SendWangwangMessage(windows_, work.order.buyer, work.order.orderNumber, message,
                                             deployment_.chatWaitSeconds, chatPollPause_)
                             .HandedOver();
  }
  return outcome;
}

void DeliveryEngine::Finish(const OrderWork& work, const HandOverOutcome& outcome, DeliverySummary& summary) {
  const PaidOrder& order = work.order;
  const std::string& number = order.orderNumber;
  const std::vector<RecordNumber> numbers = NumbersOf(work.records);
  const bool mail = work.channel == Channel::kMail;
  if (!outcome.handedOver && mail && outcome.mailFailure == MailFailure::kRecipientLater &&
      HoldForRecipient(work, outcome, summary)) {
    return;
  }
  if (!outcome.handedOver && mail && outcome.mailFailure != MailFailure::kRecipient &&
      outcome.mailFailure != MailFailure::kRecipientLater) {
    // Nothing about this buyer went wrong: the codes stay "发货中" and go out again next pass.
    log_.LogActivity(OrderTag(number) + " 邮件服务器暂时无法发信 卡密保留到下次发送: " + outcome.reason);
    mailOutage_ = outcome.reason;
    RaiseProblem(Problem::kMailServer, "邮件服务器暂时无法发信 邮件发货暂停: " + outcome.reason);
    ++summary.held;
    if (refreshViews_) refreshViews_();
    return;
  }
  // The final status first, then the blacklist: a pass stopped in between leaves records that
  // already count as handled, and the next pass completes the blacklist. Stopped before the
  // status, the same codes go out again; new codes are never spent on the order.
  if (!outcome.handedOver) {
    if (!stores_.SetSentStatus(numbers, std::string(kStatusSendFailed), NowDateTimeText())) {
      log_.LogActivity(OrderTag(number) + " 发货记录更新失败: " + LastStoreError());
    } else {
      Durable(DurableStep::kStatus);
    }
    AppendToBlacklist(number);
    ForgetRefusal(number);
    log_.LogActivity(OrderTag(number) + " 卡密发送失败 请手动处理" + (mail ? ": " + outcome.reason : std::string()));
    if (mail) refusedMail_.push_back(number);
    ++summary.failed;
    if (refreshViews_) refreshViews_();
    return;
  }
  if (mail) ClearProblem(Problem::kMailServer);
  const SentHandOver handOver{NowSortableTimeText(), std::string(mail ? kHandOverByMail : kHandOverByChat)};
  if (!stores_.SetSentStatus(numbers, outcome.channelText, NowDateTimeText(), &handOver)) {
    log_.LogActivity(OrderTag(number) + " 发货记录更新失败: " + LastStoreError());
  } else {
    Durable(DurableStep::kStatus);
  }
  AppendToBlacklist(number);
  ForgetRefusal(number);
  ++summary.delivered;
  if (Ship(order)) {
    ++summary.shipped;
  } else {
    log_.LogActivity(OrderTag(number) + " 标记发货失败 请手动发货");
  }
  notices_.NotifyDelivered("宝贝名称:[" + order.title + "]  订单编号:[" + number + "]  购买数量:[" + order.quantity +
                           "]  买家旺旺:[" + order.buyer + "]  已经通过:[" + outcome.channelText + "]发送宝贝");
  if (refreshViews_) refreshViews_();
}

}  // namespace torvane
