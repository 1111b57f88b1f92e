#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <set>
#include <thread>

#include "notify/mail.h"
#include "notify/password.h"
#include "notify/test_buttons.h"
#include "support/deadline.h"
#include "support/smtp_server.h"
#include "base/text.h"

namespace torvane {
namespace {

using test::SmtpServerOptions;
using test::SmtpTestServer;

std::string Unbase64(const std::string& text) {
  std::string compact;
  for (char c : text) {
    if (c != '\r' && c != '\n') compact += c;
  }
  std::string out;
  EXPECT_TRUE(Base64Decode(compact, &out)) << text;
  return out;
}

MailAccount AccountFor(const SmtpTestServer& server) {
  MailAccount account;
  account.server = "127.0.0.1";
  account.port = server.port();
  account.fromAddress = "notices@torvane.test";
  account.userName = server.options().user;
  account.passwordObfuscated = ObfuscateMailPassword(server.options().password);
  account.encryption = MailEncryption::kNone;
  return account;
}

// A listening socket that never accepts nor greets: a server that hangs.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 4);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentListener() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port nobody listens on (bound, then closed).
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

TEST(MailPassword, StoredFormHidesThePasswordAndRevealsItAgain) {
  for (std::string plain : {std::string("a1234567"), std::string("口令Ab9!"), std::string()}) {
    std::string stored = ObfuscateMailPassword(plain);
    EXPECT_TRUE(IsObfuscatedMailPassword(stored));
    if (!plain.empty()) {
      EXPECT_EQ(stored.find(plain), std::string::npos);
    }
    EXPECT_EQ(RevealMailPassword(stored), plain);
  }
  // A hand-written plain value is used as it is; a damaged stored value gives nothing.
  EXPECT_EQ(RevealMailPassword("plainpw1"), "plainpw1");
  EXPECT_FALSE(IsObfuscatedMailPassword("plainpw1"));
  EXPECT_EQ(RevealMailPassword("obf:@@@"), "");
}

TEST(MailPassword, Base64MatchesTheStandardVectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}, {std::string("\xff\xfe\x00", 3), "//4A"}};
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Base64Encode(plain), encoded);
    std::string back;
    EXPECT_TRUE(Base64Decode(encoded, &back));
    EXPECT_EQ(back, plain);
  }
  std::string out;
  EXPECT_FALSE(Base64Decode("Zm9", &out));
  EXPECT_FALSE(Base64Decode("Zm9*", &out));
}

TEST(MailMessage, SubjectIsEncodedOnlyWhenNotAsciiAndWordsStayShortAndWhole) {
  EXPECT_EQ(EncodeMailSubject("Test 1"), "Test 1");
  std::string chinese = "发货通知";
  std::string encoded = EncodeMailSubject(chinese);
  EXPECT_EQ(encoded, "=?gb2312?B?" + Base64Encode(chinese) + "?=");
  EXPECT_EQ(test::DecodeEncodedWords(encoded), chinese);

  // A long mixed subject: every encoded word at most 75 characters, each holding whole characters.
  std::string longSubject;
  for (int i = 0; i < 20; ++i) longSubject += "库存a";
  std::string folded = EncodeMailSubject(longSubject);
  std::size_t words = 0;
  for (const auto& line : SplitText(folded, "\r\n")) {
    std::string word = Trim(line);
    EXPECT_LE(word.size(), 75u);
    ASSERT_EQ(word.rfind("=?gb2312?B?", 0), 0u);
    std::string bytes = Unbase64(word.substr(11, word.size() - 13));
    std::size_t pos = 0;
    while (pos < bytes.size()) pos += CharLengthAt(bytes, pos);
    EXPECT_EQ(pos, bytes.size()) << "a character is split between words";
    ++words;
  }
  EXPECT_GT(words, 1u);
  EXPECT_EQ(test::DecodeEncodedWords(ReplaceAll(folded, "\r\n", "")), longSubject);
}

