#include <gtest/gtest.h>

#include <functional>

#include "notify/notices.h"
#include "support/market_sim.h"
#include "support/raw_http_server.h"

namespace torvane {
namespace {

// Every channel writes into one journal, so the tests see the order of the channels.
struct Journal {
  std::vector<std::string> events;
};

class JournalLog : public ActivityLogger {
 public:
  explicit JournalLog(Journal& j) : journal_(j) {}
  void LogActivity(std::string_view message) override { journal_.events.push_back("log|" + std::string(message)); }

 private:
  Journal& journal_;
};

class JournalUi : public NoticeUi {
 public:
  explicit JournalUi(Journal& j) : journal_(j) {}
  void ShowTrayBalloon(const std::string& title, const std::string& text, int iconKind, int timeoutMs) override {
    journal_.events.push_back("balloon|" + title + "|" + text + "|" + std::to_string(iconKind) + "|" +
                              std::to_string(timeoutMs));
  }
  int ShowNotice(const std::string&, int, const std::string&) override {
    journal_.events.push_back("notice");
    return 0;
  }

 private:
  Journal& journal_;
};

class JournalMail : public MailSender {
 public:
  explicit JournalMail(Journal& j) : journal_(j) {}
  MailResult SendMail(const std::string& recipient, const std::string& subject, const std::string& body) override {
    if (beforeSend) beforeSend();
    journal_.events.push_back("mail|" + recipient + "|" + subject + "|" + body);
    return {!recipient.empty(), recipient.empty() ? "empty" : ""};
  }
  std::function<void()> beforeSend;

 private:
  Journal& journal_;
};

class NoticesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = test::MarketSim::Start();
    ASSERT_NE(sim_, nullptr);
    ASSERT_TRUE(sim_->SetImAccounts({{"13800001111", "right-pw"}}));
    deployment_.smsServiceAddress = sim_->BaseUrl();
    deployment_.connectTimeoutSeconds = 2;
    deployment_.totalTimeoutSeconds = 5;
    base_.smsAccount = "13800001111";
    base_.smsPassword = "right-pw";
    base_.noticeMailbox = "seller@example.test";
  }
  Notices Make() { return Notices(settings_, log_, ui_, mail_, deployment_); }

  std::unique_ptr<test::MarketSim> sim_;
  Deployment deployment_;
  Settings base_;
  FixedSettings settings_{Settings{}};
  Journal journal_;
  JournalLog log_{journal_};
  JournalUi ui_{journal_};
  JournalMail mail_{journal_};
};

TEST_F(NoticesTest, SoftwareOnlyGivesOneLineAndOneBalloonAndNoTraffic) {
  Settings s = base_;
  s.deliveredSoftware = true;
  s.outOfStockSoftware = true;
  settings_.Set(s);
  Notices notices = Make();
  notices.NotifyDelivered("宝贝名称:[点卡]  已经通过:[旺旺发送]发送宝贝");
  notices.NotifyOutOfStock("宝贝名称: 点卡库存不足");
  EXPECT_EQ(journal_.events, (std::vector<std::string>{
                                 "log|宝贝名称:[点卡]  已经通过:[旺旺发送]发送宝贝",
                                 "balloon|发货提示|宝贝名称:[点卡]  已经通过:[旺旺发送]发送宝贝|1|3000",
                                 "log|宝贝名称: 点卡库存不足",
                                 "balloon|库存不足|宝贝名称: 点卡库存不足|1|3000",
                             }));
  EXPECT_EQ(sim_->Count("imLogins"), 0u);
}

TEST_F(NoticesTest, NothingTickedDoesNothingAtAll) {
  settings_.Set(base_);
  Notices notices = Make();
  notices.NotifyDelivered("x");
  notices.NotifyOutOfStock("y");
  EXPECT_TRUE(journal_.events.empty());
  EXPECT_EQ(sim_->Count("imLogins"), 0u);
  EXPECT_TRUE(sim_->Sms().empty());
}

