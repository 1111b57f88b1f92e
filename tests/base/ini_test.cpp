#include "base/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/text.h"
#include "support/temp_dir.h"

namespace torvane {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(IniRead, KeysAndSectionsIgnoreAsciiCaseAndValuesAreTrimmed) {
  IniFile ini = IniFile::FromText("[Mail]\r\nServer =  smtp.example.org \t\r\n[订单扫描]\r\n周期=30秒\r\n");
  EXPECT_EQ(ini.Get("mail", "SERVER"), "smtp.example.org");
  EXPECT_EQ(ini.GetRaw("MAIL", "server"), "  smtp.example.org \t");
  EXPECT_EQ(ini.Get("订单扫描", "周期"), "30秒");
  EXPECT_FALSE(ini.Get("mail", "port").has_value());
  EXPECT_FALSE(ini.Get("nosuch", "server").has_value());
}

TEST(IniRead, TrailBytesOfChineseCharactersAreNotCaseFolded) {
  // "猟" is 0xAB 0x41 in GBK and "獆" is 0xAB 0x61: they differ only in a trail byte that looks like A/a.
  const std::string upper = "\xAB\x41";
  const std::string lower = "\xAB\x61";
  IniFile ini = IniFile::FromText("[s]\r\n" + upper + "=1\r\n");
  EXPECT_EQ(ini.Get("s", upper), "1");
  EXPECT_FALSE(ini.Get("s", lower).has_value());
  EXPECT_TRUE(EqualIgnoringAsciiCase("Ab" + upper, "aB" + upper));
  EXPECT_FALSE(EqualIgnoringAsciiCase(upper, lower));
}

TEST(IniRead, SectionNameWithBracketTrailByte) {
  // "乗" style: a two-byte character whose trail byte is "]" (0x5D) must not end the header.
  const std::string name = "A\x81\x5D" "B";
  IniFile ini = IniFile::FromText("[" + name + "]\nk=v\n");
  EXPECT_EQ(ini.Get(name, "k"), "v");
}

TEST(IniRead, FirstDuplicateWinsForReadAndWrite) {
  IniFile ini = IniFile::FromText("[a]\nk=1\nk=2\n[A]\nk=3\nj=4\n");
  EXPECT_EQ(ini.Get("a", "k"), "1");
  EXPECT_FALSE(ini.Get("a", "j").has_value());  // only the first [a] is looked at
  ini.Set("a", "K", "9");
  EXPECT_EQ(ini.Text(), "[a]\nk=9\nk=2\n[A]\nk=3\nj=4\n");
}

TEST(IniRead, CommentsLinesWithoutEqualsAndKeysBeforeAnySectionAreNotKeys) {
  IniFile ini = IniFile::FromText("k=top\n[s]\n;k=comment\njunk line\nk=real");
  EXPECT_EQ(ini.Get("s", "k"), "real");
  EXPECT_FALSE(ini.Get("s", ";k").has_value());
}

TEST(IniRead, NulBytesAndHugeLinesAreData) {
  std::string text = "[s]\nk=a";
  text.push_back('\0');
  text += "b\n";
  text += "long=" + std::string(10 * 1024 * 1024, 'x') + "\n";
  IniFile ini = IniFile::FromText(text);
  EXPECT_EQ(ini.Get("s", "k"), std::string("a\0b", 3));
  auto longValue = ini.Get("s", "long");
  ASSERT_TRUE(longValue.has_value());
  EXPECT_EQ(longValue->size(), 10u * 1024 * 1024);
  EXPECT_EQ(ini.Text(), text);
}

TEST(IniRead, FilesSavedAsUtf8OrWithLoneCrReadLikeGbk) {
  const std::string gbk = "[订单扫描]\r\n周期=30秒\r\n[发货签名]\r\n签名=小店签名\r\n";
  const std::string crOnly = ReplaceAll(gbk, "\r\n", "\r");
  struct Row {
    const char* what;
    std::string bytes;
    bool utf8;
    bool loneCr;
  };
  const std::vector<Row> rows = {
      {"GBK, CR LF", gbk, false, false},
      {"GBK, LF", ReplaceAll(gbk, "\r\n", "\n"), false, false},
      {"GBK, lone CR", crOnly, false, true},
      {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + GbkToUtf8(gbk), true, false},
      {"UTF-8 without byte-order mark", GbkToUtf8(gbk), true, false},
      {"UTF-8 with byte-order mark, lone CR", "\xEF\xBB\xBF" + GbkToUtf8(crOnly), true, true},
  };
  for (const auto& row : rows) {
    IniFile ini = IniFile::FromFileBytes(row.bytes);
    EXPECT_EQ(ini.Get("订单扫描", "周期"), "30秒") << row.what;
    EXPECT_EQ(ini.Get("发货签名", "签名"), "小店签名") << row.what;
    EXPECT_EQ(ini.SourceForm().utf8, row.utf8) << row.what;
    EXPECT_EQ(ini.SourceForm().loneCrLineEnds, row.loneCr) << row.what;
    const std::string said = ini.SourceForm().Describe("配置文件.ini");
    EXPECT_EQ(said.empty(), !row.utf8 && !row.loneCr) << row.what;
    if (!said.empty()) {
      EXPECT_EQ(said.rfind("配置文件.ini ", 0), 0u) << said;
    }
    // Written back as GBK without byte-order mark; a lone CR stays a line end.
    ini.Set("发货签名", "签名", "新签名");
    const std::string text = ini.Text();
    EXPECT_FALSE(text.starts_with("\xEF\xBB\xBF")) << row.what;
    EXPECT_EQ(IniFile::FromText(text).Get("订单扫描", "周期"), "30秒") << row.what;
    EXPECT_EQ(IniFile::FromText(text).Get("发货签名", "签名"), "新签名") << row.what;
  }
  EXPECT_TRUE(IniFile::FromFileBytes(GbkToUtf8(gbk)).SourceForm().utf8Lossless);
  EXPECT_FALSE(IniFile::FromFileBytes(GbkToUtf8(gbk) + "; \xF0\x9F\x98\x80\r\n").SourceForm().utf8Lossless);
}

TEST(IniWrite, SettingOneKeyKeepsEveryOtherByte) {
  const std::string original =
      "; seller notes\r\n[s]\r\nkeep = me  \n  k = old ; not a comment\r\n\r\n[t]\nother=1";
  IniFile ini = IniFile::FromText(original);
  EXPECT_EQ(ini.Text(), original);
  ini.Set("S", "K", "new");
  EXPECT_EQ(ini.Text(), "; seller notes\r\n[s]\r\nkeep = me  \n  k =new\r\n\r\n[t]\nother=1");
}

TEST(IniWrite, MissingKeyGoesAtTheEndOfItsSectionBeforeBlankLines) {
  IniFile ini = IniFile::FromText("[a]\nx=1\n\n[b]\ny=2\n");
  ini.Set("a", "z", "3");
  EXPECT_EQ(ini.Text(), "[a]\nx=1\nz=3\r\n\n[b]\ny=2\n");
  EXPECT_EQ(ini.Get("a", "z"), "3");
}

TEST(IniWrite, MissingSectionAppendedAfterUnterminatedLastLine) {
  IniFile ini = IniFile::FromText("[a]\nx=1");
  ini.Set("b", "y", "2");
  ini.Set("a", "w", "0");
  EXPECT_EQ(ini.Text(), "[a]\nx=1\r\nw=0\r\n[b]\r\ny=2\r\n");
}

TEST(IniWrite, LineBreaksInValueCannotInjectKeys) {
  IniFile ini;
  ini.Set("s", "sig", "a\r\n[s2]\nk=v");
  EXPECT_EQ(ini.Text(), "[s]\r\nsig=a  [s2] k=v\r\n");
  EXPECT_FALSE(IniFile::FromText(ini.Text()).Get("s2", "k").has_value());
}

TEST(IniFileOnDisk, MissingFileLoadsEmptyAndSaveCreatesItWithMode) {
  TempDir dir;
  IniFile ini;
  std::string error = "stale";
  ASSERT_TRUE(ini.Load(dir / "missing.ini", &error));
  EXPECT_TRUE(error.empty());
  ini.Set("s", "k", "v");
  ASSERT_TRUE(ini.Save(dir / "out.ini", &error, 0600)) << error;
  EXPECT_EQ(ReadBytes(dir / "out.ini"), "[s]\r\nk=v\r\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "out.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace torvane
