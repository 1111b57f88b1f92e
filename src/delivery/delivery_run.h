// One delivery pass over the seller's paid, not yet shipped orders.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/order_scan.h"
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

// The first e-mail address in a buyer's message: a run of ASCII letters, digits and ._%+-, an "@"
// that is a character of its own (never the second byte of a two-byte character), and a domain of
// ASCII letters, digits, dots and hyphens that holds a dot. nullopt when the message holds none.
std::optional<std::string> FirstMailAddress(std::string_view message);

// The delivery message: thanks, one line per card, the note, and the signature when given.
std::string ComposeDeliveryMessage(const std::vector<SentRecord>& records, std::string_view note,
                                   const std::string* signature);

// What one pass did, for the runner and the tests.
struct DeliverySummary {
  int listed = 0;       // orders on the list page
  int delivered = 0;    // orders whose codes were handed to a channel
  int failed = 0;       // orders whose send failed (status 发送失败)
  int shipped = 0;      // orders the marketplace confirmed as shipped
  int skipped = 0;      // duplicates, unknown items, out of stock, waiting for a chat client, ...
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

  // One pass: scan, then deliver (or only mark shipped in the empty-shipment mode).
  DeliverySummary DeliveryRun();

  // What the last finished pass did (all zero before the first).
  DeliverySummary LastSummary() const;

  // Whether the title is a name of 宝贝名称.txt in the data directory.
  bool IsListedItem(const std::string& title) const;

 private:
  enum class Channel { kNone, kChat, kMail };
  void HandleOrder(const PaidOrder& order, const Settings& settings, DeliverySummary& summary);
  bool Ship(const PaidOrder& order);
  void AppendToBlacklist(const std::string& number);
  std::string Token() const;
  DeliverySummary Pass();

  const Deployment& deployment_;
  CardStores& stores_;
  std::filesystem::path dataDir_;
  const LiveSettings& settings_;
  ActivityLogger& log_;
  MailSender& mail_;
  SellerNotices& notices_;
  WindowSystem& windows_;
  std::function<void()> refreshViews_;
  std::function<std::string()> tokenSource_;
  std::chrono::milliseconds chatPollPause_{200};
  std::mutex runMutex_;
  mutable std::mutex summaryMutex_;
  DeliverySummary lastSummary_;
  std::set<std::string> passOrders_;  // order numbers met so far in the current pass
};

}  // namespace torvane
