// Starts the market-sim program for a test and drives its admin interface.
// Texts handed in and out are GBK, like every text of the program; the launcher converts
// to and from the UTF-8 of the admin JSON.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvane::test {

struct MarketSimOptions {
  int port = 0;             // 0: a free port
  bool demo = false;
  std::uint64_t seed = 1;
  int demoIntervalMs = 0;   // 0: the program's default
  int demoOrders = 0;       // 0: the program's default
  // Both set: the pages are served over https with this certificate (PEM) and key.
  std::filesystem::path tlsCertificate, tlsKey;
  std::string linkScheme;   // "http" or "https": how the pages write their links; "": as served
};

struct SimOrder {
  std::string orderNumber, title, quantity, buyer, message;
};

struct SimFaults {
  int slowMs = 0;
  bool status500 = false;
  bool drop = false;       // connection closed after the headers, request not handled
  bool truncate = false;   // request handled, only the first half of the page sent
  bool noMarkers = false;  // request handled, the page replaced by one without markers
  std::vector<std::string> paths;  // path prefixes; none: every page
  int times = 0;                   // matching requests hit before the faults clear; 0: until changed
};

struct SimConsign {
  std::string orderId;      // from the ship link's query
  std::string bodyOrderId;  // from the form body
  std::string token;
  bool tokenValid = false;
  bool loggedIn = false;
  bool success = false;
  std::string reason;
  std::string body;  // the raw body bytes exactly as posted
};

struct SimRating {
  std::string tradeId, rateId, token;
  bool tokenValid = false;
  std::string text;   // decoded rating text, GBK
  std::string title;  // decoded item title, GBK
  std::string pictureUrl, endTime, itemId;
  std::string sellerNick;  // GBK
  bool success = false;
  std::string reason;
  std::string body;  // raw bytes
};

struct SimSms {
  std::string account;
  std::string path;       // as the server received it ("//im/..." for a send)
  bool timed = false;
  std::string timing;
  std::string text;       // the message as GBK
  std::string utf8Bytes;  // the decoded msg field exactly as sent
  bool validUtf8 = false;
  bool success = false;
  std::string reason;
  std::string body;  // raw bytes
};

// One post to the group-chat robot's webhook.
struct SimRobotMessage {
  std::string key;                        // the address's key
  std::vector<std::string> contentTypes;  // every Content-Type line sent
  bool validUtf8 = false;
  bool validJson = false;
  std::string msgtype;
  std::string content;  // the text message's content as GBK
  int errcode = 0;      // what the robot answered (0: taken)
  std::string body;     // raw bytes
};

class MarketSim {
 public:
  // Starts the program and waits for its listening line; nullptr (with the reason on
  // stderr) when it does not come up within ten seconds.
  static std::unique_ptr<MarketSim> Start(const MarketSimOptions& options = {});
  ~MarketSim();
  MarketSim(const MarketSim&) = delete;
  MarketSim& operator=(const MarketSim&) = delete;

  // "http://127.0.0.1:PORT" (https when served over TLS), the address of every host role.
  std::string BaseUrl() const { return base_; }
  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }

  // Admin calls; false when the simulator refused or did not answer.
  bool AddOrder(std::string_view orderNumber, std::string_view title, std::string_view quantity,
                std::string_view buyer, std::string_view message = {});
  bool AddOrders(const std::vector<SimOrder>& orders);
  // A trade already shipped and waiting for the seller's rating.
  bool AddSoldTrade(std::string_view tradeId, std::string_view title, std::string_view buyer);
  // Seller settings; an empty token gives every login a token of its own.
  bool SetSeller(std::string_view nick, std::string_view userId, std::string_view password,
                 std::string_view token = {});
  bool SetFaults(const SimFaults& faults);
  bool ClearFaults() { return SetFaults(SimFaults{}); }
  bool ExpireLogin();
  bool Reset();
  bool SetImAccounts(const std::vector<std::pair<std::string, std::string>>& accounts);
  bool SetUpdateNotice(std::string_view version, std::string_view download);
  // Serves this page text (GBK) as the update notice page instead of the generated one.
  bool SetUpdatePage(std::string_view page);
  bool Shutdown();

  // GET /admin/state, the raw JSON text; "" when it failed.
  std::string State(bool withBodies = true) const;

  std::vector<SimConsign> Consigns() const;
  std::vector<SimRating> Ratings() const;
  std::vector<SimSms> Sms() const;
  // Every post to the robot's webhook (/robot/send?key=...), in order.
  std::vector<SimRobotMessage> RobotMessages() const;
  // Only posts with this key are taken from now on ("" : any key).
  bool SetRobotKey(std::string_view key);
  // "paid", "shipped", or "" for an unknown order.
  std::string OrderStatus(std::string_view orderNumber) const;
  bool OrderRated(std::string_view orderNumber) const;
  std::vector<std::string> UpdateQueries() const;
  // The utkn value of every order-list request, in order.
  std::vector<std::string> OrderListTokens() const;
  // Number of entries in one of the state's record lists ("logins", "imLogouts", ...).
  std::size_t Count(std::string_view record) const;

  // Raw admin exchanges: the answer body, nullopt when the status was not 200.
  std::optional<std::string> AdminPost(std::string_view path, std::string_view json) const;
  std::optional<std::string> AdminGet(std::string_view path) const;

  // Writes 部署配置.ini (GBK) in configDir pointing every host role, the update notice
  // page and the IM service at the simulator; other keys of an existing file are kept.
  bool WriteDeployment(const std::filesystem::path& configDir) const;

 private:
  MarketSim() = default;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string base_;
  std::string caFile_;  // the certificate admin calls trust when served over TLS
};

}  // namespace torvane::test
