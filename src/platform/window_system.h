// What the chat sender needs of the desktop's window system: opening an address with the
// shell, finding windows by class, setting a control's text and posting keys; and the window
// queries that tell what is on the desktop.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/deployment.h"

namespace torvane {

using WindowHandle = std::uint64_t;

struct TopLevelWindow {
  WindowHandle handle = 0;
  std::string title;  // GBK, at most 255 bytes
};

// One visible top-level window.
struct WindowInfo {
  WindowHandle handle = 0;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;  // the thread that created it
  std::string title;           // GBK, at most 255 bytes
  std::string className;       // GBK, at most 49 bytes
};

inline constexpr int kVkReturn = 13;
inline constexpr int kVkEscape = 27;

// How handing a message to the chat client ended.
enum class ChatOutcome {
  kHandedOver,    // text set into the chat window and Enter posted
  kNoClient,      // no chat client on this machine; nothing was tried
  kNoWindow,      // no chat window for the buyer appeared within the wait
  kNoInputField,  // the window was found but held no text control that took the text
  kKeyNotPosted,  // the text was set but the Enter key could not be posted
  kSenderFailed,  // the program that sends for us failed or overran its time: whether the text arrived is unknown
};

// One chat message to hand over in a single call (see WindowSystem::SendWhole).
struct ChatRequest {
  std::string_view buyer;        // GBK
  std::string_view orderNumber;  // GBK
  const std::string& message;    // GBK
  int waitSeconds = 0;           // how long to wait for the chat window
};

// Exit statuses of torvane-chat.exe, the Windows program that sends one chat message.
inline constexpr int kChatExitUsage = 2;  // bad arguments or an unreadable message file; nothing was tried
int ChatExitStatus(ChatOutcome outcome);
// kSenderFailed for a status that names no outcome.
ChatOutcome ChatOutcomeFromExitStatus(int status);

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Whether a chat client can be driven on this machine at all. False means: do not try.
  virtual bool Available() = 0;
  // Why Available() is false, in one line for the seller (GBK); "" when it is true or there is
  // nothing to say (no chat client is expected on this machine).
  virtual std::string UnavailableReason() { return {}; }

  // A window system whose windows cannot be driven from this process (the chat client runs
  // under wine) hands the whole message over in one call and says how it ended. nullopt: this
  // one is driven step by step with the calls below.
  virtual std::optional<ChatOutcome> SendWhole(const ChatRequest&) { return std::nullopt; }

  // Hands an address (e.g. an aliim: address) to the shell's "open" verb; false when the shell refused.
  virtual bool OpenAddress(const std::string& address) = 0;
  // Top-level windows of the class, visible or not, in the system's enumeration order.
  virtual std::vector<TopLevelWindow> FindTopLevelWindows(const std::string& className) = 0;
  // Every window below `window` of the class, depth first (a window, then what is below it, then its next sibling).
  virtual std::vector<WindowHandle> Descendants(WindowHandle window, const std::string& className) = 0;
  // Replaces the control's whole text (GBK); false when the control did not take it.
  virtual bool SetText(WindowHandle window, const std::string& gbkText) = 0;
  // Posts key-down then key-up of the virtual key; does not wait for them to be handled. False when not posted.
  virtual bool PostKey(WindowHandle window, int virtualKey) = 0;

  // Window queries. A window system that cannot see the desktop's windows answers with nothing.
  // Every visible top-level window, in the system's enumeration order.
  virtual std::vector<WindowInfo> ListVisibleWindows() { return {}; }
  // The first visible top-level window of the process; 0 when there is none.
  virtual WindowHandle FindProcessWindow(std::uint32_t /*processId*/) { return 0; }
  // The window's title (GBK, at most 255 bytes); "" for a window that is gone.
  virtual std::string WindowTitle(WindowHandle) { return {}; }
  // The window's class name (GBK, at most 49 bytes); "" for a window that is gone.
  virtual std::string WindowClassName(WindowHandle) { return {}; }
};

// The window system of this machine.
//
// On Windows: the desktop's own windows. On Linux: when 聊天/WINEPREFIX names a wine prefix that
// holds the chat client, each message is handed to torvane-chat.exe (found beside this program)
// run by wine in that prefix; without a prefix, or without wine or torvane-chat.exe, Available() is
// false and orders that would go by chat wait for a later run instead of being taken for sent.
std::unique_ptr<WindowSystem> MakeWindowSystem(const Deployment& deployment);

// A window system that reaches no chat client; reason is what UnavailableReason() says.
std::unique_ptr<WindowSystem> MakeNoWindowSystem(std::string reason = {});

}  // namespace torvane
