// The mail path's outside inputs: the mail server's replies as the sender reads them (NoteSmtpTrace,
// ClassifyMailFailure), the buyer's address taken from an order message (FirstMailAddress), and the
// message built for it (BuildMailMessage).
//
// Replies: the failure is the recipient's exactly when the first refusal (a reply line whose code is
// 400 or more) answers RCPT and does not speak of the server (421, enhanced status X.3.Y): kRecipient
// for 5xx, kRecipientLater for 4xx; else kTransient. The reason is one GBK line without control bytes that quotes
// the refusal. Message: CR LF line ends only, the seven headers in order, a subject in encoded words
// that never split a character, and a base64 body that decodes to the body.
#include <fuzzer/FuzzedDataProvider.h>

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "delivery/delivery_run.h"
#include "fuzz_check.h"
#include "notify/mail.h"
#include "notify/password.h"

using namespace torvane;

namespace {

int LeadingCode(std::string_view line) {
  if (line.size() < 3) return 0;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

std::string Printable(std::string_view reply) {
  std::string out;
  for (char c : reply.substr(0, 200)) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  return out;
}

void CheckReplies(FuzzedDataProvider& input) {
  static constexpr CURLcode kCodes[] = {CURLE_LOGIN_DENIED, CURLE_OPERATION_TIMEDOUT, CURLE_COULDNT_CONNECT,
                                        CURLE_RECV_ERROR,   CURLE_SEND_ERROR,         CURLE_WEIRD_SERVER_REPLY,
                                        CURLE_SSL_CONNECT_ERROR, CURLE_GOT_NOTHING,   CURLE_COULDNT_RESOLVE_HOST,
                                        CURLE_USE_SSL_FAILED,    CURLE_PEER_FAILED_VERIFICATION};
  const CURLcode code = input.PickValueInArray(kCodes);
  const long smtpCode = input.ConsumeIntegralInRange<long>(0, 999);

  const std::string curlError = input.ConsumeRandomLengthString(300);
  SmtpExchange exchange;
  std::string command;         // the model: verb of the last command sent
  std::string firstRefusal;    // first reply line of code 400 or more
  std::string refusedCommand;  // the command it answered
  while (input.remaining_bytes() > 0) {
    const bool outgoing = input.ConsumeBool();
    const std::string chunk = input.ConsumeRandomLengthString(160);
    NoteSmtpTrace(exchange, outgoing, chunk);
    if (outgoing) {
      const std::string verb = chunk.substr(0, chunk.find_first_of(" \r\n"));
      for (std::string_view known : {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"}) {
        if (verb == known) command = verb;
      }
      continue;
    }
    std::size_t pos = 0;
    while (pos < chunk.size()) {
      const std::size_t nl = chunk.find('\n', pos);
      std::string line = chunk.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
      pos = nl == std::string::npos ? chunk.size() : nl + 1;
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      if (firstRefusal.empty() && LeadingCode(line) >= 400) {
        firstRefusal = line;
        refusedCommand = command;
      }
    }
  }

  const MailResult result = ClassifyMailFailure(code, smtpCode, exchange, curlError);
  FUZZ_CHECK(!result.accepted);
  // A connection that could not be encrypted never reached RCPT, whatever the trace says.
  const bool tlsCode = code == CURLE_USE_SSL_FAILED || code == CURLE_SSL_CONNECT_ERROR ||
                       code == CURLE_PEER_FAILED_VERIFICATION;
  const std::string status = firstRefusal.size() > 4 ? firstRefusal.substr(4, 4) : std::string();
  const bool aboutServer = LeadingCode(firstRefusal) == 421 ||
                           (status.size() == 4 && (status[0] == '4' || status[0] == '5') && status.substr(1) == ".3.");
  const bool recipientFault = !tlsCode && LeadingCode(firstRefusal) >= 400 && refusedCommand == "RCPT" && !aboutServer;
  const MailFailure expected = !recipientFault                       ? MailFailure::kTransient
                               : LeadingCode(firstRefusal) >= 500 ? MailFailure::kRecipient
                                                                  : MailFailure::kRecipientLater;
  FUZZ_CHECK(result.failure == expected);
  // One line for the log, in GBK, that says which kind of failure and quotes the server.
  FUZZ_CHECK(fuzz::NoControlBytes(result.reason));
  FUZZ_CHECK(FirstInvalidGbk(result.reason) == kNotFound);
  FUZZ_CHECK(result.reason.size() <= 400);
  bool known = false;
  for (std::string_view prefix :
       {kMailNoConnection, kMailLoginFailed, kMailRefused, kMailTimedOut, kMailNoStartTls, kMailTlsFailed}) {
    known = known || result.reason.starts_with(std::string(prefix) + ": ");
  }
  FUZZ_CHECK(known);
  // A failed encryption says so and quotes curl's error, or the server's refusal of STARTTLS.
  if (code == CURLE_USE_SSL_FAILED) {
    FUZZ_CHECK(result.reason.starts_with(std::string(kMailNoStartTls) + ": "));
    if (refusedCommand == "STARTTLS") FUZZ_CHECK(result.reason.ends_with(": " + Printable(firstRefusal)));
  } else if (code == CURLE_SSL_CONNECT_ERROR || code == CURLE_PEER_FAILED_VERIFICATION) {
    FUZZ_CHECK(result.reason.starts_with(std::string(kMailTlsFailed) + ": "));
  } else if (!firstRefusal.empty()) {
    FUZZ_CHECK(result.reason.ends_with(": " + Printable(firstRefusal)));
  }
  if (firstRefusal.empty() && code != CURLE_LOGIN_DENIED && refusedCommand.empty()) {
    FUZZ_CHECK(!result.reason.starts_with(std::string(kMailRefused)));
  }
}

bool OnlyCrLfLineEnds(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return false;
  }
  return true;
}

// The subject from its header value: encoded words decoded and joined, folding removed; splits gets
// where each word after the first begins in the decoded subject.
bool DecodeSubject(std::string_view value, std::string* out, std::vector<std::size_t>* splits) {
  out->clear();
  std::size_t pos = 0;
  while (pos < value.size()) {
    if (pos > 0) {
      if (value.substr(pos, 3) != "\r\n ") return false;
      pos += 3;
      splits->push_back(out->size());
    }
    if (value.substr(pos, 11) != "=?gb2312?B?") return false;
    const std::size_t end = value.find("?=", pos + 11);
    if (end == std::string_view::npos || end + 2 - pos > 75) return false;
    std::string bytes;
    if (!Base64Decode(value.substr(pos + 11, end - pos - 11), &bytes) || bytes.empty()) return false;
    *out += bytes;
    pos = end + 2;
  }
  return true;
}

void CheckMessage(const std::string& recipient, std::string subject, const std::string& body) {
  // SendMail refuses a recipient or subject with a line break before it builds anything.
  for (char& c : subject) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const std::string message = BuildMailMessage("shop@example.com", recipient, subject, body, 1700000000);
  FUZZ_CHECK(OnlyCrLfLineEnds(message));
  const std::size_t split = message.find("\r\n\r\n");
  FUZZ_CHECK(split != std::string::npos);
  const std::string_view headers = std::string_view(message).substr(0, split + 2);
  const std::string_view encodedBody = std::string_view(message).substr(split + 4);

  static constexpr std::string_view kNames[] = {"From: ", "To: ", "Subject: ", "Date: ", "MIME-Version: ",
                                                "Content-Type: ", "Content-Transfer-Encoding: "};
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (pos < headers.size()) {
    const std::size_t end = headers.find("\r\n", pos);
    const std::string_view line = headers.substr(pos, end - pos);
    if (!line.empty() && line.front() == ' ') {
      FUZZ_CHECK(!fields.empty());
      fields.back() += "\r\n" + std::string(line);
    } else {
      fields.emplace_back(line);
    }
    pos = end + 2;
  }
  FUZZ_CHECK(fields.size() == 7);
  if (fields.size() != 7) return;
  for (std::size_t i = 0; i < 7; ++i) FUZZ_CHECK(fields[i].starts_with(kNames[i]));
  const std::string subjectValue = fields[2].substr(kNames[2].size());
  if (IsAscii(subject)) {
    FUZZ_CHECK(subjectValue == subject);
  } else {
    std::string decoded;
    std::vector<std::size_t> splits;
    FUZZ_CHECK(DecodeSubject(subjectValue, &decoded, &splits) && decoded == subject);
    // No word ends inside a two-byte character.
    const std::vector<bool> starts = fuzz::CharacterStarts(subject);
    for (std::size_t split : splits) FUZZ_CHECK(split < starts.size() && starts[split]);
  }

  std::string base64;
  pos = 0;
  while (pos < encodedBody.size()) {
    const std::size_t end = encodedBody.find("\r\n", pos);
    FUZZ_CHECK(end != std::string_view::npos && end - pos <= 76);
    base64 += encodedBody.substr(pos, end - pos);
    pos = end + 2;
  }
  std::string decodedBody;
  FUZZ_CHECK(Base64Decode(base64, &decodedBody) && decodedBody == body);
}

void CheckAddress(std::string_view message) {
  const std::optional<std::string> address = FirstMailAddress(message);
  if (!address) return;
  // One address made of address bytes, cut from the message, with a dotted domain.
  FUZZ_CHECK(message.find(*address) != std::string_view::npos);
  const std::size_t at = address->find('@');
  FUZZ_CHECK(at != std::string::npos && at > 0 && address->find('@', at + 1) == std::string::npos);
  for (char c : *address) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '%' || c == '+' || c == '-' || c == '@';
    FUZZ_CHECK(ok);
  }
  const std::string domain = address->substr(at + 1);
  FUZZ_CHECK(domain.find('.') != std::string::npos && domain.find("..") == std::string::npos);
  FUZZ_CHECK(domain.front() != '.' && domain.back() != '.' && domain.front() != '-' && domain.back() != '-');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string buyerMessage = input.ConsumeRandomLengthString(200);
  const std::string subject = input.ConsumeRandomLengthString(80);
  const std::string body = input.ConsumeRandomLengthString(300);

  CheckAddress(buyerMessage);
  const std::optional<std::string> recipient = FirstMailAddress(buyerMessage);
  CheckMessage(recipient.value_or("seller@example.com"), subject, body);
  CheckReplies(input);
  return 0;
}
