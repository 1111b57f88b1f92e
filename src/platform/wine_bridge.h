// Chat delivery on Linux through a chat client that runs under wine: each message is handed to
// torvane-chat.exe, run by wine in the client's prefix, one process per message.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/window_system.h"

namespace torvane {

struct WineBridgeSetup {
  std::filesystem::path prefix;       // the wine prefix that holds the chat client (聊天/WINEPREFIX)
  std::filesystem::path wine;         // the wine program; empty when none was found
  std::filesystem::path chatProgram;  // torvane-chat.exe
  // Time allowed beyond the chat wait for wine to start and the text to be set; past it the process is ended.
  std::chrono::milliseconds margin{std::chrono::seconds(30)};
};

// A window system that sends whole messages (WindowSystem::SendWhole) through torvane-chat.exe and
// maps its exit status to the outcome. Available() is false, and UnavailableReason() says why, when
// wine or torvane-chat.exe is missing, the prefix does not exist, nothing in it handles aliim:
// addresses, or no drive of it reaches the temporary directory (where the message is handed over).
// These are checked once, here. It cannot see the windows in the prefix: the step-by-step
// calls and the window queries do nothing.
std::unique_ptr<WindowSystem> MakeWineWindowSystem(const WineBridgeSetup& setup);

// The Windows path under which programs in the prefix see the file, through the prefix's drive
// letters (dosdevices); "" when no drive reaches it.
std::string WinePath(const std::filesystem::path& prefix, const std::filesystem::path& file);

}  // namespace torvane
