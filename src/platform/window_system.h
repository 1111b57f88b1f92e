// What the chat sender needs of the desktop's window system: opening an address with the
// shell, finding windows by class, setting a control's text and posting keys.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/deployment.h"

namespace torvane {

using WindowHandle = std::uint64_t;

struct TopLevelWindow {
  WindowHandle handle = 0;
  std::string title;  // GBK, at most 255 bytes
};

inline constexpr int kVkReturn = 13;
inline constexpr int kVkEscape = 27;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Whether a chat client can be driven on this machine at all. False means: do not try.
  virtual bool Available() = 0;
  // Hands an address (e.g. an aliim: address) to the shell's "open" verb.
  virtual bool OpenAddress(const std::string& address) = 0;
  // Visible top-level windows of the class, in the system's enumeration order.
  virtual std::vector<TopLevelWindow> FindTopLevelWindows(const std::string& className) = 0;
  // Every window below `window` of the class, depth first (a window, then what is below it, then its next sibling).
  virtual std::vector<WindowHandle> Descendants(WindowHandle window, const std::string& className) = 0;
  // Replaces the control's whole text (GBK).
  virtual bool SetText(WindowHandle window, const std::string& gbkText) = 0;
  // Posts key-down then key-up of the virtual key; does not wait for them to be handled.
  virtual bool PostKey(WindowHandle window, int virtualKey) = 0;
};

// The window system of this machine.
//
// On Linux there is no chat client: Available() is false and every other call does nothing.
// A deployment with 聊天/WINEPREFIX set names a wine prefix that holds the client, but no bridge
// into a wine desktop exists yet, so Available() stays false there too and orders that would go
// by chat wait for a later run instead of being taken for sent.
std::unique_ptr<WindowSystem> MakeWindowSystem(const Deployment& deployment);

}  // namespace torvane