TEST(MailMessage, HeadersBodyLinesAndCharset) {
  std::time_t moment = 1'700'000'000;
  std::string body(200, 'x');
  std::string ascii = BuildMailMessage("a@b.test", "c@d.test", "Hi", body, moment);
  EXPECT_EQ(test::MailHeader(ascii, "Content-Type"), "text/plain; charset=\"us-ascii\"");
  EXPECT_EQ(test::MailHeader(ascii, "Content-Transfer-Encoding"), "base64");
  EXPECT_EQ(test::MailHeader(ascii, "MIME-Version"), "1.0");
  EXPECT_EQ(test::MailHeader(ascii, "From"), "a@b.test");
  EXPECT_EQ(test::MailHeader(ascii, "To"), "c@d.test");
  // "Tue, 14 Nov 2023 22:13:20 +0000": day name, day, month name, year, time, zone.
  auto parts = SplitText(test::MailHeader(ascii, "Date"), " ");
  ASSERT_EQ(parts.size(), 6u) << test::MailHeader(ascii, "Date");
  EXPECT_NE(std::string("Sun,Mon,Tue,Wed,Thu,Fri,Sat,").find(parts[0]), std::string::npos);
  EXPECT_EQ(parts[0].size(), 4u);
  EXPECT_TRUE(LeadingNumber(parts[1]) >= 1 && LeadingNumber(parts[1]) <= 31);
  EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(parts[2]), std::string::npos);
  EXPECT_EQ(parts[2].size(), 3u);
  EXPECT_EQ(parts[3], "2023");
  EXPECT_EQ(parts[4].size(), 8u);
  EXPECT_EQ(parts[4][2], ':');
  ASSERT_EQ(parts[5].size(), 5u);
  EXPECT_TRUE(parts[5][0] == '+' || parts[5][0] == '-');
  {
    // The exact text in a known zone (the zone is put back afterwards).
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_EQ(MailDateText(moment), "Tue, 14 Nov 2023 22:13:20 +0000");
    setenv("TZ", "CST-8", 1);
    tzset();
    EXPECT_EQ(MailDateText(moment), "Wed, 15 Nov 2023 06:13:20 +0800");
    if (old) {
      setenv("TZ", saved.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string encodedBody = test::MailBodyPart(ascii);
  for (const auto& line : SplitText(encodedBody, "\r\n")) EXPECT_LE(line.size(), 76u);
  EXPECT_EQ(Unbase64(encodedBody), body);
  // No bare LF anywhere: every line end is CR LF.
  EXPECT_EQ(ReplaceAll(ascii, "\r\n", "").find('\n'), std::string::npos);

  std::string gbk = BuildMailMessage("a@b.test", "c@d.test", "Hi", "卡号: 1\r\n", moment);
  EXPECT_EQ(test::MailHeader(gbk, "Content-Type"), "text/plain; charset=\"gb2312\"");
}

class MailServerTest : public ::testing::Test {
 protected:
  void Start(SmtpServerOptions options = {}) {
    server_ = std::make_unique<SmtpTestServer>(options);
    ASSERT_TRUE(server_->running()) << server_->error();
  }
  std::unique_ptr<SmtpTestServer> server_;
};

TEST_F(MailServerTest, ChineseNoticeArrivesWholeWithOneRecipientAfterLoginAuth) {
  Start();
  SmtpMailSender sender(AccountFor(*server_), 5, 20);
  std::string body = "\r\n\r\n感谢您的购买\r\n\r\n卡号: A001  卡密: 9f8e\r\n\r\n备注：请及时充值";
  MailResult result = sender.SendMail("seller@example.test", "发货通知", body);
  ASSERT_TRUE(result.accepted) << GbkToUtf8(result.reason);

  auto mails = server_->Messages();
  ASSERT_EQ(mails.size(), 1u);
  const auto& mail = mails[0];
  EXPECT_EQ(mail.from, "notices@torvane.test");
  EXPECT_EQ(mail.recipients, std::vector<std::string>{"seller@example.test"});
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(mail.helo, host);  // greeted with this machine's name
  EXPECT_EQ(test::DecodeEncodedWords(test::MailHeader(mail.data, "Subject")), "发货通知");
  EXPECT_EQ(test::MailHeader(mail.data, "To"), "seller@example.test");
  EXPECT_EQ(test::MailHeader(mail.data, "Content-Type"), "text/plain; charset=\"gb2312\"");
  EXPECT_EQ(Unbase64(test::MailBodyPart(mail.data)), body);
  EXPECT_EQ(test::MailHeader(mail.data, "Cc"), "");

  auto logins = server_->Logins();
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].mechanism, "LOGIN");
  EXPECT_TRUE(logins[0].ok);
}

TEST_F(MailServerTest, PlainLoginIsUsedWhenTheServerOffersNothingElse) {
  SmtpServerOptions options;
  options.onlyPlain = true;
  Start(options);
  SmtpMailSender sender(AccountFor(*server_), 5, 20);
  MailResult result = sender.SendMail("seller@example.test", "Test", "plain text");
  ASSERT_TRUE(result.accepted) << GbkToUtf8(result.reason);
  auto logins = server_->Logins();
  ASSERT_EQ(logins.size(), 1u);
  EXPECT_EQ(logins[0].mechanism, "PLAIN");
  ASSERT_EQ(server_->Messages().size(), 1u);
  EXPECT_EQ(test::MailHeader(server_->Messages()[0].data, "Subject"), "Test");
  EXPECT_EQ(test::MailHeader(server_->Messages()[0].data, "Content-Type"), "text/plain; charset=\"us-ascii\"");
}

