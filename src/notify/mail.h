// Mail through the built-in sender account: one plain-text message per call,
// each over its own SMTP connection.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "notify/notify_interfaces.h"
#include "base/deployment.h"

namespace torvane {

// Reasons SendMail gives (GBK); the server's reply or curl's error text follows after ": ".
inline constexpr std::string_view kMailNoConnection = "无法连接邮件服务器";
inline constexpr std::string_view kMailLoginFailed = "邮件服务器登录失败";
inline constexpr std::string_view kMailRefused = "邮件服务器拒收";
inline constexpr std::string_view kMailTimedOut = "邮件服务器响应超时";
inline constexpr std::string_view kMailNoRecipient = "收信地址为空";
inline constexpr std::string_view kMailBadHeader = "收信地址或标题含有换行符";
inline constexpr std::string_view kMailNoStartTls = "邮件服务器不肯加密连接";
inline constexpr std::string_view kMailTlsFailed = "邮件服务器加密连接失败";
inline constexpr std::string_view kMailCleartextRefused = "不加密的邮件只能发往本机的邮件服务器";

// What the sender gathers from the server's replies during one attempt.
struct SmtpExchange {
  std::string command;        // verb of the last command sent (AUTH keeps it over its continuation lines)
  std::string failedCommand;  // the command the first refusal (4xx or 5xx) answered
  std::string failedReply;    // that refusal as the server wrote it
};

// Notes one piece of the protocol trace: command text sent (outgoing) or reply lines received.
void NoteSmtpTrace(SmtpExchange& exchange, bool outgoing, std::string_view text);

// Why an attempt failed, from curl's result code (a CURLcode), the last reply code, the replies and
// curl's own error text: a refusal of RCPT is the recipient's (kRecipient for 5xx, kRecipientLater
// for 4xx) unless it speaks of the server (421, or an enhanced status X.3.Y); everything else is
// kTransient. The reason names the kind of failure and quotes the refusal (or curl's error) as
// printable ASCII.
MailResult ClassifyMailFailure(int curlCode, long smtpCode, const SmtpExchange& exchange,
                               std::string_view curlError = {});

// Submits mail through the account's server (EHLO with the local host name, AUTH LOGIN preferred,
// AUTH PLAIN when only that is offered). The connection is encrypted before the login as the account
// says: STARTTLS (required: a server that does not offer it or refuses it gets neither the login nor
// the message), TLS from the start (smtps), or, only for a server on this machine, not at all. The
// server's certificate is checked against the system's certificates or the account's CA file.
// Thread-safe: every call has its own connection and curl handle.
class SmtpMailSender : public MailSender {
 public:
  SmtpMailSender(MailAccount account, int connectTimeoutSeconds = 15, int totalTimeoutSeconds = 60);

  // accepted is true only when the server took the message for delivery. A failure is kRecipient
  // for a 5xx reply to RCPT (and for an empty or multi-line address), kRecipientLater for a 4xx
  // reply to RCPT, else kTransient: no connection, time-out, refused login, a refusal of the greeting,
  // of the sender (MAIL FROM) or of the message (DATA), a 421 or mail-system refusal of RCPT, no
  // encryption to be had or a failed one.
  MailResult SendMail(const std::string& recipient, const std::string& subject, const std::string& body) override;

 private:
  MailAccount account_;
  int connectTimeoutSeconds_;
  int totalTimeoutSeconds_;
};

// The subject as a header value: as it is when pure ASCII, else RFC 2047 B-encoded
// words in gb2312 (never splitting a two-byte character), folded with CR LF SP.
std::string EncodeMailSubject(std::string_view gbkSubject);

// RFC 2822 date of a moment in local time, e.g. "Mon, 7 Dec 2026 21:14:40 +0800".
std::string MailDateText(std::time_t moment);

// The body base64-encoded in lines of 76 characters, each ending in CR LF.
std::string MailBodyBase64(std::string_view body);

// The whole message (headers, blank line, base64 body) with CR LF line ends.
std::string BuildMailMessage(std::string_view from, std::string_view to, std::string_view subject,
                             std::string_view body, std::time_t moment);

}  // namespace torvane
