#include "support/market_sim.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "../../tools/market-sim/json_fields.h"
#include "base/deployment.h"
#include "base/ini.h"
#include "base/text.h"

namespace torvane::test {

using marketsim::Elements;
using marketsim::Field;
using marketsim::Json;
using marketsim::Text;
using marketsim::Flag;

namespace {

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// One admin exchange with libcurl (the product's own request function is under test elsewhere).
std::optional<std::string> Exchange(const std::string& url, const std::string* postBody, const std::string& caFile) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (!curl) return std::nullopt;
  std::string answer;
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  if (postBody) {
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
  }
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK || status != 200) return std::nullopt;
  return answer;
}

// A GBK text as a JSON string.
std::string Quote(std::string_view gbk) {
  return Json(GbkToUtf8(gbk)).dump();
}

std::string FromHex(std::string_view hex) {
  std::string out;
  auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
  return out;
}

std::string Gbk(const Json& v) { return Utf8ToGbk(Text(v)); }

std::optional<Json> ParsedState(const std::string& text) {
  Json state = marketsim::Parse(text);
  if (state.is_discarded()) return std::nullopt;
  return state;
}

std::optional<Json> ParsedState(const MarketSim& sim) { return ParsedState(sim.State(true));
}

}  // namespace

std::unique_ptr<MarketSim> MarketSim::Start(const MarketSimOptions& options) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return nullptr;
  std::vector<std::string> args = {TORVANE_MARKET_SIM_PATH, "--port", std::to_string(options.port), "--seed",
                                   std::to_string(options.seed)};
  if (options.demo) args.push_back("--demo");
  if (options.demoIntervalMs > 0) {
    args.push_back("--demo-interval-ms");
    args.push_back(std::to_string(options.demoIntervalMs));
  }
  if (options.demoOrders > 0) {
    args.push_back("--demo-orders");
    args.push_back(std::to_string(options.demoOrders));
  }
  if (!options.tlsCertificate.empty()) {
    args.insert(args.end(), {"--tls", options.tlsCertificate.string(), options.tlsKey.string()});
  }
  if (!options.linkScheme.empty()) args.insert(args.end(), {"--links", options.linkScheme});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return nullptr;
  }
  if (pid == 0) {
    // The simulator goes with the test process, also when that one dies without cleaning up.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(out[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);

  std::unique_ptr<MarketSim> sim(new MarketSim());
  sim->pid_ = pid;
  sim->caFile_ = options.tlsCertificate.string();
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[256];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);
  const std::string prefix = std::string("market-sim listening on ") +
                             (options.tlsCertificate.empty() ? "http" : "https") + "://127.0.0.1:";
  std::size_t at = line.find(prefix);
  std::size_t end = line.find('\n');
  if (at != 0 || end == std::string::npos) {
    std::fprintf(stderr, "market-sim did not start (%s): %s\n", TORVANE_MARKET_SIM_PATH, line.c_str());
    return nullptr;  // the destructor stops and reaps the child
  }
  const std::size_t urlAt = std::string("market-sim listening on ").size();
  sim->base_ = line.substr(urlAt, end - urlAt);
  sim->port_ = std::atoi(line.c_str() + prefix.size());
  if (sim->port_ <= 0) return nullptr;
  return sim;
}

