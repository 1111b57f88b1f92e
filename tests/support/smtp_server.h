// Runs tools/mail-sink/smtp_server.py (aiosmtpd under /usr/bin/python3) for one test
// and reads back what it received.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace torvane::test {

// How the server speaks TLS. Where it needs a certificate, one for 127.0.0.1 is made for the server
// alone (self-signed, with openssl): a client trusts it only when given certificateFile().
enum class SmtpTls {
  kNone,             // never: STARTTLS is not offered
  kStartTls,         // offers STARTTLS
  kStartTlsRefused,  // offers STARTTLS and answers it with 454
  kImplicit,         // TLS from the first byte (smtps)
};

struct SmtpServerOptions {
  std::string user = "notice-sender";
  std::string password = "Pw1234567";
  bool onlyPlain = false;      // offer AUTH PLAIN only
  SmtpTls tls = SmtpTls::kNone;
};

// Answers that replace the server's own, changeable while it runs ("" lets the command through),
// e.g. "451 4.3.0 Try again later" or "550 5.1.1 No such user".
struct SmtpReplies {
  std::string rcpt;    // to every RCPT (only to RCPT of rcptTo when that is given)
  std::string data;    // at the end of every message
  std::string auth;    // to every login, right or wrong ("535 ..." refuses it)
  std::string mail;    // to every MAIL FROM
  std::string rcptTo;  // the one address rcpt answers
};

struct ReceivedMail {
  std::string from;                     // envelope sender
  std::vector<std::string> recipients;  // envelope recipients
  std::string helo;                     // name the client greeted with
  std::string data;                     // raw message bytes as received
};

struct AuthAttempt {
  std::string mechanism;
  bool ok = false;
};

// A STARTTLS, AUTH, MAIL, RCPT or DATA command as the server received it.
struct SmtpCommand {
  std::string verb;
  bool overTls = false;
};

class SmtpTestServer {
 public:
  // Starts the server; the script is found in the source tree (or given).
  explicit SmtpTestServer(SmtpServerOptions options = {}, std::filesystem::path script = {});
  ~SmtpTestServer();
  SmtpTestServer(const SmtpTestServer&) = delete;
  SmtpTestServer& operator=(const SmtpTestServer&) = delete;

  bool running() const { return pid_ > 0 && port_ > 0; }
  int port() const { return port_; }
  const SmtpServerOptions& options() const { return options_; }
  const std::string& error() const { return error_; }

  std::vector<ReceivedMail> Messages() const;
  std::vector<AuthAttempt> Logins() const;
  std::vector<SmtpCommand> Commands() const;
  // The file the server logs what it received to, the messages (and so the codes) included.
  const std::filesystem::path& logFile() const { return log_; }
  // The server's certificate (PEM), "" when it has none.
  std::filesystem::path certificateFile() const { return certificate_; }
  // From the next command on, the server answers so; false when the answers could not be written.
  bool SetReplies(const SmtpReplies& replies);
  // Stops the server (also done by the destructor): connections to its port are refused.
  void Stop();
  // Starts it again on the same port, with what it received so far kept; false when it did not come up.
  bool Restart();

 private:
  void Launch(int port);

  SmtpServerOptions options_;
  std::filesystem::path dir_;
  std::filesystem::path log_;
  std::filesystem::path control_;
  std::filesystem::path script_;
  std::filesystem::path certificate_;
  std::filesystem::path key_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string error_;
};

// tools/mail-sink/smtp_server.py of the source tree this program was built from.
std::filesystem::path DefaultSmtpServerScript();

// Header value (unfolded) of the first header with this name in a raw message, "" when missing.
std::string MailHeader(const std::string& rawMessage, const std::string& name);
// Everything after the first empty line.
std::string MailBodyPart(const std::string& rawMessage);
// Decodes "=?charset?B?...?=" words (the charset is not converted); other text unchanged.
std::string DecodeEncodedWords(const std::string& headerValue);

}  // namespace torvane::test
