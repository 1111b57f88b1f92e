// torvane-chat.exe: hands one delivery message to the buyer through the chat client on this
// Windows desktop (or in this wine prefix), the way the delivery run does on Windows.
//
//   torvane-chat.exe [--hex] BUYER ORDER-NUMBER WAIT-SECONDS MESSAGE-FILE
//   torvane-chat.exe --list-windows
//
// MESSAGE-FILE holds the message as GBK bytes. With --hex, BUYER and ORDER-NUMBER are their GBK
// bytes in hexadecimal, so that any id passes any command line unchanged. The exit status says
// how the hand-over ended (see ChatExitStatus): 0 handed over, 10 no chat client, 11 no chat
// window within the wait, 12 no text control took the text, 13 Enter not posted, 2 bad arguments
// or an unreadable message file (nothing was tried).
//
// --list-windows prints one line per visible top-level window: handle, process id, thread id,
// the first visible window of that process, class name and title (GBK), separated by tabs.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "delivery/chat_sender.h"

namespace {

using torvane::ChatExitStatus;
using torvane::kChatExitUsage;

std::vector<std::wstring> Arguments() {
  int count = 0;
  wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> args;
  for (int i = 1; list != nullptr && i < count; ++i) args.emplace_back(list[i]);
  if (list != nullptr) LocalFree(list);
  return args;
}

std::string Gbk(const std::wstring& text) {
  return torvane::FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()),
                            torvane::CodePage::Gbk);
}

std::optional<std::string> FromHex(const std::wstring& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  auto digit = [](wchar_t c) -> int {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]), low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string data;
  char buffer[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != 0) && got > 0) data.append(buffer, got);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return data;
}

void WriteOut(const std::string& bytes) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "torvane-chat: %s\n"
               "usage: torvane-chat.exe [--hex] BUYER ORDER-NUMBER WAIT-SECONDS MESSAGE-FILE\n"
               "       torvane-chat.exe --list-windows\n",
               why);
  return kChatExitUsage;
}

int ListWindows(torvane::WindowSystem& windows) {
  for (const torvane::WindowInfo& w : windows.ListVisibleWindows()) {
    char numbers[128];
    std::snprintf(numbers, sizeof(numbers), "%llu\t%lu\t%lu\t%llu\t", static_cast<unsigned long long>(w.handle),
                  static_cast<unsigned long>(w.processId), static_cast<unsigned long>(w.threadId),
                  static_cast<unsigned long long>(windows.FindProcessWindow(w.processId)));
    WriteOut(numbers + windows.WindowClassName(w.handle) + "\t" + windows.WindowTitle(w.handle) + "\r\n");
  }
  return 0;
}

int Send(torvane::WindowSystem& windows, std::vector<std::wstring> args) {
  const bool hex = !args.empty() && args[0] == L"--hex";
  if (hex) args.erase(args.begin());
  if (args.size() != 4) return Usage("expected four arguments");
  std::optional<std::string> buyer = hex ? FromHex(args[0]) : Gbk(args[0]);
  std::optional<std::string> orderNumber = hex ? FromHex(args[1]) : Gbk(args[1]);
  if (!buyer || !orderNumber) return Usage("BUYER and ORDER-NUMBER must be hexadecimal with --hex");
  wchar_t* end = nullptr;
  const long wait = std::wcstol(args[2].c_str(), &end, 10);
  if (args[2].empty() || *end != L'\0' || wait < 0 || wait > 3600) return Usage("WAIT-SECONDS must be 0 to 3600");
  const std::optional<std::string> message = ReadWholeFile(args[3]);
  if (!message) return Usage("cannot read MESSAGE-FILE");
  const torvane::ChatSendResult result =
      torvane::SendWangwangMessage(windows, *buyer, *orderNumber, *message, static_cast<int>(wait));
  return ChatExitStatus(result.outcome);
}

}  // namespace

int main() {
  // The shell's "open" verb may hand the address over through COM.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::unique_ptr<torvane::WindowSystem> windows = torvane::MakeWindowSystem(torvane::Deployment{});
  const std::vector<std::wstring> args = Arguments();
  const int status = args.size() == 1 && args[0] == L"--list-windows" ? ListWindows(*windows) : Send(*windows, args);
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
