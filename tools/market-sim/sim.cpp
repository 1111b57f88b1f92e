#include "sim.h"

#include <chrono>
#include <ctime>
#include <string>

#include "base/text.h"
#include "page_text.h"

namespace marketsim {

using torvane::GbkToUtf8;
using torvane::Utf8ToGbk;


namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool Faults::AppliesTo(std::string_view path) const {
  if (paths.empty()) return true;
  for (const auto& prefix : paths)
    if (path.substr(0, prefix.size()) == prefix) return true;
  return false;
}

std::string FormDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ParseForm(std::string_view body) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view piece = body.substr(start, end - start);
    if (!piece.empty()) {
      std::size_t eq = piece.find('=');
      if (eq == std::string_view::npos)
        out.emplace_back(FormDecode(piece), "");
      else
        out.emplace_back(FormDecode(piece.substr(0, eq)), FormDecode(piece.substr(eq + 1)));
    }
    start = end + 1;
  }
  return out;
}

std::string FormValue(const std::vector<std::pair<std::string, std::string>>& form, std::string_view name) {
  for (const auto& [k, v] : form)
    if (k == name) return v;
  return {};
}

std::string HexOf(std::string_view bytes) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

Simulator::Simulator(std::string baseUrl, std::uint64_t seed, std::string linkBase)
    : baseUrl_(std::move(baseUrl)), linkBase_(linkBase.empty() ? baseUrl_ : std::move(linkBase)), random_(seed) {
  ResetLocked();
}

void Simulator::ResetLocked() {
  seller_ = Seller{"演示小店", "2056781234", "secret", ""};
  sessions_.clear();
  imAccounts_.clear();
  imAccounts_["13800000000"] = "fetion";
  imSessions_.clear();
  orders_.clear();
  orderIndex_.clear();
  updateVersion_ = "1.8";
  updateDownload_ = baseUrl_ + "/download";
  updateRawSet_ = false;
  updateRawPage_.clear();
  faults_ = Faults{};
  robot_.Reset();
  for (Json* record : {&logins_, &accountPageRequests_, &orderListRequests_, &consigns_, &soldQueries_,
                       &ratingPageRequests_, &ratings_, &updateQueries_, &imLogins_, &sms_, &imLogouts_,
                       &imOperations_})
    *record = Json::array();
  demoOrders_ = 0;
}

std::string Simulator::RandomHex(int bytes) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < bytes; ++i) {
    auto v = static_cast<unsigned>(random_() & 0xFF);
    out += kHex[v >> 4];
    out += kHex[v & 15];
  }
  return out;
}

const Simulator::Session* Simulator::SessionOf(const SimRequest& request) const {
  auto c = request.cookies.find("cookie2");
  if (c == request.cookies.end()) return nullptr;
  auto s = sessions_.find(c->second);
  return s == sessions_.end() ? nullptr : &s->second;
}

const Simulator::ImSession* Simulator::ImSessionOf(const SimRequest& request) const {
  auto c = request.cookies.find("imsid");
  if (c == request.cookies.end()) return nullptr;
  auto s = imSessions_.find(c->second);
  return s == imSessions_.end() ? nullptr : &s->second;
}

Simulator::Order* Simulator::FindOrder(std::string_view number) {
  auto it = orderIndex_.find(std::string(number));
  return it == orderIndex_.end() ? nullptr : &orders_[it->second];
}

void Simulator::AddOrderLocked(Order order) {
  order.createdAt = NowText();
  std::uint64_t h = std::hash<std::string>{}(order.title);
  order.itemId = std::to_string(10000000000ull + h % 89999999999ull);
  order.pictureUrl = "http://img01.taobaocdn.com/bao/uploaded/i1/T1" + std::to_string(h % 1000000) + "_sum.jpg";
  order.endTime = order.createdAt;
  orderIndex_[order.number] = orders_.size();
  orders_.push_back(std::move(order));
}

