// One delivery pass over the seller's paid, not yet shipped orders.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/order_scan.h"
#include "delivery/page_diagnostics.h"
#include "delivery/recipient_refusals.h"
#include "delivery/ship_holds.h"
#include "notify/notify_interfaces.h"
#include "platform/window_system.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/settings.h"
#include "store/record_store.h"

namespace torvane {

inline constexpr std::string_view kStatusSending = "发货中";
inline constexpr std::string_view kStatusByChat = "旺旺发送";
inline constexpr std::string_view kStatusByMail = "邮件发送";
inline constexpr std::string_view kStatusSendFailed = "发送失败";
// The most codes one order of a reusable item gets (its codes repeat, so the stock sets no bound).
inline constexpr std::int64_t kMaxReusableQuantity = 1000;

// "订单编号:[N]", the way every line about an order starts.
std::string OrderTag(const std::string& orderNumber);
// The record numbers of the given records, in their order.
std::vector<RecordNumber> NumbersOf(const std::vector<SentRecord>& records);

// The first e-mail address in a buyer's message: a run of ASCII letters, digits and ._%+-, an "@"
// that is a character of its own (never the second byte of a two-byte character), and a domain of
// ASCII letters, digits, dots and hyphens that holds a dot. nullopt when the message holds none.
std::optional<std::string> FirstMailAddress(std::string_view message);

// The delivery message: thanks, one line per card, the note, and the signature when given.
std::string ComposeDeliveryMessage(const std::vector<SentRecord>& records, std::string_view note,
                                   const std::string* signature);

// What one pass did, for the runner and the tests.
struct DeliverySummary {
  bool listUnreadable = false;  // the order list could not be read (nothing else was done)
  int listed = 0;       // orders on the list page
  int delivered = 0;    // orders whose codes were handed to a channel
  int failed = 0;       // orders whose send failed (status 发送失败)
  int held = 0;         // orders whose codes stay 发货中 for a later pass (mail server or chat client away, or the
                        // buyer's address refused for now)
  int shipped = 0;      // orders the marketplace confirmed as shipped
  int skipped = 0;      // duplicates, unknown items, out of stock, waiting for a chat client, ...
};

// The durable writes a pass makes for one order, in the order it makes them.
enum class DurableStep {
  kCardsTaken,    // the order's codes moved into the sent store as "发货中"
  kStatus,        // their status set to the channel, or to "发送失败"
  kHandledOrder,  // the order number recorded whole in 已处理订单.log
  kBlacklist,     // the order number appended to 临时黑名单.log
  kConsign,       // the consign form posted (whatever the marketplace answered)
};

// What `sent resend` did for one order.
struct ResendResult {
  bool sent = false;     // the recorded codes were handed to the channel again
  bool listed = false;   // the order is still on the to-ship list
  bool shipped = false;  // and the marketplace confirmed it as shipped now
  std::string listFailure;  // why the to-ship list could not be read: whether the order is listed is unknown
  std::vector<std::string> lines;  // what happened, also written to the activity log (GBK)

  // The codes went out and the order is shipped, or known to be off the to-ship list (shipped or closed).
  bool Done() const { return sent && listFailure.empty() && (!listed || shipped); }
};

// The delivery pass. Construct it once with everything it works with and call DeliveryRun() for
// each pass; passes on one engine never overlap (a second caller waits for the first).
//
//   DeliveryEngine engine(deployment, *stores, dataDir, liveSettings, activityLog, mailSender,
//                         sellerNotices, *windowSystem, [&] { /* refresh the store views */ });
//   engine.DeliveryRun();
//
// Every referenced object must outlive the engine. Settings are read at the moment of use.
// The consign form's token comes from the login session (FormToken()) unless a token source is set.
class DeliveryEngine {
 public:
  DeliveryEngine(const Deployment& deployment, CardStores& stores, std::filesystem::path dataDir,
                 const LiveSettings& settings, ActivityLogger& log, MailSender& mail, SellerNotices& notices,
                 WindowSystem& windows, std::function<void()> refreshViews = {});

  // Replaces where the consign form's token comes from (tests, tools).
  void SetTokenSource(std::function<std::string()> tokenSource);
  // Pause between looks for the chat window (default 200 ms).
  void SetChatPollPause(std::chrono::milliseconds pause);
  // For crash tests: called right after each durable write of a pass (or a resend). A hook that
  // throws ends the pass there as a crash would (nothing after that write happens); the exception
  // reaches the caller of DeliveryRun and the engine stays usable.
  void SetAfterDurableStep(std::function<void(DurableStep)> hook);
  // Replaces the wall clock that times how long a buyer's address has been refused (tests).
  void SetClock(std::function<std::time_t()> clock);

  // One pass: scan, then deliver (or only mark shipped in the empty-shipment mode).
  DeliverySummary DeliveryRun();

  // Asks the pass under way (and every later one) to stop before its next order; the order being
  // handled is finished. Safe from any thread.
  void RequestStop();
  bool StopRequested() const { return stopRequested_.load(); }

