// A stand-in for the marketplace's chat client, for tests and the demo under wine.
//
//   fake-chat-client.exe --register [SWITCHES]   registers itself, with the switches, as the
//                                                handler of aliim: addresses, then exits
//   fake-chat-client.exe [SWITCHES] ADDRESS       what the shell runs for an aliim: address
//
// For an address it opens a top-level window of class StandardFrame titled
// "<buyer id> - 聊天窗口" (the id taken from the address's touid, after "cntaobao"), holding a
// RichEditComponent child, a PanelComponent child with a RichEditComponent inside, and a
// RichEditComponentHost control (a class that only begins like the text control's). Escape
// closes the window and ends the program.
//
// Switches:
//   --record FILE      append what arrives to FILE (UTF-8 lines, each starting with the process id):
//                        address <the address>
//                        window <title>
//                        controls (the text controls now exist)
//                        settext <control> <the UTF-16 text, four hexadecimal digits per unit>
//                        keydown <virtual key> / keyup <virtual key>
//   --transcript FILE  append each message set into the window to FILE, readable (UTF-8):
//                        "=== <window title>", the message, an empty line
//   --no-window        open no window at all
//   --late MS          open the window MS milliseconds late
//   --longer-id        title the window with a longer id that begins with the buyer's (id + "x")
//   --hidden           open the window hidden
//   --controls-late MS make the controls inside the window MS milliseconds after the window
//   --lifetime S       end after S seconds whatever happens (default 60)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

struct Options {
  std::wstring record;
  std::wstring transcript;
  bool noWindow = false;
  int lateMs = 0;
  bool longerId = false;
  bool hidden = false;
  int controlsLateMs = 0;
  int lifetimeSeconds = 60;
  std::wstring address;
  bool registerHandler = false;
  std::vector<std::wstring> switches;  // as given, for --register
};

Options g_options;
std::map<HWND, std::string> g_controlNames;
HWND g_frame = nullptr;
UINT_PTR g_lateTimer = 0;  // thread timers get their ids from the system
UINT_PTR g_controlsTimer = 0;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