TEST_F(MailServerTest, RefusalsAreFailuresWithTheirReason) {
  Start();
  MailAccount wrong = AccountFor(*server_);
  wrong.passwordObfuscated = ObfuscateMailPassword("not-the-password");
  MailResult login = SmtpMailSender(wrong, 5, 20).SendMail("seller@example.test", "测试", "测试");
  EXPECT_FALSE(login.accepted);
  EXPECT_EQ(login.failure, MailFailure::kTransient);
  EXPECT_EQ(login.reason.rfind(std::string(kMailLoginFailed) + ": 535 ", 0), 0u) << GbkToUtf8(login.reason);
  EXPECT_TRUE(server_->Messages().empty());

  // A buyer message used whole as the address is not a deliverable recipient.
  MailResult sentence =
      SmtpMailSender(AccountFor(*server_), 5, 20).SendMail("请发到 buyer@qq.com 谢谢", "您购买的宝贝送到", "x");
  EXPECT_FALSE(sentence.accepted);
  EXPECT_TRUE(server_->Messages().empty());
}

TEST_F(MailServerTest, EachRefusalSaysWhetherTheSameMailMayBeSentAgain) {
  Start();
  struct Row {
    test::SmtpReplies replies;
    MailFailure failure;
    std::string reason;  // the beginning of the reason
  };
  const std::string refused = std::string(kMailRefused) + ": ";
  const Row rows[] = {
      // RCPT: this address, unless the reply speaks of the server (421, X.3.Y).
      {{"550 5.1.1 No such user", "", ""}, MailFailure::kRecipient, refused + "550 5.1.1 No such user"},
      {{"450 4.2.1 Busy", "", ""}, MailFailure::kRecipientLater, refused + "450 4.2.1 Busy"},
      {{"450 4.1.2 Domain not found", "", ""}, MailFailure::kRecipientLater, refused + "450 4.1.2"},
      {{"421 4.3.2 Closing", "", ""}, MailFailure::kTransient, refused + "421 4.3.2 Closing"},
      {{"452 4.3.1 Full", "", ""}, MailFailure::kTransient, refused + "452 4.3.1 Full"},
      {{"451 4.3.0 Later", "", ""}, MailFailure::kTransient, refused + "451 4.3.0 Later"},
      // The seller's own address and the message are refused for everyone.
      {{"", "", "", "553 5.7.1 Sender refused"}, MailFailure::kTransient, refused + "553 5.7.1 Sender refused"},
      {{"", "", "", "451 4.7.1 Later"}, MailFailure::kTransient, refused + "451 4.7.1 Later"},
      {{"", "554 5.6.0 Message refused", ""}, MailFailure::kTransient, refused + "554 5.6.0 Message refused"},
      {{"", "451 4.3.0 Later", ""}, MailFailure::kTransient, refused + "451 4.3.0 Later"},
      {{"", "421 4.3.2 Closing", ""}, MailFailure::kTransient, refused + "421 4.3.2 Closing"},
      {{"", "450 4.2.1 Busy", ""}, MailFailure::kTransient, refused + "450 4.2.1 Busy"},
      {{"", "452 4.3.1 Full", ""}, MailFailure::kTransient, refused + "452 4.3.1 Full"},
      {{"", "", "535 5.7.8 Bad credentials"}, MailFailure::kTransient,
       std::string(kMailLoginFailed) + ": 535 5.7.8 Bad credentials"},
      {{"", "", "454 4.7.0 Try later"}, MailFailure::kTransient, std::string(kMailLoginFailed) + ": 454 4.7.0"},
  };
  SmtpMailSender sender(AccountFor(*server_), 5, 20);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reason);
    ASSERT_TRUE(server_->SetReplies(row.replies));
    MailResult result = sender.SendMail("seller@example.test", "库存不足", "x");
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.failure, row.failure);
    EXPECT_EQ(result.reason.rfind(row.reason, 0), 0u) << GbkToUtf8(result.reason);
  }
  EXPECT_TRUE(server_->Messages().empty());
  ASSERT_TRUE(server_->SetReplies({}));
  EXPECT_EQ(sender.SendMail("seller@example.test", "库存不足", "x").failure, MailFailure::kNone);

  // Down: connections refused, then the same port serves again.
  server_->Stop();
  MailResult down = sender.SendMail("seller@example.test", "库存不足", "x");
  EXPECT_EQ(down.failure, MailFailure::kTransient);
  EXPECT_EQ(down.reason.rfind(std::string(kMailNoConnection), 0), 0u) << GbkToUtf8(down.reason);
  ASSERT_TRUE(server_->Restart()) << server_->error();
  EXPECT_TRUE(sender.SendMail("seller@example.test", "库存不足", "x").accepted);
  EXPECT_EQ(server_->Messages().size(), 2u);
}

