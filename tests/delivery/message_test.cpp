#include <gtest/gtest.h>

#include "delivery/delivery_run.h"

namespace torvane {
namespace {

TEST(BuyerMailAddress, FirstAddressInTheMessageNotTheWholeMessage) {
  EXPECT_EQ(FirstMailAddress("请发到 abc.d_e+f@mail.example.com 谢谢"), "abc.d_e+f@mail.example.com");
  EXPECT_EQ(FirstMailAddress("邮箱abc@qq.com。"), "abc@qq.com");
  EXPECT_EQ(FirstMailAddress("x@y.cn, z@w.cn"), "x@y.cn");
  EXPECT_EQ(FirstMailAddress("send to a@b.com."), "a@b.com");  // a sentence's full stop is not the domain's
  EXPECT_EQ(FirstMailAddress("a@b x@y.org"), "x@y.org");        // the first candidate has no dot
  EXPECT_EQ(FirstMailAddress("我的QQ邮箱是12345@qq.com"), "12345@qq.com");
  EXPECT_FALSE(FirstMailAddress(""));
  EXPECT_FALSE(FirstMailAddress("没有邮箱"));
  EXPECT_FALSE(FirstMailAddress("@qq.com"));
  EXPECT_FALSE(FirstMailAddress("abc@"));
  EXPECT_FALSE(FirstMailAddress("abc@localhost"));
  EXPECT_FALSE(FirstMailAddress("abc@.com"));
}

TEST(BuyerMailAddress, TrailingByteOfATwoByteCharacterIsNotAnAt) {
  // 0x81 0x40 is one GBK character whose second byte is the code of "@".
  EXPECT_FALSE(FirstMailAddress("abc\x81\x40qq.com"));
  EXPECT_EQ(FirstMailAddress("abc\x81\x40qq.com real@qq.com"), "real@qq.com");
  // Letters that are second bytes of two-byte characters do not join the local part.
  EXPECT_EQ(FirstMailAddress("\x81" "ab@qq.com"), "b@qq.com");
}

SentRecord Sent(const std::string& number, const std::string& secret) {
  SentRecord r;
  r.Field(5) = number;
  r.Field(6) = secret;
  return r;
}

TEST(DeliveryMessage, ThanksCardLinesNoteAndOptionalSignature) {
  const std::vector<SentRecord> cards = {Sent("A1", "S1"), Sent("A2", "S2")};
  EXPECT_EQ(ComposeDeliveryMessage(cards, "充值地址见官网", nullptr),
            "\r\n\r\n感谢您的购买\r\n\r\n卡号: A1  卡密: S1\r\n卡号: A2  卡密: S2\r\n\r\n备注：充值地址见官网");
  const std::string signature = "本店信誉第一";
  EXPECT_EQ(ComposeDeliveryMessage(cards, "", &signature),
            "\r\n\r\n感谢您的购买\r\n\r\n卡号: A1  卡密: S1\r\n卡号: A2  卡密: S2\r\n\r\n备注：\r\n\r\n本店信誉第一");
  const std::string noNote = ComposeDeliveryMessage({Sent("N", "S")}, "", nullptr);
  EXPECT_EQ(noNote.substr(noNote.size() - 8), "\r\n备注：");
}

}  // namespace
}  // namespace torvane
