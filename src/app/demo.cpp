#include "app/demo.h"

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <random>

#include "notify/password.h"
#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/wine_bridge.h"
#include "base/deployment.h"
#include "base/ini.h"
#include "app/runner.h"
#include "app/terminal.h"
#include "base/settings.h"
#include "base/files.h"
#include "store/item_names.h"
#include "store/record_store.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "base/text.h"

namespace torvane {

namespace {

constexpr const char* kSellerName = "演示店铺";
constexpr const char* kSellerPassword = "secret";

// Items of the demo shop and how many cards each starts with; one runs out early on purpose.
struct DemoItem {
  const char* name;
  int cards;
};
constexpr DemoItem kItems[] = {
    {"QQ会员一个月", 8}, {"网易一卡通100点", 100}, {"魔兽世界点卡30元", 100}, {"盛大一卡通50元", 100}};

void Say(const std::string& gbk) {
  PrintLine(gbk);
  std::fflush(stdout);
}

std::filesystem::path DemoWinePrefix() {
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache != '\0') {
    return std::filesystem::path(cache) / "torvane" / "demo-wine";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::filesystem::path(home) / ".cache" / "torvane" / "demo-wine";
  }
  return {};
}

ChildOptions WineOptions(const std::filesystem::path& prefix) {
  ChildOptions options;
  options.environment = {{"WINEPREFIX", prefix.string()}, {"WINEDEBUG", "-all"}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
  options.readOutput = false;
  return options;
}

bool RunWine(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::filesystem::path& prefix) {
  std::string error;
  auto child = ChildProcess::Start(program, args, WineOptions(prefix), &error);
  if (!child) return false;
  std::optional<int> status = child->Wait(std::chrono::minutes(3));
  if (!status) child->Stop();
  return status == 0;
}

DemoChat SetUpDemoChat(const std::filesystem::path& root, const std::filesystem::path& programDir) {
  DemoChat chat;
  const std::filesystem::path wine = FindProgramInPath("wine"), wineserver = FindProgramInPath("wineserver");
  const std::filesystem::path client = FindCompanionFile(programDir, {"tools/fake-chat-client.exe", "fake-chat-client.exe"});
  const std::filesystem::path sender = FindCompanionFile(programDir, {"torvane-chat.exe"});
  if (wine.empty() || wineserver.empty()) {
    chat.problem = "未找到 wine, 旺旺发货的订单将等待 (安装 wine 后再运行演示)";
    return chat;
  }
  if (client.empty() || sender.empty()) {
    chat.problem = "未找到 torvane-chat.exe 或 tools/fake-chat-client.exe, 旺旺发货的订单将等待";
    return chat;
  }
  chat.prefix = DemoWinePrefix();
  std::error_code ec;
  if (!chat.prefix.empty()) std::filesystem::create_directories(chat.prefix.parent_path(), ec);
  if (chat.prefix.empty() || ec) {
    chat.problem = "无法创建 wine 前缀目录, 旺旺发货的订单将等待";
    return chat;
  }
  const bool made = std::filesystem::exists(chat.prefix / "system.reg", ec);
  Say(made ? "正在启动 wine 中的模拟旺旺客户端 (" + PathText(chat.prefix) + ")"
           : "正在准备 wine 前缀和模拟旺旺客户端 (首次约需 15 秒, 保存在 " + PathText(chat.prefix) + ")");
  chat.transcript = root / u8"旺旺客户端收到的消息.txt";
  // No display needed: the null graphics driver, set before any window exists. The registry reaches
  // the prefix's files, where the bridge looks for the aliim: handler, when the wine server ends.
  const bool ready =
      RunWine(wine, {"reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"}, chat.prefix) &&
      RunWine(wineserver, {"-w"}, chat.prefix) &&
      RunWine(wine,
              {client.string(), "--register", "--transcript", WinePath(chat.prefix, chat.transcript), "--lifetime", "30"},
              chat.prefix) &&
      RunWine(wineserver, {"-w"}, chat.prefix);
  if (!ready) chat.problem = "wine 前缀准备失败, 旺旺发货的订单将等待";
  return chat;
}

void EndDemoChat(const DemoChat& chat) {
  if (!chat.prefix.empty() && chat.problem.empty()) RunWine(FindProgramInPath("wineserver"), {"-k"}, chat.prefix);
}

// How often marker stands in the file (a transcript's messages, a mail log's mails); 0 when unreadable.
int CountInFile(const std::filesystem::path& file, std::string_view marker) {
  auto text = ReadWholeFile(file);
  if (!text) return 0;
  int count = 0;
  std::size_t pos = 0;
  while ((pos = text->find(marker, pos)) != std::string::npos) {
    ++count;
    ++pos;
  }
  return count;
}

bool SeedShop(const std::filesystem::path& dataDir, std::string* error) {
  std::string names;
  for (const auto& item : kItems) names += std::string(item.name) + "\r\n";
  if (!WriteFileAtomic(dataDir / u8"宝贝名称.txt", names, error)) return false;

  StoreError storeError;
  auto stores = CardStores::Open(dataDir, &storeError);
  if (!stores) {
    *error = storeError.message;
    return false;
  }
  std::mt19937_64 random(std::random_device{}());
  std::vector<std::vector<std::string>> cards;
  int serial = 0;
  for (const auto& item : kItems) {
    for (int i = 0; i < item.cards; ++i) {
      char number[32], secret[32];
      std::snprintf(number, sizeof(number), "DEMO%06d", ++serial);
      std::snprintf(secret, sizeof(secret), "%016llX", static_cast<unsigned long long>(random()));
      cards.push_back({item.name, number, secret, "充值后请及时确认收货"});
    }
  }
  bool ok = stores->Inventory().AppendMany(cards) == cards.size();
  stores->Close();
  if (!ok) *error = "演示卡密写入失败";
  return ok;
}

}  // namespace

bool WriteDemoConfig(const std::filesystem::path& configDir, const std::string& simBase, int smtpPort,
                     const DemoChat& chat, std::string* error) {
  IniFile deployment;
  for (const char* key : {"登录主机", "个人主页主机", "会员主机", "物流主机", "交易主机", "评价主机"}) {
    deployment.Set("市场", key, simBase);
  }
  deployment.Set("更新", "公告页面", simBase + "/update.htm?");
  deployment.Set("短信", "服务地址", simBase);
  deployment.Set("网络", "连接超时秒", "5");
  deployment.Set("网络", "总超时秒", "20");
  if (smtpPort > 0) {
    deployment.Set("邮件", "服务器", "127.0.0.1");
    deployment.Set("邮件", "端口", std::to_string(smtpPort));
    deployment.Set("邮件", "发信地址", "shop@torvane.test");
    deployment.Set("邮件", "用户名", kDemoMailUser);
    deployment.Set("邮件", "密码", ObfuscateMailPassword(kDemoMailPassword));
    // The demo's mail server on this machine speaks no TLS; mail to any other server must be encrypted.
    deployment.Set("邮件", "加密", "无");
  }
  if (chat.problem.empty() && !chat.prefix.empty()) {
    deployment.Set("聊天", "WINEPREFIX", PathText(chat.prefix));
    deployment.Set("聊天", "聊天窗口等待秒", "10");
  }
  if (!deployment.Save(DeploymentPath(configDir), error)) return false;

  Settings settings;
  settings.scanPeriod = "30秒";
  // Without a mail server every mail would fail and spend its codes: then the orders wait for a chat client.
  settings.deliverByMail = smtpPort > 0;
  settings.deliverByChat = smtpPort == 0;
  settings.deliveredSoftware = true;
  settings.outOfStockSoftware = true;
  // The simulator's group-chat robot gets every notice; the demo names where to read them.
  settings.robotAddress = simBase + "/robot/send?key=demo";
  settings.deliveredRobot = settings.outOfStockRobot = true;
  settings.noticeMailbox = "seller@torvane.test";
  settings.signatureOn = true;
  settings.signature = "Torvane演示店铺 欢迎再次光临";
  return SaveSettings(SettingsPath(configDir), settings, error);
}

namespace {

bool LogInToSimulator(const std::string& simBase) {
  std::string body = std::string("TPL_username=") + PercentEncodeGbk(kSellerName) + "&TPL_password=" + kSellerPassword;
  网页_访问(simBase + "/member/login.jhtml", 1, {}, {}, body);
  return CookieCount() > 0;
}

}  // namespace

DemoEnvironment::DemoEnvironment() = default;

DemoEnvironment::~DemoEnvironment() {
  if (smtp) smtp->Stop();
  if (sim) sim->Stop();
  EndDemoChat(chat);
}

std::string DemoEnvironment::SummaryLine(int pass, const DeliverySummary& s, std::int64_t cardsLeft) const {
  std::string summary = "[演示] 第" + std::to_string(pass) + "次扫描: 订单 " + std::to_string(s.listed) +
                        " 个, 已发货 " + std::to_string(s.delivered) + " 个, 跳过 " + std::to_string(s.skipped) +
                        " 个, 发送失败 " + std::to_string(s.failed) + " 个, 待重发 " + std::to_string(s.held) +
                        " 个, 剩余卡密 " + std::to_string(cardsLeft) + " 张";
  if (smtpPort > 0) {
    summary += ", 邮件服务器已收到 " + std::to_string(CountInFile(mailLog, "\"event\": \"mail\"")) + " 封邮件";
  }
  if (chat.problem.empty()) {
    summary += ", 旺旺客户端已收到 " + std::to_string(CountInFile(chat.transcript, "=== ")) + " 条消息";
  }
  return summary;
}

std::unique_ptr<DemoEnvironment> PrepareDemo(const DemoOptions& options, std::string* error) {
  auto fail = [error](const std::string& why) -> std::unique_ptr<DemoEnvironment> {
    if (error) *error = why;
    return nullptr;
  };
  auto simPath = FindCompanionFile(options.programDir, {"tools/market-sim/market-sim", "market-sim"});
  if (simPath.empty()) {
    return fail("找不到 market-sim 程序（应在 " + PathText(options.programDir) + " 中或其下的 tools/market-sim/ 中）");
  }
  auto env = std::make_unique<DemoEnvironment>();
  env->root = MakePrivateTempDirectory("torvane-demo-");
  if (env->root.empty()) return fail("无法创建演示目录");
  env->configDir = env->root / "config";
  env->dataDir = env->root / "data";
  std::string problem;
  // Private like the root: the stores hold codes, the configuration the mail password.
  if (!CreatePrivateDirectory(env->configDir, &problem) || !CreatePrivateDirectory(env->dataDir, &problem)) {
    return fail("无法创建演示目录 " + problem);
  }

  env->sim = ChildProcess::Start(
      simPath, {"--port", "0", "--demo", "--seed", std::to_string(std::random_device{}())}, &problem);
  std::string line;
  if (env->sim) {
    while (env->sim->ReadLine(&line, std::chrono::seconds(10))) {
      auto at = line.find("http://127.0.0.1:");
      if (at != std::string::npos) {
        env->simBase = line.substr(at);
        break;
      }
    }
  }
  if (env->simBase.empty()) return fail("market-sim 无法启动 " + problem);

  // E-mail deliveries go to a local mail server when Debian's aiosmtpd is there.
  env->mailLog = env->root / "mail.log";
  // It will hold every code mailed: the owner's only, before the server writes to it.
  if (!CreatePrivateFile(env->mailLog, &problem)) return fail("无法创建演示邮件记录 " + problem);
  auto smtpScript = FindCompanionFile(options.programDir, {"tools/smtp_server.py", "smtp_server.py"});
  if (!smtpScript.empty() && std::filesystem::exists("/usr/bin/python3")) {
    env->smtp = ChildProcess::Start(
        "/usr/bin/python3", {smtpScript.string(), env->mailLog.string(), kDemoMailUser, kDemoMailPassword}, &problem);
    while (env->smtp && env->smtp->ReadLine(&line, std::chrono::seconds(10))) {
      if (line.rfind("READY ", 0) == 0) {
        env->smtpPort = std::atoi(line.c_str() + 6);
        break;
      }
    }
  }

  env->chat = SetUpDemoChat(env->root, options.programDir);
  if (!WriteDemoConfig(env->configDir, env->simBase, env->smtpPort, env->chat, &problem) ||
      !SeedShop(env->dataDir, &problem)) {
    return fail("演示环境准备失败: " + problem);
  }
  if (options.sayProgress) {
    Say("演示商店: " + env->simBase + "/user/order_list_new.htm (浏览器中先在 " + env->simBase +
        "/member/login.jhtml 登录, 密码 " + kSellerPassword + ")");
    Say("演示数据目录: " + PathText(env->dataDir) + "  配置目录: " + PathText(env->configDir));
    Say(env->smtpPort > 0 ? "邮件发货送到本机邮件服务器 127.0.0.1:" + std::to_string(env->smtpPort) +
                                " (留言中没有邮箱的订单改用旺旺发货)"
                          : std::string("未找到 aiosmtpd, 改用旺旺发货"));
    Say(env->chat.problem.empty()
            ? "旺旺发货送到 wine 中的模拟旺旺客户端, 收到的消息记在 " + PathText(env->chat.transcript)
            : env->chat.problem);
    Say("通知同时发到模拟的群机器人, 收到的消息见 " + env->simBase + "/admin/robot");
  }

  WebConfig web;
  web.connectTimeoutSeconds = 5;
  web.totalTimeoutSeconds = 20;
  ConfigureWeb(web);
  if (!LogInToSimulator(env->simBase) || !SaveCookies(env->dataDir, &problem)) {
    return fail("登录演示商店失败 " + problem);
  }
  return env;
}

int RunDemo(const DemoOptions& options) {
  std::string error;
  auto env = PrepareDemo(options, &error);
  if (!env) {
    Say(error);
    return 1;
  }
  Say("每30秒扫描一次订单, 按 Ctrl-C 结束");
  int pass = 0;
  RunOptions run;
  run.configDir = env->configDir;
  run.dataDir = env->dataDir;
  run.printLine = options.printLine;
  run.afterRun = [&](const DeliverySummary& s, CardStores& stores) {
    Say(env->SummaryLine(++pass, s, stores.Inventory().RecordCount()));
  };
  int status = RunHeadless(run);
  const std::filesystem::path root = env->root;
  env.reset();
  Say("演示结束, 数据保留在 " + PathText(root));
  return status;
}

}  // namespace torvane
