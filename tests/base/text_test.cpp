#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

using namespace torvane;

namespace {

using Pieces = std::vector<std::string>;

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::tm Tm(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Character-aligned search

TEST(TextSearch, OneByteMarkerNeverMatchesTrailingByte) {
  // 0xB0 0x5C is one character whose second byte is a backslash.
  std::string text = "\xB0\x5C" "a\\b";
  EXPECT_EQ(FindText(text, "\\"), 3u);
  EXPECT_FALSE(ContainsText("\xB0\x5C", "\\"));
  // Bytes that start no two-byte character stand alone: 0x80 (the euro sign), 0xFF, and a lead
  // byte followed by a byte that cannot end a character or by nothing.
  EXPECT_EQ(FindText("\x80\\", "\\"), 1u);
  EXPECT_EQ(FindText("\xFF\\", "\\"), 1u);
  EXPECT_EQ(FindText("\x81\nB2", "\n"), 1u);
  EXPECT_EQ(FindText("\x81\x39\x81\x40", "\x81\x40"), 2u) << "0x39 cannot end a character";
  EXPECT_EQ(FindText("a\x81", "\x81"), 1u);
}

TEST(TextSearch, TwoByteMarkerIsOnlyFoundWhereACharacterStarts) {
  // 啊 (B0 A1) followed by a full-width space (A1 A1): bytes 1..2 also read A1 A1 but straddle two characters.
  std::string text = "\xB0\xA1\xA1\xA1";
  EXPECT_EQ(FindText(text, "\xA1\xA1"), 2u);
  EXPECT_EQ(FindText("\xB0\xA1\xA1", "\xA1\xA1"), kNotFound);
  EXPECT_EQ(FindText("x中文中", "中", 3), 5u) << "search from a later position";
  EXPECT_EQ(FindText("abc", "c", 3), kNotFound);
}

TEST(TextSearch, EmptyPartIsFoundInAnyNonEmptyText) {
  EXPECT_EQ(FindText("abc", ""), 0u);
  EXPECT_EQ(FindText("abc", "", 2), 2u);
  EXPECT_EQ(FindText("", ""), kNotFound);
  EXPECT_TRUE(ContainsText("a", ""));
  EXPECT_FALSE(ContainsText("", ""));
  EXPECT_FALSE(ContainsText("", "a"));
}

TEST(TextSearch, IgnoringCaseFoldsOnlyAsciiLetters) {
  EXPECT_EQ(FindTextIgnoreAsciiCase("x: 1\r\nSET-COOKIE: a", "Set-Cookie: "), 6u);
  // 0x81 0x41 and 0x81 0x61 are two different characters; their second bytes must not be folded.
  EXPECT_EQ(FindTextIgnoreAsciiCase("\x81\x41", "\x81\x61"), kNotFound);
  EXPECT_EQ(FindTextIgnoreAsciiCase("\x81\x41" "A", "a"), 2u);
  EXPECT_EQ(FindTextIgnoreAsciiCase("\x81\x61" "\x81\x41", "\x81\x41"), 2u);
  EXPECT_EQ(FindTextIgnoreAsciiCase("中Ab", "中aB"), 0u);
  EXPECT_EQ(FindTextIgnoreAsciiCase("ab", "abc"), kNotFound);
  EXPECT_EQ(FindTextIgnoreAsciiCase("\x80" "A", "a"), 1u);
}

TEST(TextSearch, ReplaceAllScansLeftToRightWithoutOverlap) {
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("http://http://x", "http://", ""), "x");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAll("\xB0\x5C\\", "\\", "/"), "\xB0\x5C/") << "a trailing byte is never replaced";
  EXPECT_EQ(ReplaceAll("中中", "中", "文字"), "文字文字");
}

// ---------------------------------------------------------------------------------------------
// Splitting and trimming

TEST(SplitTextRules, EmptyPiecesBetweenDelimitersButNotAfterTheLast) {
  EXPECT_EQ(SplitText("a||b|", "|"), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitText("|a", "|"), (Pieces{"", "a"}));
  EXPECT_EQ(SplitText("|", "|"), (Pieces{""}));
  EXPECT_EQ(SplitText("abc", "|"), (Pieces{"abc"}));
  EXPECT_EQ(SplitText("", "|"), Pieces{});
  EXPECT_EQ(SplitText("1==2====3", "=="), (Pieces{"1", "2", "", "3"}));
  EXPECT_EQ(SplitText("卡号\r\n卡密\r\n", "\r\n"), (Pieces{"卡号", "卡密"}));
}

