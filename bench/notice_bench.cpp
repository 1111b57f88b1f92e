// One seller notice with all three channels ticked, against the simulated IM
// service and a local SMTP server (aiosmtpd), both started here.
#include <curl/curl.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "bench.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "notify/password.h"

namespace {

std::filesystem::path SourceDir() { return TORVANE_SOURCE_DIR; }

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

std::string Get(const std::string& url) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return {};
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* u) {
    static_cast<std::string*>(u)->append(d, s * n);
    return s * n;
  });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return body;
}

class NullLog : public torvane::ActivityLogger {
 public:
  void LogActivity(std::string_view) override {}
};

class NullUi : public torvane::NoticeUi {
 public:
  void ShowTrayBalloon(const std::string&, const std::string&, int, int) override {}
  int ShowNotice(const std::string&, int, const std::string&) override { return 0; }
};

}  // namespace

TORVANE_BENCH("notice_all_channels_ms") {
  auto scratch = bench::ScratchDir("notice");
  std::string base, smtpPort;
  auto sim = bench::StartHelper(TORVANE_MARKET_SIM_PATH, {"--port", "0"}, "market-sim listening on ", &base);
  auto smtp = bench::StartHelper("/usr/bin/python3",
                                 {(SourceDir() / "tools/mail-sink/smtp_server.py").string(),
                                  (scratch / "mail.jsonl").string(), "bench-sender", "Bench1234"},
                                 "READY ", &smtpPort);
  if (!sim || !smtp) return;
  if (!bench::AdminPost(base + "/admin/im-accounts", R"([{"account":"13800001111","password":"bench-pw"}])")) {
    std::fprintf(stderr, "notice_all_channels_ms: the IM service refused the account\n");
    return;
  }

  torvane::Deployment deployment;
  deployment.smsServiceAddress = base;
  deployment.mail.server = "127.0.0.1";
  deployment.mail.encryption = torvane::MailEncryption::kNone;
  deployment.mail.port = std::atoi(smtpPort.c_str());
  deployment.mail.fromAddress = "notices@torvane.test";
  deployment.mail.userName = "bench-sender";
  deployment.mail.passwordObfuscated = torvane::ObfuscateMailPassword("Bench1234");
  torvane::Settings settings;
  settings.smsAccount = "13800001111";
  settings.smsPassword = "bench-pw";
  settings.noticeMailbox = "seller@example.test";
  settings.deliveredSoftware = settings.deliveredSms = settings.deliveredMail = true;
  torvane::FixedSettings live(settings);
  NullLog log;
  NullUi ui;
  torvane::SmtpMailSender mail(deployment.mail, deployment.connectTimeoutSeconds, deployment.totalTimeoutSeconds);
  torvane::Notices notices(live, log, ui, mail, deployment);

  std::string text = "宝贝名称:[游戏点卡]  订单编号:[1001]  购买数量:[1]  买家旺旺:[buyer]  已经通过:[旺旺发送]发送宝贝";
  notices.NotifyDelivered(text);  // warm-up
  std::vector<double> ms;
  for (int i = 0; i < 15; ++i) {
    auto start = std::chrono::steady_clock::now();
    notices.NotifyDelivered(text);
    ms.push_back(bench::SecondsSince(start) * 1000.0);
  }
  // Only a figure for notices that really went out on both network channels.
  std::ifstream mailLog(scratch / "mail.jsonl");
  std::string mails((std::istreambuf_iterator<char>(mailLog)), std::istreambuf_iterator<char>());
  std::string state = Get(base + "/admin/state");
  std::size_t mailed = CountOf(mails, "\"event\": \"mail\"");
  std::size_t texted = CountOf(state, "sendMsgToMyselfs");
  if (mailed != ms.size() + 1 || texted != ms.size() + 1) {
    std::fprintf(stderr, "notice_all_channels_ms: %zu mails and %zu texts arrived for %zu notices\n", mailed, texted,
                 ms.size() + 1);
    return;
  }
  std::sort(ms.begin(), ms.end());
  bench::Report("notice_all_channels_ms", ms[ms.size() / 2], "ms");
}
