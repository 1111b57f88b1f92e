// Delivery figures: parsing a large to-ship list page, and whole delivery passes against the
// simulated marketplace on loopback.
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench.h"
#include "delivery/delivery_run.h"
#include "delivery/order_scan.h"
#include "store/item_settings.h"
#include "store/record_store.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"
#include "base/text.h"

namespace {

using namespace torvane;

std::string OrderBlock(int i) {
  const std::string n = std::to_string(100000 + i);
  return "<tbody>\r\n\t<tr class=\"order-hd\"><td colspan=\"4\"><span class=\"order-number\">订单编号：" + n +
         "</span>\r\n\t<span class=\"deal-time\">成交时间：2026-12-07 10:00:00</span></td></tr>\r\n"
         "\t<tr class=\"order-item\"><td class=\"item\"><a target=\"_blank\" title=\"名称：游戏点卡 100元 §数量：1件\" "
         "href=\"http://item.taobao.com/item.htm?id=1\">游戏点卡 100元</a></td>\r\n"
         "\t<td class=\"buyer\"><ul><li class=\"nick\">buyer" + n + "</li>\r\n"
         "\t<li><span class=\"ww ww:token\" data-display=\"inline\"><a href=\"http://www.taobao.com/webww/ww.php?ver=3&nick=buyer" +
         n + "&touid=buyer" + n + "&siteid=cntaobao\">和我联系</a></span></li></ul></td>\r\n"
         "\t<td class=\"status\">买家已付款</td><td class=\"op\"><a class=\"btn\" href=\"http://wuliu.taobao.com/user/consign.htm?orderId=" +
         n + "\">发货</a></td></tr>\r\n"
         "\t<tr class=\"order-memo\"><td colspan=\"4\"><label>买家留言：</label><span >请尽快发货 buyer" + n +
         "@example.com&nbsp;</span></td></tr>\r\n</tbody>\r\n";
}

TORVANE_BENCH("scan_mb_per_s") {
  std::string page = "<html><head><title>已卖出的宝贝</title></head><body><table>\r\n";
  for (int i = 0; page.size() < 10u * 1024 * 1024; ++i) page += OrderBlock(i);
  page += "</table></body></html>";
  std::size_t orders = 0;
  const int rounds = 5;
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) orders += ParseOrderPage(page).size();
  const double seconds = bench::SecondsSince(start);
  if (orders == 0) std::fprintf(stderr, "scan_mb_per_s: no order parsed\n");
  bench::Report("scan_mb_per_s", rounds * (page.size() / (1024.0 * 1024.0)) / seconds, "MB/s");
}

class AcceptingMail : public MailSender {
 public:
  MailResult SendMail(const std::string&, const std::string&, const std::string&) override {
    MailResult r;
    r.accepted = true;
    return r;
  }
};
class QuietNotices : public SellerNotices {
 public:
  void NotifyDelivered(const std::string&) override {}
  void NotifyOutOfStock(const std::string&) override {}
  void NotifyLowStock(const std::string&) override {}
  void NotifyProblem(const std::string&) override {}
};
class QuietLog : public ActivityLogger {
 public:
  void LogActivity(std::string_view) override {}
};

TORVANE_BENCH("delivery_orders_per_s") {
  // TORVANE_BENCH_ORDERS shortens the run while profiling.
  const int kOrders = std::getenv("TORVANE_BENCH_ORDERS") ? std::atoi(std::getenv("TORVANE_BENCH_ORDERS")) : 1000;
  constexpr int kCards = 100000;
  std::string base;
  auto sim = bench::StartHelper(TORVANE_MARKET_SIM_PATH, {"--port", "0"}, "market-sim listening on ", &base);
  if (!sim) return;
  Deployment d;
  d.loginHost = d.personalHost = d.memberHost = d.logisticsHost = d.tradeHost = d.rateHost = base;
  bench::AdminPost(base + "/admin/seller", "{\"nick\":\"bench\",\"userId\":\"1\",\"password\":\"pw\",\"token\":\"T1\"}");
  std::string orders = "{\"orders\":[";
  for (int i = 0; i < kOrders; ++i) {
    const std::string n = std::to_string(500000 + i);
    orders += std::string(i ? "," : "") + "{\"orderNumber\":\"" + n + "\",\"title\":\"" + GbkToUtf8("游戏点卡") +
              "\",\"quantity\":\"1\",\"buyer\":\"b" + n + "\",\"message\":\"b" + n + "@example.com\"}";
  }
  orders += "]}";
  if (!bench::AdminPost(base + "/admin/orders", orders)) {
    std::fprintf(stderr, "delivery_orders_per_s: the simulator refused the orders\n");
    return;
  }
  ClearCookies();
  网页_访问(base + "/member/login.jhtml", 1, {}, {}, "TPL_username=bench&TPL_password=pw");
  if (!CheckLoginSession(d)) {
    std::fprintf(stderr, "delivery_orders_per_s: login failed\n");
    return;
  }

  const std::filesystem::path dir = bench::ScratchDir("delivery");
  StoreError error;
  std::unique_ptr<CardStores> stores = CardStores::Open(dir, &error);
  if (!stores) {
    std::fprintf(stderr, "delivery_orders_per_s: %s\n", error.message.c_str());
    return;
  }
  std::vector<std::vector<std::string>> cards;
  cards.reserve(kCards);
  for (int i = 0; i < kCards; ++i) {
    cards.push_back({"游戏点卡", "CARD" + std::to_string(i), "SECRET" + std::to_string(i), "备注"});
  }
  stores->Inventory().AppendMany(cards);
  // The item has a low-stock threshold, so every order runs the whole check (settings read, stock counted).
  ItemSettings itemSettings;
  if (!itemSettings.Set("游戏点卡", {false, 10}) || !itemSettings.Save(dir)) {
    std::fprintf(stderr, "delivery_orders_per_s: item settings not written\n");
  }

  Settings s;
  s.deliverByMail = true;
  FixedSettings settings(s);
  QuietLog log;
  AcceptingMail mail;
  QuietNotices notices;
  std::unique_ptr<WindowSystem> windows = MakeWindowSystem(d);
  DeliveryEngine engine(d, *stores, dir, settings, log, mail, notices, *windows);

  const auto start = std::chrono::steady_clock::now();
  const DeliverySummary summary = engine.DeliveryRun();
  const double seconds = bench::SecondsSince(start);
  if (summary.delivered != kOrders || summary.shipped != kOrders) {
    std::fprintf(stderr, "delivery_orders_per_s: delivered %d, shipped %d of %d\n", summary.delivered,
                 summary.shipped, kOrders);
  }
  bench::Report("delivery_orders_per_s", summary.delivered / seconds, "orders/s");
  stores->Close();
}

}  // namespace
