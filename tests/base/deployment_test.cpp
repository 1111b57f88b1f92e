#include "base/deployment.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "base/text.h"

namespace torvane {
namespace {

using test::TempDir;
using test::WriteBytes;

TEST(Deployment, MissingFileKeepsEveryDefault) {
  TempDir dir;
  Deployment d = LoadDeployment(DeploymentPath(dir.path()));
  EXPECT_EQ(d.tradeHost, Deployment{}.tradeHost);
  EXPECT_EQ(d.shipper.name, Deployment{}.shipper.name);
  EXPECT_EQ(DeploymentPath(dir.path()).filename(), std::filesystem::path(u8"部署配置.ini"));
}

TEST(Deployment, ReadsEverySectionAndDropsTrailingSlashOfHosts) {
  TempDir dir;
  auto file = DeploymentPath(dir.path());
  WriteBytes(file,
             "[市场]\r\n登录主机=http://127.0.0.1:8080/\r\n个人主页主机=http://127.0.0.1:8081\r\n"
             "会员主机 = http://m:1// \r\n物流主机=http://w\r\n交易主机=http://t\r\n评价主机=http://r/\r\n"
             "[更新]\r\n公告页面=http://u/notes.htm?\r\n[短信]\r\n服务地址=http://127.0.0.1:9000/\r\n"
             "[网络]\r\n连接超时秒=3\r\n总超时秒=20\r\n[聊天]\r\n聊天窗口等待秒=7\r\nwineprefix=/opt/wine\r\n"
             "[邮件]\r\n服务器=127.0.0.1\r\n端口=2525\r\n发信地址=a@b.c\r\n用户名=user\r\n密码=XYZ\r\n"
             "[发货人]\r\n地区码一=86110000\r\n地区码二=110100\r\n姓名=李女士\r\n街道=某街\r\n"
             "详细地址=北京市某街\r\n分段地址=北京市^^^某街\r\n邮编=100000\r\n手机=13700000000\r\n"
             "[帮助]\r\n官网=http://h/\r\n帮助中心=http://h/help\r\n飞信注册=http://h/reg\r\n删除卡密=http://h/del\r\n[未知]\r\nx=1\r\n");
  Deployment d = LoadDeployment(file);
  EXPECT_EQ(d.loginHost, "http://127.0.0.1:8080");
  EXPECT_EQ(d.personalHost, "http://127.0.0.1:8081");
  EXPECT_EQ(d.memberHost, "http://m:1");
  EXPECT_EQ(d.tradeHost, "http://t");
  EXPECT_EQ(d.rateHost, "http://r");
  EXPECT_EQ(d.updateNoticePage, "http://u/notes.htm?");
  EXPECT_EQ(d.smsServiceAddress, "http://127.0.0.1:9000");
  EXPECT_EQ(d.connectTimeoutSeconds, 3);
  EXPECT_EQ(d.totalTimeoutSeconds, 20);
  EXPECT_EQ(d.chatWaitSeconds, 7);
  EXPECT_EQ(d.chatWinePrefix, "/opt/wine");
  EXPECT_EQ(d.mail.server, "127.0.0.1");
  EXPECT_EQ(d.mail.port, 2525);
  EXPECT_EQ(d.mail.passwordObfuscated, "XYZ");
  EXPECT_EQ(d.shipper.regionCode1, "86110000");
  EXPECT_EQ(d.shipper.name, "李女士");
  EXPECT_EQ(d.shipper.joinedAddress, "北京市^^^某街");
  EXPECT_EQ(d.shipper.mobile, "13700000000");
  EXPECT_EQ(d.helpCentre, "http://h/help");
  EXPECT_EQ(d.helpDeleteCards, "http://h/del");
}

TEST(Deployment, NumbersThatAreNotPositiveKeepTheDefault) {
  TempDir dir;
  auto file = DeploymentPath(dir.path());
  WriteBytes(file,
             "[网络]\n连接超时秒=0\n总超时秒=-5\n[聊天]\n聊天窗口等待秒=12abc\n"
             "[邮件]\n端口=99999999999999999999\n");
  Deployment d = LoadDeployment(file);
  Deployment defaults;
  EXPECT_EQ(d.connectTimeoutSeconds, defaults.connectTimeoutSeconds);
  EXPECT_EQ(d.totalTimeoutSeconds, defaults.totalTimeoutSeconds);
  EXPECT_EQ(d.chatWaitSeconds, defaults.chatWaitSeconds);
  EXPECT_EQ(d.mail.port, 25);

  WriteBytes(file, "[邮件]\n端口=70000\n[市场]\n登录主机=/\n");
  d = LoadDeployment(file);
  EXPECT_EQ(d.mail.port, 25);
  EXPECT_EQ(d.loginHost, defaults.loginHost);
}

TEST(Deployment, FilesSavedAsUtf8OrWithLoneCrAreUnderstoodAndSaid) {
  const std::string gbk = "[市场]\r\n交易主机=http://t/\r\n[发货人]\r\n姓名=王先生\r\n";
  const std::string crOnly = ReplaceAll(gbk, "\r\n", "\r");
  struct Row {
    const char* what;
    std::string bytes;
    bool said;
  };
  const std::vector<Row> rows = {
      {"GBK", gbk, false},
      {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + GbkToUtf8(gbk), true},
      {"UTF-8", GbkToUtf8(gbk), true},
      {"lone CR", crOnly, true},
      {"UTF-8, lone CR", GbkToUtf8(crOnly), true},
  };
  for (const auto& row : rows) {
    TempDir dir;
    auto file = DeploymentPath(dir.path());
    WriteBytes(file, row.bytes);
    std::string error = "stale";
    std::string note = "stale";
    Deployment d = LoadDeployment(file, &error, &note);
    EXPECT_TRUE(error.empty()) << row.what << ": " << error;
    EXPECT_EQ(d.tradeHost, "http://t") << row.what;
    EXPECT_EQ(d.shipper.name, "王先生") << row.what;
    EXPECT_EQ(!note.empty(), row.said) << row.what << ": " << note;
    if (row.said) {
      EXPECT_EQ(note.rfind("部署配置.ini ", 0), 0u) << note;
    }
  }
}

TEST(Deployment, FileThatExistsButYieldsNoKnownKeyIsAnError) {
  struct Row {
    const char* what;
    std::string bytes;
    bool isDirectory;
  };
  const std::vector<Row> rows = {
      {"empty", "", false},
      {"unknown keys only", "[市场]\r\n主机=http://x\r\n[其他]\r\n交易主机=http://t\r\n", false},
      {"UTF-16", std::string("\xFF\xFE[\0x\0]\0", 8), false},
      {"not readable as a file", "", true},
  };
  for (const auto& row : rows) {
    TempDir dir;
    auto file = DeploymentPath(dir.path());
    if (row.isDirectory) {
      std::filesystem::create_directory(file);
    } else {
      WriteBytes(file, row.bytes);
    }
    std::string error;
    Deployment d = LoadDeployment(file, &error);
    EXPECT_NE(error.find("部署配置"), std::string::npos) << row.what << ": " << error;
    EXPECT_EQ(d.tradeHost, Deployment{}.tradeHost) << row.what;
  }
  TempDir dir;
  std::string error = "stale";
  LoadDeployment(DeploymentPath(dir.path()), &error);
  EXPECT_TRUE(error.empty()) << "a missing file is no error: " << error;
}

TEST(Deployment, ServiceAddressesAreSecureUnlessOnThisMachine) {
  std::string error;
  EXPECT_TRUE(CheckDeploymentAddresses(Deployment{}, &error)) << GbkToUtf8(error);
  struct Role {
    std::string Deployment::*address;
    const char* key;
  };
  const Role roles[] = {
      {&Deployment::loginHost, "[市场] 登录主机"},   {&Deployment::personalHost, "[市场] 个人主页主机"},
      {&Deployment::memberHost, "[市场] 会员主机"},  {&Deployment::logisticsHost, "[市场] 物流主机"},
      {&Deployment::tradeHost, "[市场] 交易主机"},   {&Deployment::rateHost, "[市场] 评价主机"},
      {&Deployment::updateNoticePage, "[更新] 公告页面"}, {&Deployment::smsServiceAddress, "[短信] 服务地址"},
  };
  struct Row {
    const char* address;
    bool accepted;
  };
  const Row rows[] = {
      {"https://trade.example.com", true},   {"https://trade.example.com:8443/x?", true},
      {"http://127.0.0.1:8080", true},       {"http://127.5.0.1", true},
      {"HTTP://LOCALHOST:9/update.htm?", true}, {"http://[::1]:9", true},
      {"http://trade.example.com", false},   {"http://127.0.0.1.evil.example", false},
      {"http://localhost.evil.example", false}, {"http://128.0.0.1", false},
      {"http://10.0.0.1", false},            {"http://127.0.0.1@evil.example", false},
      {"https://user:pw@trade.example.com", false}, {"ftp://127.0.0.1", false},
      {"trade.example.com", false},          {"https://", false},
  };
  for (const Role& role : roles) {
    for (const Row& row : rows) {
      Deployment d;
      d.*role.address = row.address;
      error.clear();
      EXPECT_EQ(CheckDeploymentAddresses(d, &error), row.accepted) << role.key << " = " << row.address;
      if (!row.accepted) {
        EXPECT_NE(error.find(role.key), std::string::npos) << GbkToUtf8(error);
      }
    }
  }
}

// Mail is encrypted unless the file says otherwise, and it may say so only for this machine.
TEST(Deployment, MailEncryptionAndCleartextOnlyOnThisMachine) {
  struct Row {
    std::string keys;  // lines of [邮件]
    MailEncryption encryption;
    int port;
    bool loads;     // no error from LoadDeployment
    bool accepted;  // CheckDeploymentAddresses
  };
  const Row rows[] = {
      {"服务器=smtp.example.com\r\n", MailEncryption::kStartTls, 25, true, true},
      {"服务器=smtp.example.com\r\n加密=starttls\r\n", MailEncryption::kStartTls, 25, true, true},
      {"服务器=smtp.example.com\r\n加密=SSL\r\n", MailEncryption::kImplicitTls, 465, true, true},
      {"服务器=smtp.example.com\r\n端口=2465\r\n加密=ssl\r\n", MailEncryption::kImplicitTls, 2465, true, true},
      {"服务器=127.0.0.1\r\n加密=无\r\n", MailEncryption::kNone, 25, true, true},
      {"服务器=LocalHost\r\n加密=无\r\n", MailEncryption::kNone, 25, true, true},
      {"服务器=::1\r\n加密=无\r\n", MailEncryption::kNone, 25, true, true},
      {"服务器=smtp.example.com\r\n加密=无\r\n", MailEncryption::kNone, 25, true, false},
      {"服务器=127.0.0.1.example.com\r\n加密=无\r\n", MailEncryption::kNone, 25, true, false},
      {"服务器=smtp.example.com\r\n加密=none\r\n", MailEncryption::kStartTls, 25, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(GbkToUtf8(row.keys));
    TempDir dir;
    WriteBytes(DeploymentPath(dir.path()), "[邮件]\r\n" + row.keys);
    std::string error;
    Deployment d = LoadDeployment(DeploymentPath(dir.path()), &error);
    EXPECT_EQ(error.empty(), row.loads) << GbkToUtf8(error);
    if (!row.loads) {
      EXPECT_NE(error.find("[邮件] 加密"), std::string::npos) << GbkToUtf8(error);
    }
    EXPECT_EQ(d.mail.encryption, row.encryption);
    EXPECT_EQ(d.mail.port, row.port);
    error.clear();
    EXPECT_EQ(CheckDeploymentAddresses(d, &error), row.accepted);
    if (!row.accepted) {
      EXPECT_NE(error.find("[邮件] 加密"), std::string::npos) << GbkToUtf8(error);
    }
  }
}

}  // namespace
}  // namespace torvane
