// The SMS service's replies as the client reads them: the reply bytes as GBK text (ImReplyText), the
// sentences it judges success by, and the login token (ImLoginToken).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "fuzz_check.h"
#include "notify/im_client.h"

using namespace torvane;

namespace {

constexpr std::string_view kSentences[] = {
    "您正在登录中国移动WAP飞信,请稍候", "短信发送成功", "定时短信设置成功", "发送消息成功", "创建成功", "分组修改成功",
    "成功删除", "没有符合条件的好友哦", "与TA聊", "发送成功", "设置成功", "成功", "修改姓名成功", "修改性别成功",
    "修改生日成功", "血型修改成功", "修改心情短语成功"};

bool NamesGbk(std::string_view contentType) {
  std::string lower;
  for (char c : contentType) lower.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
  const std::size_t at = lower.find("charset=");
  if (at == std::string::npos) return false;
  std::string charset;
  for (char c : lower.substr(at + 8)) {
    if (c != '"') charset.push_back(c);
  }
  return charset.starts_with("gbk") || charset.starts_with("gb2312") || charset.starts_with("gb18030");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::KeepConvertersLoaded();
  FuzzedDataProvider input(data, size);
  const std::string contentType = input.ConsumeRandomLengthString(48);
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  const std::string text = ImReplyText(bytes, contentType);
  if (NamesGbk(contentType) || !IsValidUtf8(bytes)) {
    FUZZ_CHECK(text == bytes);
  } else {
    // A UTF-8 reply becomes GBK: every sentence it holds is found in the text, and the text holds
    // a sentence only when the reply did.
    const std::size_t invalid = FirstInvalidGbk(text);
    FUZZ_CHECK(invalid == kNotFound || text[invalid] == '\0');
    for (std::string_view sentence : kSentences) {
      const bool inReply = bytes.find(GbkToUtf8(sentence)) != std::string::npos;
      FUZZ_CHECK(inReply == ContainsText(text, sentence));
    }
  }

  const std::optional<std::string> token = ImLoginToken(text);
  FUZZ_CHECK(token.has_value() == (FindText(text, "t=") != kNotFound));
  if (token) {
    FUZZ_CHECK(token->find('"') == std::string::npos);
    FUZZ_CHECK(text.find("t=" + *token) != std::string::npos);
  }
  return 0;
}