void Append(const std::wstring& path, const std::string& text) {
  if (path.empty()) return;
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void Record(const std::string& line) {
  Append(g_options.record, std::to_string(GetCurrentProcessId()) + " " + line + "\n");
}

std::string Hex(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  char unit[8];
  for (; *text != L'\0'; ++text) {
    std::snprintf(unit, sizeof(unit), "%04X", static_cast<unsigned>(*text));
    out += unit;
  }
  return out;
}

// The buyer id of the address: the touid value after "cntaobao", percent-decoded from UTF-8.
std::wstring BuyerId(const std::wstring& address) {
  const std::wstring key = L"touid=cntaobao";
  const std::size_t at = address.find(key);
  if (at == std::wstring::npos) return {};
  const std::size_t start = at + key.size();
  const std::wstring encoded = address.substr(start, address.find(L'&', start) - start);
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == L'%' && i + 2 < encoded.size()) {
      bytes.push_back(static_cast<char>(std::wcstol(encoded.substr(i + 1, 2).c_str(), nullptr, 16)));
      i += 2;
    } else {
      bytes.push_back(static_cast<char>(encoded[i]));
    }
  }
  if (bytes.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring id(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), id.data(), length);
  return id;
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) {
    const auto* text = reinterpret_cast<const wchar_t*>(lParam);
    Record("settext " + g_controlNames[window] + " " + Hex(text));
    if (g_controlNames[window] == "outer" && text != nullptr) {
      wchar_t title[256] = {};
      GetWindowTextW(g_frame, title, 256);
      Append(g_options.transcript, "=== " + Utf8(title) + "\n" + Utf8(text) + "\n\n");
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
      Record("keydown " + std::to_string(wParam));
      return 0;
    case WM_KEYUP:
      Record("keyup " + std::to_string(wParam));
      if (wParam == VK_ESCAPE) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

HWND Control(const wchar_t* className, HWND parent, const std::string& name) {
  HWND control = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, parent, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  g_controlNames[control] = name;
  return control;
}

void MakeControls() {
  Control(L"RichEditComponent", g_frame, "outer");
  HWND panel = Control(L"PanelComponent", g_frame, "panel");
  Control(L"RichEditComponent", panel, "inner");
  Control(L"RichEditComponentHost", panel, "decoy");
  Record("controls");
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);

void OpenChatWindow() {
  std::wstring id = BuyerId(g_options.address);
  if (g_options.longerId) id += L"x";
  const std::wstring title = id + L" - 聊天窗口";
  const DWORD style = WS_OVERLAPPEDWINDOW | (g_options.hidden ? 0 : WS_VISIBLE);
  g_frame = CreateWindowExW(0, L"StandardFrame", title.c_str(), style, 0, 0, 400, 300,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (g_frame == nullptr) {
    Record("window-failed");
    PostQuitMessage(1);
    return;
  }
  Record("window " + Utf8(title));
  if (g_options.controlsLateMs > 0) {
    g_controlsTimer = SetTimer(nullptr, 0, static_cast<UINT>(g_options.controlsLateMs), OnTimer);
  } else {
    MakeControls();
  }
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  if (id == g_lateTimer) {
    KillTimer(nullptr, id);
    g_lateTimer = 0;
    OpenChatWindow();
  } else if (id == g_controlsTimer) {
    KillTimer(nullptr, id);
    g_controlsTimer = 0;
    MakeControls();
  } else {
    PostQuitMessage(0);
  }
}

bool RegisterClasses() {
  WNDCLASSW frame = {};
  frame.lpfnWndProc = FrameProc;
  frame.hInstance = GetModuleHandleW(nullptr);
  frame.lpszClassName = L"StandardFrame";
  if (RegisterClassW(&frame) == 0) return false;
  for (const wchar_t* name : {L"RichEditComponent", L"PanelComponent", L"RichEditComponentHost"}) {
    WNDCLASSW control = {};
    control.lpfnWndProc = ControlProc;
    control.hInstance = GetModuleHandleW(nullptr);
    control.lpszClassName = name;
    if (RegisterClassW(&control) == 0) return false;
  }
  return true;
}

bool SetValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const bool ok = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

int RegisterHandler() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\"";
  for (const std::wstring& s : g_options.switches) command += L" \"" + s + L"\"";
  command += L" \"%1\"";
  const bool ok = SetValue(HKEY_CLASSES_ROOT, L"aliim", nullptr, L"URL:aliim Protocol") &&
                  SetValue(HKEY_CLASSES_ROOT, L"aliim", L"URL Protocol", L"") &&
                  SetValue(HKEY_CLASSES_ROOT, L"aliim\\shell\\open\\command", nullptr, command);
  return ok ? 0 : 1;
}

bool ParseOptions() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return false;
  bool ok = true;
  for (int i = 1; i < count; ++i) {
    const std::wstring a = args[i];
    const bool hasValue = i + 1 < count;
    if (a == L"--register") {
      g_options.registerHandler = true;
      continue;
    }
    if (a == L"--record" && hasValue) {
      g_options.record = args[++i];
      g_options.switches.insert(g_options.switches.end(), {a, g_options.record});
    } else if (a == L"--transcript" && hasValue) {
      g_options.transcript = args[++i];
      g_options.switches.insert(g_options.switches.end(), {a, g_options.transcript});
    } else if (a == L"--late" && hasValue) {
      g_options.lateMs = static_cast<int>(std::wcstol(args[++i], nullptr, 10));
      g_options.switches.insert(g_options.switches.end(), {a, args[i]});
    } else if (a == L"--controls-late" && hasValue) {
      g_options.controlsLateMs = static_cast<int>(std::wcstol(args[++i], nullptr, 10));
      g_options.switches.insert(g_options.switches.end(), {a, args[i]});
    } else if (a == L"--lifetime" && hasValue) {
      g_options.lifetimeSeconds = static_cast<int>(std::wcstol(args[++i], nullptr, 10));
      g_options.switches.insert(g_options.switches.end(), {a, args[i]});
    } else if (a == L"--no-window") {
      g_options.noWindow = true;
      g_options.switches.push_back(a);
    } else if (a == L"--hidden") {
      g_options.hidden = true;
      g_options.switches.push_back(a);
    } else if (a == L"--longer-id") {
      g_options.longerId = true;
      g_options.switches.push_back(a);
    } else if (a.rfind(L"--", 0) == 0) {
      ok = false;
    } else {
      g_options.address = a;
    }
  }
  LocalFree(args);
  return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (!ParseOptions()) return 2;
  if (g_options.registerHandler) return RegisterHandler();
  Record("address " + Utf8(g_options.address));
  if (g_options.noWindow) return 0;
  if (!RegisterClasses()) {
    Record("classes-failed");
    return 1;
  }
  SetTimer(nullptr, 0, static_cast<UINT>(g_options.lifetimeSeconds) * 1000u, OnTimer);
  if (g_options.lateMs > 0) {
    g_lateTimer = SetTimer(nullptr, 0, static_cast<UINT>(g_options.lateMs), OnTimer);
  } else {
    OpenChatWindow();
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  Record("closed");
  return 0;
}
