#include "support/smtp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "notify/password.h"

namespace torvane::test {

namespace {

// The quoted value after "key": in one JSON line written by the script (values are base64 or plain words).
std::string StringField(const std::string& line, const std::string& key) {
  std::string marker = "\"" + key + "\": \"";
  std::size_t pos = line.find(marker);
  if (pos == std::string::npos) return {};
  pos += marker.size();
  std::size_t end = line.find('"', pos);
  return end == std::string::npos ? std::string() : line.substr(pos, end - pos);
}

std::vector<std::string> ArrayField(const std::string& line, const std::string& key) {
  std::vector<std::string> out;
  std::string marker = "\"" + key + "\": [";
  std::size_t pos = line.find(marker);
  if (pos == std::string::npos) return out;
  pos += marker.size();
  std::size_t end = line.find(']', pos);
  while (pos < end) {
    std::size_t open = line.find('"', pos);
    if (open == std::string::npos || open > end) break;
    std::size_t close = line.find('"', open + 1);
    out.push_back(line.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  return out;
}

std::string Unbase64(const std::string& text) {
  std::string out;
  Base64Decode(text, &out);
  return out;
}

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A self-signed certificate for 127.0.0.1 and its key; false when openssl failed (its output in log).
bool MakeCertificate(const std::filesystem::path& certificate, const std::filesystem::path& key,
                     const std::filesystem::path& log) {
  std::vector<std::string> args = {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                                   "subjectAltName=IP:127.0.0.1", "-keyout", key.string(), "-out", certificate.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      dup2(fd, STDERR_FILENO);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> LogLines(const std::filesystem::path& log) {
  std::vector<std::string> lines;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}


}  // namespace

std::filesystem::path DefaultSmtpServerScript() {
  return std::filesystem::path(TORVANE_SOURCE_DIR) / "tools/mail-sink/smtp_server.py";
}

SmtpTestServer::SmtpTestServer(SmtpServerOptions options, std::filesystem::path script)
    : options_(std::move(options)), script_(script.empty() ? DefaultSmtpServerScript() : std::move(script)) {
  std::random_device rd;
  dir_ = std::filesystem::temp_directory_path() / ("torvane-smtp-" + std::to_string(getpid()) + "-" +
                                                   std::to_string(rd()));
  std::filesystem::create_directories(dir_);
  log_ = dir_ / "received.jsonl";
  control_ = dir_ / "control.json";
  if (options_.tls == SmtpTls::kStartTls || options_.tls == SmtpTls::kImplicit) {
    certificate_ = dir_ / "server.pem";
    key_ = dir_ / "server.key";
    if (!MakeCertificate(certificate_, key_, dir_ / "openssl.log")) {
      error_ = "openssl could not make a certificate: " + ReadText(dir_ / "openssl.log");
      return;
    }
  }
  Launch(0);
}

bool SmtpTestServer::Restart() {
  if (port_ <= 0) return false;
  Stop();
  Launch(port_);
  return running();
}

bool SmtpTestServer::SetReplies(const SmtpReplies& replies) {
  // Replies are plain ASCII; quotes and backslashes are escaped for JSON all the same.
  auto quoted = [](const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out.push_back('\\');
      out.push_back(c);
    }
    return out + "\"";
  };
  const std::string json = "{\"rcpt\": " + quoted(replies.rcpt) + ", \"data\": " + quoted(replies.data) +
                           ", \"auth\": " + quoted(replies.auth) + ", \"mail\": " + quoted(replies.mail) +
                           ", \"rcpt_to\": " + quoted(replies.rcptTo) + "}\n";
  const std::filesystem::path temp = control_.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << json;
    if (!out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, control_, ec);
  return !ec;
}

void SmtpTestServer::Launch(int port) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  std::vector<std::string> args = {"/usr/bin/python3",          script_.string(), log_.string(), options_.user,
                                   options_.password,           "--port=" + std::to_string(port),
                                   "--control=" + control_.string()};
  if (options_.onlyPlain) args.push_back("--only-plain");
  const std::string pair = certificate_.string() + "," + key_.string();
  switch (options_.tls) {
    case SmtpTls::kNone: break;
    case SmtpTls::kStartTls: args.push_back("--starttls=" + pair); break;
    case SmtpTls::kStartTlsRefused: args.push_back("--refuse-starttls"); break;
    case SmtpTls::kImplicit: args.push_back("--smtps=" + pair); break;
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The server dies with the test program, however that ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(out[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  if (pid_ < 0) {
    close(out[0]);
    error_ = "fork failed";
    return;
  }
  // Wait for "READY <port>".
  std::string seen;
  int ready = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (poll(&p, 1, left > 0 ? left : 0) <= 0) break;
    char buf[256];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
    std::size_t at = seen.find("READY ");
    if (at != std::string::npos && seen.find('\n', at) != std::string::npos) {
      ready = std::atoi(seen.c_str() + at + 6);
      break;
    }
  }
  close(out[0]);
  if (ready <= 0) {
    error_ = "smtp server did not start: " + seen;
    Stop();
    port_ = 0;
    return;
  }
  port_ = ready;
}

SmtpTestServer::~SmtpTestServer() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void SmtpTestServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::vector<ReceivedMail> SmtpTestServer::Messages() const {
  std::vector<ReceivedMail> mails;
  for (const auto& line : LogLines(log_)) {
    if (StringField(line, "event") != "mail") continue;
    ReceivedMail m;
    m.from = Unbase64(StringField(line, "from"));
    for (const auto& r : ArrayField(line, "rcpt")) m.recipients.push_back(Unbase64(r));
    m.helo = Unbase64(StringField(line, "helo"));
    m.data = Unbase64(StringField(line, "data"));
    mails.push_back(std::move(m));
  }
  return mails;
}

std::vector<AuthAttempt> SmtpTestServer::Logins() const {
  std::vector<AuthAttempt> out;
  for (const auto& line : LogLines(log_)) {
    if (StringField(line, "event") != "auth") continue;
    out.push_back({StringField(line, "mechanism"), line.find("\"ok\": true") != std::string::npos});
  }
  return out;
}

std::vector<SmtpCommand> SmtpTestServer::Commands() const {
  std::vector<SmtpCommand> out;
  for (const auto& line : LogLines(log_)) {
    if (StringField(line, "event") != "command") continue;
    out.push_back({StringField(line, "verb"), line.find("\"tls\": true") != std::string::npos});
  }
  return out;
}

std::string MailHeader(const std::string& rawMessage, const std::string& name) {
  std::string head = rawMessage.substr(0, rawMessage.find("\r\n\r\n"));
  std::istringstream in(head);
  std::string value;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (inside) {
      if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
        value += line.substr(1);
        continue;
      }
      return value;
    }
    std::string prefix = name + ": ";
    if (line.rfind(prefix, 0) == 0) {
      value = line.substr(prefix.size());
      inside = true;
    }
  }
  return value;
}

std::string MailBodyPart(const std::string& rawMessage) {
  std::size_t pos = rawMessage.find("\r\n\r\n");
  return pos == std::string::npos ? std::string() : rawMessage.substr(pos + 4);
}

std::string DecodeEncodedWords(const std::string& headerValue) {
  std::string out;
  std::size_t pos = 0;
  while (pos < headerValue.size()) {
    std::size_t start = headerValue.find("=?", pos);
    if (start == std::string::npos) {
      out += headerValue.substr(pos);
      break;
    }
    std::size_t q1 = headerValue.find('?', start + 2);
    std::size_t q2 = q1 == std::string::npos ? q1 : headerValue.find('?', q1 + 1);
    std::size_t end = q2 == std::string::npos ? q2 : headerValue.find("?=", q2 + 1);
    if (end == std::string::npos) {
      out += headerValue.substr(pos);
      break;
    }
    // Whitespace between two encoded words is dropped.
    std::string between = headerValue.substr(pos, start - pos);
    if (between.find_first_not_of(" \t") != std::string::npos || pos == 0) out += between;
    out += Unbase64(headerValue.substr(q2 + 1, end - q2 - 1));
    pos = end + 2;
  }
  return out;
}

}  // namespace torvane::test