TEST_F(MailServerTest, ConcurrentSendersEachDeliverTheirOwnMessage) {
  Start();
  SmtpMailSender sender(AccountFor(*server_), 5, 20);
  std::vector<std::thread> threads;
  std::vector<int> accepted(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2; ++i) {
        std::string tag = std::to_string(t) + "-" + std::to_string(i);
        if (sender.SendMail("seller" + tag + "@example.test", "通知 " + tag, "正文 " + tag).accepted) ++accepted[t];
      }
    });
  }
  test::JoinWithin(threads, "the sending threads");
  EXPECT_EQ(accepted, std::vector<int>(4, 2));
  std::set<std::string> seen;
  for (const auto& mail : server_->Messages()) {
    ASSERT_EQ(mail.recipients.size(), 1u);
    std::string tag = mail.recipients[0].substr(6, mail.recipients[0].find('@') - 6);
    EXPECT_EQ(test::DecodeEncodedWords(test::MailHeader(mail.data, "Subject")), "通知 " + tag);
    EXPECT_EQ(Unbase64(test::MailBodyPart(mail.data)), "正文 " + tag);
    seen.insert(tag);
  }
  EXPECT_EQ(seen.size(), 8u);
}

TEST_F(MailServerTest, BadRecipientOrSubjectNeverReachesTheServer) {
  Start();
  SmtpMailSender sender(AccountFor(*server_), 5, 20);
  EXPECT_EQ(sender.SendMail("", "发货通知", "x").reason, kMailNoRecipient);
  EXPECT_EQ(sender.SendMail("a@b.test\r\nRCPT TO:<c@d.test>", "s", "x").reason, kMailBadHeader);
  EXPECT_EQ(sender.SendMail("a@b.test", "s\r\nBcc: c@d.test", "x").reason, kMailBadHeader);
  EXPECT_EQ(sender.SendMail("a@b.test", "s\nX: y", "x").reason, kMailBadHeader);
  // Unencrypted mail goes to a server on this machine only, whatever the deployment check let through
  // (0.0.0.0 would reach this server through the loopback all the same).
  MailAccount elsewhere = AccountFor(*server_);
  elsewhere.server = "0.0.0.0";
  const MailResult cleartext = SmtpMailSender(elsewhere, 5, 20).SendMail("a@b.test", "s", "x");
  EXPECT_EQ(cleartext.failure, MailFailure::kTransient);
  EXPECT_EQ(cleartext.reason, std::string(kMailCleartextRefused) + ": 0.0.0.0");
  EXPECT_TRUE(server_->Commands().empty());
  EXPECT_TRUE(server_->Logins().empty());
  EXPECT_TRUE(server_->Messages().empty());
}