  // Sends the order's recorded codes again, the same codes by the order's channel: mail to mailTo
  // when given; else the channel its records name ("邮件发送" or "旺旺发送"), or for records still
  // "发货中" or "发送失败" the one the delivery run would choose; mail goes to the address in the
  // order's buyer message on the to-ship list. On success the records get the channel's status, the
  // order joins the blacklist and, when still listed, is marked shipped. Waits for a pass under way.
  // When the codes could not go out, sent is false, nothing was changed and the lines say why. With the
  // to-ship list unreadable, a channel that would depend on the buyer's message is not guessed (nothing
  // goes out). formToken: the consign form's token for this resend; null: the engine's own.
  ResendResult ResendOrder(const std::string& orderNumber, const std::string& mailTo = {},
                           const std::string* formToken = nullptr);

  // What the last finished pass did (all zero before the first).
  DeliverySummary LastSummary() const;

  // Whether the title is a name of 宝贝名称.txt in the data directory.
  bool IsListedItem(const std::string& title) const;

 private:
  enum class Channel { kChat, kMail };
  enum class Problem { kMailServer, kLogin };

  // What the steps of one order share.
  struct OrderWork {
    const PaidOrder& order;
    const Settings& settings;
    std::vector<SentRecord> records;  // the order's codes: taken now, or left "发货中" by an earlier pass
    bool resuming = false;            // the records come from an earlier pass
    std::string note;
    std::int64_t quantity = 0;
    Channel channel = Channel::kChat;
    std::string recipient;            // mail address for the mail channel
  };
  struct HandOverOutcome {
    bool handedOver = false;
    MailFailure mailFailure = MailFailure::kNone;
    std::string reason;       // why not, for a mail
    std::string channelText;  // "旺旺发送" or "邮件发送"
  };

  DeliverySummary Pass();
  void HandleOrder(const PaidOrder& order, const Settings& settings, DeliverySummary& summary);
  // The steps of HandleOrder; each false means the order is done with for this pass.
  bool CheckedBefore(OrderWork& work, DeliverySummary& summary);
  bool CheckStock(OrderWork& work, DeliverySummary& summary);
  // Holds an order whose block has no ship action of its own (MissingShipAction): no codes for it.
  bool CheckShipAction(OrderWork& work, DeliverySummary& summary);
  bool ChooseChannel(OrderWork& work, DeliverySummary& summary);
  bool Take(OrderWork& work, DeliverySummary& summary);
  HandOverOutcome HandOver(const OrderWork& work, const std::string& message);
  void Finish(const OrderWork& work, const HandOverOutcome& outcome, DeliverySummary& summary);
  // The listed orders in the order the pass takes them: those whose buyer's address was refused for
  // now go last. Refusals of orders no longer listed are forgotten.
  std::vector<PaidOrder> OrdersForPass(const std::vector<PaidOrder>& listed);
  // A 4xx reply to RCPT: true when the order is held (its codes stay "发货中" for a later pass),
  // false when its address has been refused for 24 hours and the mail counts as failed.
  bool HoldForRecipient(const OrderWork& work, const HandOverOutcome& outcome, DeliverySummary& summary);
  void ForgetRefusal(const std::string& number);

  void StoreFailure(const std::string& number, const std::string& error, DeliverySummary& summary);
  void Duplicate(const std::string& number, DeliverySummary& summary);
  // Notifies the seller of a problem when it is new, or once an hour while it lasts.
  void RaiseProblem(Problem problem, const std::string& text);
  void ClearProblem(Problem problem);
  bool Ship(const PaidOrder& order, const std::string* formToken = nullptr);
  // Saves an answer the pass did not understand (PageDiagnostics); the text for the log line.
  std::string SavePage(std::string_view what, std::string_view address, std::string_view page);
  void AppendToBlacklist(const std::string& number);
  std::string Token() const;
  void Durable(DurableStep step);

  const Deployment& deployment_;
  CardStores& stores_;
  std::filesystem::path dataDir_;
  RecipientRefusals refusals_{dataDir_};  // used under runMutex_
  std::function<std::time_t()> clock_;
  const LiveSettings& settings_;
  ActivityLogger& log_;
  MailSender& mail_;
  SellerNotices& notices_;
  WindowSystem& windows_;
  std::function<void()> refreshViews_;
  std::function<std::string()> tokenSource_;
  std::chrono::milliseconds chatPollPause_{200};
  std::function<void(DurableStep)> afterDurableStep_;
  std::mutex runMutex_;
  mutable std::mutex summaryMutex_;
  DeliverySummary lastSummary_;
  std::set<std::string> passOrders_;  // order numbers met so far in the current pass
  std::optional<std::string> mailOutage_;  // in the current pass: why the mail server could not take a mail
  std::vector<std::string> refusedMail_;   // in the current pass: orders whose mail the server refused
  std::atomic<bool> stopRequested_{false};
  // Problems that last across passes and when the seller was last told (used under runMutex_).
  std::map<Problem, std::chrono::steady_clock::time_point> problemsRaised_;
  ShipHolds shipHolds_;  // used under runMutex_
  PageDiagnostics diagnostics_;
};

}  // namespace torvane
