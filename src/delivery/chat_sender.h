// Handing a delivery message to the buyer through the seller's chat client.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/window_system.h"

namespace torvane {

struct ChatSendResult {
  ChatOutcome outcome = ChatOutcome::kNoClient;
  bool HandedOver() const { return outcome == ChatOutcome::kHandedOver; }
};

// "aliim://sendmsg?&touid=cntaobao" + buyer as UTF-8 percent-escapes + "&siteid=cntaobao&status=2&portalId=
// &gid=$bizOrder.itemID:" + orderNumber as UTF-8 percent-escapes + "&itemsId=".
std::string ChatAddress(std::string_view buyer, std::string_view orderNumber);

// Whether the window title names the buyer as a whole id: some occurrence of the id in the title
// (on a character boundary) has neither an id character right before it nor right after it.
// Id characters are ASCII letters and digits, "_", "-", "." and every two-byte character outside
// the GBK symbol rows (lead bytes A1..A9, which hold punctuation and full-width forms). So the
// title "ab - 聊天" names ab, while "abc - 聊天" and "xab" do not. An empty id is named by no title.
bool TitleNamesBuyer(std::string_view title, std::string_view buyer);

// Opens the chat address, waits up to waitSeconds for a StandardFrame window that names the buyer
// and holds a RichEditComponent (checking again every `pause`, sleeping in between), sets the message
// into every RichEditComponent below it, then posts Enter and Escape to the window. A window system that sends whole messages
// (WindowSystem::SendWhole) does all of that itself and its outcome is returned.
ChatSendResult SendWangwangMessage(WindowSystem& windows, std::string_view buyer, std::string_view orderNumber,
                                   const std::string& message, int waitSeconds,
                                   std::chrono::milliseconds pause = std::chrono::milliseconds(200));

}  // namespace torvane