TEST(SplitTextRules, DelimiterInsideATwoByteCharacterDoesNotSplit) {
  // 0x81 0x7C is one character whose second byte is "|".
  EXPECT_EQ(SplitText("\x81\x7C|x", "|"), (Pieces{"\x81\x7C", "x"}));
  // 0x80 is a character of its own and does not swallow the line end after it.
  EXPECT_EQ(SplitText("B1,S1\x80\nB2,S2\n", "\n"), (Pieces{"B1,S1\x80", "B2,S2"}));
  EXPECT_EQ(SplitText("a\xFF,b\x81,c", ","), (Pieces{"a\xFF", "b\x81", "c"}));
}

TEST(TrimRules, AsciiAndFullWidthBlanksOnly) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("\xA1\xA1 中 \xA1\xA1文\xA1\xA1 "), "中 \xA1\xA1文");
  EXPECT_EQ(Trim("\ta\t"), "\ta\t") << "tabs are not blanks here";
  EXPECT_EQ(Trim(" \xA1\xA1 \xA1\xA1"), "");
  EXPECT_EQ(Trim(""), "");
  // 啊 ends in A1; with a full-width space after it the text must keep 啊 whole.
  EXPECT_EQ(Trim("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
  EXPECT_EQ(Trim("\xA1\xA1\xB0\xA1"), "\xB0\xA1");
  EXPECT_EQ(Trim("a\x81 "), "a\x81") << "a lead byte before a space is no character with it";
}

// ---------------------------------------------------------------------------------------------
// Marker extraction

TEST(TextBetweenRules, FirstValueAndMarkerOrder) {
  EXPECT_EQ(TextBetween("<b>1</b><b>2</b>", "<b>", "</b>"), "1");
  EXPECT_EQ(TextBetween("</b> x <b>", "<b>", "</b>"), "") << "right marker only before the left one";
  EXPECT_EQ(TextBetween("abc", "<", ">"), "");
  EXPECT_EQ(TextBetween("key=value&next", "", "&"), "key=value");
  EXPECT_EQ(TextBetween("key=value&next", "key=", ""), "");
  EXPECT_EQ(TextBetween("", "", ""), "");
  EXPECT_EQ(TextBetween("==分类头==1.8|http://x==分类尾==", "==分类头==", "==分类尾=="), "1.8|http://x");
  EXPECT_EQ(TextBetween("<>", "<", ">"), "");
}

TEST(TextBetweenRules, MarkersAreMatchedOnCharacterBoundaries) {
  // The left marker "\\" occurs only as the second byte of B0 5C; no value.
  EXPECT_EQ(TextBetween("\xB0\x5C" "x;", "\\", ";"), "");
  EXPECT_EQ(TextBetween("a\\\xB0\x5C;b;", "\\", ";"), "\xB0\x5C");
}

TEST(ExtractAllBetweenRules, EveryBlockUpToItsEndMarker) {
  std::string page = "head<tbody>one</tbody>x<tbody>no end here<tbody></tbody><tbody>four</tbody>tail";
  EXPECT_EQ(ExtractAllBetween(page, "<tbody>", "</tbody>"), (Pieces{"one", "", "four"}));
  EXPECT_EQ(ExtractAllBetween("nothing", "<tbody>", "</tbody>"), Pieces{});
  // The end marker of a later block does not close an earlier one.
  EXPECT_EQ(ExtractAllBetween("<a>1<a>2\"", "<a>", "\""), (Pieces{"2"}));
  EXPECT_EQ(ExtractAllBetween("id=1\"id=1\"", "id=", "\""), (Pieces{"1", "1"})) << "duplicates kept";
}

TEST(StripLineBreaksRules, RemovesCrLfAndTabOnly) {
  EXPECT_EQ(StripLineBreaks("a\r\n\tb c\x0B"), "ab c\x0B");
  EXPECT_EQ(StripLineBreaks("\r\n"), "");
}

TEST(TerminalEscapes, ControlCharactersAreShownAsHexAndTextIsLeftAlone) {
  const std::pair<std::string, std::string> rows[] = {
      {"a\tb\nc", "a\tb\nc"},
      {"\x1B]0;t\x07\x1B[2J", "\\x1B]0;t\\x07\\x1B[2J"},
      {"\r\x7F", "\\x0D\\x7F"},
      {"\xC2\x9B" "1m\xC2\x85", "\\x9B" "1m\\x85"},                 // C1 controls in UTF-8
      {"\xC2\xA0\xE4\xB8\xAD\xEF\xBF\xBD", "\xC2\xA0\xE4\xB8\xAD\xEF\xBF\xBD"},  // no-break space, 中, U+FFFD
  };
  for (const auto& [text, shown] : rows) EXPECT_EQ(EscapeTerminalControls(text), shown) << text;
}

TEST(UpToFirstZeroRules, CutsAtTheFirstZeroByte) {
  EXPECT_EQ(UpToFirstZero(std::string_view("ab\0cd\0", 6)), "ab");
  EXPECT_EQ(UpToFirstZero("abc"), "abc");
  EXPECT_EQ(UpToFirstZero(std::string_view("\0x", 2)), "");
}

// ---------------------------------------------------------------------------------------------
// Code-page conversions

TEST(Conversions, AsciiPassesThroughUnchanged) {
  std::string ascii = "plain <html> text 123 ~!@#$%^&*()";
  EXPECT_EQ(Utf8ToGbk(ascii), ascii);
  EXPECT_EQ(GbkToUtf8(ascii), ascii);
  EXPECT_EQ(Big5ToGbkSimplified(ascii), ascii);
}

TEST(Conversions, ChineseTextAndPunctuationRoundTrip) {
  // The program's literals are GBK; each must map to the same character as its UTF-8 spelling.
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"中文", U8(u8"中文")},   {"请先登陆淘宝—", U8(u8"请先登陆淘宝—")},
      {"“引号”", U8(u8"“引号”")}, {"省略…", U8(u8"省略…")},
      {"·～￥、", U8(u8"·～￥、")}, {"恭喜您，操作成功", U8(u8"恭喜您，操作成功")},
      {"〇①Ⅻ", U8(u8"〇①Ⅻ")},   {"黃寧鎔", U8(u8"黃寧鎔")},
  };
  for (const auto& [gbk, utf8] : pairs) {
    EXPECT_EQ(GbkToUtf8(gbk), utf8) << utf8;
    EXPECT_EQ(Utf8ToGbk(utf8), gbk) << utf8;
  }
}