Faults Simulator::TakeFaults(std::string_view path) {
  std::lock_guard lock(mutex_);
  if (!faults_.Any() || !faults_.AppliesTo(path)) return Faults{};
  Faults hit = faults_;
  if (faults_.times > 0 && --faults_.times == 0) faults_ = Faults{};
  return hit;
}

// ---------------------------------------------------------------------------------------
// Marketplace pages

SimResponse Simulator::Handle(const SimRequest& request) {
  std::lock_guard lock(mutex_);
  const std::string& p = request.path;
  const bool post = request.method == "POST";
  if (p == "/member/login.jhtml") return post ? LoginPost(request) : LoginPage(request, "");
  if (p == "/my_taobao.htm") return PersonalPage(request);
  if (p == "/member/fresh/account_security.htm") return AccountPage(request);
  if (p == "/user/order_list_new.htm") return OrderList(request);
  if (p == "/user/consign.htm") {
    if (post) return Consign(request);
    return Page(NoticePage("发货", "请通过订单列表的发货按钮提交发货表单。", baseUrl_));
  }
  if (p == "/trade/itemlist/list_sold_items.htm") return SoldItems(request);
  if (p == "/remark_buyer.jhtml") return RatingPage(request);
  if (p == "/remarkBuyer.htm" && post) return RatingPost(request);
  if (p == "/update.htm") return UpdatePage(request);
  if (p == "/download") return Page(PageHead("下载") + "<p>Torvane 下载页</p>\r\n" + std::string(kPageTail));
  if (p == "/im/login/inputpasssubmit1.action" && post) return ImLogin(request);
  if ((p == "//im/user/sendMsgToMyselfs.action" || p == "/im/user/sendMsgToMyselfs.action") && post)
    return ImSend(request, false);
  if (p == "/im/user/sendTimingMsgToMyselfs.action" && post) return ImSend(request, true);
  if (p == "/im/index/logoutsubmit.action") return ImLogout(request);
  if (p.rfind("/im/", 0) == 0 || p.rfind("//im/", 0) == 0) return ImOther(request);
  if (GroupRobot::Serves(p)) return robot_.Post(request);
  if (p == "/" || p.empty()) return PersonalPage(request);
  return Page(NoticePage("404", "您访问的页面不存在。", baseUrl_), 404);
}

// ---------------------------------------------------------------------------------------
// Admin interface

SimResponse Simulator::HandleAdmin(const SimRequest& request, bool& shutdown) {
  const std::string& p = request.path;
  if (p == "/admin/state") {
    std::lock_guard lock(mutex_);
    return AdminState(request);
  }
  if (p == "/admin/robot" && request.method != "POST") {
    std::lock_guard lock(mutex_);
    return robot_.State();
  }
  if (request.method != "POST") return JsonError("use POST", 405);
  if (p == "/admin/shutdown") {
    shutdown = true;
    return JsonOk();
  }
  std::lock_guard lock(mutex_);
  if (p == "/admin/reset") {
    ResetLocked();
    return JsonOk();
  }
  if (p == "/admin/expire-login") {
    sessions_.clear();
    return JsonOk();
  }
  const Json body = Parse(request.body.empty() ? std::string_view("{}") : request.body);
  if (body.is_discarded()) return JsonError("the body is not JSON");
  if (p == "/admin/orders") return AdminOrders(body);
  if (p == "/admin/sold") return AdminSold(body);
  if (p == "/admin/seller") return AdminSeller(body);
  if (p == "/admin/im-accounts") return AdminImAccounts(body);
  if (p == "/admin/update-notice") return AdminUpdateNotice(body);
  if (p == "/admin/faults") return AdminFaults(body);
  if (p == "/admin/robot") return robot_.Configure(body);
  return JsonError("unknown admin request", 404);
}

