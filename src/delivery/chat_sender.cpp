#include "delivery/chat_sender.h"

#include <thread>

#include "base/text.h"

namespace torvane {
namespace {

constexpr std::string_view kChatWindowClass = "StandardFrame";
constexpr std::string_view kTextControlClass = "RichEditComponent";

bool IsIdByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

// Two-byte characters count as id characters unless they come from the symbol rows.
bool IsIdLeadByte(unsigned char lead) { return lead >= 0x80 && !(lead >= 0xA1 && lead <= 0xA9); }

// Whether the character that starts at pos is an id character.
bool IdCharacterAt(std::string_view text, std::size_t pos) {
  const auto c = static_cast<unsigned char>(text[pos]);
  if (CharLengthAt(text, pos) == 2) return IsIdLeadByte(c);
  return IsIdByte(c);
}

// The first chat window whose title names the buyer; 0 when there is none.
WindowHandle FindBuyerWindow(WindowSystem& windows, std::string_view buyer) {
  for (const TopLevelWindow& w : windows.FindTopLevelWindows(std::string(kChatWindowClass))) {
    if (TitleNamesBuyer(w.title, buyer)) return w.handle;
  }
  return 0;
}

}  // namespace

std::string ChatAddress(std::string_view buyer, std::string_view orderNumber) {
  std::string address = "aliim://sendmsg?&touid=cntaobao";
  address += PercentEncodeUtf8(buyer);
  address += "&siteid=cntaobao&status=2&portalId=&gid=$bizOrder.itemID:";
  // Encoded like the buyer: an order number from a page is text, and "&touid=..." in it would name
  // another addressee.
  address += PercentEncodeUtf8(orderNumber);
  address += "&itemsId=";
  return address;
}

bool TitleNamesBuyer(std::string_view title, std::string_view buyer) {
  if (buyer.empty()) return false;
  // Walk the title character by character, remembering where the previous character began.
  std::size_t previousStart = kNotFound;
  std::size_t pos = 0;
  while (pos < title.size()) {
    if (title.size() - pos >= buyer.size() && title.compare(pos, buyer.size(), buyer) == 0) {
      const bool cleanBefore = previousStart == kNotFound || !IdCharacterAt(title, previousStart);
      const std::size_t after = pos + buyer.size();
      const bool cleanAfter = after >= title.size() || !IdCharacterAt(title, after);
      if (cleanBefore && cleanAfter) return true;
    }
    previousStart = pos;
    pos += CharLengthAt(title, pos);
  }
  return false;
}

ChatSendResult SendWangwangMessage(WindowSystem& windows, std::string_view buyer, std::string_view orderNumber,
                                   const std::string& message, int waitSeconds, std::chrono::milliseconds pause) {
  ChatSendResult result;
  if (!windows.Available()) {
    result.outcome = ChatOutcome::kNoClient;
    return result;
  }
  if (std::optional<ChatOutcome> whole = windows.SendWhole({buyer, orderNumber, message, waitSeconds})) {
    result.outcome = *whole;
    return result;
  }
  windows.OpenAddress(ChatAddress(buyer, orderNumber));

  // Wait for the buyer's chat window and for the text controls in it: a client makes the window
  // first and the controls inside it a moment later.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds < 0 ? 0 : waitSeconds);
  WindowHandle chat = 0;
  std::vector<WindowHandle> controls;
  while (true) {
    chat = FindBuyerWindow(windows, buyer);
    if (chat != 0) {
      controls = windows.Descendants(chat, std::string(kTextControlClass));
      if (!controls.empty()) break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    // Round the rest up: a rest below one millisecond must still sleep, not spin.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    std::this_thread::sleep_for(std::max(std::min(pause, left), std::chrono::milliseconds(1)));
  }
  // Looked up once more, and that window used: a client may replace the window it showed first.
  if (chat != 0) {
    const WindowHandle again = FindBuyerWindow(windows, buyer);
    if (again != chat) {
      chat = again;
      controls = chat != 0 ? windows.Descendants(chat, std::string(kTextControlClass)) : std::vector<WindowHandle>{};
    }
  }
  if (chat == 0) {
    result.outcome = ChatOutcome::kNoWindow;
    return result;
  }

  bool textSet = false;
  for (WindowHandle control : controls) {
    if (windows.SetText(control, message)) textSet = true;
  }
  if (!textSet) {
    result.outcome = ChatOutcome::kNoInputField;
    return result;
  }
  const bool sent = windows.PostKey(chat, kVkReturn);
  windows.PostKey(chat, kVkEscape);
  result.outcome = sent ? ChatOutcome::kHandedOver : ChatOutcome::kKeyNotPosted;
  return result;
}

}  // namespace torvane
