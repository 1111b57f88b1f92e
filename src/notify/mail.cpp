#include "notify/mail.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>
#include <optional>

#include "notify/password.h"
#include "platform/process.h"
#include "base/system.h"
#include "base/text.h"
#include "base/web_address.h"

namespace torvane {

namespace {

// Raw bytes of one B-encoded word: 45 bytes become 60 base64 characters, and with
// "=?gb2312?B?" and "?=" the word stays under the 75 characters RFC 2047 allows.
constexpr std::size_t kWordBytes = 45;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::string LocalHostName() {
  std::string host = HostName();
  if (host.empty()) return "localhost";
  // Only characters that may stand in a host name and in a URL path.
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!ok) return "localhost";
  }
  return host;
}

// Feeds the prepared message to curl.
struct Upload {
  std::string_view data;
  std::size_t pos = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* up = static_cast<Upload*>(user);
  std::size_t room = size * count;
  std::size_t n = std::min(room, up->data.size() - up->pos);
  std::memcpy(buffer, up->data.data() + up->pos, n);
  up->pos += n;
  return n;
}

// What the server said during one attempt, gathered from curl's protocol trace.
int ReplyCode(std::string_view line) {
  if (line.size() < 3) return 0;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

int OnTrace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type == CURLINFO_HEADER_OUT || type == CURLINFO_HEADER_IN) {
    NoteSmtpTrace(*static_cast<SmtpExchange*>(user), type == CURLINFO_HEADER_OUT, std::string_view(data, size));
  }
  return 0;
}

// The server's reply as text fit for a GBK log line: printable ASCII only, at most 200 bytes.
std::string ReplyText(std::string_view reply) {
  std::string out;
  for (char c : reply.substr(0, 200)) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  return out;
}

// A refusal of RCPT that speaks of the server rather than of the address: 421 (the server is closing
// the connection) or an enhanced status code of the mail-system class (X.3.Y: full, not accepting mail).
bool AboutTheServer(std::string_view reply) {
  if (ReplyCode(reply) == 421) return true;
  const std::string_view status = reply.size() > 4 ? reply.substr(4) : std::string_view();
  return status.size() >= 4 && (status[0] == '4' || status[0] == '5') && status.substr(1, 3) == ".3.";
}

bool IsTlsError(CURLcode code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
      return true;
    default:
      return false;
  }
}

}  // namespace

void NoteSmtpTrace(SmtpExchange& exchange, bool outgoing, std::string_view text) {
  if (outgoing) {
    static constexpr std::string_view kVerbs[] = {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"};
    const std::string_view verb = text.substr(0, text.find_first_of(" \r\n"));
    for (std::string_view known : kVerbs) {
      if (verb == known) exchange.command = std::string(known);
    }
  } else {
    while (!text.empty()) {
      std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
      if (exchange.failedReply.empty() && ReplyCode(line) >= 400) {
        exchange.failedReply = std::string(line);
        exchange.failedCommand = exchange.command;
      }
    }
  }
}

MailResult ClassifyMailFailure(int curlCode, long smtpCode, const SmtpExchange& exchange, std::string_view curlError) {
  const auto code = static_cast<CURLcode>(curlCode);
  MailResult result;
  result.failure = MailFailure::kTransient;
  const int refused = ReplyCode(exchange.failedReply);
  const std::string detail = exchange.failedReply.empty() ? std::string(curl_easy_strerror(code))
                                                          : ReplyText(exchange.failedReply);
  const std::string curlDetail = ReplyText(!curlError.empty() ? curlError : std::string_view(curl_easy_strerror(code)));
  if (code == CURLE_USE_SSL_FAILED) {
    // STARTTLS not offered, or refused (then the server's reply says why).
    result.reason = std::string(kMailNoStartTls) + ": " +
                    (exchange.failedCommand == "STARTTLS" ? ReplyText(exchange.failedReply) : curlDetail);
  } else if (IsTlsError(code)) {
    result.reason = std::string(kMailTlsFailed) + ": " + curlDetail;
  } else if (refused >= 400 && exchange.failedCommand == "RCPT" && !AboutTheServer(exchange.failedReply)) {
    // This address only; every other refusal (greeting, login, MAIL FROM, DATA) is the server's.
    result.failure = refused >= 500 ? MailFailure::kRecipient : MailFailure::kRecipientLater;
    result.reason = std::string(kMailRefused) + ": " + detail;
  } else if (code == CURLE_LOGIN_DENIED || exchange.failedCommand == "AUTH") {
    result.reason = std::string(kMailLoginFailed) + ": " + detail;
  } else if (refused >= 400) {
    result.reason = std::string(kMailRefused) + ": " + detail;
  } else if (code == CURLE_OPERATION_TIMEDOUT && smtpCode != 0) {
    result.reason = std::string(kMailTimedOut) + ": " + detail;
  } else {
    // No reply at all (refused, unresolved, silent) or the connection broke off.
    result.reason = std::string(kMailNoConnection) + ": " + detail;
  }
  return result;
}

namespace {

std::string EncodeHeaderText(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  std::size_t pos = 0;
  while (pos < gbk.size()) {
    // Take whole characters up to kWordBytes bytes.
    std::size_t end = pos;
    while (end < gbk.size()) {
      std::size_t step = CharLengthAt(gbk, end);
      if (end + step - pos > kWordBytes) break;
      end += step;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?gb2312?B?" + Base64Encode(gbk.substr(pos, end - pos)) + "?=";
    pos = end;
  }
  return out;
}

}  // namespace

std::string EncodeMailSubject(std::string_view gbkSubject) { return EncodeHeaderText(gbkSubject); }

std::string MailDateText(std::time_t moment) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  long offsetSeconds = 0;
  LocalTime(moment, &local, &offsetSeconds);
  long offsetMinutes = offsetSeconds / 60;
  char sign = offsetMinutes < 0 ? '-' : '+';
  if (offsetMinutes < 0) offsetMinutes = -offsetMinutes;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7], local.tm_mday,
                kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, sign,
                offsetMinutes / 60, offsetMinutes % 60);
  return buf;
}

