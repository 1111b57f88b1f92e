#include "base/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/ini.h"
#include "base/text.h"
#include "support/temp_dir.h"

namespace torvane {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

mode_t FileMode(const std::filesystem::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return st.st_mode & 0777;
}

Settings Everything() {
  Settings s;
  s.scanPeriod = "30秒";
  s.noticeMailbox = "seller@example.org";
  s.smsAccount = "13900000000";
  s.smsPassword = "pw=with;odd[chars]";
  s.deliverByMail = true;
  s.outOfStockSoftware = true;
  s.outOfStockMail = true;
  s.deliveredSms = true;
  s.autoRate = true;
  s.rateText = "好评，谢谢";
  s.signatureOn = true;
  s.signature = "小店签名";
  s.robotAddress = "https://chat.example.test/webhook/send?key=a1-b2&x=1";
  s.outOfStockRobot = true;
  return s;
}

// The file SaveSettings writes for these settings: equal files mean equal settings.
std::string Saved(const Settings& s) {
  TempDir dir;
  EXPECT_TRUE(SaveSettings(SettingsPath(dir.path()), s));
  return ReadBytes(SettingsPath(dir.path()));
}

TEST(ScanPeriod, TheFourChoices) {
  EXPECT_EQ(ScanPeriodMs("1分钟"), 60000);
  EXPECT_EQ(ScanPeriodMs("5分钟"), 300000);
  EXPECT_EQ(ScanPeriodMs("30秒"), 30000);
  EXPECT_EQ(ScanPeriodMs("3分钟"), 0);
  EXPECT_EQ(ScanPeriodMs(""), 0);
}

TEST(LoadSettings, MissingFileGivesDefaults) {
  TempDir dir;
  EXPECT_EQ(Saved(LoadSettings(SettingsPath(dir.path()))), Saved(Settings{}));
  EXPECT_EQ(SettingsPath(dir.path()).filename(), std::filesystem::path(u8"配置文件.ini"));
}

TEST(LoadSettings, PeriodOutsideTheChoicesKeepsOneMinute) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  WriteBytes(file, "[订单扫描]\r\n周期=30秒\r\n");
  EXPECT_EQ(LoadSettings(file).scanPeriod, "30秒");
  WriteBytes(file, "[订单扫描]\r\n周期=3分钟\r\n");
  EXPECT_EQ(LoadSettings(file).scanPeriod, "1分钟");
}

TEST(LoadSettings, OnlyExactTrueTextIsTrue) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  WriteBytes(file,
             "[发货方式]\r\n旺旺发货=1\r\n邮箱发货=true\r\n空发货=真 \r\n"
             "[无货通知自己]\r\n软件提示=真　\r\n短信提示=真\r\n邮件提示=假\r\n");
  Settings s = LoadSettings(file);
  EXPECT_FALSE(s.deliverByChat);
  EXPECT_FALSE(s.deliverByMail);
  EXPECT_FALSE(s.deliverEmpty);
  EXPECT_FALSE(s.outOfStockSoftware);
  EXPECT_TRUE(s.outOfStockSms);
  EXPECT_FALSE(s.outOfStockMail);
}

TEST(LoadSettings, SameKeyNamesInTwoSectionsStayApartAndCaseOfSectionsIsIgnored) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  WriteBytes(file,
             "[无货通知自己]\n软件提示=真\n[发货通知自己]\n短信提示=真\n"
             "[Unknown]\nx=1\n[邮箱设置]\n收信邮箱 =  a@b.c  \n");
  Settings s = LoadSettings(file);
  EXPECT_TRUE(s.outOfStockSoftware);
  EXPECT_FALSE(s.deliveredSoftware);
  EXPECT_FALSE(s.outOfStockSms);
  EXPECT_TRUE(s.deliveredSms);
  EXPECT_EQ(s.noticeMailbox, "a@b.c");
}

TEST(SaveSettings, RoundTripAndExactValueForms) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  Settings s = Everything();
  std::string error;
  ASSERT_TRUE(SaveSettings(file, s, &error)) << error;
  EXPECT_EQ(Saved(LoadSettings(file)), ReadBytes(file));

  IniFile ini = IniFile::FromText(ReadBytes(file));
  EXPECT_EQ(ini.GetRaw("订单扫描", "周期"), "30秒");
  EXPECT_EQ(ini.GetRaw("发货方式", "旺旺发货"), "假");
  EXPECT_EQ(ini.GetRaw("发货方式", "邮箱发货"), "真");
  EXPECT_EQ(ini.GetRaw("发货签名", "签名"), "小店签名");
  EXPECT_EQ(ini.GetRaw("群机器人", "地址"), "https://chat.example.test/webhook/send?key=a1-b2&x=1");
  EXPECT_EQ(ini.GetRaw("无货通知自己", "群机器人提示"), "真");
  EXPECT_EQ(ini.GetRaw("发货通知自己", "群机器人提示"), "假");
  // Written from scratch, the file lists the sections in the order of the keys.
  const std::string text = ReadBytes(file);
  EXPECT_EQ(text.rfind("[订单扫描]\r\n周期=30秒\r\n[邮箱设置]\r\n收信邮箱=", 0), 0u);
  EXPECT_LT(text.find("[无货通知自己]"), text.find("[发货通知自己]"));
}

