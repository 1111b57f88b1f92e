// The simulated marketplace, update page and WAP IM service: every page, form and
// service the program talks to, with a record of everything the client sent.
// Page texts are GBK; the admin interface speaks JSON with UTF-8 strings.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "group_robot.h"
#include "json_fields.h"

namespace marketsim {

// One request as the server received it.
struct SimRequest {
  std::string method;
  std::string path;   // as received, not normalised ("//im/..." stays)
  std::string query;  // raw text after "?", "" without one
  std::string body;
  std::map<std::string, std::string> cookies;
  std::vector<std::string> contentTypes;  // every Content-Type line, in order
};

struct SimResponse {
  int status = 200;
  std::string body;  // GBK for pages, UTF-8 for the admin JSON
  std::string contentType = "text/html; charset=GBK";
  std::vector<std::string> setCookies;
  std::string location;
};

// Faults the admin interface switches on for the served pages (never for /admin/).
struct Faults {
  int slowMs = 0;           // wait before answering
  bool status500 = false;   // answer 500 without handling the request
  bool drop = false;        // close the connection after the headers, without handling the request
  bool truncate = false;    // handle the request, then send only the first half of the page
  bool noMarkers = false;   // handle the request, then answer a page without any marker
  std::vector<std::string> paths;  // path prefixes the faults apply to; none: every page
  int times = 0;            // how many matching requests they hit before clearing; 0: until changed
  bool AppliesTo(std::string_view path) const;
  bool Any() const { return slowMs > 0 || status500 || drop || truncate || noMarkers; }
};

// Percent-decoding of a form value ("+" is a space); malformed escapes stay as they are.
std::string FormDecode(std::string_view text);
// Name/value pairs of a form body or query, decoded, in order (duplicates kept).
std::vector<std::pair<std::string, std::string>> ParseForm(std::string_view body);
// First value of the name in a parsed form; "" when missing.
std::string FormValue(const std::vector<std::pair<std::string, std::string>>& form, std::string_view name);
std::string HexOf(std::string_view bytes);

class Simulator {
 public:
  // linkBase: how the pages write the links to the server ("" : baseUrl), e.g. "http://127.0.0.1:PORT"
  // on a server that speaks https, as pages that write their links with plain http do.
  Simulator(std::string baseUrl, std::uint64_t seed, std::string linkBase = {});

  // The server's own address, "http(s)://127.0.0.1:PORT"; every host role is served there.
  const std::string& BaseUrl() const { return baseUrl_; }

  // Marketplace, update page and IM service.
  SimResponse Handle(const SimRequest& request);
  // The admin interface under /admin/; sets shutdown when the server must stop.
  SimResponse HandleAdmin(const SimRequest& request, bool& shutdown);

  // The faults that hit this request (none when they do not apply); counts the hit.
  Faults TakeFaults(std::string_view path);

  // Demo shop: seller, items and one new paid order; false once the bound is reached.
  void SeedDemoShop();
  bool AddDemoOrder(int maxOrders);

 private:
  enum class OrderStatus { Paid, Shipped };
  struct Order {
    std::string number, title, quantity, buyer, message;  // GBK
    OrderStatus status = OrderStatus::Paid;
    bool rated = false;
    std::string createdAt;
    std::string pictureUrl, itemId, endTime;
  };
  struct Session {
    std::string user;
    std::string token;
  };
  struct ImSession {
    std::string account;
    std::string token;
  };
  struct Seller {
    std::string nick;      // GBK
    std::string userId;
    std::string password;
    std::string token;     // empty: each login gets its own
  };

  void ResetLocked();
  std::string RandomHex(int bytes);
  const Session* SessionOf(const SimRequest& request) const;
  const ImSession* ImSessionOf(const SimRequest& request) const;
  Order* FindOrder(std::string_view number);
  void AddOrderLocked(Order order);

  SimResponse LoginPage(const SimRequest& request, std::string_view error);
  SimResponse LoginPost(const SimRequest& request);
  SimResponse PersonalPage(const SimRequest& request);
  SimResponse AccountPage(const SimRequest& request);
  SimResponse OrderList(const SimRequest& request);
  SimResponse Consign(const SimRequest& request);
  SimResponse SoldItems(const SimRequest& request);
  SimResponse RatingPage(const SimRequest& request);
  SimResponse RatingPost(const SimRequest& request);
  SimResponse UpdatePage(const SimRequest& request);
  SimResponse ImLogin(const SimRequest& request);
  SimResponse ImSend(const SimRequest& request, bool timed);
  SimResponse ImLogout(const SimRequest& request);
  SimResponse ImOther(const SimRequest& request);

  SimResponse AdminOrders(const Json& body);
  SimResponse AdminSold(const Json& body);
  SimResponse AdminSeller(const Json& body);
  SimResponse AdminImAccounts(const Json& body);
  SimResponse AdminUpdateNotice(const Json& body);
  SimResponse AdminFaults(const Json& body);
  SimResponse AdminState(const SimRequest& request);

  std::mutex mutex_;
  const std::string baseUrl_;
  const std::string linkBase_;
  std::mt19937_64 random_;

  Seller seller_;
  std::unordered_map<std::string, Session> sessions_;  // by cookie2
  std::map<std::string, std::string> imAccounts_;       // account -> password
  std::unordered_map<std::string, ImSession> imSessions_;  // by imsid
  std::vector<Order> orders_;
  std::unordered_map<std::string, std::size_t> orderIndex_;
  std::string updateVersion_, updateDownload_;
  bool updateRawSet_ = false;
  std::string updateRawPage_;
  Faults faults_;

  // What the client did, in arrival order (JSON-ready, UTF-8).
  Json logins_ = Json::array();
  Json accountPageRequests_ = Json::array();
  Json orderListRequests_ = Json::array();
  Json consigns_ = Json::array();
  Json soldQueries_ = Json::array();
  Json ratingPageRequests_ = Json::array();
  Json ratings_ = Json::array();
  Json updateQueries_ = Json::array();
  Json imLogins_ = Json::array();
  Json sms_ = Json::array();
  Json imLogouts_ = Json::array();
  Json imOperations_ = Json::array();

  int demoOrders_ = 0;
  GroupRobot robot_;
};

}  // namespace marketsim
