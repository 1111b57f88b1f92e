#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/files.h"
#include "base/text.h"
#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/wine_bridge.h"

namespace torvane {
namespace {

std::string Hex(std::string_view bytes) {
  std::string out;
  char digits[3];
  for (char c : bytes) {
    std::snprintf(digits, sizeof(digits), "%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    out += digits;
  }
  return out;
}

// Whether the registry files of the prefix hold a key for aliim: addresses (machine or user classes).
bool HandlesAliim(const std::filesystem::path& prefix) {
  for (const char* file : {"system.reg", "user.reg"}) {
    std::optional<std::string> text = ReadWholeFile(prefix / file);
    if (!text) continue;
    std::transform(text->begin(), text->end(), text->begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    if (text->find("\\\\classes\\\\aliim]") != std::string::npos ||
        text->find("\\\\classes\\\\aliim\\\\") != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::filesystem::path ExpandHome(const std::string& path) {
  const char* home = ::getenv("HOME");
  if (home != nullptr && (path == "~" || path.rfind("~/", 0) == 0)) return std::string(home) + path.substr(1);
  return path;
}

class WineWindowSystem final : public WindowSystem {
 public:
  explicit WineWindowSystem(WineBridgeSetup setup) : setup_(std::move(setup)) {
    std::error_code ec;
    const std::string where = " (聊天/WINEPREFIX: " + PathText(setup_.prefix) + ")";
    if (setup_.wine.empty()) {
      reason_ = "旺旺发货已关闭: wine not found, 请安装 wine" + where;
    } else if (!std::filesystem::is_regular_file(setup_.chatProgram, ec)) {
      reason_ = "旺旺发货已关闭: torvane-chat.exe not found, 应在 " + PathText(setup_.chatProgram.parent_path());
    } else if (!std::filesystem::is_regular_file(setup_.prefix / "system.reg", ec)) {
      reason_ = "旺旺发货已关闭: wine prefix not found, 该目录不是 wine 前缀" + where;
    } else if (!HandlesAliim(setup_.prefix)) {
      reason_ = "旺旺发货已关闭: 该 wine 前缀中没有登记 aliim: 地址的程序 (未安装阿里旺旺)" + where;
    } else if (WinePath(setup_.prefix, std::filesystem::temp_directory_path(ec)).empty()) {
      reason_ = "旺旺发货已关闭: 该 wine 前缀没有通到临时目录的盘符 (dosdevices 中应有 z: 指向 /)" + where;
    }
  }

  bool Available() override { return reason_.empty(); }
  std::string UnavailableReason() override { return reason_; }

  std::optional<ChatOutcome> SendWhole(const ChatRequest& request) override {
    if (!Available()) return ChatOutcome::kNoClient;
    const std::filesystem::path dir = MakePrivateTempDirectory("torvane-chat-");
    if (dir.empty()) return ChatOutcome::kSenderFailed;
    const ChatOutcome outcome = Run(request, dir / "message.txt");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return outcome;
  }

  bool OpenAddress(const std::string&) override { return false; }
  std::vector<TopLevelWindow> FindTopLevelWindows(const std::string&) override { return {}; }
  std::vector<WindowHandle> Descendants(WindowHandle, const std::string&) override { return {}; }
  bool SetText(WindowHandle, const std::string&) override { return false; }
  bool PostKey(WindowHandle, int) override { return false; }

 private:
  ChatOutcome Run(const ChatRequest& request, const std::filesystem::path& messageFile) {
    const std::string windowsPath = WinePath(setup_.prefix, messageFile);
    if (windowsPath.empty() || !WriteFileAtomic(messageFile, request.message)) return ChatOutcome::kSenderFailed;
    const int wait = std::max(request.waitSeconds, 0);
    ChildOptions options;
    options.environment.emplace_back("WINEPREFIX", setup_.prefix.string());
    if (::getenv("WINEDEBUG") == nullptr) options.environment.emplace_back("WINEDEBUG", "-all");
    options.readOutput = false;
    options.ownProcessGroup = true;  // a Ctrl-C for us lets the message in hand go out
    auto child = ChildProcess::Start(setup_.wine,
                                     {setup_.chatProgram.string(), "--hex", Hex(request.buyer),
                                      Hex(request.orderNumber), std::to_string(wait), windowsPath},
                                     options, nullptr);
    if (!child) return ChatOutcome::kSenderFailed;
    const std::optional<int> status = child->Wait(std::chrono::seconds(wait) + setup_.margin);
    if (!status) {
      child->Stop();
      return ChatOutcome::kSenderFailed;
    }
    return ChatOutcomeFromExitStatus(*status);
  }

  WineBridgeSetup setup_;
  std::string reason_;
};

}  // namespace

std::string WinePath(const std::filesystem::path& prefix, const std::filesystem::path& file) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::weakly_canonical(file, ec);
  if (ec) return {};
  std::string best;
  std::size_t bestLength = 0;
  const std::filesystem::path devices = prefix / "dosdevices";
  for (std::filesystem::directory_iterator it(devices, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != 2 || name[1] != ':' || !std::isalpha(static_cast<unsigned char>(name[0]))) continue;
    std::error_code linkError;
    const std::filesystem::path root = std::filesystem::canonical(it->path(), linkError);
    if (linkError) continue;
    auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), target.begin(), target.end());
    if (rootEnd != root.end()) continue;
    const std::size_t length = root.string().size();
    if (!best.empty() && length <= bestLength) continue;
    std::string path(1, static_cast<char>(std::toupper(static_cast<unsigned char>(name[0]))));
    path += ":";
    for (auto part = fileAt; part != target.end(); ++part) path += "\\" + part->string();
    if (fileAt == target.end()) path += "\\";
    best = path;
    bestLength = length;
  }
  return best;
}

std::unique_ptr<WindowSystem> MakeWineWindowSystem(const WineBridgeSetup& setup) {
  return std::make_unique<WineWindowSystem>(setup);
}

std::unique_ptr<WindowSystem> MakeWindowSystem(const Deployment& deployment) {
  if (deployment.chatWinePrefix.empty()) return MakeNoWindowSystem();
  WineBridgeSetup setup;
  setup.prefix = ExpandHome(GbkToUtf8(deployment.chatWinePrefix));  // file names are UTF-8
  setup.wine = FindProgramInPath("wine");
  setup.chatProgram = FindCompanionFile(ProgramDirectory(), {"torvane-chat.exe"});
  if (setup.chatProgram.empty()) {
    // The seller is told where it belongs: beside the program, or in PREFIX/lib/torvane when installed.
    const std::vector<std::filesystem::path> dirs = CompanionDirectories(ProgramDirectory());
    setup.chatProgram = dirs[dirs.size() > 1 ? 1 : 0] / "torvane-chat.exe";
  }
  return MakeWineWindowSystem(setup);
}

}  // namespace torvane