TEST(SaveSettings, TextsAreTrimmedOnWriteOnly) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  Settings s;
  s.signature = " 签名 ";
  s.rateText = "　好评　";  // full-width spaces
  ASSERT_TRUE(SaveSettings(file, s));
  EXPECT_EQ(s.signature, " 签名 ");
  IniFile ini = IniFile::FromText(ReadBytes(file));
  EXPECT_EQ(ini.GetRaw("发货签名", "签名"), "签名");
  EXPECT_EQ(ini.GetRaw("自动评价", "评价语"), "好评");
}

TEST(SaveSettings, KeepsForeignLinesAndRewritesFirstDuplicate) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  const std::string before =
      "; hand-written note\n[订单扫描]\n周期=5分钟\n周期=2分钟\nextra=keep\n[Other]\nz=1";
  WriteBytes(file, before);
  Settings s;
  s.scanPeriod = "2分钟";
  ASSERT_TRUE(SaveSettings(file, s));
  const std::string after = ReadBytes(file);
  EXPECT_EQ(after.rfind("; hand-written note\n[订单扫描]\n周期=2分钟\n周期=2分钟\nextra=keep\n[Other]\nz=1\r\n[邮箱设置]\r\n", 0),
            0u);
  EXPECT_EQ(LoadSettings(file).scanPeriod, "2分钟");
}

TEST(SaveSettings, FileIsOwnerOnlyEvenWhenItExistedOpen) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  WriteBytes(file, "[订单扫描]\n周期=1分钟\n");
  ::chmod(file.c_str(), 0666);
  ASSERT_TRUE(SaveSettings(file, Everything()));
  EXPECT_EQ(FileMode(file), 0600u);
}

TEST(SaveSettings, UnreadableFileIsNotOverwritten) {
  TempDir dir;
  auto file = SettingsPath(dir.path());
  std::filesystem::create_directory(file);
  std::string error;
  EXPECT_FALSE(SaveSettings(file, Everything(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(std::filesystem::is_directory(file));
  EXPECT_EQ(Saved(LoadSettings(file)), Saved(Settings{}));
}

TEST(SettingsFileForms, Utf8AndLoneCrFilesAreReadSaidAndSavedAsGbk) {
  const std::string gbk = Saved(Everything());
  const std::string crOnly = ReplaceAll(gbk, "\r\n", "\r");
  struct Row {
    const char* what;
    std::string bytes;
    const char* loadNote;  // part of what LoadSettings says; "" when it says nothing
    const char* saveNote;
  };
  const std::vector<Row> rows = {
      {"GBK", gbk, "", ""},
      {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + GbkToUtf8(gbk), "UTF-8", "原为UTF-8编码 已改存为GBK编码"},
      {"UTF-8", GbkToUtf8(gbk), "UTF-8", "原为UTF-8编码 已改存为GBK编码"},
      {"lone CR", crOnly, "单独的CR", "原为单独的CR换行 已改存为CR LF换行"},
  };
  for (const auto& row : rows) {
    TempDir dir;
    auto file = SettingsPath(dir.path());
    WriteBytes(file, row.bytes);
    std::string note = "stale";
    EXPECT_EQ(Saved(LoadSettings(file, &note)), gbk) << row.what;
    EXPECT_EQ(note.empty(), std::string(row.loadNote).empty()) << row.what << ": " << note;
    EXPECT_NE(note.find(row.loadNote), std::string::npos) << row.what << ": " << note;
    if (!note.empty()) {
      EXPECT_EQ(note.rfind("配置文件.ini ", 0), 0u) << note;
    }

    std::string error;
    ASSERT_TRUE(SaveSettings(file, Everything(), &error, &note)) << row.what << ": " << error;
    EXPECT_EQ(ReadBytes(file), gbk) << row.what;
    EXPECT_EQ(note.empty(), std::string(row.saveNote).empty()) << row.what << ": " << note;
    EXPECT_NE(note.find(row.saveNote), std::string::npos) << row.what << ": " << note;
  }

  // A UTF-8 file holding a character GBK cannot hold is not rewritten: the character would be lost.
  TempDir dir;
  auto file = SettingsPath(dir.path());
  const std::string emoji = GbkToUtf8(gbk) + "; \xF0\x9F\x98\x80\r\n";
  WriteBytes(file, emoji);
  EXPECT_EQ(Saved(LoadSettings(file)), gbk);
  std::string error;
  EXPECT_FALSE(SaveSettings(file, Everything(), &error));
  EXPECT_NE(error.find("配置文件.ini"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(file), emoji);
}

}  // namespace
}  // namespace torvane
