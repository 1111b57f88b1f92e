// The desktop's own windows, through the Win32 API. Every call is the wide-character one: the
// ANSI calls would lose every character outside the system's code page (a Chinese buyer id or
// message on a system set to another language). Texts arrive and leave as GBK and are converted
// to and from UTF-16 here, at the edge. The calling thread should have COM initialized, as the
// shell's "open" verb may need it.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/window_system.h"

namespace torvane {
namespace {

constexpr std::size_t kMaxTitleBytes = 255;
constexpr std::size_t kMaxClassNameBytes = 49;
constexpr int kMaxDepth = 64;                 // below a chat window; deeper is a broken tree
constexpr UINT kSetTextTimeoutMs = 10000;     // a client that does not answer this long is hung

HWND ToHwnd(WindowHandle handle) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle)); }
WindowHandle ToHandle(HWND hwnd) { return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(hwnd)); }

std::wstring Wide(std::string_view gbk) {
  const std::u16string units = ToUtf16(gbk, CodePage::Gbk);
  return std::wstring(units.begin(), units.end());
}

std::string Gbk(const wchar_t* text, std::size_t length) {
  return FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text), length), CodePage::Gbk);
}

// At most maxBytes, cut before a character rather than inside one.
std::string Truncated(std::string text, std::size_t maxBytes) {
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t next = end + CharLengthAt(text, end);
    if (next > maxBytes) break;
    end = next;
  }
  text.resize(end);
  return text;
}

std::string TitleOf(HWND window) {
  wchar_t buffer[kMaxTitleBytes + 1] = {};
  const int length = GetWindowTextW(window, buffer, static_cast<int>(kMaxTitleBytes + 1));
  return Truncated(Gbk(buffer, length > 0 ? static_cast<std::size_t>(length) : 0), kMaxTitleBytes);
}

std::wstring WideClassNameOf(HWND window) {
  wchar_t buffer[256] = {};
  const int length = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string ClassNameOf(HWND window) {
  const std::wstring name = WideClassNameOf(window);
  return Truncated(Gbk(name.data(), name.size()), kMaxClassNameBytes);
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

std::vector<HWND> AllTopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

void CollectByClass(HWND parent, const std::wstring& className, int depth, std::vector<WindowHandle>& out) {
  if (depth > kMaxDepth) return;
  for (HWND child = FindWindowExW(parent, nullptr, nullptr, nullptr); child != nullptr;
       child = FindWindowExW(parent, child, nullptr, nullptr)) {
    if (WideClassNameOf(child) == className) out.push_back(ToHandle(child));
    CollectByClass(child, className, depth + 1, out);
  }
}

// Lets the window messages already waiting for this thread be handled.
void HandlePendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

class Win32WindowSystem final : public WindowSystem {
 public:
  // A chat client registers itself as the handler of aliim: addresses; without one nothing can open a chat.
  bool Available() override {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"aliim", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  std::string UnavailableReason() override {
    return Available() ? std::string() : std::string("本机没有登记 aliim: 地址的程序 (未安装阿里旺旺)");
  }

  bool OpenAddress(const std::string& address) override {
    const std::wstring file = Wide(address);
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", file.c_str(), L"", L"", SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
  }

  std::vector<TopLevelWindow> FindTopLevelWindows(const std::string& className) override {
    HandlePendingMessages();
    const std::wstring wideClass = Wide(className);
    std::vector<TopLevelWindow> found;
    for (HWND window = FindWindowExW(nullptr, nullptr, wideClass.c_str(), nullptr); window != nullptr;
         window = FindWindowExW(nullptr, window, wideClass.c_str(), nullptr)) {
      found.push_back({ToHandle(window), TitleOf(window)});
    }
    return found;
  }

  std::vector<WindowHandle> Descendants(WindowHandle window, const std::string& className) override {
    std::vector<WindowHandle> found;
    CollectByClass(ToHwnd(window), Wide(className), 0, found);
    return found;
  }

  bool SetText(WindowHandle window, const std::string& gbkText) override {
    const std::wstring text = Wide(gbkText);
    DWORD_PTR taken = 0;
    const LRESULT answered = SendMessageTimeoutW(ToHwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                                                 SMTO_ABORTIFHUNG | SMTO_NORMAL, kSetTextTimeoutMs, &taken);
    return answered != 0 && taken != 0;
  }

  bool PostKey(WindowHandle window, int virtualKey) override {
    const HWND hwnd = ToHwnd(window);
    const WPARAM key = static_cast<WPARAM>(virtualKey);
    const bool down = PostMessageW(hwnd, WM_KEYDOWN, key, 0) != 0;
    const bool up = PostMessageW(hwnd, WM_KEYUP, key, 0) != 0;
    return down && up;
  }

  std::vector<WindowInfo> ListVisibleWindows() override {
    std::vector<WindowInfo> list;
    for (HWND window : AllTopLevelWindows()) {
      if (!IsWindowVisible(window)) continue;
      WindowInfo info;
      info.handle = ToHandle(window);
      DWORD processId = 0;
      info.threadId = GetWindowThreadProcessId(window, &processId);
      info.processId = processId;
      info.title = TitleOf(window);
      info.className = ClassNameOf(window);
      list.push_back(std::move(info));
    }
    return list;
  }

  WindowHandle FindProcessWindow(std::uint32_t processId) override {
    for (HWND window : AllTopLevelWindows()) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == processId && IsWindowVisible(window)) return ToHandle(window);
    }
    return 0;
  }

  std::string WindowTitle(WindowHandle window) override { return TitleOf(ToHwnd(window)); }
  std::string WindowClassName(WindowHandle window) override { return ClassNameOf(ToHwnd(window)); }
};

}  // namespace

std::unique_ptr<WindowSystem> MakeWindowSystem(const Deployment&) { return std::make_unique<Win32WindowSystem>(); }

}  // namespace torvane