SimResponse Simulator::AdminOrders(const Json& body) {
  const Json& list = body.is_array() ? body : Field(body, "orders");
  if (!list.is_array()) return JsonError("expected an array of orders");
  // Check the whole batch first so a rejected batch adds nothing.
  std::unordered_map<std::string, int> seen;
  for (const Json& o : list) {
    std::string number = Utf8ToGbk(Text(Field(o, "orderNumber")));
    if (number.empty()) return JsonError("an order without orderNumber");
    if (orderIndex_.count(number) || seen[number]++) return JsonError("duplicate order number " + Text(Field(o, "orderNumber")), 409);
  }
  for (const Json& o : list) {
    Order order;
    order.number = Utf8ToGbk(Text(Field(o, "orderNumber")));
    order.title = Utf8ToGbk(Text(Field(o, "title")));
    order.quantity = Utf8ToGbk(Text(Field(o, "quantity"), "1"));
    order.buyer = Utf8ToGbk(Text(Field(o, "buyer")));
    order.message = Utf8ToGbk(Text(Field(o, "message")));
    std::string status = Text(Field(o, "status"), "paid");
    order.status = status == "shipped" ? OrderStatus::Shipped : OrderStatus::Paid;
    order.rated = Flag(Field(o, "rated"), false);
    AddOrderLocked(std::move(order));
  }
  Json j = Json::object();
  j["ok"] = true;
  j["added"] = list.size();
  return JsonAnswer(j);
}

SimResponse Simulator::AdminSold(const Json& body) {
  const Json& list = body.is_array() ? body : Field(body, "trades");
  if (!list.is_array()) return JsonError("expected an array of trades");
  for (const Json& t : list) {
    std::string id = Utf8ToGbk(Text(Field(t, "tradeId")));
    if (id.empty()) return JsonError("a trade without tradeId");
    if (orderIndex_.count(id)) return JsonError("duplicate trade id " + Text(Field(t, "tradeId")), 409);
  }
  for (const Json& t : list) {
    Order order;
    order.number = Utf8ToGbk(Text(Field(t, "tradeId")));
    order.title = Utf8ToGbk(Text(Field(t, "title")));
    order.quantity = Utf8ToGbk(Text(Field(t, "quantity"), "1"));
    order.buyer = Utf8ToGbk(Text(Field(t, "buyer")));
    order.status = OrderStatus::Shipped;
    AddOrderLocked(std::move(order));
  }
  return JsonOk();
}

SimResponse Simulator::AdminSeller(const Json& body) {
  if (body.contains("nick")) seller_.nick = Utf8ToGbk(Text(Field(body, "nick")));
  if (body.contains("userId")) seller_.userId = Text(Field(body, "userId"));
  if (body.contains("password")) seller_.password = Utf8ToGbk(Text(Field(body, "password")));
  if (body.contains("token")) seller_.token = Text(Field(body, "token"));
  return JsonOk();
}

SimResponse Simulator::AdminImAccounts(const Json& body) {
  const Json& list = body.is_array() ? body : Field(body, "accounts");
  if (!list.is_array()) return JsonError("expected an array of accounts");
  imAccounts_.clear();
  for (const Json& a : list) imAccounts_[Utf8ToGbk(Text(Field(a, "account")))] = Utf8ToGbk(Text(Field(a, "password")));
  return JsonOk();
}

SimResponse Simulator::AdminUpdateNotice(const Json& body) {
  if (body.contains("version")) updateVersion_ = Utf8ToGbk(Text(Field(body, "version")));
  if (body.contains("download")) updateDownload_ = Utf8ToGbk(Text(Field(body, "download")));
  updateRawSet_ = body.contains("page");
  updateRawPage_ = updateRawSet_ ? Utf8ToGbk(Text(Field(body, "page"))) : std::string();
  return JsonOk();
}

SimResponse Simulator::AdminFaults(const Json& body) {
  Faults f;
  f.slowMs = static_cast<int>(Integer(Field(body, "slowMs"), 0));
  if (f.slowMs < 0 || f.slowMs > 120000) return JsonError("slowMs must be 0 to 120000");
  f.status500 = Flag(Field(body, "status500"));
  f.drop = Flag(Field(body, "drop"));
  f.truncate = Flag(Field(body, "truncate"));
  f.noMarkers = Flag(Field(body, "noMarkers"));
  for (const Json& p : Elements(Field(body, "paths"))) f.paths.push_back(Text(p));
  f.times = static_cast<int>(Integer(Field(body, "times"), 0));
  if (f.times < 0) return JsonError("times must not be negative");
  faults_ = f;
  return JsonOk();
}