TEST(Conversions, InvalidUtf8BecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToGbk("a\xFF" "b"), "a?b");
  EXPECT_EQ(Utf8ToGbk("a\xC0\x80z"), "a??z") << "overlong form";
  EXPECT_EQ(Utf8ToGbk("a\xED\xA0\x80z"), "a???z") << "encoded surrogate";
  EXPECT_EQ(Utf8ToGbk("\xE4\xB8\xAD\xE4\xB8"), "中??") << "cut inside the last character";
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80!"), "?!") << "a character GBK cannot hold is one question mark";
}

TEST(Conversions, InvalidGbkBecomesReplacementCharacters) {
  EXPECT_EQ(GbkToUtf8("a\x81"), "a\xEF\xBF\xBD");
  EXPECT_TRUE(IsValidUtf8(GbkToUtf8("x\xFF\xFF\x80y中")));
}

TEST(Conversions, Big5IsSimplifiedAndEndsAtTheFirstUnmappableCharacter) {
  EXPECT_EQ(Big5ToGbkSimplified("\xC5\xE9\xC5\xE7\xA5\x78\xC6\x57"), "体验台湾");
  EXPECT_EQ(Big5ToGbkSimplified("ok \xA4\xA4\xA4\xE5"), "ok 中文");
  EXPECT_EQ(Big5ToGbkSimplified("\xA4\xA4\xFF\xFF\xA4\xE5"), "中");
}

TEST(Conversions, Utf16InBetween) {
  EXPECT_EQ(ToUtf16("\xE4\xB8\xAD" "a"), u"中a");
  EXPECT_EQ(ToUtf16("中", CodePage::Gbk), u"中");
  EXPECT_EQ(FromUtf16(u"中\u00E9", CodePage::Gbk), "中\xA8\xA6") << "pinyin letters are GBK characters";
  EXPECT_EQ(FromUtf16(u"中\U0001F600", CodePage::Gbk), "中?");
}

