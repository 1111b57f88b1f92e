#include "wine/wine_prefix.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <thread>

#include "platform/process.h"
#include "platform/wine_bridge.h"
#include "support/temp_dir.h"

namespace torvane::test {
namespace {

std::filesystem::path WineServer() { return FindProgramInPath("wineserver"); }

std::unique_ptr<WinePrefix> g_prefix;
std::string g_error;
bool g_tried = false;

// Removes the prefix after the last test, with its wine server ended first.
class WinePrefixCleanup : public ::testing::Environment {
 public:
  void TearDown() override { g_prefix.reset(); }
};
[[maybe_unused]] auto* const g_cleanup = ::testing::AddGlobalTestEnvironment(new WinePrefixCleanup);

}  // namespace

std::filesystem::path ChatProgram() { return TORVANE_CHAT_EXE_PATH; }
std::filesystem::path FakeChatClient() { return TORVANE_FAKE_CHAT_CLIENT_PATH; }

WinePrefix* WinePrefix::Get() {
  if (!g_tried) {
    g_tried = true;
    std::unique_ptr<WinePrefix> prefix(new WinePrefix);
    if (prefix->Make(&g_error)) g_prefix = std::move(prefix);
  }
  return g_prefix.get();
}

const std::string& WinePrefix::Error() { return g_error; }

bool WinePrefix::Make(std::string* error) {
  const auto start = std::chrono::steady_clock::now();
  wine_ = FindProgramInPath("wine");
  if (wine_.empty()) {
    *error = "wine is not installed (scripts/install-deps.sh installs it)";
    return false;
  }
  root_ = MakePrivateTempDirectory("torvane-wine-test-");
  if (root_.empty()) {
    *error = "cannot make a temporary directory";
    return false;
  }
  dir_ = root_ / "prefix";
  work_ = root_ / "work";
  std::filesystem::create_directories(work_);
  // Every wine started from here on, by the tests or by the programs they run, uses this prefix.
  ::setenv("WINEPREFIX", dir_.c_str(), 1);
  ::setenv("WINEDEBUG", "-all", 1);
  ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);  // no Mono or Gecko installer
  ProcessResult made = Run(wine_, {"reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"},
                           std::chrono::seconds(120));
  if (made.exitCode != 0) {
    *error = "making the wine prefix failed: " + made.err;
    return false;
  }
  // The desktop process started with the default driver: let everything end before the first window.
  ProcessResult settled = RunProcess(WineServer(), {"-w"}, work_, std::chrono::seconds(60));
  if (settled.exitCode != 0) {
    *error = "wineserver -w failed: " + settled.err;
    return false;
  }
  setupTime_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return true;
}

WinePrefix::~WinePrefix() {
  if (!wine_.empty()) RunProcess(WineServer(), {"-k"}, work_, std::chrono::seconds(30));
  std::error_code ec;
  if (!root_.empty()) std::filesystem::remove_all(root_, ec);
}

bool WinePrefix::RegisterClient(const std::vector<std::string>& switches, const std::filesystem::path& record) {
  std::vector<std::string> args{FakeChatClient().string(), "--register", "--record", WindowsPath(record)};
  args.insert(args.end(), switches.begin(), switches.end());
  if (Run(wine_, args, std::chrono::seconds(60)).exitCode != 0) return false;
  if (!registeredOnce_) {
    // The registry reaches system.reg, where the bridge looks for the handler, when the server ends.
    if (RunProcess(WineServer(), {"-w"}, work_, std::chrono::seconds(60)).exitCode != 0) {
      return false;
    }
    registeredOnce_ = true;
  }
  return true;
}

ProcessResult WinePrefix::Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                              std::chrono::milliseconds timeout) const {
  if (program == wine_) return RunProcess(wine_, args, work_, timeout);
  std::vector<std::string> all{program.string()};
  all.insert(all.end(), args.begin(), args.end());
  return RunProcess(wine_, all, work_, timeout);
}

std::string WinePrefix::WindowsPath(const std::filesystem::path& file) const { return WinePath(dir_, file); }

std::vector<ClientEvent> ReadClientRecord(const std::filesystem::path& record) {
  std::vector<ClientEvent> events;
  const std::string text = ReadBytes(record);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) break;  // a line still being written
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ClientEvent event;
    const std::size_t a = line.find(' ');
    const std::size_t b = a == std::string::npos ? std::string::npos : line.find(' ', a + 1);
    event.pid = line.substr(0, a);
    if (a != std::string::npos) event.what = line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    if (b != std::string::npos) event.rest = line.substr(b + 1);
    events.push_back(event);
  }
  return events;
}

bool WaitForClientEvent(const std::filesystem::path& record, const std::string& what,
                        std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    for (const ClientEvent& e : ReadClientRecord(record)) {
      if (e.what == what) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace torvane::test