// Mail is encrypted before the login or not sent at all: a server that will not encrypt, or whose
// certificate is not trusted, never sees the login nor the message, and the failure says why.
TEST(MailTls, NoLoginNorMessageWithoutTrustedEncryption) {
  struct Row {
    const char* what;
    test::SmtpTls server;
    MailEncryption client;
    bool trusted;        // the account names the server's certificate as its CA file
    std::string reason;  // the beginning of the reason; "" when the mail goes through
    std::string host = "127.0.0.1";  // the name the account gives the server (the certificate's is 127.0.0.1)
  };
  const std::string noStartTls = std::string(kMailNoStartTls) + ": ";
  const std::string tlsFailed = std::string(kMailTlsFailed) + ": ";
  const Row rows[] = {
      {"STARTTLS not offered", test::SmtpTls::kNone, MailEncryption::kStartTls, true, noStartTls},
      {"STARTTLS answered with 454", test::SmtpTls::kStartTlsRefused, MailEncryption::kStartTls, true,
       noStartTls + "454 4.7.0 TLS not available"},
      {"certificate of nobody trusted", test::SmtpTls::kStartTls, MailEncryption::kStartTls, false, tlsFailed},
      {"trusted certificate of another name", test::SmtpTls::kStartTls, MailEncryption::kStartTls, true, tlsFailed,
       "localhost"},
      {"TLS asked of a plain server", test::SmtpTls::kNone, MailEncryption::kImplicitTls, true, tlsFailed},
      {"STARTTLS, trusted", test::SmtpTls::kStartTls, MailEncryption::kStartTls, true, ""},
      {"smtps, trusted", test::SmtpTls::kImplicit, MailEncryption::kImplicitTls, true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SmtpServerOptions options;
    options.tls = row.server;
    SmtpTestServer server(options);
    ASSERT_TRUE(server.running()) << server.error();
    MailAccount account = AccountFor(server);
    account.server = row.host;
    account.encryption = row.client;
    if (row.trusted) account.caFile = server.certificateFile().string();
    MailResult result = SmtpMailSender(account, 5, 20).SendMail("buyer@example.test", "您购买的宝贝送到", "卡密: S1");
    const auto commands = server.Commands();
    if (row.reason.empty()) {
      ASSERT_TRUE(result.accepted) << GbkToUtf8(result.reason);
      EXPECT_EQ(server.Messages().size(), 1u);
      ASSERT_FALSE(commands.empty());
      for (const auto& command : commands) EXPECT_TRUE(command.overTls || command.verb == "STARTTLS") << command.verb;
      continue;
    }
    EXPECT_FALSE(result.accepted);
    EXPECT_EQ(result.failure, MailFailure::kTransient);
    EXPECT_EQ(result.reason.rfind(row.reason, 0), 0u) << GbkToUtf8(result.reason);
    EXPECT_TRUE(server.Logins().empty());
    EXPECT_TRUE(server.Messages().empty());
    for (const auto& command : commands) EXPECT_EQ(command.verb, "STARTTLS");
  }
}

TEST(MailUnreachable, ClosedPortOrSilentServerFailsAsNoConnection) {
  MailAccount account;
  account.server = "127.0.0.1";
  account.port = ClosedPort();
  account.fromAddress = "notices@torvane.test";
  account.userName = "u";
  MailResult closed = SmtpMailSender(account, 2, 3).SendMail("a@b.test", "s", "x");
  EXPECT_FALSE(closed.accepted);
  EXPECT_EQ(closed.failure, MailFailure::kTransient);
  EXPECT_EQ(closed.reason.rfind(std::string(kMailNoConnection), 0), 0u);

  SilentListener silent;
  account.port = silent.port();
  MailResult hung = SmtpMailSender(account, 1, 1).SendMail("a@b.test", "s", "x");
  EXPECT_FALSE(hung.accepted);
  EXPECT_EQ(hung.failure, MailFailure::kTransient);
  EXPECT_EQ(hung.reason.rfind(std::string(kMailNoConnection), 0), 0u);
}

// Records what a test button hands to the mail sender.
class RecordingMail : public MailSender {
 public:
  MailResult SendMail(const std::string& recipient, const std::string& subject, const std::string& body) override {
    calls.push_back({recipient, subject, body});
    return next;
  }
  std::vector<std::vector<std::string>> calls;
  MailResult next;
};

TEST(TestMailButton, EmptyMailboxWarnsAndSendsNothingOtherwiseTellsTheOutcome) {
  Settings settings;
  RecordingMail mail;
  EXPECT_EQ(SendTestMail(settings, mail), "请将信息填写完整");
  EXPECT_TRUE(mail.calls.empty());

  settings.noticeMailbox = "seller@example.test";
  mail.next = {true, ""};
  EXPECT_EQ(SendTestMail(settings, mail), "邮件已经发送,请仔细检查收信邮箱");
  ASSERT_EQ(mail.calls.size(), 1u);
  EXPECT_EQ(mail.calls[0], (std::vector<std::string>{"seller@example.test", "测试", "测试"}));

  mail.next = {false, std::string(kMailLoginFailed)};
  std::string failed = SendTestMail(settings, mail);
  EXPECT_EQ(failed.rfind("邮件发送失败", 0), 0u);
  EXPECT_NE(failed.find(std::string(kMailLoginFailed)), std::string::npos);
}

TEST_F(MailServerTest, TestMailButtonReachesTheRealServer) {
  Start();
  SmtpMailSender sender(AccountFor(*server_), 5, 20);
  Settings settings;
  settings.noticeMailbox = "seller@example.test";
  EXPECT_EQ(SendTestMail(settings, sender), "邮件已经发送,请仔细检查收信邮箱");
  ASSERT_EQ(server_->Messages().size(), 1u);
  EXPECT_EQ(test::DecodeEncodedWords(test::MailHeader(server_->Messages()[0].data, "Subject")), "测试");
}

}  // namespace
}  // namespace torvane