TEST(Conversions, Utf8Validity) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8(U8(u8"中文 abc \U0001F600")));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));
  EXPECT_FALSE(IsValidUtf8("\x80"));
  EXPECT_FALSE(IsValidUtf8("中文")) << "GBK bytes are not UTF-8";
  EXPECT_TRUE(IsAscii("abc\x7F"));
  EXPECT_FALSE(IsAscii("ab\x80"));
}

TEST(DecodeToGbkRules, EachEncodingOrTheLineThatCannotBeRead) {
  auto utf16le = [](std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
  };
  auto utf16be = [](std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    return bytes;
  };
  struct Row {
    std::string bytes;
    TextEncoding encoding;
    std::string gbk;       // expected text when it decodes
    std::size_t line;      // expected fault line, 0 when it decodes
    std::string fault;     // part of the expected fault
  };
  const auto D = TextEncoding::kDetect;
  const std::vector<Row> rows = {
      {"a,b\r\n", D, "a,b\r\n", 0, ""},
      {"\xEF\xBB\xBF" + U8(u8"卡,密"), D, "卡,密", 0, ""},
      {U8(u8"卡,密\n€"), D, "卡,密\n\x80", 0, ""},
      {"中文,\x80\r\n", D, "中文,\x80\r\n", 0, ""},
      {"中文", TextEncoding::kGbk, "中文", 0, ""},
      {"\xFF\xFE" + utf16le(u"卡,A\r\n"), D, "卡,A\r\n", 0, ""},
      {"\xFE\xFF" + utf16be(u"卡,A\n"), D, "卡,A\n", 0, ""},
      {utf16le(u"A1,S1\nA2,S2"), D, "A1,S1\nA2,S2", 0, ""},
      {utf16be(u"A1,S1"), D, "A1,S1", 0, ""},
      {"\xFF\xFE" + utf16le(u"a\nb\xD800\n"), D, "", 2, "UTF-16"},
      // Without a byte-order mark: UTF-8 only when well-formed throughout, else GBK when valid
      // throughout, else refused where the text stops being either (lines end in CR here).
      {U8(u8"中,1\r文,2\r卡") + "\xFF" + U8(u8",3\r"), D, "", 3, "不是有效的UTF-8文本, 第1行不是有效的GBK文本"},
      {"a,1\n\xFF,2\n", D, "", 2, "既不是有效的UTF-8文本也不是有效的GBK文本 请用 --encoding"},
      {"点卡X1,Y1\r\n", D, "点卡X1,Y1\r\n", 0, ""},  // "\xE3\xBF\xA8" inside is a UTF-8 sequence
      {U8(u8"中文"), D, "中文", 0, ""},               // valid GBK as well: UTF-8 wins
      {"A,\xE4\xB8", D, "A,\xE4\xB8", 0, ""},         // UTF-8 cut short at the end, whole GBK
      {"\xC0\xAF,1", D, "\xC0\xAF,1", 0, ""},         // an overlong UTF-8 form, GBK
      {U8(u8"中,1\n") + "点卡,2\n", D, "", 2, "不是有效的UTF-8文本, 第1行不是有效的GBK文本 请用 --encoding"},
      {"点卡,1\n" + U8(u8"中,2\n"), D, "", 2, "不是有效的GBK文本, 第1行不是有效的UTF-8文本 请用 --encoding"},
      {"a\n中文", TextEncoding::kUtf8, "", 2, "UTF-8"},
      {"a\r\n" + U8(u8"b,\U0001F600"), D, "", 2, "U+1F600"},
      {"a\nb,\xFF\n", TextEncoding::kGbk, "", 2, "GBK"},
      {"a\n\x81", TextEncoding::kGbk, "", 2, "GBK"},
      {std::string("a\nb\0c", 5), D, "", 2, "零字节"},
      {std::string("a\n\0\0", 4), D, "", 2, "零字节"},
      {std::string("a\0", 2), TextEncoding::kUtf8, "", 1, "零字节"},
      {"\xEF\xBB\xBF" "a", TextEncoding::kGbk, "", 1, "UTF-8"},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    DecodedText out = DecodeToGbk(row.bytes, row.encoding);
    EXPECT_EQ(out.faultLine, row.line) << "row " << i << ": " << GbkToUtf8(out.fault);
    if (row.line == 0) {
      EXPECT_EQ(out.gbk, row.gbk) << "row " << i;
    } else {
      EXPECT_NE(out.fault.find(row.fault), std::string::npos) << "row " << i << ": " << GbkToUtf8(out.fault);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Percent-encoding

TEST(PercentEncoding, EveryByteOrOnlyTheUnsafeOnes) {
  EXPECT_EQ(PercentEncodeAll("aZ0 \xFF"), "%61%5A%30%20%FF");
  EXPECT_EQ(PercentEncodeAll(""), "");
  EXPECT_EQ(PercentEncodeGbk("中a"), "%D6%D0%61");
  EXPECT_EQ(PercentEncodeUtf8("中a"), "%E4%B8%AD%61");
  EXPECT_EQ(PercentEncodeForm("a_Z9-中 +"), "a_Z9%2D%D6%D0%20%2B");
}

TEST(PercentEncoding, FormKeepsLettersDigitsAndUnderscoreOnly) {
  // Each kept range with the bytes just outside it.
  const std::pair<std::string, std::string> rows[] = {
      {"/", "%2F"}, {"0", "0"},   {"9", "9"},   {":", "%3A"}, {"@", "%40"}, {"A", "A"},   {"Z", "Z"},
      {"[", "%5B"}, {"^", "%5E"}, {"_", "_"},   {"`", "%60"}, {"a", "a"},   {"z", "z"},   {"{", "%7B"},
      {std::string(1, '\0'), "%00"}, {"\x7F", "%7F"}, {"\x80", "%80"}, {"\xFF", "%FF"},
      {"-", "%2D"}, {".", "%2E"}, {"~", "%7E"}, {"\r\n", "%0D%0A"}, {"&=", "%26%3D"},
  };
  for (const auto& [text, encoded] : rows) EXPECT_EQ(PercentEncodeForm(text), encoded) << encoded;
}

// ---------------------------------------------------------------------------------------------
// Dates, flags, numbers

TEST(DateTimeText, DownToTheLastNonZeroUnit) {
  EXPECT_EQ(FormatDateTime(Tm(2026, 3, 7, 9, 5, 2)), "2026年3月7日9时5分2秒");
  EXPECT_EQ(FormatDateTime(Tm(2026, 12, 31, 23, 59, 0)), "2026年12月31日23时59分");
  EXPECT_EQ(FormatDateTime(Tm(2026, 1, 1, 10, 0, 0)), "2026年1月1日10时");
  EXPECT_EQ(FormatDateTime(Tm(2026, 1, 1, 0, 0, 0)), "2026年1月1日");
  EXPECT_EQ(FormatDateTime(Tm(2026, 1, 1, 0, 0, 5)), "2026年1月1日0时0分5秒");
  EXPECT_EQ(FormatDateTime(Tm(2026, 1, 1, 0, 30, 0)), "2026年1月1日0时30分");
  EXPECT_EQ(NowDateTimeText().rfind("20", 0), 0u);
}

TEST(Flags, OnlyTheExactTrueTextIsTrue) {
  EXPECT_EQ(FlagText(true), "真");
  EXPECT_EQ(FlagText(false), "假");
  EXPECT_TRUE(ParseFlag("真"));
  EXPECT_FALSE(ParseFlag("假"));
  EXPECT_FALSE(ParseFlag("真 "));
  EXPECT_FALSE(ParseFlag(""));
  EXPECT_FALSE(ParseFlag("1"));
}

TEST(LeadingNumberRules, DigitsAtTheStartOnly) {
  EXPECT_EQ(LeadingNumber("123abc"), 123);
  EXPECT_EQ(LeadingNumber("007"), 7);
  EXPECT_EQ(LeadingNumber("abc1"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber(" 12"), 0);
  EXPECT_EQ(LeadingNumber("-5"), 0);
  EXPECT_EQ(LeadingNumber("99999999999999999999999"), 2147483647);
  EXPECT_EQ(LeadingNumber("2147483648"), 2147483647);
}