MarketSim::~MarketSim() {
  // Already gone (reaped here or by the test): never signal a pid that may have been reused.
  if (pid_ <= 0 || waitpid(pid_, nullptr, WNOHANG) != 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::optional<std::string> MarketSim::AdminPost(std::string_view path, std::string_view json) const {
  std::string body(json);
  return Exchange(base_ + std::string(path), &body, caFile_);
}

std::optional<std::string> MarketSim::AdminGet(std::string_view path) const {
  return Exchange(base_ + std::string(path), nullptr, caFile_);
}

bool MarketSim::AddOrder(std::string_view orderNumber, std::string_view title, std::string_view quantity,
                         std::string_view buyer, std::string_view message) {
  return AddOrders({SimOrder{std::string(orderNumber), std::string(title), std::string(quantity),
                             std::string(buyer), std::string(message)}});
}

bool MarketSim::AddOrders(const std::vector<SimOrder>& orders) {
  std::string json = "[";
  for (std::size_t i = 0; i < orders.size(); ++i) {
    const SimOrder& o = orders[i];
    if (i) json += ',';
    json += "{\"orderNumber\":" + Quote(o.orderNumber) + ",\"title\":" + Quote(o.title) +
            ",\"quantity\":" + Quote(o.quantity) + ",\"buyer\":" + Quote(o.buyer) + ",\"message\":" + Quote(o.message) +
            "}";
  }
  json += "]";
  return AdminPost("/admin/orders", json).has_value();
}

bool MarketSim::AddSoldTrade(std::string_view tradeId, std::string_view title, std::string_view buyer) {
  return AdminPost("/admin/sold", "[{\"tradeId\":" + Quote(tradeId) + ",\"title\":" + Quote(title) +
                                      ",\"buyer\":" + Quote(buyer) + "}]")
      .has_value();
}

bool MarketSim::SetSeller(std::string_view nick, std::string_view userId, std::string_view password,
                          std::string_view token) {
  return AdminPost("/admin/seller", "{\"nick\":" + Quote(nick) + ",\"userId\":" + Quote(userId) +
                                        ",\"password\":" + Quote(password) + ",\"token\":" + Quote(token) + "}")
      .has_value();
}

bool MarketSim::SetFaults(const SimFaults& f) {
  std::string json = "{\"slowMs\":" + std::to_string(f.slowMs) + ",\"status500\":" + (f.status500 ? "true" : "false") +
                     ",\"drop\":" + (f.drop ? "true" : "false") + ",\"truncate\":" + (f.truncate ? "true" : "false") +
                     ",\"noMarkers\":" + (f.noMarkers ? "true" : "false") + ",\"times\":" + std::to_string(f.times) + ",\"paths\":[";
  for (std::size_t i = 0; i < f.paths.size(); ++i) json += (i ? "," : "") + Quote(f.paths[i]);
  json += "]}";
  return AdminPost("/admin/faults", json).has_value();
}

bool MarketSim::ExpireLogin() { return AdminPost("/admin/expire-login", "{}").has_value(); }
bool MarketSim::Reset() { return AdminPost("/admin/reset", "{}").has_value(); }
bool MarketSim::Shutdown() { return AdminPost("/admin/shutdown", "{}").has_value(); }

bool MarketSim::SetImAccounts(const std::vector<std::pair<std::string, std::string>>& accounts) {
  std::string json = "[";
  for (std::size_t i = 0; i < accounts.size(); ++i)
    json += (i ? ",{\"account\":" : "{\"account\":") + Quote(accounts[i].first) + ",\"password\":" +
            Quote(accounts[i].second) + "}";
  json += "]";
  return AdminPost("/admin/im-accounts", json).has_value();
}

bool MarketSim::SetUpdateNotice(std::string_view version, std::string_view download) {
  return AdminPost("/admin/update-notice", "{\"version\":" + Quote(version) + ",\"download\":" + Quote(download) + "}")
      .has_value();
}

bool MarketSim::SetUpdatePage(std::string_view page) {
  return AdminPost("/admin/update-notice", "{\"page\":" + Quote(page) + "}").has_value();
}

std::string MarketSim::State(bool withBodies) const {
  return AdminGet(withBodies ? "/admin/state" : "/admin/state?bodies=0").value_or("");
}

std::vector<SimConsign> MarketSim::Consigns() const {
  std::vector<SimConsign> out;
  auto state = ParsedState(*this);
  if (!state) return out;
  for (const Json& c : Elements(Field(*state, "consigns"))) {
    SimConsign x;
    x.orderId = Gbk(c["orderId"]);
    x.bodyOrderId = Gbk(c["bodyOrderId"]);
    x.token = Text(Field(c, "token"));
    x.tokenValid = Flag(Field(c, "tokenValid"));
    x.loggedIn = Flag(Field(c, "loggedIn"));
    x.success = Flag(Field(c, "success"));
    x.reason = Text(Field(c, "reason"));
    x.body = FromHex(Text(Field(c, "bodyHex")));
    out.push_back(std::move(x));
  }
  return out;
}

std::vector<SimRating> MarketSim::Ratings() const {
  std::vector<SimRating> out;
  auto state = ParsedState(*this);
  if (!state) return out;
  for (const Json& r : Elements(Field(*state, "ratings"))) {
    SimRating x;
    x.tradeId = Gbk(r["tradeId"]);
    x.rateId = Gbk(r["rateId"]);
    x.token = Text(Field(r, "token"));
    x.tokenValid = Flag(Field(r, "tokenValid"));
    x.text = Gbk(r["text"]);
    x.title = Gbk(r["title"]);
    x.pictureUrl = Text(Field(r, "pictureUrl"));
    x.endTime = Text(Field(r, "endTime"));
    x.itemId = Text(Field(r, "itemId"));
    x.sellerNick = Gbk(r["sellerNick"]);
    x.success = Flag(Field(r, "success"));
    x.reason = Text(Field(r, "reason"));
    x.body = FromHex(Text(Field(r, "bodyHex")));
    out.push_back(std::move(x));
  }
  return out;
}

std::vector<SimSms> MarketSim::Sms() const {
  std::vector<SimSms> out;
  auto state = ParsedState(*this);
  if (!state) return out;
  for (const Json& s : Elements(Field(*state, "sms"))) {
    SimSms x;
    x.account = Gbk(s["account"]);
    x.path = Text(Field(s, "path"));
    x.timed = Flag(Field(s, "timed"));
    x.timing = Text(Field(s, "timing"));
    x.utf8Bytes = FromHex(Text(Field(s, "textHex")));
    x.validUtf8 = Flag(Field(s, "validUtf8"));
    x.text = x.validUtf8 ? Utf8ToGbk(x.utf8Bytes) : std::string();
    x.success = Flag(Field(s, "success"));
    x.reason = Text(Field(s, "reason"));
    x.body = FromHex(Text(Field(s, "bodyHex")));
    out.push_back(std::move(x));
  }
  return out;
}

std::vector<SimRobotMessage> MarketSim::RobotMessages() const {
  std::vector<SimRobotMessage> out;
  std::optional<std::string> answer = AdminGet("/admin/robot");
  if (!answer) return out;
  const Json state = marketsim::Parse(*answer);
  for (const Json& m : Elements(Field(state, "messages"))) {
    SimRobotMessage x;
    x.key = Text(Field(m, "key"));
    for (const Json& t : Elements(Field(m, "contentTypes"))) x.contentTypes.push_back(Text(t));
    x.validUtf8 = Flag(Field(m, "validUtf8"));
    x.validJson = Flag(Field(m, "validJson"));
    x.msgtype = Text(Field(m, "msgtype"));
    x.content = Utf8ToGbk(Text(Field(m, "content")));
    x.errcode = static_cast<int>(marketsim::Integer(Field(m, "errcode")));
    x.body = FromHex(Text(Field(m, "bodyHex")));
    out.push_back(std::move(x));
  }
  return out;
}

bool MarketSim::SetRobotKey(std::string_view key) {
  return AdminPost("/admin/robot", "{\"key\":" + Quote(key) + "}").has_value();
}

namespace {
const Json* FindOrderIn(const Json& state, std::string_view orderNumber) {
  std::string wanted = GbkToUtf8(orderNumber);
  for (const Json& o : Elements(Field(state, "orders")))
    if (Text(Field(o, "orderNumber")) == wanted) return &o;
  return nullptr;
}
}  // namespace

std::string MarketSim::OrderStatus(std::string_view orderNumber) const {
  auto state = ParsedState(State(false));
  if (!state) return {};
  const Json* o = FindOrderIn(*state, orderNumber);
  return o ? Text(Field((*o), "status")) : std::string();
}

bool MarketSim::OrderRated(std::string_view orderNumber) const {
  auto state = ParsedState(State(false));
  if (!state) return false;
  const Json* o = FindOrderIn(*state, orderNumber);
  return o && Flag(Field((*o), "rated"));
}

std::vector<std::string> MarketSim::UpdateQueries() const {
  std::vector<std::string> out;
  auto state = ParsedState(State(false));
  if (state)
    for (const Json& q : Elements(Field(*state, "updateQueries"))) out.push_back(Text(q));
  return out;
}

std::vector<std::string> MarketSim::OrderListTokens() const {
  std::vector<std::string> out;
  auto state = ParsedState(State(false));
  if (state)
    for (const Json& q : Elements(Field(*state, "orderListRequests"))) out.push_back(Text(Field(q, "utkn")));
  return out;
}

std::size_t MarketSim::Count(std::string_view record) const {
  auto state = ParsedState(State(false));
  return state ? Field(*state, record).size() : 0;
}

bool MarketSim::WriteDeployment(const std::filesystem::path& configDir) const {
  std::filesystem::path file = DeploymentPath(configDir);
  IniFile ini;
  if (!ini.Load(file)) return false;
  for (const char* key : {"登录主机", "个人主页主机", "会员主机", "物流主机", "交易主机", "评价主机"})
    ini.Set("市场", key, base_);
  ini.Set("更新", "公告页面", base_ + "/update.htm?");
  ini.Set("短信", "服务地址", base_);
  return ini.Save(file);
}

}  // namespace torvane::test