SimResponse Simulator::AdminState(const SimRequest& request) {
  const bool bodies = QueryValue(request.query, "bodies") != "0";
  Json j = Json::object();
  j["baseUrl"] = baseUrl_;
  Json& seller = j["seller"] = Json::object();
  seller["nick"] = GbkToUtf8(seller_.nick);
  seller["userId"] = seller_.userId;
  seller["sessions"] = sessions_.size();
  Json& orders = j["orders"] = Json::array();
  for (const Order& o : orders_) {
    Json& x = orders.emplace_back(Json::object());
    x["orderNumber"] = GbkToUtf8(o.number);
    x["title"] = GbkToUtf8(o.title);
    x["quantity"] = GbkToUtf8(o.quantity);
    x["buyer"] = GbkToUtf8(o.buyer);
    x["message"] = GbkToUtf8(o.message);
    x["status"] = o.status == OrderStatus::Paid ? "paid" : "shipped";
    x["rated"] = o.rated;
  }
  auto copy = [bodies](const Json& records) {
    if (bodies) return records;
    Json out = Json::array();
    for (const Json& r : records) {
      Json& x = out.emplace_back(Json::object());
      for (auto it = r.begin(); it != r.end(); ++it)
        if (it.key() != "body" && it.key() != "bodyHex") x[it.key()] = it.value();
    }
    return out;
  };
  j["logins"] = logins_;
  j["accountPageRequests"] = accountPageRequests_;
  j["orderListRequests"] = orderListRequests_;
  j["consigns"] = copy(consigns_);
  j["soldQueries"] = copy(soldQueries_);
  j["ratingPageRequests"] = ratingPageRequests_;
  j["ratings"] = copy(ratings_);
  j["updateQueries"] = updateQueries_;
  j["imLogins"] = copy(imLogins_);
  j["sms"] = copy(sms_);
  j["imLogouts"] = imLogouts_;
  j["imOperations"] = copy(imOperations_);
  return JsonAnswer(j);
}

// ---------------------------------------------------------------------------------------
// Demo shop

void Simulator::SeedDemoShop() {
  std::lock_guard lock(mutex_);
  seller_.nick = "演示小店";
  seller_.password = "secret";
}

bool Simulator::AddDemoOrder(int maxOrders) {
  static const char* const kItems[] = {"QQ会员一个月", "网易一卡通100点", "魔兽世界点卡30元", "盛大一卡通50元",
                                       "神秘新品（未上架）"};
  static const char* const kMessages[] = {"请尽快发货", "请发到 buyer{n}@example.com 谢谢",
                                          "卡密请发邮箱 buyer{n}@example.com"};
  std::lock_guard lock(mutex_);
  if (demoOrders_ >= maxOrders) return false;
  ++demoOrders_;
  Order o;
  std::uint64_t stamp = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
  o.number = std::to_string(stamp % 1000000000ull * 1000ull + static_cast<unsigned>(demoOrders_ % 1000));
  while (orderIndex_.count(o.number)) o.number += "1";
  o.title = kItems[random_() % std::size(kItems)];
  o.quantity = std::to_string(1 + random_() % 3);
  unsigned buyer = static_cast<unsigned>(random_() % 40) + 1;
  o.buyer = "buyer" + std::to_string(buyer);
  // Most buyers give an address for e-mail delivery; some leave another message or none.
  switch (random_() % 20) {
    case 0: case 1: case 2: break;
    case 3: case 4: case 5: o.message = kMessages[0]; break;
    default:
      o.message = torvane::ReplaceAll(kMessages[1 + random_() % 2], "{n}", std::to_string(buyer));
  }
  AddOrderLocked(std::move(o));
  return true;
}

}  // namespace marketsim
