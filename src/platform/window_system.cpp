#include "platform/window_system.h"

namespace torvane {
namespace {

struct ExitStatus {
  ChatOutcome outcome;
  int status;
};
constexpr ExitStatus kExitStatuses[] = {
    {ChatOutcome::kHandedOver, 0},    {ChatOutcome::kNoClient, 10},     {ChatOutcome::kNoWindow, 11},
    {ChatOutcome::kNoInputField, 12}, {ChatOutcome::kKeyNotPosted, 13}, {ChatOutcome::kSenderFailed, 14},
};

class NoWindowSystem final : public WindowSystem {
 public:
  explicit NoWindowSystem(std::string reason) : reason_(std::move(reason)) {}
  bool Available() override { return false; }
  std::string UnavailableReason() override { return reason_; }
  bool OpenAddress(const std::string&) override { return false; }
  std::vector<TopLevelWindow> FindTopLevelWindows(const std::string&) override { return {}; }
  std::vector<WindowHandle> Descendants(WindowHandle, const std::string&) override { return {}; }
  bool SetText(WindowHandle, const std::string&) override { return false; }
  bool PostKey(WindowHandle, int) override { return false; }

 private:
  std::string reason_;
};

}  // namespace

int ChatExitStatus(ChatOutcome outcome) {
  for (const ExitStatus& e : kExitStatuses) {
    if (e.outcome == outcome) return e.status;
  }
  return 14;
}

ChatOutcome ChatOutcomeFromExitStatus(int status) {
  for (const ExitStatus& e : kExitStatuses) {
    if (e.status == status) return e.outcome;
  }
  return ChatOutcome::kSenderFailed;
}

std::unique_ptr<WindowSystem> MakeNoWindowSystem(std::string reason) {
  return std::make_unique<NoWindowSystem>(std::move(reason));
}

}  // namespace torvane