std::string MailBodyBase64(std::string_view body) {
  std::string encoded = Base64Encode(body);
  std::string out;
  out.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
  for (std::size_t pos = 0; pos < encoded.size(); pos += 76) {
    out.append(encoded, pos, 76);
    out += "\r\n";
  }
  return out;
}

std::string BuildMailMessage(std::string_view from, std::string_view to, std::string_view subject,
                             std::string_view body, std::time_t moment) {
  std::string m;
  m += "From: " + std::string(from) + "\r\n";
  m += "To: " + EncodeHeaderText(to) + "\r\n";
  m += "Subject: " + EncodeMailSubject(subject) + "\r\n";
  m += "Date: " + MailDateText(moment) + "\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += std::string("Content-Type: text/plain; charset=\"") + (IsAscii(body) ? "us-ascii" : "gb2312") + "\"\r\n";
  m += "Content-Transfer-Encoding: base64\r\n";
  m += "\r\n";
  m += MailBodyBase64(body);
  return m;
}

SmtpMailSender::SmtpMailSender(MailAccount account, int connectTimeoutSeconds, int totalTimeoutSeconds)
    : account_(std::move(account)),
      connectTimeoutSeconds_(connectTimeoutSeconds > 0 ? connectTimeoutSeconds : 15),
      totalTimeoutSeconds_(totalTimeoutSeconds > 0 ? totalTimeoutSeconds : 60) {}

MailResult SmtpMailSender::SendMail(const std::string& recipient, const std::string& subject,
                                    const std::string& body) {
  MailResult result;
  result.failure = MailFailure::kRecipient;
  if (recipient.empty()) {
    result.reason = std::string(kMailNoRecipient);
    return result;
  }
  // A line break in an envelope or header text would let the caller's text add
  // commands or headers of its own.
  if (HasLineBreak(recipient) || HasLineBreak(subject) || HasLineBreak(account_.fromAddress)) {
    result.reason = std::string(kMailBadHeader);
    return result;
  }
  result.failure = MailFailure::kTransient;
  if (account_.server.empty()) {
    result.reason = std::string(kMailNoConnection);
    return result;
  }

  const MailEncryption encryption = account_.encryption;
  if (encryption == MailEncryption::kNone && !IsLoopbackMailServer(account_.server)) {
    result.reason = std::string(kMailCleartextRefused) + ": " + account_.server;
    return result;
  }

  InitCurlOnce();
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    result.reason = std::string(kMailNoConnection);
    return result;
  }

  int port = account_.port > 0 ? account_.port : 25;
  // The server as the checks above read it; "localhost" is connected to without asking the resolver.
  const std::optional<std::string> host = NormaliseHost(account_.server);
  if (!host) {
    curl_easy_cleanup(curl);
    result.reason = std::string(kMailNoConnection) + ": " + account_.server;
    return result;
  }
  curl_slist* fixedAddresses = nullptr;
  if (const std::string fixed = FixedAddressesOf(*host); !fixed.empty()) {
    fixedAddresses = curl_slist_append(nullptr, (*host + ":" + std::to_string(port) + ":" + fixed).c_str());
  }
  // The path of an SMTP address is the name curl greets the server with.
  std::string url = std::string(encryption == MailEncryption::kImplicitTls ? "smtps://" : "smtp://") + *host + ":" +
                    std::to_string(port) + "/" + LocalHostName();
  std::string password = RevealMailPassword(account_.passwordObfuscated);
  const std::string caFile = GbkToUtf8(account_.caFile);
  std::string message = BuildMailMessage(account_.fromAddress, recipient, subject, body, std::time(nullptr));
  Upload upload{message, 0};

  curl_slist* recipients = curl_slist_append(nullptr, recipient.c_str());
  SmtpExchange exchange;
  char curlError[CURL_ERROR_SIZE];
  auto attempt = [&](const char* loginOptions, long* smtpCode) {
    upload.pos = 0;
    exchange = SmtpExchange{};
    curlError[0] = '\0';
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, OnTrace);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_RESOLVE, fixedAddresses);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeoutSeconds_));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(totalTimeoutSeconds_));
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     static_cast<long>(encryption == MailEncryption::kNone ? CURLUSESSL_NONE : CURLUSESSL_ALL));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (!account_.userName.empty()) {
      curl_easy_setopt(curl, CURLOPT_USERNAME, account_.userName.c_str());
      curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
      curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, loginOptions);
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, account_.fromAddress.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
    CURLcode code = curl_easy_perform(curl);
    *smtpCode = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, smtpCode);
    return code;
  };

  // AUTH LOGIN first. curl reports a server without LOGIN as a denied login too, but
  // then the last reply is the greeting's 250, not a refusal: try PLAIN on a new connection.
  long smtpCode = 0;
  CURLcode code = attempt("AUTH=LOGIN", &smtpCode);
  if (code == CURLE_LOGIN_DENIED && smtpCode < 400 && !account_.userName.empty()) {
    code = attempt("AUTH=PLAIN", &smtpCode);
  }
  curl_slist_free_all(recipients);
  curl_slist_free_all(fixedAddresses);
  curl_easy_cleanup(curl);

  if (code == CURLE_OK) {
    result.accepted = true;
    result.failure = MailFailure::kNone;
    return result;
  }
  return ClassifyMailFailure(code, smtpCode, exchange, curlError);
}

}  // namespace torvane