TEST_F(NoticesTest, AllChannelsRunInOrderSoftwareThenSmsThenMailThenRobot) {
  Settings s = base_;
  s.outOfStockSoftware = s.outOfStockSms = s.outOfStockMail = s.outOfStockRobot = true;
  s.deliveredRobot = true;
  s.robotAddress = sim_->BaseUrl() + "/robot/send?key=k";
  settings_.Set(s);
  std::size_t smsBeforeMail = 99, robotBeforeMail = 99;
  mail_.beforeSend = [&] {
    smsBeforeMail = sim_->Sms().size();
    robotBeforeMail = sim_->RobotMessages().size();
  };
  Notices notices = Make();
  notices.NotifyOutOfStock("宝贝名称: 点卡库存不足");
  notices.NotifyProblem("登录已失效 请重新登录淘宝");  // the out-of-stock channels, its own title

  EXPECT_EQ(journal_.events, (std::vector<std::string>{
                                 "log|宝贝名称: 点卡库存不足",
                                 "balloon|库存不足|宝贝名称: 点卡库存不足|1|3000",
                                 "mail|seller@example.test|库存不足|宝贝名称: 点卡库存不足",
                                 "log|登录已失效 请重新登录淘宝",
                                 "balloon|发货异常|登录已失效 请重新登录淘宝|1|3000",
                                 "mail|seller@example.test|发货异常|登录已失效 请重新登录淘宝",
                             }));
  EXPECT_EQ(smsBeforeMail, 2u);    // each notice: its SMS before its mail
  EXPECT_EQ(robotBeforeMail, 1u);  // and its robot message after it
  auto sms = sim_->Sms();
  ASSERT_EQ(sms.size(), 2u);
  EXPECT_TRUE(sms[0].success);
  EXPECT_EQ(sms[0].text, "宝贝名称: 点卡库存不足");
  EXPECT_EQ(sms[1].text, "登录已失效 请重新登录淘宝");
  EXPECT_EQ(sim_->Count("imLogouts"), 2u);

  // Whatever a notice holds (a buyer's name, an item title) reaches the group as written.
  const std::string odd = "买家:[a\"b\\c]\r\n\t\x01末尾 /<>&";
  notices.NotifyDelivered(odd);
  auto posted = sim_->RobotMessages();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].content, "【库存不足】宝贝名称: 点卡库存不足");
  EXPECT_EQ(posted[1].content, "【发货异常】登录已失效 请重新登录淘宝");
  EXPECT_TRUE(posted[2].validJson && posted[2].validUtf8) << posted[2].body;
  EXPECT_EQ(posted[2].content, "【发货通知】" + odd);
  EXPECT_EQ(posted[2].errcode, 0);
}

TEST_F(NoticesTest, WrongSmsCredentialsStaySilentAndMailStillGoesOut) {
  Settings s = base_;
  s.smsPassword = "wrong";
  s.deliveredSms = s.deliveredMail = true;
  settings_.Set(s);
  Notices notices = Make();
  notices.NotifyDelivered("delivered");
  EXPECT_EQ(journal_.events, (std::vector<std::string>{"mail|seller@example.test|发货通知|delivered"}));
  EXPECT_EQ(sim_->Count("imLogins"), 1u);
  EXPECT_EQ(sim_->Count("imLogouts"), 1u);
  ASSERT_EQ(sim_->Sms().size(), 1u);
  EXPECT_FALSE(sim_->Sms()[0].success);
}

TEST_F(NoticesTest, SettingsAreReadWhenEachNoticeIsRaised) {
  Settings s = base_;
  s.deliveredMail = true;
  settings_.Set(s);
  Notices notices = Make();
  notices.NotifyDelivered("first");
  s.noticeMailbox = "other@example.test";
  settings_.Set(s);
  notices.NotifyDelivered("second");
  s.deliveredMail = false;
  settings_.Set(s);
  notices.NotifyDelivered("third");
  s.noticeMailbox.clear();
  s.outOfStockMail = true;
  settings_.Set(s);
  notices.NotifyOutOfStock("fourth");  // an empty mailbox is handed on; the sender refuses it silently
  EXPECT_EQ(journal_.events, (std::vector<std::string>{"mail|seller@example.test|发货通知|first",
                                                       "mail|other@example.test|发货通知|second",
                                                       "mail||库存不足|fourth"}));
}

TEST_F(NoticesTest, DeadSmsServiceDoesNotStopTheMail) {
  test::RawHttpServer gone;
  deployment_.smsServiceAddress = gone.BaseUrl();
  gone.Stop();
  Settings s = base_;
  s.deliveredSoftware = s.deliveredSms = s.deliveredMail = true;
  settings_.Set(s);
  Notices notices = Make();
  notices.NotifyDelivered("d");
  ASSERT_EQ(journal_.events.size(), 3u);
  EXPECT_EQ(journal_.events[2], "mail|seller@example.test|发货通知|d");
}

}  // namespace
}  // namespace torvane
