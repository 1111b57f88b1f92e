// One seller notice with all three channels ticked, against the simulated IM
// service and a local SMTP server (aiosmtpd), both started here.
#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

#include "bench.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "notify/password.h"

namespace {

// A child process whose first stdout line (matching a prefix) is kept; killed and reaped on destruction.
class Child {
 public:
  Child(std::vector<std::string> args, const std::string& prefix) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      dup2(out[1], STDOUT_FILENO);
      int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string seen;
    while (pid_ > 0 && seen.find('\n') == std::string::npos) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) break;
      char buf[256];
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (seen.rfind(prefix, 0) == 0) line_ = seen.substr(prefix.size(), seen.find('\n') - prefix.size());
  }
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(20000);
    if (kill(pid_, 0) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The rest of the ready line after the prefix; nullopt when the child did not come up.
  const std::optional<std::string>& line() const { return line_; }

 private:
  pid_t pid_ = -1;
  std::optional<std::string> line_;
};

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

bool AdminPost(const std::string& url, const std::string& json) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return false;
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, json.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return code == CURLE_OK && status == 200;
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
  Child sim({TORVANE_MARKET_SIM_PATH, "--port", "0"}, "market-sim listening on ");
  Child smtp({"/usr/bin/python3", (SourceDir() / "tools/mail-sink/smtp_server.py").string(),
              (scratch / "mail.jsonl").string(), "bench-sender", "Bench1234"},
             "READY ");
  if (!sim.line() || !smtp.line()) {
    std::fprintf(stderr, "notice_all_channels_ms: the IM service or the SMTP server did not start\n");
    return;
  }
  std::string base = *sim.line();
  if (!AdminPost(base + "/admin/im-accounts", R"([{"account":"13800001111","password":"bench-pw"}])")) {
    std::fprintf(stderr, "notice_all_channels_ms: the IM service refused the account\n");
    return;
  }

  torvane::Deployment deployment;
  deployment.smsServiceAddress = base;
  deployment.mail.server = "127.0.0.1";
  deployment.mail.port = std::atoi(smtp.line()->c_str());
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
